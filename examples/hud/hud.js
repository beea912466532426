// A heads-up display for the game's UI layer. It asks the game for the
// player's name and health, evaluates a Squirrel snippet, and offers
// `window.ui` for the game to call: ui.toast.show(text) and a few more.
"use strict";

const hud = { name: "?", health: 0, mode: "?", buffs: [], toasts: [] };

function draw() {
  document.title = `${hud.name} | ${hud.health} HP | ${hud.mode}`;
  console.log(`HUD: ${document.title}`);
}

async function start() {
  console.log("HUD: asking the game for the player");
  // Both go out at once; the game answers each by its call id.
  const [name, mode] = await Promise.all([
    squirrel.call("getPlayerName"),
    squirrel.eval("return ::gameMode;"),
  ]);
  hud.name = name;
  hud.mode = mode;
  hud.health = await squirrel.call("getHealth", name);
  draw();
  try {
    await squirrel.call("getQuestLog", name);
  } catch (error) {
    // The game's error text arrives as the Error's message.
    console.log(`HUD: no quest log (${error.message})`);
  }
}

// The game calls these by dotted path from the global object, so they hang
// off `window`: a top-level `const ui` would not be reachable.
window.ui = {
  toast: {
    show(text) {
      hud.toasts.push(String(text));
      console.log(`HUD: toast "${text}"`);
      return hud.toasts.length;
    },
  },
  hud: {
    state() {
      const { name, health, mode, toasts } = hud;
      return { name, health, mode, toasts };
    },
    setHealth(health) {
      hud.health = health;
      draw();
    },
    // The game's keyed collections arrive as Maps unless it marks them as
    // plain objects.
    setBuffs(buffs) {
      const entries =
        buffs instanceof Map ? [...buffs] : Object.entries(buffs);
      hud.buffs = entries.map(([buff, level]) => `${buff} ${level}`);
      console.log(`HUD: buffs ${hud.buffs.join(", ")}`);
      return buffs instanceof Map ? "a Map" : "a plain object";
    },
  },
  chat: {
    open() {
      document.createElement("input").focus();
    },
  },
};

start();
