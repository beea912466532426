// A stand-in for the game's `squirrel` object, for working on a page in an
// ordinary browser. It installs `window.squirrel` (call, eval) unless the
// game's own is there, converts values exactly as the game's renderer does
// on the way out and on the way in, and plays the game's side: handlers by
// function name, calls into the page by dotted path, focus reports, and the
// wire text of every message. Works as a classic <script> and as a module;
// no build step, no dependencies.
//
//   <script src="squirrel-standin.js"></script>
//   <script>
//     squirrelGame.answer("getPlayerName", () => "Alice");
//     squirrelGame.call("ui.toast.show", "hello").then(console.log);
//   </script>
//
// `squirrelGame.panel()` shows the calls in flight and answers one by hand.
(function installSquirrelStandin(global) {
  "use strict";

  if (global.squirrelGame) {
    return;
  }
  const hasOwnSquirrel = global.squirrel !== undefined;

  // The renderer's own functions, taken before page script can replace
  // them. What the renderer reads from the page at conversion time
  // (Object.keys, Array.from, Map iterators, constructor names, the global
  // Map) is read live below instead.
  const intrinsic = {
    ArrayBuffer: global.ArrayBuffer,
    Uint8Array: global.Uint8Array,
    Error: global.Error,
    Promise: global.Promise,
    Map: global.Map,
    apply: Reflect.apply,
    set: Reflect.set,
    isArray: Array.isArray,
    dateGetTime: Date.prototype.getTime,
    bufferByteLength: Object.getOwnPropertyDescriptor(
        ArrayBuffer.prototype, "byteLength").get,
    bufferDetached: (Object.getOwnPropertyDescriptor(
        ArrayBuffer.prototype, "detached") || {}).get,
    defineProperty: Object.defineProperty,
    is: Object.is,
    getPrototypeOf: Object.getPrototypeOf,
    entries: Object.entries,
    freeze: Object.freeze,
    reportError: typeof global.reportError === "function"
        ? global.reportError.bind(global) : null,
    setTimeout: global.setTimeout.bind(global),
    MessageChannel: global.MessageChannel,
    mapGet: Map.prototype.get,
    mapSet: Map.prototype.set,
    mapHas: Map.prototype.has,
    mapDelete: Map.prototype.delete,
    mapValues: Map.prototype.values,
    mapKeys: Map.prototype.keys,
    mapSize: Object.getOwnPropertyDescriptor(Map.prototype, "size").get,
  };
  // The stand-in's own tables, safe from a page that patches Map.prototype.
  const table = {
    get: (map, key) => intrinsic.apply(intrinsic.mapGet, map, [key]),
    set: (map, key, value) => intrinsic.apply(intrinsic.mapSet, map, [key, value]),
    has: (map, key) => intrinsic.apply(intrinsic.mapHas, map, [key]),
    delete: (map, key) => intrinsic.apply(intrinsic.mapDelete, map, [key]),
    values: (map) => [...intrinsic.apply(intrinsic.mapValues, map, [])],
    keys: (map) => [...intrinsic.apply(intrinsic.mapKeys, map, [])],
    size: (map) => intrinsic.apply(intrinsic.mapSize, map, []),
  };

  // Limits of the channel and of the conversions.
  const kMaxMessageBytes = 128 * 1024 * 1024;
  const kMessageEnvelopeBytes = 4096;
  const kBridgeFramingBytes = 1024;
  const kMaxConvertedBytes =
      kMaxMessageBytes - kMessageEnvelopeBytes - kBridgeFramingBytes;
  const kMaxValueNesting = 96;
  const kMaxArrayLength = 4194304;
  const kEncodedValueBytes = 16;
  const roundUpTo8 = (bytes) => Math.ceil(bytes / 8) * 8;
  const encodedBytesArray = (bytes) => 8 + roundUpTo8(bytes);
  const encodedListBytes = (elements) => 16 + 8 + kEncodedValueBytes * elements;
  const encodedDictionaryBytes = (entries) =>
      16 + 24 + (8 + 8 * entries) + (8 + kEncodedValueBytes * entries);
  const kKeyedCollectionBytes = encodedDictionaryBytes(2) +
      encodedBytesArray(4) + encodedBytesArray(6);

  const kMessageName = "qrx";
  const kEvalTarget = "compilestring";
  const kUnknownErrorText = "Unknown error";
  const Type = { Call: 0, Result: 1, Error: 2, FocusChange: 3 };

  // ---- Message values: {type, value}, as CEF holds them --------------------

  const wire = {
    null: () => ({ type: "NULL" }),
    bool: (value) => ({ type: "BOOL", value: Boolean(value) }),
    int: (value) => ({ type: "INT", value: value | 0 }),
    // CEF stores NaN and the infinities as 0.
    double: (value) => ({ type: "DOUBLE", value: Number.isFinite(value) ? value : 0 }),
    string: (value) => ({ type: "STRING", value: wellFormed(String(value)) }),
    binary: (bytes) => ({ type: "BINARY", value: bytes }),
    list: (entries) => ({ type: "LIST", value: entries }),
    // Entries as [key, value] pairs; CEF keeps a dictionary sorted by key.
    dictionary: (entries) => ({
      type: "DICTIONARY",
      value: entries.slice().sort((a, b) => compareKeys(a[0], b[0])),
    }),
  };

  // An entry of a dictionary, or undefined.
  function entryOf(dictionary, key) {
    const found = dictionary.value.find((entry) => entry[0] === key);
    return found && found[1];
  }

  // CEF sorts dictionary keys by their UTF-8 bytes: code point order.
  function compareKeys(a, b) {
    const x = codePoints(a);
    const y = codePoints(b);
    for (let i = 0; i < x.length && i < y.length; ++i) {
      if (x[i] !== y[i]) {
        return x[i] - y[i];
      }
    }
    return x.length - y.length;
  }

  function codePoints(text) {
    const points = [];
    for (const c of text) points.push(c.codePointAt(0));
    return points;
  }

  // Lone surrogates become U+FFFD when CEF turns text into UTF-8.
  function wellFormed(text) {
    if (typeof text.toWellFormed === "function") {
      return text.toWellFormed();
    }
    return text.replace(/[\uD800-\uDBFF](?![\uDC00-\uDFFF])|(^|[^\uD800-\uDBFF])[\uDC00-\uDFFF]/g,
                        (match, before) => (before === undefined ? "\uFFFD" : before + "\uFFFD"));
  }

  function utf8Length(text) {
    let bytes = 0;
    for (const c of text) {
      const code = c.codePointAt(0);
      bytes += code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
    }
    return bytes;
  }

  // At least what `text` takes as UTF-8: three per UTF-16 unit above U+07FF.
  function utf8BytesAtMost(text) {
    let bytes = 0;
    for (let i = 0; i < text.length; ++i) {
      const unit = text.charCodeAt(i);
      bytes += unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
    }
    return bytes;
  }

  // ---- Wire text: the same text the game's traces print --------------------

  function quoted(text) {
    let out = '"';
    for (const c of text) {
      const code = c.codePointAt(0);
      if (c === '"') out += '\\"';
      else if (c === "\\") out += "\\\\";
      else if (c === "\n") out += "\\n";
      else if (c === "\r") out += "\\r";
      else if (c === "\t") out += "\\t";
      else if (code < 0x20 || code === 0x7f) {
        out += "\\u" + code.toString(16).padStart(4, "0");
      } else out += c;
    }
    return out + '"';
  }

  // The shortest text that reads back as the same double, fixed or
  // scientific, whichever is shorter (fixed on a tie).
  function doubleText(number) {
    if (Number.isNaN(number)) return "nan";
    if (number === Infinity) return "inf";
    if (number === -Infinity) return "-inf";
    if (number === 0) return intrinsic.is(number, -0) ? "-0" : "0";
    const sign = number < 0 ? "-" : "";
    const [mantissa, exponentText] = Math.abs(number).toExponential().split("e");
    const digits = mantissa.replace(".", "");
    const exponent = Number(exponentText);
    let fixed;
    if (exponent >= 0) {
      fixed = digits.length <= exponent + 1
          ? digits + "0".repeat(exponent + 1 - digits.length)
          : digits.slice(0, exponent + 1) + "." + digits.slice(exponent + 1);
    } else {
      fixed = "0." + "0".repeat(-exponent - 1) + digits;
    }
    const scientific = (digits.length > 1 ? digits[0] + "." + digits.slice(1) : digits) +
        "e" + (exponent < 0 ? "-" : "+") + String(Math.abs(exponent)).padStart(2, "0");
    return sign + (fixed.length <= scientific.length ? fixed : scientific);
  }

  function valueText(value) {
    switch (value.type) {
      case "NULL": return "NULL";
      case "BOOL": return value.value ? "BOOL true" : "BOOL false";
      case "INT": return "INT " + value.value;
      case "DOUBLE": return "DOUBLE " + doubleText(value.value);
      case "STRING": return "STRING " + quoted(value.value);
      case "BINARY": {
        const bytes = value.value;
        let out = "BINARY " + bytes.length + " bytes";
        const shown = Math.min(bytes.length, 64);
        for (let i = 0; i < shown; ++i) {
          out += " " + bytes[i].toString(16).padStart(2, "0");
        }
        return shown < bytes.length ? out + " ..." : out;
      }
      case "LIST":
        return "LIST [" + value.value.map(valueText).join(", ") + "]";
      case "DICTIONARY":
        return "DICTIONARY {" + value.value.map(
            ([key, entry]) => quoted(key) + ": " + valueText(entry)).join(", ") + "}";
    }
    return "INVALID";
  }

  function messageText(list) {
    return kMessageName + " [" + list.map(valueText).join(", ") + "]";
  }

  // ---- How the renderer sees a script value --------------------------------

  // What a failed property read or call gives: no value at all.
  const kNoValue = intrinsic.freeze({ noValue: true });

  function isDate(value) {
    try {
      intrinsic.apply(intrinsic.dateGetTime, value, []);
      return true;
    } catch {
      return false;
    }
  }

  // Dates are a kind of their own; Symbols and BigInts are not valid.
  function tagOf(value) {
    if (value === kNoValue) return "NONE";
    if (value === undefined) return "UNDEFINED";
    if (value === null) return "NULL";
    switch (typeof value) {
      case "boolean": return "BOOL";
      case "number":
        if ((value | 0) === value && !intrinsic.is(value, -0)) return "INT";
        return "DOUBLE";
      case "string": return "STRING";
      case "symbol":
      case "bigint": return "INVALID";
    }
    return isDate(value) ? "DATE" : "OBJECT";
  }

  // CEF reads a Date's time through its valueOf (or Symbol.toPrimitive)
  // once as it takes the value; a throw there brings the renderer down.
  function readDate(date) {
    try {
      Number(date);
    } catch (error) {
      report(error);
      if (global.console) {
        global.console.error("squirrel stand-in: a Date's valueOf threw; " +
                             "in the game this crashes the page's renderer");
      }
    }
  }

  const isObjectTag = (value) => tagOf(value) === "OBJECT";
  const isValid = (value) => value !== kNoValue && tagOf(value) !== "INVALID";

  function isArrayBuffer(value) {
    try {
      intrinsic.apply(intrinsic.bufferByteLength, value, []);
      return true;
    } catch {
      return false;
    }
  }

  // An exception in page code run by the renderer is caught there and still
  // reported as uncaught.
  function report(error) {
    if (intrinsic.reportError) {
      intrinsic.reportError(error);
    }
  }

  function getValue(object, key) {
    if (!isObjectTag(object)) {
      return kNoValue;
    }
    try {
      return object[key];
    } catch (error) {
      report(error);
      return kNoValue;
    }
  }

  function executeFunction(fn, receiver, args) {
    if (!isObjectTag(fn) || typeof fn !== "function") return kNoValue;
    if (receiver !== undefined && !isObjectTag(receiver)) return kNoValue;
    if (args.some((arg) => !isValid(arg))) return kNoValue;
    try {
      return intrinsic.apply(fn, receiver === undefined ? global : receiver, args);
    } catch (error) {
      report(error);
      return kNoValue;
    }
  }

  // ---- Page value to message value -----------------------------------------

  class OutgoingConversion {
    constructor(budget) {
      this.remaining = budget;
      this.path = [];
    }

    convert(value, depth, prepaid = false) {
      if (value === kNoValue || (!prepaid && !this.spend(kEncodedValueBytes))) {
        return wire.null();
      }
      switch (tagOf(value)) {
        case "BOOL": return wire.bool(value);
        case "INT": return wire.int(value);
        case "DOUBLE":
          // NaN and the infinities say "no number".
          return Number.isFinite(value) ? wire.double(value) : wire.null();
        case "STRING":
          return this.spend(encodedBytesArray(utf8BytesAtMost(value)))
              ? wire.string(value) : wire.null();
        case "OBJECT":
          break;
        case "DATE":
          readDate(value);
          return wire.null();
        default:
          return wire.null();
      }
      if (isArrayBuffer(value)) {
        return this.convertArrayBuffer(value);
      }
      let result = null;
      if (intrinsic.isArray(value)) {
        if (depth < kMaxValueNesting && this.enter(value)) {
          result = this.convertElements(value, depth);
          this.path.pop();
        }
        return result ? wire.list(result) : wire.null();
      }
      if (depth + 1 < kMaxValueNesting && this.enter(value)) {
        result = this.convertObject(value, depth);
        this.path.pop();
      }
      return result || wire.null();
    }

    // A container met again inside itself is NULL where it recurs.
    enter(container) {
      if (this.path.includes(container)) {
        return false;
      }
      this.path.push(container);
      return true;
    }

    convertArrayBuffer(buffer) {
      const size = intrinsic.apply(intrinsic.bufferByteLength, buffer, []);
      const detached = intrinsic.bufferDetached &&
          intrinsic.apply(intrinsic.bufferDetached, buffer, []);
      if (detached || size === 0 || !this.spend(encodedBytesArray(size))) {
        return wire.null();
      }
      return wire.binary(new intrinsic.Uint8Array(buffer).slice());
    }

    // The entries of a page array, or null when it is too long for the
    // bound or the budget.
    convertElements(array, depth) {
      const length = array.length;
      if (length > kMaxArrayLength || length > 0x7fffffff) {
        return null;
      }
      if (!this.spend(encodedListBytes(length))) {
        return null;
      }
      const list = new Array(length);
      for (let i = 0; i < length; ++i) {
        list[i] = wire.null();
      }
      for (let i = 0; i < length && this.remaining > 0; ++i) {
        list[i] = this.convert(getValue(array, i), depth + 1, true);
      }
      return list;
    }

    convertObject(object, depth) {
      const constructor = getValue(object, "constructor");
      if (!isObjectTag(constructor)) {
        return null;
      }
      const name = getValue(constructor, "name");
      if (tagOf(name) !== "STRING") {
        return null;
      }
      if (name === "Map") return this.convertMap(object, depth);
      if (name === "Object") return this.convertPlainObject(object, depth);
      return null;
    }

    convertMap(map, depth) {
      const keysFunction = getValue(map, "keys");
      const valuesFunction = getValue(map, "values");
      const arrayConstructor = getValue(global, "Array");
      if (keysFunction === kNoValue || valuesFunction === kNoValue ||
          arrayConstructor === kNoValue) {
        return null;
      }
      const from = getValue(arrayConstructor, "from");
      if (from === kNoValue) {
        return null;
      }
      const keysIterator = executeFunction(keysFunction, map, []);
      const valuesIterator = executeFunction(valuesFunction, map, []);
      if (keysIterator === kNoValue || valuesIterator === kNoValue) {
        return null;
      }
      // Keys first, then values, as the renderer collects them.
      const keys = executeFunction(from, arrayConstructor, [keysIterator]);
      const values = executeFunction(from, arrayConstructor, [valuesIterator]);
      return this.storeCollection(keys, values, depth);
    }

    convertPlainObject(object, depth) {
      const objectConstructor = getValue(global, "Object");
      if (objectConstructor === kNoValue) {
        return null;
      }
      const keysFunction = getValue(objectConstructor, "keys");
      const valuesFunction = getValue(objectConstructor, "values");
      if (keysFunction === kNoValue || valuesFunction === kNoValue) {
        return null;
      }
      const keys = executeFunction(keysFunction, objectConstructor, [object]);
      const values = executeFunction(valuesFunction, objectConstructor, [object]);
      return this.storeCollection(keys, values, depth);
    }

    // The keyed form of two collected arrays of equal length, else null.
    storeCollection(keys, values, depth) {
      if (keys === kNoValue || values === kNoValue || !isObjectTag(keys) ||
          !isObjectTag(values) || !intrinsic.isArray(keys) ||
          !intrinsic.isArray(values) || !this.spend(kKeyedCollectionBytes)) {
        return null;
      }
      const keyList = this.convertElements(keys, depth + 1);
      const valueList = this.convertElements(values, depth + 1);
      if (!keyList || !valueList || keyList.length !== valueList.length) {
        return null;
      }
      return wire.dictionary([["keys", wire.list(keyList)],
                              ["values", wire.list(valueList)]]);
    }

    spend(bytes) {
      if (bytes > this.remaining) {
        this.remaining = 0;
        return false;
      }
      this.remaining -= bytes;
      return true;
    }
  }

  // One value, as a page function's result is converted.
  function toWire(value) {
    return new OutgoingConversion(kMaxConvertedBytes).convert(value, 0);
  }

  // Several values sharing one budget, as a call's arguments are.
  function toWireList(values, reservedBytes) {
    const listBytes = encodedListBytes(values.length);
    if (reservedBytes > kMaxConvertedBytes ||
        listBytes > kMaxConvertedBytes - reservedBytes) {
      return null;
    }
    const list = values.map(() => wire.null());
    const conversion =
        new OutgoingConversion(kMaxConvertedBytes - reservedBytes - listBytes);
    for (let i = 0; i < values.length && conversion.remaining > 0; ++i) {
      list[i] = conversion.convert(values[i], 0, true);
    }
    return list;
  }

  // ---- Message value to page value -----------------------------------------

  // JavaScript's property name for a key of a plain object, or null.
  function propertyName(key) {
    switch (key.type) {
      case "STRING": return key.value;
      case "INT": return String(key.value);
      case "DOUBLE": {
        const number = key.value;
        if (!(Math.abs(number) <= Number.MAX_SAFE_INTEGER) ||
            number !== Math.trunc(number)) {
          return null;
        }
        return String(number === 0 ? 0 : number);
      }
    }
    return null;
  }

  function forEachEntry(dictionary, insert) {
    const keys = entryOf(dictionary, "keys");
    const values = entryOf(dictionary, "values");
    if (!keys || keys.type !== "LIST" || !values || values.type !== "LIST") {
      return;
    }
    for (let i = 0; i < keys.value.length && i < values.value.length; ++i) {
      insert(keys.value[i], values.value[i]);
    }
  }

  function setValue(object, key, value) {
    try {
      intrinsic.set(object, key, value);
    } catch (error) {
      report(error);
    }
  }

  function fromWire(value, depth = 0) {
    switch (value.type) {
      case "NULL": return null;
      case "BOOL": return value.value;
      case "INT":
      case "DOUBLE":
      case "STRING": return value.value;
      case "BINARY": {
        const buffer = new intrinsic.ArrayBuffer(value.value.length);
        new intrinsic.Uint8Array(buffer).set(value.value);
        return buffer;
      }
      case "LIST": {
        // Past the nesting bound a container arrives as null.
        if (depth >= kMaxValueNesting) return null;
        const array = new Array(value.value.length);
        value.value.forEach((entry, i) => {
          const converted = fromWire(entry, depth + 1);
          if (converted !== kNoValue) setValue(array, i, converted);
        });
        return array;
      }
      case "DICTIONARY": {
        if (depth + 1 >= kMaxValueNesting) return null;
        const isObject = entryOf(value, "isObject");
        return isObject && isObject.type === "BOOL" && isObject.value
            ? plainObjectFromWire(value, depth) : mapFromWire(value, depth);
      }
    }
    return kNoValue;
  }

  function plainObjectFromWire(dictionary, depth) {
    const object = {};
    forEachEntry(dictionary, (key, entry) => {
      const name = propertyName(key);
      if (name === null) return;
      const converted = fromWire(entry, depth + 2);
      if (converted !== kNoValue) setValue(object, name, converted);
    });
    return object;
  }

  function mapFromWire(dictionary, depth) {
    // The renderer evaluates "new Map();" in the page: the page's Map.
    let map;
    try {
      map = new global.Map();
    } catch (error) {
      return kNoValue;
    }
    const set = getValue(map, "set");
    if (set === kNoValue) return map;
    forEachEntry(dictionary, (key, entry) => {
      const mapKey = fromWire(key, depth + 2);
      if (mapKey === kNoValue) return;
      const mapValue = fromWire(entry, depth + 2);
      if (mapValue !== kNoValue) executeFunction(set, map, [mapKey, mapValue]);
    });
    return map;
  }

  // A message value as the game's script sees it: keyed collections as
  // Maps (plain objects when marked), built without running page code.
  function gameFromWire(value) {
    switch (value.type) {
      case "NULL": return null;
      case "BINARY": {
        const buffer = new intrinsic.ArrayBuffer(value.value.length);
        new intrinsic.Uint8Array(buffer).set(value.value);
        return buffer;
      }
      case "LIST": return value.value.map(gameFromWire);
      case "DICTIONARY": {
        const isObject = entryOf(value, "isObject");
        const collection = isObject && isObject.type === "BOOL" && isObject.value
            ? {} : new intrinsic.Map();
        forEachEntry(value, (key, entry) => {
          if (collection instanceof intrinsic.Map) {
            table.set(collection, gameFromWire(key), gameFromWire(entry));
          } else {
            intrinsic.defineProperty(collection, String(key.value), {
              value: gameFromWire(entry), enumerable: true, writable: true, configurable: true,
            });
          }
        });
        return collection;
      }
    }
    return value.value;
  }

  // ---- The page's squirrel object ------------------------------------------

  let nextCallId = 0;
  const pending = new Map();  // call id -> {resolve, reject, call}
  const game = {
    handlers: new Map(),
    calls: [],
    replies: [],
    focusReports: [],
    messages: [],
    listeners: new Set(),
    nextPageCallId: 0,
    pageCalls: new Map(),  // the game's call id -> settle
    idleWaiters: [],
    answered: new Set(),  // page call ids a handler took
    sent: [],  // what the renderer sent, as wire text
  };

  function newError(text) {
    return new intrinsic.Error(text);
  }

  // Every message both ways goes through here; `toPage` for the game's.
  function record(list, toPage) {
    const message = intrinsic.freeze({ list, text: messageText(list), toPage });
    game.messages.push(message);
    for (const listener of game.listeners) {
      try {
        listener(message);
      } catch (error) {
        report(error);
      }
    }
    return message;
  }

  // A message from the page to the game.
  function send(list) {
    const message = record(list, false);
    game.sent.push(message.text);
    return message;
  }

  // Messages travel in order, each delivered in a task of its own.
  const queue = [];
  let queued = false;
  const channel = intrinsic.MessageChannel ? new intrinsic.MessageChannel() : null;
  function post(task) {
    queue.push(task);
    if (queued) return;
    queued = true;
    if (channel) channel.port2.postMessage(null);
    else intrinsic.setTimeout(runQueue, 0);
  }
  function runQueue() {
    const task = queue.shift();
    queued = false;
    if (queue.length) {
      queued = true;
      if (channel) channel.port2.postMessage(null);
      else intrinsic.setTimeout(runQueue, 0);
    }
    if (task) task();
    if (!queue.length && !queued) {
      intrinsic.setTimeout(wakeIdle, 0);
    }
  }
  if (channel) channel.port1.onmessage = runQueue;

  function wakeIdle() {
    if (queue.length || queued) return;
    for (const resolve of game.idleWaiters.splice(0)) resolve();
  }

  function sendCall(functionName, list) {
    const id = nextCallId++;
    return new intrinsic.Promise((resolve, reject) => {
      const message = send([wire.int(Type.Call), wire.int(id),
                            wire.string(functionName), wire.list(list)]);
      const call = intrinsic.freeze({
        id,
        function: functionName,
        args: list.map((entry) => gameFromWire(entry)),
        wireArgs: list,
        text: message.text,
      });
      table.set(pending, id, { resolve, reject, call });
      game.calls.push(call);
      refreshPanel();
      post(() => answerFromHandler(call));
    });
  }

  function call() {
    const args = [];
    for (let i = 0; i < arguments.length; ++i) args.push(arguments[i]);
    if (args.length === 0 || typeof args[0] !== "string") {
      throw newError("First argument of call must be of string type");
    }
    const functionName = wellFormed(args[0]);
    const functionBytes = encodedBytesArray(utf8Length(functionName));
    const list = functionBytes <= kMaxConvertedBytes
        ? toWireList(args.slice(1), functionBytes) : null;
    if (!list) {
      throw newError("Function name of call is too long");
    }
    return sendCall(functionName, list);
  }

  function evaluate() {
    const code = arguments[0];
    if (arguments.length !== 1 || typeof code !== "string") {
      throw newError("First argument if eval() must be of string type");
    }
    return sendCall(kEvalTarget,
                    toWireList([code], encodedBytesArray(kEvalTarget.length)));
  }
  intrinsic.defineProperty(evaluate, "name", { value: "eval" });

  // A Result or Error from the game, for the page's call `id`. False when
  // nothing waits for that id.
  function deliverReply(list) {
    const [type, id, payload] = list;
    const entry = table.get(pending, id.value);
    if (!entry) return false;
    table.delete(pending, id.value);
    if (type.value === Type.Result) {
      const converted = fromWire(payload);
      entry.resolve(converted === kNoValue ? undefined : converted);
    } else {
      entry.reject(newError(payload.value === "" ? kUnknownErrorText : payload.value));
    }
    return true;
  }

  // ---- Calls from the game into the page -----------------------------------

  function pathSegments(path) {
    return path.split(".").filter((segment) => segment.length > 0);
  }

  // Walks `path` from the global object and answers as the renderer does.
  function answerPageCall(id, path, wireArgs) {
    let current = global;
    let parent = kNoValue;
    for (const segment of pathSegments(path)) {
      parent = current;
      current = getValue(parent, segment);
      if (!isValid(current) || !isValid(parent)) {
        return [wire.int(Type.Error), wire.int(id),
                wire.string(`Object '${segment}' is not valid in path '${path}'.`)];
      }
    }
    let result = current;
    if (isObjectTag(current) && typeof current === "function") {
      const args = wireArgs.map((entry) => fromWire(entry));
      result = executeFunction(current, parent === kNoValue ? undefined : parent, args);
    }
    if (!isValid(result)) {
      return [wire.int(Type.Error), wire.int(id),
              wire.string(`Function execution failed in path '${path}'.`)];
    }
    return [wire.int(Type.Result), wire.int(id), toWire(result)];
  }

  // ---- The game's side -----------------------------------------------------

  const markers = new WeakMap();  // marker object -> its message value
  function marker(value) {
    const made = intrinsic.freeze({ standinValue: valueText(value) });
    markers.set(made, value);
    return made;
  }

  // A game value for the page: markers as they are, arrays as lists, Maps
  // and plain objects as keyed collections (arriving as Maps unless made
  // with object()), everything else as the page's own values convert.
  function gameValue(value, path = []) {
    if (value !== null && typeof value === "object" && markers.has(value)) {
      return markers.get(value);
    }
    if (value === null || typeof value !== "object" || isArrayBuffer(value) ||
        isDate(value)) {
      return toWire(value);
    }
    if (path.includes(value)) return wire.null();
    path.push(value);
    try {
      const inner = (entry) => gameValue(entry, path);
      if (Array.isArray(value)) return wire.list(Array.from(value, inner));
      const entries = value instanceof Map ? Array.from(value)
          : intrinsic.getPrototypeOf(value) === Object.prototype ? intrinsic.entries(value)
          : null;
      if (!entries) return toWire(value);
      return wire.dictionary([["keys", wire.list(entries.map(([key]) => inner(key)))],
                              ["values", wire.list(entries.map(([, entry]) => inner(entry)))]]);
    } finally {
      path.pop();
    }
  }

  class GameError {
    constructor(text) {
      this.text = text;
    }
  }
  const noReply = intrinsic.freeze({ toString: () => "noReply" });

  function replyTo(id, result) {
    if (result === noReply) return intrinsic.Promise.resolve(false);
    const list = result instanceof GameError
        ? [wire.int(Type.Error), wire.int(id), wire.string(result.text)]
        : [wire.int(Type.Result), wire.int(id), gameValue(result)];
    return new intrinsic.Promise((resolve) => {
      post(() => {
        record(list, true);
        game.replies.push(intrinsic.freeze({ id, text: messageText(list), list }));
        resolve(deliverReply(list));
        refreshPanel();
      });
    });
  }

  function answerFromHandler(call) {
    refreshPanel();
    const handler = table.get(game.handlers, call.function);
    if (!handler || game.answered.has(call.id) || !table.has(pending, call.id)) return;
    game.answered.add(call.id);
    let result;
    try {
      result = handler.apply(call, call.args);
    } catch (error) {
      replyTo(call.id, new GameError(error && error.message !== undefined
          ? String(error.message) : String(error)));
      return;
    }
    if (result !== null && typeof result === "object" && typeof result.then === "function") {
      intrinsic.Promise.resolve(result).then(
          (settled) => replyTo(call.id, settled),
          (error) => replyTo(call.id, new GameError(error && error.message !== undefined
              ? String(error.message) : String(error))));
    } else {
      replyTo(call.id, result);
    }
  }

  function callPage(path, args) {
    const id = game.nextPageCallId++;
    const list = [wire.int(Type.Call), wire.int(id), wire.string(String(path)),
                  wire.list(args.map((arg) => gameValue(arg)))];
    return new intrinsic.Promise((resolve, reject) => {
      post(() => {
        record(list, true);
        const reply = answerPageCall(id, list[2].value, list[3].value);
        const message = send(reply);
        game.replies.push(intrinsic.freeze({ id, text: message.text, list: reply, fromPage: true }));
        if (reply[0].value === Type.Result) {
          resolve(gameFromWire(reply[2]));
        } else {
          const error = newError(reply[2].value);
          error.text = message.text;
          reject(error);
        }
      });
    });
  }

  // Focus reports, as the renderer sends them on every focus change.
  function reportFocus(elementFocused) {
    game.focusReports.push(elementFocused);
    send([wire.int(Type.FocusChange), wire.bool(elementFocused)]);
  }
  if (!hasOwnSquirrel && global.document && global.addEventListener) {
    global.addEventListener("focusin", (event) => {
      reportFocus(Boolean(event.target && event.target.nodeType === 1));
    }, true);
    global.addEventListener("focusout", (event) => {
      // Focus cleared: not moved to another element (relatedTarget), and not
      // kept by the element while the window loses focus.
      if (event.relatedTarget || global.document.activeElement === event.target) {
        return;
      }
      reportFocus(false);
    }, true);
  }

  function errorText(error) {
    return error && error.message !== undefined ? String(error.message) : String(error);
  }

  const squirrelGame = {
    // Answers every later call of `name` (e.g. "compilestring" for eval):
    // the handler gets the converted arguments (`this` is the call) and
    // returns a value, a promise, or throws to send an Error.
    answer(name, handler) {
      table.set(game.handlers, String(name), typeof handler === "function" ? handler : () => handler);
      for (const entry of table.values(pending)) {
        if (entry.call.function === name) post(() => answerFromHandler(entry.call));
      }
    },
    // Answers call `id` by hand: a value, or error(text).
    reply: (id, result) => replyTo(id, result),
    error: (text) => new GameError(String(text)),
    noReply,
    // Calls a page function or reads a page value by dotted path.
    call: (path, ...args) => callPage(path, args),
    // Moves the page's focus: "element" to a new element of `tagName`,
    // "none" clears it. Resolves with what the renderer reported.
    focus(target = "element", tagName = "INPUT") {
      const before = game.focusReports.length;
      const document = global.document;
      if (target === "element") {
        const element = document.createElement(tagName);
        element.tabIndex = -1;
        element.style.position = "absolute";
        element.style.left = "-9999px";
        document.body.appendChild(element);
        element.focus();
      } else if (document.activeElement && document.activeElement.blur) {
        document.activeElement.blur();
      }
      return new intrinsic.Promise((resolve) => {
        intrinsic.setTimeout(() => resolve(game.focusReports.length > before
            ? game.focusReports[game.focusReports.length - 1] : null), 0);
      });
    },
    idle: () => new intrinsic.Promise((resolve) => {
      game.idleWaiters.push(resolve);
      intrinsic.setTimeout(wakeIdle, 0);
    }),
    // Exact message values, for replies and arguments.
    int: (number) => marker(wire.int(number)),
    double: (number) => marker(wire.double(number)),
    object: (fields) => {
      const entries = Object.entries(fields);
      return marker(wire.dictionary([
        ["isObject", wire.bool(true)],
        ["keys", wire.list(entries.map(([key]) => wire.string(key)))],
        ["values", wire.list(entries.map(([, value]) => gameValue(value)))],
      ]));
    },
    list: (...items) => marker(wire.list(items.map((item) => gameValue(item)))),
    dictionary: (entries) => marker(wire.dictionary(
        (Array.isArray(entries) ? entries : Object.entries(entries))
            .map(([key, value]) => [String(key), gameValue(value)]))),
    binary: (bytes) => new intrinsic.Uint8Array(bytes).buffer,
    // The wire text of a value as the game would send it.
    valueText: (value) => valueText(gameValue(value)),
    // The wire text of a page value as the renderer would send it.
    pageValueText: (value) => valueText(toWire(value)),
    onMessage(listener) {
      game.listeners.add(listener);
      return () => game.listeners.delete(listener);
    },
    get calls() { return game.calls.slice(); },
    get pending() {
      return table.values(pending).map((entry) => entry.call);
    },
    get replies() { return game.replies.slice(); },
    get focusReports() { return game.focusReports.slice(); },
    // Every message both ways, as wire text.
    get messages() { return game.messages.map((message) => message.text); },
    panel: () => showPanel(),
    errorText,
    // False when the page already had a squirrel (the game's own).
    active: !hasOwnSquirrel,
  };

  // ---- The panel: calls in flight, answered by hand ------------------------

  let panelElement = null;
  function showPanel() {
    const document = global.document;
    if (panelElement || !document) return panelElement;
    panelElement = document.createElement("div");
    panelElement.setAttribute("data-squirrel-standin", "panel");
    panelElement.style.cssText = "position:fixed;right:8px;bottom:8px;z-index:2147483647;" +
        "max-width:420px;max-height:40vh;overflow:auto;background:#111c;color:#eee;" +
        "font:12px monospace;padding:6px;border-radius:4px";
    (document.body || document.documentElement).appendChild(panelElement);
    refreshPanel();
    return panelElement;
  }

  function refreshPanel() {
    if (!panelElement) return;
    const document = global.document;
    panelElement.textContent = "";
    const title = document.createElement("div");
    title.textContent = `squirrel stand-in: ${table.size(pending)} call(s) in flight`;
    panelElement.appendChild(title);
    for (const { call: pendingCall } of table.values(pending)) {
      const row = document.createElement("div");
      const label = document.createElement("div");
      label.textContent = pendingCall.text;
      const input = document.createElement("input");
      input.placeholder = "reply as JSON";
      const resultButton = document.createElement("button");
      resultButton.textContent = "Result";
      resultButton.onclick = () => {
        let value;
        try {
          value = input.value.trim() === "" ? null : JSON.parse(input.value);
        } catch {
          value = input.value;
        }
        replyTo(pendingCall.id, value);
      };
      const errorButton = document.createElement("button");
      errorButton.textContent = "Error";
      errorButton.onclick = () => replyTo(pendingCall.id, new GameError(input.value));
      row.append(label, input, resultButton, errorButton);
      panelElement.appendChild(row);
    }
  }

  // Internals the faithfulness checks drive directly.
  const internals = intrinsic.freeze({
    wire, valueText, messageText, toWire, toWireList, fromWire, answerPageCall,
    deliverReply, kNoValue, pendingIds: () => table.keys(pending),
    sent: () => game.sent.slice(),
    // Delivers a Result or Error list in the game's order of messages.
    deliver: (list) => new intrinsic.Promise((resolve) => {
      post(() => {
        record(list, true);
        resolve(deliverReply(list));
      });
    }),
    // Calls the page with a ready argument list; resolves with the reply.
    callPageWire: (id, path, args) => new intrinsic.Promise((resolve) => {
      post(() => {
        record([wire.int(Type.Call), wire.int(id), wire.string(path), wire.list(args)], true);
        resolve(send(answerPageCall(id, path, args)).text);
      });
    }),
  });

  intrinsic.defineProperty(global, "squirrelGame", {
    value: intrinsic.freeze(Object.assign(squirrelGame, { internals })),
    configurable: true,
  });

  // The game's own object wins: in the game this script does nothing more.
  if (!hasOwnSquirrel) {
    const squirrel = {};
    global.squirrel = squirrel;
    squirrel.call = call;
    squirrel.eval = evaluate;
  }
})(typeof globalThis !== "undefined" ? globalThis : window);
