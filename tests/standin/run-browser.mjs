// Runs the shared case table (cases.json) through the page stand-in in
// headless Chromium and compares every case with what the real bridge did
// on cefsim (the JSON file named by the first argument). Exit 1 names each
// case that differs; 77 when no browser can run here.
import { readFileSync } from "node:fs";
import { join } from "node:path";
import { createServer } from "node:http";
import { launch, missing, root } from "./browser.mjs";

const resultsPath = process.argv[2];
const table = JSON.parse(readFileSync(join(root, "tests/standin/cases.json"), "utf8"));
const standin = readFileSync(join(root, "types/squirrel-standin.js"), "utf8");
const prelude = readFileSync(join(root, "tests/standin/prelude.js"), "utf8");

const why = missing();
if (why) {
  console.log(`standin: SKIPPED: ${why}`);
  process.exit(77);
}

function fnv1a(bytes) {
  let hash = 2166136261;
  for (const byte of bytes) {
    hash = Math.imul(hash ^ byte, 16777619) >>> 0;
  }
  return hash.toString(16).padStart(8, "0");
}

// As the cefsim side keeps texts: long ones by size and hash.
function shortened(text) {
  const bytes = Buffer.from(text, "utf8");
  return bytes.length <= 4096 ? text : `<${bytes.length} bytes, fnv1a ${fnv1a(bytes)}>`;
}

// Runs in the page: the game's steps of one case, through the stand-in.
async function playGame(stepsJson) {
  // As JSON text: the protocol's own transfer would lose -0.
  const steps = JSON.parse(stepsJson);
  const { wire, messageText, deliver, callPageWire } = squirrelGame.internals;
  function value(described) {
    if (described === null) return wire.null();
    if ("int" in described) return wire.int(described.int);
    if ("double" in described) {
      const named = { "-0": -0, NaN: NaN, Infinity: Infinity, "-Infinity": -Infinity };
      return wire.double(typeof described.double === "string" ? named[described.double] : described.double);
    }
    if ("bool" in described) return wire.bool(described.bool);
    if ("string" in described) return wire.string(described.string);
    if ("binary" in described) {
      const bytes = new Uint8Array(described.binary.length / 2);
      for (let i = 0; i < bytes.length; i++) bytes[i] = parseInt(described.binary.substr(i * 2, 2), 16);
      return wire.binary(bytes);
    }
    if ("list" in described) return wire.list(described.list.map(value));
    if ("map" in described || "object" in described) {
      const pairs = described.map || described.object;
      const entries = [["keys", wire.list(pairs.map(([key]) => ("object" in described ? wire.string(key) : value(key))))],
                       ["values", wire.list(pairs.map(([, entry]) => value(entry)))]];
      if ("object" in described) entries.push(["isObject", wire.bool(true)]);
      return wire.dictionary(entries);
    }
    if ("dict" in described) return wire.dictionary(described.dict.map(([key, entry]) => [key, value(entry)]));
    if ("nest" in described) {
      let made = value(described.in);
      for (let i = 0; i < described.nest; i++) made = wire.list([made]);
      return made;
    }
    throw new Error(`unknown value ${JSON.stringify(described)}`);
  }
  const lists = [];
  let nextGameCallId = 0;
  for (const step of steps) {
    if ("call" in step) {
      lists.push([wire.int(0), wire.int(nextGameCallId++), wire.string(step.call),
                  wire.list(step.args.map(value))]);
    } else if ("error" in step) {
      lists.push([wire.int(2), wire.int(step.reply), wire.string(step.error)]);
    } else {
      lists.push([wire.int(1), wire.int(step.reply), value(step.result)]);
    }
  }
  const game = [];
  const handled = [];
  const settle = () => new Promise((resolve) => setTimeout(resolve, 0));
  await settle();
  for (const list of lists) {
    game.push(messageText(list));
    if (list[0].value === 0) {
      await callPageWire(list[1].value, list[2].value, list[3].value);
      handled.push("true");
    } else {
      handled.push(String(await deliver(list)));
    }
    await settle();
  }
  return { game, handled, sent: squirrelGame.internals.sent(), log: caseLog.entries() };
}

// Every case gets a fresh document of its own.
const server = createServer((request, response) => {
  response.writeHead(200, { "content-type": "text/html; charset=utf-8" });
  response.end("<!doctype html><title>case</title><body></body>");
});
await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
const origin = `http://127.0.0.1:${server.address().port}`;
let pageNumber = 0;

async function runCase(page, testCase) {
  await page.goto(`${origin}/case${pageNumber++}`);
  // One script each, as a page would load them, in one round trip.
  await page.evaluate(`${standin}\n;${prelude}\n;try {\n${testCase.page}\n} ` +
                      `catch (e) { caseLog.add('threw ' + describe(e)); }\n;void 0`);
  const { game, handled, sent, log } =
      await page.evaluate(playGame, JSON.stringify(testCase.game || []));
  return { sent: sent.map(shortened), game: game.map(shortened), handled,
           log: log.map(shortened) };
}

// How the stand-in installs itself: it yields to the game's own squirrel,
// and loads the same as a classic script and as a module.
async function checkInstalling(page, failures) {
  const checks = [
    ["yields to a squirrel already there", "classic", `
      const real = { call() { return "real"; }, eval() {} };
      window.squirrel = real;`, `
      squirrel === real && squirrel.call() === "real" && squirrelGame.active === false`],
    ["installs call and eval as a classic script", "classic", "", `
      squirrelGame.active && typeof squirrel.call === "function" &&
      typeof squirrel.eval === "function" && Object.keys(squirrel).join() === "call,eval"`],
    ["installs call and eval as a module", "module", "", `
      squirrelGame.active && typeof squirrel.call === "function"`],
    ["a second copy changes nothing", "twice", "", `
      squirrel.call("f") instanceof Promise && squirrelGame.messages.length === 1`],
  ];
  try {
    await page.goto(`${origin}/panel${pageNumber++}`);
    await page.addScriptTag({ content: standin });
    const outcome = await page.evaluate(async () => {
      const answer = squirrel.call("askMe", 1);
      const panel = squirrelGame.panel();
      await new Promise((resolve) => setTimeout(resolve, 0));
      const listed = panel.textContent;
      panel.querySelector("input").value = '{"a": [1, 2.5]}';
      panel.querySelector("button").click();
      const value = await answer;
      return { listed, value: [...value], left: panel.textContent,
               reply: squirrelGame.replies[0].text };
    });
    const want = {
      listed: 'squirrel stand-in: 1 call(s) in flightqrx [INT 0, INT 0, STRING "askMe", LIST [INT 1]]ResultError',
      value: [["a", [1, 2.5]]],
      left: "squirrel stand-in: 0 call(s) in flight",
      reply: 'qrx [INT 1, INT 0, DICTIONARY {"keys": LIST [STRING "a"], "values": LIST [LIST [INT 1, DOUBLE 2.5]]}]',
    };
    if (JSON.stringify(outcome) !== JSON.stringify(want)) {
      failures.push(`the panel answers a call by hand: got ${JSON.stringify(outcome)}`);
    }
  } catch (error) {
    failures.push(`the panel answers a call by hand: ${error.message}`);
  }
  for (const [name, how, before, test] of checks) {
    try {
      await page.goto(`${origin}/install${pageNumber++}`);
      await page.evaluate(`${before}; window.real = typeof real === "undefined" ? null : real; void 0`);
      if (how === "module") {
        await page.addScriptTag({ type: "module", content: standin });
        await page.waitForFunction(() => window.squirrelGame);
      } else {
        await page.addScriptTag({ content: standin });
        if (how === "twice") {
          await page.evaluate(() => { window.first = squirrel.call; });
          await page.addScriptTag({ content: standin });
        }
      }
      const ok = await page.evaluate(`(() => { ${before ? "" : ""} const real = window.real; return Boolean(${test}); })()`);
      if (!ok) failures.push(`${name}: not so`);
    } catch (error) {
      failures.push(`${name}: ${error.message}`);
    }
  }
}

const expected = resultsPath ? JSON.parse(readFileSync(resultsPath, "utf8")) : null;
const browser = await launch();
const failures = [];
const differences = [];
let compared = 0;
try {
  const page = await browser.newPage();
  const pageErrors = [];
  page.on("pageerror", (error) => pageErrors.push(error.message));
  const only = process.env.STANDIN_ONLY ? new RegExp(process.env.STANDIN_ONLY) : null;
  for (const testCase of table.cases) {
    if (only && !only.test(testCase.name)) continue;
    if (process.env.STANDIN_VERBOSE) console.error(`case: ${testCase.name} at ${Date.now() % 100000}`);
    let got;
    try {
      got = await runCase(page, testCase);
    } catch (error) {
      failures.push(`${testCase.name}: the browser run failed: ${error.message}`);
      continue;
    }
    if (!expected) {
      console.log(JSON.stringify({ [testCase.name]: got }));
      continue;
    }
    const want = expected[testCase.name];
    if (!want) {
      failures.push(`${testCase.name}: no result from the real bridge`);
      continue;
    }
    const gotText = JSON.stringify(got, null, 1);
    const wantText = JSON.stringify(want, null, 1);
    if (testCase.differs) {
      differences.push(`${testCase.name}: ${testCase.differs}` +
                       (gotText === wantText ? " (same results this time)" : ""));
      continue;
    }
    compared++;
    if (gotText !== wantText) {
      failures.push(`${testCase.name}:\n  real bridge: ${JSON.stringify(want)}\n  stand-in:    ${JSON.stringify(got)}`);
    }
  }
  if (!only) {
    await checkInstalling(page, failures);
  }
} finally {
  await browser.close();
  server.close();
}
for (const difference of differences) {
  console.log(`standin: documented difference, not compared: ${difference}`);
}
if (failures.length) {
  for (const failure of failures) {
    console.log(`standin: DIFFERS: ${failure}`);
  }
  console.log(`standin: FAILED: ${failures.length} case(s) differ from the real bridge`);
  process.exit(1);
}
console.log(`standin: passed: ${compared} case(s) identical on the real bridge and the stand-in`);
