// Plays the game for hud.js in a browser, through the squirrel stand-in
// (types/squirrel-standin.js): the same answers and checks as peer.js
// gives the HUD on cefsim. Ends by setting window.hudGame to the outcome.
"use strict";

(() => {
  const game = squirrelGame;
  const player = { name: "Alice", health: 87 };
  const snippets = new Map([["return ::gameMode;", "survival"]]);
  const checks = [];
  const pageErrors = [];
  window.addEventListener("error", (event) => pageErrors.push(event.message));
  window.addEventListener("unhandledrejection", (event) =>
    pageErrors.push(String(event.reason)));

  const same = (a, b) => JSON.stringify(a) === JSON.stringify(b);
  function check(actual, expected, title) {
    const ok = same(actual, expected);
    checks.push({ ok, title });
    const line = document.createElement("div");
    line.className = ok ? "pass" : "fail";
    line.textContent = `${ok ? "ok" : "FAILED"}: ${title}` +
        (ok ? "" : ` (expected ${JSON.stringify(expected)}, got ${JSON.stringify(actual)})`);
    document.getElementById("checks")?.appendChild(line);
  }

  game.answer("getPlayerName", () => player.name);
  game.answer("getHealth", (name) => {
    if (name !== player.name) throw new Error(`no player ${name}`);
    return player.health;
  });
  // squirrel.eval(code) arrives as a call of "compilestring".
  game.answer("compilestring", (code) => {
    if (!snippets.has(code)) throw new Error(`cannot compile ${code}`);
    return snippets.get(code);
  });
  game.answer("getQuestLog", () => {
    throw new Error("the index 'getQuestLog' does not exist");
  });

  (async () => {
    await game.idle(); // the HUD has asked, been answered and drawn itself

    // Page objects arrive as Maps: the renderer never marks them as objects.
    const state = await game.call("ui.hud.state");
    check(state.get("name"), "Alice", "the HUD shows the name");
    check(state.get("health"), 87, "the HUD shows the health");
    check(state.get("mode"), "survival", "the HUD shows the mode");

    check(await game.call("ui.toast.show", "Checkpoint reached"), 1,
          "a toast from the game is shown");
    await game.call("ui.hud.setHealth", 42);
    check((await game.call("ui.hud.state")).get("health"), 42,
          "the game sets the health");

    // object() marks a collection as a plain object for the page;
    // double() sends a number as DOUBLE even when it is whole.
    check(await game.call("ui.hud.setBuffs",
                          game.object({ armor: 2, speed: game.double(1) })),
          "a plain object", "a marked object arrives as a plain object");
    check(await game.call("ui.hud.setBuffs", { armor: 3 }), "a Map",
          "an unmarked object arrives as a Map");

    try {
      await game.call("ui.minimap.zoom", 2);
      check(false, true, "a path that is not there fails");
    } catch (error) {
      check(error.message, "Object 'zoom' is not valid in path 'ui.minimap.zoom'.",
            "a path that is not there fails");
    }

    check(await game.focus("element", "BUTTON"), true,
          "focus on a button is reported as an element");
    // The HUD focuses an input it never attaches: a browser gives it no
    // focus, so no report follows (cefsim's page reports one).
    await game.call("ui.chat.open");
    await game.idle();
    check(game.focusReports, [true], "the page's focus changes are reported");
    check(pageErrors, [], "the page had no errors");

    const failed = checks.filter((entry) => !entry.ok).map((entry) => entry.title);
    window.hudGame = { done: true, failed, checks: checks.length,
                       messages: game.messages };
    console.log(failed.length ? `game: FAILED: ${failed.join("; ")}`
                              : `game: passed ${checks.length} checks`);
  })();
})();
