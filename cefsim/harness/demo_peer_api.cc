#include "demo_peer_api.h"

namespace cefsim {

// Kept in script: what the peer API means lives here, the session only
// carries messages, converts values and keeps the record.
const char kDemoPeerApiSource[] = R"js((function (native) {
  "use strict";

  const answers = new Map();  // function name -> handler
  const waiting = new Map();  // call id -> callbacks taking the reply
  const idleWaiters = [];
  const calls = [];
  const focusReports = [];

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
    return native.reply(id, result);
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
        });
        calls.push(call);
        const handler = answers.get(call.function);
        if (!handler) {
          native.print(`browser: nothing answers "${call.function}"; ` +
                       `call ${call.id} stays pending`);
          return 0;
        }
        // A throw here is an error of the peer script.
        const result = handler(...call.args);
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
      case "result":
      case "error": {
        const settles = waiting.get(event.id) || [];
        waiting.delete(event.id);
        for (const settle of settles) {
          settle(event);
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

  const peer = {
    answer(name, handler) {
      if (typeof name !== "string") {
        misuse("peer.answer(name, handler): the name must be a string");
      }
      const answer = typeof handler === "function" ? handler : () => handler;
      answers.set(name, answer);
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
      if (typeof path !== "string") {
        misuse("peer.call(path, ...args): the path must be a string");
      }
      // Made here, so that an unhandled rejection points at the caller.
      const failure = new Error("no reply yet");
      const id = native.call(path, args);
      return new Promise((resolve, reject) => {
        waitFor(id, (reply) => {
          if (reply.type === "result") {
            resolve(reply.value);
          } else {
            failure.message = reply.message;
            reject(failure);
          }
        });
      });
    },
    waitReply(id) {
      if (!Number.isInteger(id)) {
        misuse("peer.waitReply(id): the id must be an integer");
      }
      native.awaitReply(id);
      return new Promise((resolve) => {
        waitFor(id, (reply) => {
          resolve(reply.type === "result" ? { id, value: reply.value }
                                          : { id, error: reply.message });
        });
      });
    },
    send(list, name = "qrx") {
      if (!Array.isArray(list)) {
        misuse("peer.send(list, name): the list must be an array");
      }
      return native.send(String(name), list);
    },
    navigate(url, script) {
      if (typeof url !== "string") {
        misuse("peer.navigate(url, script): the url must be a string");
      }
      return native.navigate(url, script === undefined ? null : String(script));
    },
    reload() {
      return native.reload();
    },
    focus(target = "element", tagName = "INPUT") {
      if (!["element", "none"].includes(target)) {
        misuse('peer.focus(target, tagName): target is "element" or "none"');
      }
      return native.focus(target, String(tagName));
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
      return { [native.doubleKey]: number };
    },
    object(fields) {
      if (fields === null || typeof fields !== "object" ||
          Object.getPrototypeOf(fields) !== Object.prototype) {
        misuse("peer.object(fields): takes a plain object");
      }
      return { [native.objectKey]: fields };
    },
    binary(bytes) {
      return new Uint8Array(bytes).buffer;
    },
    valueText(value) {
      return native.valueText(value);
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
    get console() {
      return native.pageConsole();
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
