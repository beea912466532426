// The global object that cef-launcher installs in every script context of a
// page rendered by the game's browser. Both functions send a call to the
// game's Squirrel runtime and return at once; the promise settles when the
// game answers. There is no time-out.

/**
 * A value that crosses to the game unchanged in meaning. Anything else is
 * sent as `null`: functions, Dates, Sets, typed arrays, promises, symbols,
 * BigInts, boxed primitives, instances of classes (including subclasses of
 * Map), objects without a prototype, NaN and ±Infinity, empty ArrayBuffers
 * and arrays longer than 4,194,304 elements. An array element whose reading
 * throws is sent as `null`. A Map or plain object is read whole, through the
 * page's own `Object.keys`, `Object.values`, `Array.from` and Map iterators
 * (replacements included): if that throws (a getter, a Proxy), the whole Map
 * or object is sent as `null`, not just the one entry.
 * The error still reaches `window.onerror` at once.
 * An array, Map or object met again inside itself (a cycle) is `null` where
 * it recurs. Nesting deeper than 96 levels (a Map or plain object counts
 * twice) is cut off with `null`.
 *
 * Size budget: one value (a page function's result), or one call's
 * arguments with its function name, may take 134,212,608 bytes (128 MiB,
 * the most one message carries, less 5 KiB), counted as the message encodes
 * them:
 * - every value: 16 bytes (each argument, array element, Map or object key,
 *   and Map or object value);
 * - a string: 8 more, plus its UTF-8 bytes rounded up to a multiple of 8
 *   (one byte a character up to U+007F, two up to U+07FF, three above, and
 *   three for each half of a surrogate pair): `''` 24 in all, `'x'` 32;
 * - an ArrayBuffer: 8 more, plus its length rounded up to 8;
 * - an array: 24 more, plus 16 per element: `[]` 40 in all;
 * - a Map or plain object: 184 more, plus 32 per entry, plus what its keys
 *   and values add: `{}` 200 in all, `{a: 1}` 248;
 * - a call: 24 for its list of arguments, and its function name 8 plus its
 *   UTF-8 bytes rounded up to 8.
 * Where the budget runs out, that value and everything after it is `null`:
 * arrays keep their length (an array whose element slots no longer fit is
 * `null` whole); a Map or object keeps its keys if the budget ran out among
 * its values, and is `null` whole if it ran out among its keys.
 * A Date is still read by CEF itself, which calls its `valueOf` (or
 * `Symbol.toPrimitive`) once: if that throws, the renderer crashes in CEF.
 */
type SquirrelValue =
  | null
  | undefined // sent as null
  | boolean
  | number // whole numbers in the signed 32-bit range arrive as integers
  | string
  | ArrayBuffer // copied
  | SquirrelValue[] // holes are sent as null
  | Map<SquirrelValue, SquirrelValue>
  | { [key: string]: SquirrelValue }; // own enumerable string keys only

/**
 * A value the game can send back. Plain objects arrive as plain objects only
 * when the game marks them; otherwise keyed collections arrive as Maps (a
 * plain object sent by the page and returned unchanged comes back as a Map).
 * Nothing arrives as undefined: values nested deeper than 96 levels arrive
 * as `null`. A plain object's keys are strings (a number key from the game
 * names the property by its decimal text).
 */
type SquirrelResult =
  | null
  | boolean
  | number
  | string
  | ArrayBuffer
  | SquirrelResult[]
  | Map<SquirrelResult, SquirrelResult>
  | { [key: string]: SquirrelResult };

interface Squirrel {
  /**
   * Calls the Squirrel function `name` with `args`.
   * Throws `Error("First argument of call must be of string type")` at once,
   * without sending anything, when `name` is missing or not a string, and
   * `Error("Function name of call is too long")` when `name` leaves no room
   * in the size budget for the arguments (about 128 MiB as UTF-8).
   * Rejects with an `Error` whose message is the game's error text.
   * The call takes its id once `args` are read, so a call made by a getter
   * while they are read is sent first. The reply to the id settles the
   * promise whichever frame it comes on, as long as this page is there.
   */
  call(name: string, ...args: SquirrelValue[]): Promise<SquirrelResult>;

  /**
   * Hands Squirrel source text to the game's "compilestring".
   * Throws `Error("First argument if eval() must be of string type")` at
   * once unless called with exactly one string.
   */
  eval(code: string): Promise<SquirrelResult>;
}

declare var squirrel: Squirrel;
