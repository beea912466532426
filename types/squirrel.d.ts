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
 * twice) is cut off with `null`; so is whatever lies past 96 MiB of content
 * (strings counted as UTF-8) in one value or in one call's arguments.
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
   * `Error("Function name of call is too long")` when `name` takes more than
   * 96 MiB as UTF-8.
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
