// The browser panel, driven in headless Chromium against panel-host serve and
// the real PELDAN library: the typical take, the flashing Take, a label.
import { test, before, after } from "node:test";
import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import { mkdirSync } from "node:fs";
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

before(async () => {
  server = spawn(path.join(build, "emulator/panel-host"),
    ["serve", path.join(build, "panels/Studio_A/PELDAN/PELDAN.so"), "--port", String(port)],
    { stdio: ["ignore", "inherit", "inherit"] });
  await waitForServer();
  browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync"],
  });
  page = await browser.newPage({ viewport: { width: 1280, height: 860 } });
  await page.goto(base + "/");
  // The first state has been drawn once every button carries its look.
  await page.locator('button[data-control="Take"][data-look]').waitFor();
});

after(async () => {
  await browser?.close();
  server?.kill("SIGTERM");
});

const take = () => page.locator('button[data-control="Take"]');
const look = (control) => page.locator(`#panel button[data-control="${control}"]`).first().getAttribute("data-look");

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

  await page.click('#pages button[data-page="2"]');
  await page.locator('#sources button[data-index="17"]').click();
  await until(async () => !(await take().isDisabled()), "Take enabled");
  assert.equal(await look("Take"), "KT_TakeHigh");

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
  const transcript = await page.locator("#transcript").textContent();
  assert.match(transcript, /script> RC 5 17 193 ',2' 0/);
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

test("bad requests get a clear error and the server keeps serving", async () => {
  const cases = [
    ["/api/press", "not json", 400, "the request body must be a JSON object"],
    ["/api/route", JSON.stringify({ destination: "12", source: 3 }), 400, "'destination' must be a 32-bit integer"],
    ["/api/pick", JSON.stringify({ control: "SourceSel" }), 400, "'value' must be a text"],
    ["/api/parameter", JSON.stringify({ message: 5 }), 400, "'message' must be a text or null"],
    ["/api/nothing", "{}", 404, "no such resource: POST /api/nothing"],
  ];
  for (const [where, body, status, error] of cases) {
    const response = await fetch(base + where, { method: "POST", body });
    assert.equal(response.status, status, where);
    assert.equal((await response.json()).error, error);
  }
  assert.equal((await fetch(`${base}/api/state`)).status, 200);
});
