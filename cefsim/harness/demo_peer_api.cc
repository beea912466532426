#include "demo_peer_api.h"

namespace cefsim {

// Kept in script: what the peer API means lives here, the session only
// carries messages, converts values and keeps the record.
const char kDemoPeerApiSource[] = R"js((function (native) {
  "use strict";

  const answers = new Map();  // function name -> handler
  const waiting = new Map();  // call id -> callbacks taking a reply seen
  const settling = new Map();  // peer.call token -> its settle function
  const idleWaiters = [];
  const calls = [];
  const replies = [];
  const focusReports = [];
  const frameNames = ["main"];

  // The value helpers' results. Each is an object the session made and
  // branded in C++; this set only lets the script find them inside other
  // values, and nothing outside this closure can add to it.
  const markers = new WeakSet();
  const marked = (marker) => {
    markers.add(marker);
    return Object.freeze(marker);
  };
  const isMarker = (value) =>
      value !== null && typeof value === "object" && markers.has(value);
  const kMaxElements = 4194304;
  const isPlainObject = (value) =>
      value !== null && typeof value === "object" &&
      Object.getPrototypeOf(value) === Object.prototype;
  const isMap = (value) =>
      value !== null && typeof value === "object" &&
      Object.getPrototypeOf(value) === Map.prototype;

  function holdsMarker(value, path) {
    if (value === null || typeof value !== "object" || path.includes(value)) {
      return false;
    }
    if (markers.has(value)) {
      return true;
    }
    path.push(value);
    try {
      if (Array.isArray(value)) {
        const length = value.length <= kMaxElements ? value.length : 0;
        for (let i = 0; i < length; ++i) {
          if (holdsMarker(value[i], path)) {
            return true;
          }
        }
      } else if (isMap(value)) {
        for (const [key, entry] of value) {
          if (holdsMarker(key, path) || holdsMarker(entry, path)) {
            return true;
          }
        }
      } else if (isPlainObject(value)) {
        return Object.values(value).some((entry) => holdsMarker(entry, path));
      }
      return false;
    } catch {
      return false;  // the conversion makes it NULL
    } finally {
      path.pop();
    }
  }

  // What the session converts: the value itself, or, when markers sit
  // inside it, the same containers rebuilt as markers around them (the rest
  // still goes through the program's conversion).
  function encode(value, path = []) {
    if (isMarker(value) || !holdsMarker(value, [])) {
      return value;
    }
    if (path.includes(value)) {
      return null;  // met again inside itself: NULL where it recurs
    }
    path.push(value);
    try {
      const inner = (entry) => encode(entry, path);
      if (Array.isArray(value)) {
        return native.marker("list", Array.from(value, inner));
      }
      const entries = isMap(value) ? Array.from(value) : Object.entries(value);
      return native.marker("keyed", entries.map(([key]) => inner(key)),
                           entries.map(([, entry]) => inner(entry)));
    } finally {
      path.pop();
    }
  }

  class PeerError {
    constructor(text) {
      this.text = text;
    }
  }
  const noReply = Object.freeze({ toString: () => "peer.noReply" });

  // Records the misuse with the caller's place and throws.
  function misuse(text) {
    native.misuse(text);
  }

  function keyText(key) {
    return /^[A-Za-z_$][\w$]*$/.test(key) ? key : JSON.stringify(key);
  }

  function show(value, depth = 0) {
    switch (typeof value) {
      case "undefined":
        return "undefined";
      case "string":
        return JSON.stringify(value);
      case "number":
        return Object.is(value, -0) ? "-0" : String(value);
      case "boolean":
      case "bigint":
        return String(value);
      case "symbol":
        return value.toString();
      case "function":
        return `function ${value.name || "(anonymous)"}`;
    }
    if (value === null) {
      return "null";
    }
    if (isMarker(value)) {
      return `<${native.valueText(value)}>`;
    }
    if (depth > 6) {
      return "...";
    }
    const inner = (entry) => show(entry, depth + 1);
    if (value instanceof ArrayBuffer) {
      return `ArrayBuffer [${Array.from(new Uint8Array(value)).join(", ")}]`;
    }
    if (Array.isArray(value)) {
      return `[${Array.from(value, inner).join(", ")}]`;
    }
    if (value instanceof Map) {
      const entries = Array.from(value, ([k, v]) => `${inner(k)} => ${inner(v)}`);
      return `Map {${entries.join(", ")}}`;
    }
    if (value instanceof Error) {
      return `${value.name}: ${value.message}`;
    }
    if (value instanceof PeerError) {
      return `peer.error(${JSON.stringify(value.text)})`;
    }
    if (value === noReply) {
      return "peer.noReply";
    }
    const fields = Object.keys(value).map((k) => `${keyText(k)}: ${inner(value[k])}`);
    return `{${fields.join(", ")}}`;
  }

  // Structural equality: Maps entry by entry in order, plain objects by
  // their own keys in any order, ArrayBuffers by their bytes.
  function equal(a, b, depth = 0) {
    if (a === b) {
      return true;
    }
    if (typeof a === "number" && typeof b === "number") {
      return Number.isNaN(a) && Number.isNaN(b);
    }
    if (a === null || b === null || typeof a !== "object" || typeof b !== "object" ||
        depth > 100) {
      return false;
    }
    const next = depth + 1;
    if (isMarker(a) || isMarker(b)) {
      return isMarker(a) && isMarker(b) &&
          native.valueText(a) === native.valueText(b);
    }
    if (a instanceof ArrayBuffer || b instanceof ArrayBuffer) {
      if (!(a instanceof ArrayBuffer && b instanceof ArrayBuffer) ||
          a.byteLength !== b.byteLength) {
        return false;
      }
      const x = new Uint8Array(a);
      const y = new Uint8Array(b);
      return x.every((byte, i) => byte === y[i]);
    }
    if (Array.isArray(a) || Array.isArray(b)) {
      if (!Array.isArray(a) || !Array.isArray(b) || a.length !== b.length) {
        return false;
      }
      for (let i = 0; i < a.length; ++i) {
        if (!equal(a[i], b[i], next)) {
          return false;
        }
      }
      return true;
    }
    if (a instanceof Map || b instanceof Map) {
      if (!(a instanceof Map && b instanceof Map) || a.size !== b.size) {
        return false;
      }
      const x = Array.from(a);
      const y = Array.from(b);
      return x.every(([k, v], i) => equal(k, y[i][0], next) && equal(v, y[i][1], next));
    }
    if (Object.getPrototypeOf(a) !== Object.getPrototypeOf(b)) {
      return false;
    }
    const keys = Object.keys(a);
    return keys.length === Object.keys(b).length &&
        keys.every((k) => Object.prototype.hasOwnProperty.call(b, k) &&
                          equal(a[k], b[k], next));
  }

  function logText(args) {
    return args.map((arg) => (typeof arg === "string" ? arg : show(arg))).join(" ");
  }

  function answerWith(id, result) {
    if (result === noReply) {
      return Promise.resolve(false);
    }
    if (result instanceof PeerError) {
      return native.replyError(id, result.text);
    }
    return native.reply(id, encode(result));
  }

  function waitFor(id, settle) {
    if (!waiting.has(id)) {
      waiting.set(id, []);
    }
    waiting.get(id).push(settle);
  }

  // Called by the session for everything the page sends, and when idle.
  function dispatch(event) {
    switch (event.type) {
      case "call": {
        const call = Object.freeze({
          id: event.id,
          function: event.function,
          args: event.args,
          text: event.text,
          frame: event.frame,
        });
        calls.push(call);
        const handler = answers.get(call.function);
        if (!handler) {
          native.print(`browser: nothing answers "${call.function}"; ` +
                       `call ${call.id} stays pending`);
          return 0;
        }
        // A throw here is an error of the peer script. `this` is the call.
        const result = handler.apply(call, call.args);
        if (result !== null && typeof result === "object" &&
            typeof result.then === "function") {
          // Not caught: a rejection is an error of the peer script too.
          Promise.resolve(result).then((settled) => {
            answerWith(call.id, settled);
          });
        } else {
          answerWith(call.id, result);
        }
        return 0;
      }
      case "settled": {
        // How the library settled a peer.call().
        const settle = settling.get(event.token);
        settling.delete(event.token);
        if (settle) {
          settle(event);
        }
        return 0;
      }
      case "reply": {
        // Every Result and Error the page sent, whoever awaits it.
        const error = !Object.prototype.hasOwnProperty.call(event, "value");
        replies.push(Object.freeze(error
            ? { frame: event.frame, id: event.id, error: event.message, text: event.text }
            : { frame: event.frame, id: event.id, value: event.value, text: event.text }));
        const settles = waiting.get(event.id) || [];
        waiting.delete(event.id);
        for (const settle of settles) {
          settle(error ? { type: "error", message: event.message, text: event.text }
                       : { type: "result", value: event.value, text: event.text });
        }
        return 0;
      }
      case "focus":
        focusReports.push(event.focused);
        return 0;
      case "idle": {
        const woken = idleWaiters.splice(0);
        for (const resolve of woken) {
          resolve();
        }
        return woken.length;
      }
    }
    return 0;
  }

  function callIn(frame, path, args) {
    if (typeof path !== "string") {
      misuse("peer.call(path, ...args): the path must be a string");
    }
    // Made here, so that an unhandled rejection points at the caller.
    const failure = new Error("no reply yet");
    const token = native.call(path, args.map((arg) => encode(arg)), frame);
    return new Promise((resolve, reject) => {
      settling.set(token, (reply) => {
        if (reply.ok) {
          resolve(reply.value);
        } else {
          failure.message = reply.message;
          reject(failure);
        }
      });
    });
  }

  function sendIn(frame, list, name) {
    if (!Array.isArray(list)) {
      misuse("peer.send(list, name): the list must be an array");
    }
    return native.send(String(name), list.map((entry) => encode(entry)), frame);
  }

  function navigateIn(frame, url, script) {
    if (typeof url !== "string") {
      misuse("peer.navigate(url, script): the url must be a string");
    }
    return native.navigate(url, script === undefined ? null : String(script), frame);
  }

  function focusIn(frame, target, tagName) {
    if (!["element", "none"].includes(target)) {
      misuse('peer.focus(target, tagName): target is "element" or "none"');
    }
    return native.focus(target, String(tagName), frame);
  }

  // The calls of one frame, by its name.
  function frameApi(name) {
    return Object.freeze({
      name,
      call: (path, ...args) => callIn(name, path, args),
      send: (list, messageName = "qrx") => sendIn(name, list, messageName),
      navigate: (url, script) => navigateIn(name, url, script),
      reload: () => native.reload(name),
      focus: (target = "element", tagName = "INPUT") => focusIn(name, target, tagName),
      remove: () => native.removeFrame(name),
      get console() {
        return native.pageConsole(name);
      },
    });
  }

  const peer = {
    answer(name, handler) {
      if (typeof name !== "string") {
        misuse("peer.answer(name, handler): the name must be a string");
      }
      const answer = typeof handler === "function" ? handler : () => handler;
      answers.set(name, answer);
      native.answer(name);
    },
    error(text) {
      return new PeerError(String(text));
    },
    noReply,
    reply(id, result) {
      if (!Number.isInteger(id)) {
        misuse("peer.reply(id, result): the id must be an integer");
      }
      return answerWith(id, result);
    },
    call(path, ...args) {
      return callIn("main", path, args);
    },
    waitReply(id) {
      if (!Number.isInteger(id)) {
        misuse("peer.waitReply(id): the id must be an integer");
      }
      native.awaitReply(id);
      return new Promise((resolve) => {
        waitFor(id, (reply) => {
          resolve(reply.type === "result"
              ? { id, value: reply.value, text: reply.text }
              : { id, error: reply.message, text: reply.text });
        });
      });
    },
    send(list, name = "qrx") {
      return sendIn("main", list, name);
    },
    navigate(url, script) {
      return navigateIn("main", url, script);
    },
    reload() {
      return native.reload("main");
    },
    focus(target = "element", tagName = "INPUT") {
      return focusIn("main", target, tagName);
    },
    openFrame(name, { url = "https://game.ui/frame", parent = "main", script } = {}) {
      if (typeof name !== "string" || typeof url !== "string" ||
          typeof parent !== "string") {
        misuse("peer.openFrame(name, {url, parent, script}): the name, url " +
               "and parent are strings");
      }
      const opened = native.openFrame(name, url, parent,
                                      script === undefined ? null : String(script));
      frameNames.push(name);
      return opened.then(() => frameApi(name));
    },
    frame(name) {
      if (!frameNames.includes(name)) {
        misuse(`peer.frame(name): no frame named ${JSON.stringify(name)}`);
      }
      return frameApi(name);
    },
    get frames() {
      return frameNames.slice();
    },
    wait(ms) {
      if (typeof ms !== "number" || !(ms >= 0) || ms > 1e12) {
        misuse("peer.wait(ms): takes a number of milliseconds from 0");
      }
      return native.wait(ms);
    },
    idle() {
      return new Promise((resolve) => {
        idleWaiters.push(resolve);
      });
    },
    end(code = 0) {
      if (!Number.isInteger(code) || code < 0 || code > 125) {
        misuse("peer.end(code): the code must be an integer from 0 to 125");
      }
      native.end(code);
    },
    expect(condition, description = "expectation") {
      const ok = Boolean(condition);
      native.check(ok, String(description), "");
      return ok;
    },
    assertEqual(actual, expected, description) {
      const ok = equal(actual, expected);
      const title = description === undefined
          ? `${show(actual)} equals ${show(expected)}`
          : String(description);
      native.check(ok, title, ok ? "" : `expected ${show(expected)}, got ${show(actual)}`);
      return ok;
    },
    double(number) {
      if (typeof number !== "number" || !Number.isFinite(number)) {
        misuse("peer.double(number): takes a finite number");
      }
      return marked(native.marker("double", number));
    },
    int(number) {
      if (!Number.isInteger(number) || number < -2147483648 || number > 2147483647) {
        misuse("peer.int(number): takes a whole number from -2^31 to 2^31-1");
      }
      return marked(native.marker("int", number));
    },
    object(fields) {
      if (!isPlainObject(fields)) {
        misuse("peer.object(fields): takes a plain object");
      }
      return marked(native.marker("object", encode(fields)));
    },
    list(...items) {
      return marked(native.marker("list", items.map((item) => encode(item))));
    },
    dictionary(entries) {
      const pairs = Array.isArray(entries) ? entries
          : isPlainObject(entries) ? Object.entries(entries) : null;
      if (!pairs || !pairs.every((pair) => Array.isArray(pair) &&
                                           typeof pair[0] === "string")) {
        misuse("peer.dictionary(entries): takes a plain object or " +
               "[key, value] pairs with string keys");
      }
      return marked(native.marker("dictionary", pairs.map(([key]) => key),
                                  pairs.map(([, value]) => encode(value))));
    },
    binary(bytes) {
      return new Uint8Array(bytes).buffer;
    },
    valueText(value) {
      return native.valueText(encode(value));
    },
    show(value) {
      return show(value);
    },
    log(...args) {
      native.print(`peer log: ${logText(args)}`);
    },
    get calls() {
      return calls.slice();
    },
    get focusReports() {
      return focusReports.slice();
    },
    get replies() {
      return replies.slice();
    },
    get console() {
      return native.pageConsole("main");
    },
    get pageErrors() {
      return native.pageErrors();
    },
  };

  const log = (...args) => peer.log(...args);
  const consoleObject = { log, info: log, debug: log, warn: log, error: log };

  native.setDispatcher(dispatch);
  for (const [name, value] of [["peer", peer], ["console", consoleObject]]) {
    Object.defineProperty(globalThis, name, { value: Object.freeze(value) });
  }
}))js";

}  // namespace cefsim
