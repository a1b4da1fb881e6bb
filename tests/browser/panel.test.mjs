// The browser panel, driven in headless Chromium against panel-host serve and
// the real PELDAN library: the typical take, the flashing Take, a label; and a
// page that never lies: requests from another site do nothing, replies that
// arrive late do not undo newer ones, focus survives updates, and a server
// that goes away greys the panel out until the page has re-read the truth.
// Everything talks to 127.0.0.1 only.
import { test, before, after } from "node:test";
import assert from "node:assert/strict";
import { spawn, spawnSync } from "node:child_process";
import { createServer } from "node:http";
import { mkdirSync, readFileSync } from "node:fs";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { chromium } from "playwright-core";

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "../..");
const build = process.env.PELDAN_BUILD || path.join(root, "build/native");
const port = 18000 + (process.pid % 1000);
const base = `http://127.0.0.1:${port}`;
const artefacts = path.join(root, "build/browser");

let server;
let browser;
let page;

async function waitForServer() {
  for (let i = 0; i < 100; ++i) {
    try {
      if ((await fetch(`${base}/api/state`)).ok) return;
    } catch { /* not up yet */ }
    await new Promise((r) => setTimeout(r, 100));
  }
  throw new Error("panel-host serve did not answer");
}

async function startServer() {
  server = spawn(path.join(build, "panel_host/panel-host"),
    ["serve", path.join(build, "panels/Studio_A/PELDAN/PELDAN.so"), "--port", String(port)],
    { stdio: ["ignore", "inherit", "inherit"] });
  await waitForServer();
}

async function stopServer() {
  const ended = new Promise((resolve) => server.once("exit", resolve));
  server.kill("SIGTERM");
  await ended;
}

const post = (where, body, headers = {}) => fetch(base + where, {
  method: "POST", headers: { "Content-Type": "application/json", ...headers }, body: JSON.stringify(body),
});
const state = async () => (await fetch(`${base}/api/state`)).json();

before(async () => {
  await startServer();
  browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync"],
  });
  page = await browser.newPage({ viewport: { width: 1280, height: 860 } });
  await page.goto(base + "/");
  // The first state has been drawn once the banner is gone and Take carries its look.
  await page.locator('button[data-control="Take"][data-look]').waitFor();
  await page.locator("#banner").waitFor({ state: "hidden" });
});

after(async () => {
  await browser?.close();
  server?.kill("SIGTERM");
});

const take = () => page.locator('button[data-control="Take"]');
const look = (control) => page.locator(`#panel button[data-control="${control}"]`).first().getAttribute("data-look");
const pressed = (selector) => page.locator(selector).getAttribute("aria-pressed");

async function until(check, what, ms = 5000) {
  const end = Date.now() + ms;
  while (Date.now() < end) {
    if (await check()) return;
    await new Promise((r) => setTimeout(r, 50));
  }
  assert.fail(`timed out waiting for ${what}`);
}

test("the typical take, from the feed button to the crosspoint", async () => {
  assert.equal(await take().isDisabled(), true, "Take starts disabled");
  await page.click('button[data-control="OS_3"]');
  await until(async () => (await look("OS_3")) === "KTSourceSelected", "OS_3 marked selected");
  assert.equal(await pressed('button[data-control="OS_3"]'), "true");

  await page.click('#pages button[data-page="2"]');
  await until(async () => (await pressed('#pages button[data-page="2"]')) === "true", "page 2 current");
  await page.locator('#sources button[data-index="17"]').click();
  await until(async () => !(await take().isDisabled()), "Take enabled");
  assert.equal(await look("Take"), "KT_TakeHigh");
  assert.equal(await pressed('#sources button[data-index="17"]'), "true");
  await until(async () => (await page.textContent("#summary")) === "OS 3 \u2190 OS 2 \u00b7 Take armed", "the summary");

  // Timer 1 runs in real time: Take flips between its two looks.
  await until(async () => (await look("Take")) === "KT_TakeLow", "Take's low look", 3000);
  await until(async () => (await look("Take")) === "KT_TakeHigh", "Take's high look again", 3000);
  mkdirSync(artefacts, { recursive: true });
  await page.screenshot({ path: path.join(artefacts, "panel.png") });

  await take().click();
  const row = page.locator('#crosspoints tr[data-destination="193"] td').nth(1);
  await until(async () => (await row.count()) === 1 && (await row.textContent()) === "17", "crosspoint 193 <- 17");
  await until(async () => (await look("OS_3")) === "KTSourceDeselected", "OS_3 released");
  assert.equal(await take().isDisabled(), true, "Take disabled after the take");
  await assert.rejects(take().click({ timeout: 500 }), "a disabled Take cannot be pressed");
  // The script reset the list: no source is shown as picked, the first one included.
  await until(async () => (await page.locator('#sources button[aria-pressed="true"]').count()) === 0, "no source picked");
  await until(async () => (await page.textContent("#summary")).includes("last take: source 17 to destination 193"), "the last take");
  const transcript = await page.locator("#transcript").textContent();
  assert.match(transcript, /script> RC 5 17 193 ',2' 0/);
});

test("Save as scenario downloads the session, and panel-host run replays it green", async () => {
  const [download] = await Promise.all([page.waitForEvent("download"), page.click("#save-scenario")]);
  assert.equal(download.suggestedFilename(), "recorded.scenario");
  mkdirSync(artefacts, { recursive: true });
  const saved = path.join(artefacts, "recorded.scenario");
  await download.saveAs(saved);
  const text = readFileSync(saved, "utf8");
  assert.match(text, /^press OS_3$/m);
  assert.match(text, /^pick SourceSel 17$/m);
  assert.match(text, /^expect RC 5 17 193 ',2' 0$/m);
  assert.match(text, /^wait \d+$/m);
  const replay = spawnSync(path.join(build, "panel_host/panel-host"),
    ["run", path.join(build, "panels/Studio_A/PELDAN/PELDAN.so"), saved], { encoding: "utf8" });
  assert.equal(replay.status, 0, replay.stdout + replay.stderr);
  assert.match(replay.stdout, /0 failed expectations, 0 breaches/);
});

test("a router change on destination 12 reaches label UMD_1", async () => {
  await page.selectOption("#route-12", { label: "MIC 3" });
  const label = page.locator('.label[data-control="UMD_1"] .text');
  await until(async () => (await label.textContent()) === "MIC 3", "UMD_1 shows MIC 3");
});

test("a parameter message gets its reply", async () => {
  await page.fill("#parameter", "_events");
  await page.click('#parameter-form button');
  await until(async () => (await page.textContent("#parameter-reply")) === "notify=*", "the reply");
});

test("keyboard focus stays on a source through the updates its pick causes", async () => {
  await page.click('button[data-control="OS_1"]');
  const source = page.locator('#sources button[data-index="18"]');
  await source.focus();
  await page.keyboard.press("Enter");
  await until(async () => (await pressed('#sources button[data-index="18"]')) === "true", "source 18 picked");
  await page.waitForTimeout(1200); // a flash or two of Take redraws the panel
  assert.equal(await page.evaluate(() => document.activeElement?.dataset.index), "18");
  await page.click('button[data-control="Clear"]');
});

test("a reply that arrives late does not undo a newer state", async () => {
  let delayed = true;
  await page.route("**/api/press", async (route) => {
    if (!delayed) return route.continue();
    delayed = false;
    const response = await route.fetch();
    await new Promise((r) => setTimeout(r, 800));
    await route.fulfill({ response });
  });
  await page.click('button[data-control="OS_5"]');  // its reply is held back
  await page.waitForTimeout(100);
  await page.click('button[data-control="OS_6"]');
  await until(async () => (await pressed('button[data-control="OS_6"]')) === "true", "OS_6 selected");
  await page.waitForTimeout(1000); // the late reply for OS_5 has arrived by now
  assert.equal(await pressed('button[data-control="OS_6"]'), "true");
  assert.equal(await pressed('button[data-control="OS_5"]'), "false");
  await page.unroute("**/api/press");
  await page.click('button[data-control="Clear"]');
});

test("a page from another origin cannot press anything", async () => {
  const before = (await state()).lines;
  const evil = createServer((request, response) => {
    response.setHeader("Content-Type", "text/html");
    response.end(`<!doctype html><form id=f method=post action="${base}/api/press" enctype="text/plain">
      <input name='{"control":"OS_8","x":"' value='"}'></form><script>
      fetch("${base}/api/press", { method: "POST", mode: "no-cors", headers: { "Content-Type": "text/plain" }, body: '{"control":"OS_7"}' }).catch(() => {});
      fetch("${base}/api/press", { method: "POST", headers: { "Content-Type": "application/json" }, body: '{"control":"OS_7"}' }).catch(() => {});
      fetch("${base}/api/pick", { method: "POST", mode: "no-cors", body: '{"control":"SourceSel","value":"3"}' }).catch(() => {});
      setTimeout(() => document.getElementById("f").submit(), 300);
      </script>`);
  });
  await new Promise((resolve) => evil.listen(0, "127.0.0.1", resolve));
  const other = await browser.newPage();
  await other.goto(`http://127.0.0.1:${evil.address().port}/`);
  await other.waitForTimeout(1000);
  await other.close();
  evil.close();
  const lines = (await (await fetch(`${base}/api/transcript?since=${before}`)).json()).lines;
  assert.equal(lines.filter((l) => l.startsWith("host> control")).length, 0, lines.join("\n"));
  const now = await state();
  assert.notEqual(now.selection.feed, "OS_7");
  assert.notEqual(now.selection.feed, "OS_8");
});

test("the transcript is numbered by its place in the whole transcript, and can be filtered", async () => {
  const lines = (await state()).lines;
  await until(async () => Number(await page.locator("#transcript li").first().getAttribute("value")) >= lines - 2, "the newest line numbered");
  const newest = Number(await page.locator("#transcript li").first().getAttribute("value"));
  const text = await page.locator("#transcript li").first().textContent();
  const whole = await (await fetch(`${base}/api/transcript?since=${newest - 1}&limit=1`)).json();
  assert.equal(whole.lines[0], text);
  assert.equal(await page.getAttribute("#transcript", "tabindex"), "0");
  await page.fill("#transcript-filter", "script> RC");
  const visible = await page.locator("#transcript li:not([hidden])").allTextContents();
  assert.ok(visible.length >= 1 && visible.every((l) => l.includes("script> RC")), visible.join("\n"));
  await page.fill("#transcript-filter", "");
});

test("on a narrow screen nothing is cut off", async () => {
  const narrow = await browser.newPage({ viewport: { width: 375, height: 800 } });
  await narrow.goto(base + "/");
  await narrow.locator("#banner").waitFor({ state: "hidden" });
  const overflow = await narrow.evaluate(() => document.scrollingElement.scrollWidth - window.innerWidth);
  assert.ok(overflow <= 1, `${overflow} px wider than the screen`);
  const studio = await narrow.locator("#studio").boundingBox();
  assert.ok(studio.x >= 0 && studio.x + studio.width <= 376, JSON.stringify(studio));
  await narrow.close();
});

test("bad requests get a clear error and the server keeps serving", async () => {
  const cases = [
    ["/api/press", "not json", 400, "the request body must be a JSON object"],
    ["/api/route", JSON.stringify({ destination: "12", source: 3 }), 400, "'destination' must be a 32-bit integer"],
    ["/api/pick", JSON.stringify({ control: "SourceSel" }), 400, "'value' must be a text"],
    ["/api/pick", JSON.stringify({ control: "Invented", value: "1" }), 404, "no control 'Invented' on panel 1"],
    ["/api/parameter", JSON.stringify({ message: 5 }), 400, "'message' must be a text or null"],
    ["/api/nothing", "{}", 404, "no such resource: POST /api/nothing"],
  ];
  for (const [where, body, status, error] of cases) {
    const response = await fetch(base + where, { method: "POST", headers: { "Content-Type": "application/json" }, body });
    assert.equal(response.status, status, where);
    assert.equal((await response.json()).error, error);
  }
  assert.equal((await fetch(`${base}/api/state`)).status, 200);
});

test("a server that goes away greys the panel out; a new one is re-read, not assumed", async () => {
  await page.click('button[data-control="OS_2"]');
  await page.locator('#sources button[data-index="20"]').click();
  await until(async () => !(await take().isDisabled()), "Take armed");

  await stopServer();
  await until(async () => await page.isVisible("#banner"), "the banner", 4000);
  assert.equal(await page.textContent("#banner"), "disconnected: state unknown");
  assert.equal(await take().isDisabled(), true, "no button while the state is unknown");
  assert.equal(await page.locator('#feeds button:not([disabled])').count(), 0);

  await startServer();
  await until(async () => !(await page.isVisible("#banner")), "reconnected", 8000);
  // The new panel has no feed and no take armed: the page must say so.
  await until(async () => (await pressed('button[data-control="OS_2"]')) === "false", "OS_2 no longer selected", 3000);
  assert.equal(await take().isDisabled(), true);
  // The buttons are drawn before the new state arrives; the summary comes with it.
  await until(async () => (await page.textContent("#summary")) === "no feed chosen", "the new summary", 3000);
  assert.match(await page.locator("#transcript").textContent(), /panel-host restarted/);
  await page.click('button[data-control="OS_4"]');
  await until(async () => (await (await state()).selection).feed === "OS_4", "the new server acts");
});
