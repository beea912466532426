// A small page written against squirrel.d.ts: the TypeScript check compiles
// it with the declarations, so a declaration that no longer fits a page
// fails CI.

interface Player {
  name: string;
  score: number;
}

async function loadPlayer(): Promise<Player | null> {
  const name = await squirrel.call("getPlayerName");
  const score = await squirrel.eval("return ::score;");
  if (typeof name !== "string" || typeof score !== "number") {
    return null;
  }
  return { name, score };
}

async function saveState(): Promise<void> {
  const state = new Map<SquirrelValue, SquirrelValue>([
    ["level", 3],
    [1, [true, null, "x"]],
  ]);
  const bytes = new Uint8Array([1, 2, 3]);
  await squirrel.call("saveState", state, { nested: { list: [1, 2.5] } },
                      bytes.buffer, undefined);
}

// What comes back: narrowed before use, never undefined.
function describe(result: SquirrelResult): string {
  if (result === null) {
    return "null";
  }
  if (result instanceof Map) {
    return `Map of ${result.size}`;
  }
  if (result instanceof ArrayBuffer) {
    return `${result.byteLength} bytes`;
  }
  if (Array.isArray(result)) {
    return `[${result.map(describe).join(", ")}]`;
  }
  if (typeof result === "object") {
    return `{${Object.keys(result).join(", ")}}`;
  }
  return String(result);
}

(window as any).ui = {
  toast: {
    show(text: string): boolean {
      console.log(text);
      return true;
    },
  },
};

squirrel.call("getInventory").then(
  (inventory) => console.log(describe(inventory)),
  (error: Error) => console.error(error.message),
);
void loadPlayer();
void saveState();
