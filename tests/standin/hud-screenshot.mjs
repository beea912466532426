// The example HUD in headless Chromium with the stand-in: waits for the
// scripted game to finish, fails on a failed check or a page error, and
// writes a screenshot to the path given.
import { join } from "node:path";
import { pathToFileURL } from "node:url";
import { launch, missing, root } from "./browser.mjs";

const output = process.argv[2] || join(root, "docs", "hud-standin.png");
const why = missing();
if (why) {
  console.log(`hud: SKIPPED: ${why}`);
  process.exit(77);
}
const browser = await launch();
let failed = false;
try {
  const page = await browser.newPage();
  await page.setViewport({ width: 820, height: 600 });
  const errors = [];
  page.on("pageerror", (error) => errors.push(error.message));
  page.on("console", (message) => console.log(`page: ${message.text()}`));
  await page.goto(pathToFileURL(join(root, "examples", "hud", "index.html")).href);
  await page.waitForFunction(() => window.hudGame && window.hudGame.done, { timeout: 20000 });
  const outcome = await page.evaluate(() => window.hudGame);
  await page.screenshot({ path: output, clip: { x: 0, y: 0, width: 820, height: 380 } });
  console.log(`hud: screenshot in ${output}`);
  if (outcome.failed.length || errors.length) {
    failed = true;
    console.log(`hud: FAILED: ${[...outcome.failed, ...errors].join("; ")}`);
  } else {
    console.log(`hud: passed: ${outcome.checks} checks, no page error`);
  }
} finally {
  await browser.close();
}
process.exit(failed ? 1 : 0);
