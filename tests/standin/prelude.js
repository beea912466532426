// Page-side helpers of the shared case table, installed before each case on
// both sides (the real renderer on cefsim and the stand-in in Chromium).
// describe() takes the page's own built-ins now, so that a case replacing
// Object.keys or Array.from does not change how results are written down.
(function installCasePrelude(global) {
  "use strict";
  const toString = Object.prototype.toString;
  const getPrototypeOf = Object.getPrototypeOf;
  const keysOf = Object.keys;
  const objectPrototype = Object.prototype;
  const mapEntries = Map.prototype.entries;
  const mapSize = Object.getOwnPropertyDescriptor(Map.prototype, "size").get;
  const byteLength =
      Object.getOwnPropertyDescriptor(ArrayBuffer.prototype, "byteLength").get;
  const Bytes = Uint8Array;
  const stringify = JSON.stringify;
  const isArray = Array.isArray;
  const slice = Array.prototype.slice;
  const min = Math.min;

  function describe(value, depth = 0) {
    if (value === undefined) return "undefined";
    if (value === null) return "null";
    switch (typeof value) {
      case "number":
        return Object.is(value, -0) ? "-0" : String(value);
      case "string":
        return value.length > 200
            ? `string(${value.length}) ${stringify(value.slice(0, 40))}...`
            : stringify(value);
      case "boolean":
        return String(value);
      case "symbol":
        return "symbol";
      case "bigint":
        return "bigint";
      case "function":
        return "function";
    }
    if (depth > 120) return "...";
    const inner = (entry) => describe(entry, depth + 1);
    const kind = toString.call(value);
    if (kind === "[object ArrayBuffer]") {
      const size = byteLength.call(value);
      const bytes = slice.call(new Bytes(value, 0, min(size, 16)));
      return `ArrayBuffer(${size})[${bytes.join(",")}${size > 16 ? ",..." : ""}]`;
    }
    if (isArray(value)) {
      const parts = [];
      const shown = min(value.length, 50);
      for (let i = 0; i < shown; i++) {
        parts.push(i in value ? inner(value[i]) : "<hole>");
      }
      if (value.length > shown) parts.push(`...${value.length} in all`);
      return `[${parts.join(", ")}]`;
    }
    if (kind === "[object Map]") {
      const parts = [];
      const iterator = mapEntries.call(value);
      for (let step = iterator.next(); !step.done; step = iterator.next()) {
        parts.push(`${inner(step.value[0])} => ${inner(step.value[1])}`);
      }
      return `Map(${mapSize.call(value)}){${parts.join(", ")}}`;
    }
    if (kind === "[object Error]") {
      return `${value.constructor && value.constructor.name}(${stringify(value.message)})`;
    }
    if (getPrototypeOf(value) === objectPrototype) {
      return `{${keysOf(value).map((key) => `${stringify(key)}: ${inner(value[key])}`).join(", ")}}`;
    }
    return `other ${kind}`;
  }

  // An array nested `levels` deep around `inner`.
  function nest(levels, inner) {
    let value = inner;
    for (let i = 0; i < levels; i++) value = [value];
    return value;
  }

  const record = [];
  Object.defineProperty(global, "caseLog", {
    value: Object.freeze({
      // Writes down what the page saw, in order.
      add: (value) => { record.push(typeof value === "string" ? value : describe(value)); },
      entries: () => record.slice(),
    }),
  });
  Object.defineProperty(global, "describe", { value: describe });
  Object.defineProperty(global, "nest", { value: nest });
  // Logs how a promise settles.
  Object.defineProperty(global, "settle", {
    value: (promise, label = "") => promise.then(
        (value) => record.push(`${label}resolved ${describe(value)}`),
        (error) => record.push(`${label}rejected ${describe(error)}`)),
  });
})(globalThis);
