// Headless Chromium (Debian's package) through puppeteer-core from
// .deps/node-browser, both installed by scripts/setup-browser.sh.
import { createRequire } from "node:module";
import { existsSync, mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join, dirname } from "node:path";
import { fileURLToPath } from "node:url";

export const root = join(dirname(fileURLToPath(import.meta.url)), "..", "..");
const executablePath = process.env.CEF_LAUNCHER_CHROMIUM || "/usr/bin/chromium";
const modules = join(root, ".deps", "node-browser", "node_modules");

// Why the browser cannot run here, or null when it can.
export function missing() {
  if (!existsSync(executablePath)) {
    return `no Chromium at ${executablePath} (scripts/setup-browser.sh installs it)`;
  }
  if (!existsSync(join(modules, "puppeteer-core", "package.json"))) {
    return "no puppeteer-core in .deps/node-browser (scripts/setup-browser.sh installs it)";
  }
  return null;
}

// A fresh browser with a profile of its own; close() removes the profile.
export async function launch() {
  const require = createRequire(join(modules, "index.js"));
  const puppeteer = require("puppeteer-core");
  const profile = mkdtempSync(join(tmpdir(), "standin-chromium-"));
  const browser = await puppeteer.launch({
    executablePath,
    headless: true,
    dumpio: Boolean(process.env.STANDIN_DUMPIO),
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
           "--no-first-run", "--disable-background-networking",
           "--disable-component-update", "--disable-sync",
           `--user-data-dir=${profile}`],
  });
  const close = browser.close.bind(browser);
  browser.close = async () => {
    try {
      await close();
    } finally {
      rmSync(profile, { recursive: true, force: true });
    }
  };
  return browser;
}
