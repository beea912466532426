// Plays the game for hud.js: answers the page's calls the way the game's
// Squirrel runtime would, then drives the page and checks what it shows.
const player = { name: "Alice", health: 87 };
const snippets = new Map([["return ::gameMode;", "survival"]]);

peer.answer("getPlayerName", () => player.name);
peer.answer("getHealth", (name) =>
  name === player.name ? player.health : peer.error(`no player ${name}`));
// squirrel.eval(code) arrives as a call of "compilestring".
peer.answer("compilestring", (code) =>
  snippets.has(code) ? snippets.get(code) : peer.error(`cannot compile ${code}`));
peer.answer("getQuestLog", peer.error("the index 'getQuestLog' does not exist"));

(async () => {
  await peer.idle(); // the HUD has asked, been answered and drawn itself

  // Page objects arrive as Maps: the renderer never marks them as objects.
  const state = await peer.call("ui.hud.state");
  peer.assertEqual(state.get("name"), "Alice", "the HUD shows the name");
  peer.assertEqual(state.get("health"), 87, "the HUD shows the health");
  peer.assertEqual(state.get("mode"), "survival", "the HUD shows the mode");

  peer.assertEqual(await peer.call("ui.toast.show", "Checkpoint reached"), 1,
                   "a toast from the game is shown");
  await peer.call("ui.hud.setHealth", 42);
  peer.assertEqual((await peer.call("ui.hud.state")).get("health"), 42,
                   "the game sets the health");

  // peer.object() marks a collection as a plain object for the page;
  // peer.double() sends a number as DOUBLE even when it is whole.
  peer.assertEqual(
      await peer.call("ui.hud.setBuffs",
                      peer.object({ armor: 2, speed: peer.double(1) })),
      "a plain object", "a marked object arrives as a plain object");
  peer.assertEqual(await peer.call("ui.hud.setBuffs", { armor: 3 }), "a Map",
                   "an unmarked object arrives as a Map");

  try {
    await peer.call("ui.minimap.zoom", 2);
    peer.expect(false, "a path that is not there fails");
  } catch (error) {
    peer.assertEqual(error.message,
                     "Object 'zoom' is not valid in path 'ui.minimap.zoom'.",
                     "a path that is not there fails");
  }

  peer.assertEqual(await peer.focus("element", "BUTTON"), true,
                   "focus on a button is reported as an element");
  await peer.call("ui.chat.open");
  await peer.idle();
  peer.assertEqual(peer.focusReports, [true, true],
                   "the page's own focus change is reported too");
  peer.assertEqual(peer.pageErrors, [], "the page had no errors");
  peer.end();
})();
