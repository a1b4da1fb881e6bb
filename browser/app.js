// The browser panel: draws panel 1 from the layout, turns presses and picks
// into control events, and follows every command the script sends. It never
// shows a state it cannot vouch for: while the server is unreachable the panel
// is greyed out and disabled, and every state carries a version (the server's
// transcript position), so an older reply never overwrites a newer state.
"use strict";

const token = new URLSearchParams(location.search).get("token") || sessionStorage.getItem("panel-token") || "";
if (token) sessionStorage.setItem("panel-token", token);

const shownLines = 400;
const view = {
  layout: null, state: null, instance: null, version: -1, transcriptNext: 0,
  connected: false, events: null, refreshQueued: false, retry: null,
};

const $ = (id) => document.getElementById(id);

function headers(json) {
  const h = {};
  if (json) h["Content-Type"] = "application/json";
  if (token) h["X-Panel-Token"] = token;
  return h;
}

async function call(path, body) {
  let response;
  try {
    response = await fetch(path, body === undefined ? { headers: headers(false) }
      : { method: "POST", headers: headers(true), body: JSON.stringify(body) });
  } catch {
    disconnected("disconnected: state unknown");
    throw new Error("disconnected: state unknown");
  }
  let answer = {};
  try { answer = await response.json(); } catch { /* not JSON: the status says enough */ }
  if (response.status === 401) disconnected("not allowed: open the address panel-host printed, with its token");
  if (!response.ok) throw new Error(answer.error || response.statusText);
  if (answer.state) show(answer.state);
  return answer;
}

function act(path, body) {
  call(path, body).then(() => { $("status").textContent = ""; })
    .catch((error) => { $("status").textContent = error.message; });
}

function element(tag, attributes, text) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attributes || {})) node.setAttribute(key, value);
  if (text !== undefined) node.textContent = text;
  return node;
}

// --- connection -----------------------------------------------------------

function disconnected(why) {
  view.connected = false;
  document.body.classList.add("disconnected");
  $("banner").textContent = why;
  $("banner").hidden = false;
  $("panel").inert = true;
  $("studio-controls").inert = true;
  for (const node of document.querySelectorAll("#panel button")) node.disabled = true;
  if (!view.retry) view.retry = setInterval(reconnect, 2000);
}

function connected() {
  view.connected = true;
  document.body.classList.remove("disconnected");
  $("banner").hidden = true;
  $("panel").inert = false;
  $("studio-controls").inert = false;
  clearInterval(view.retry);
  view.retry = null;
}

// The stream retries by itself; one the browser gave up on is opened anew.
function reconnect() {
  if (!view.events || view.events.readyState === EventSource.CLOSED) listen();
}

function listen() {
  if (view.events) view.events.close();
  const events = new EventSource("/events" + (token ? "?token=" + encodeURIComponent(token) : ""));
  view.events = events;
  events.addEventListener("hello", (message) => resync(JSON.parse(message.data)));
  events.onmessage = (message) => {
    const entry = JSON.parse(message.data);
    if (entry.index >= view.transcriptNext) addLine(entry.index, entry.line);
    view.transcriptNext = Math.max(view.transcriptNext, entry.index + 1);
    refreshSoon();
  };
  events.onerror = () => disconnected("disconnected: state unknown");
}

// On every (re)connection: a new server means a new transcript and a new
// state; the same server means the lines missed while away.
async function resync(hello) {
  try {
    const restarted = view.instance !== null && hello.instance !== view.instance;
    if (restarted) {
      addMarker("panel-host restarted: a new panel, a new transcript");
      view.version = -1;
      view.transcriptNext = 0;
    }
    const fresh = view.instance === null || restarted;
    view.instance = hello.instance;
    if (fresh) draw(await call("/api/layout"));
    await catchUp(fresh);
    connected();
    show(await call("/api/state"));
  } catch (error) {
    disconnected("disconnected: state unknown");
  }
}

async function catchUp(fresh) {
  let query = fresh ? "tail=" + shownLines : "since=" + view.transcriptNext;
  for (let pages = 0; pages < 20; ++pages) {
    const page = await call("/api/transcript?" + query);
    page.lines.forEach((line, i) => {
      if (page.from + i >= view.transcriptNext) addLine(page.from + i, line);
    });
    view.transcriptNext = Math.max(view.transcriptNext, page.next);
    if (page.next >= page.end || page.lines.length === 0) return;
    query = "since=" + page.next;
  }
}

function refreshSoon() {
  if (view.refreshQueued) return;
  view.refreshQueued = true;
  // A burst of commands becomes one refresh; a timer, not an animation frame,
  // so a page in the background follows too.
  setTimeout(() => {
    view.refreshQueued = false;
    call("/api/state").then(show).catch(() => {});
  }, 30);
}

// --- the panel --------------------------------------------------------------

function button(control) {
  // Disabled until a state says otherwise: no press before the panel is known.
  const node = element("button", { "data-control": control.id, type: "button", disabled: "" }, control.caption || control.id);
  node.addEventListener("click", () => act("/api/press", { control: control.id }));
  return node;
}

function draw(layout) {
  view.layout = layout;
  $("title").textContent = layout.title || "Panel " + layout.panel;
  // Controls drawn afresh show no state yet; neither may the summary.
  $("summary").textContent = "";
  for (const id of ["feeds", "actions", "labels", "pages", "sources"]) $(id).replaceChildren();
  for (const control of layout.controls) {
    if (control.kind === "button") {
      const node = button(control);
      if (control.id.startsWith("OS_")) node.setAttribute("aria-pressed", "false");
      (control.id.startsWith("OS_") ? $("feeds") : $("actions")).appendChild(node);
    } else if (control.kind === "label") {
      const label = element("div", { class: "label", "data-control": control.id });
      label.appendChild(element("span", { class: "caption" }, control.caption || control.id));
      label.appendChild(element("span", { class: "text" }, ""));
      $("labels").appendChild(label);
    } else if (control.kind === "selector") {
      $("pages-caption").textContent = control.caption || control.id;
      for (const item of control.items) {
        const page = element("button", { type: "button", "data-control": control.id, "data-page": item.page, "aria-pressed": "false" }, item.caption);
        page.addEventListener("click", () => act("/api/pick", { control: control.id, value: String(item.index) }));
        $("pages").appendChild(page);
      }
    } else if (control.kind === "list") {
      $("sources-caption").textContent = control.caption || control.id;
      // Every entry is made once and shown for its page, so focus survives updates.
      for (const item of control.items) {
        const entry = element("button", { type: "button", "data-control": control.id, "data-index": item.index, "data-item-page": item.page, "aria-pressed": "false" }, item.caption);
        entry.addEventListener("click", () => act("/api/pick", { control: control.id, value: String(item.index) }));
        $("sources").appendChild(entry);
      }
    }
  }
}

function listControl() { return view.layout && view.layout.controls.find((c) => c.kind === "list"); }

function show(state) {
  if (!view.layout || state.instance !== view.instance || state.version < view.version) return;
  view.version = state.version;
  view.state = state;
  drawControls(state);
  drawSources(state);
  drawStudio(state);
  $("summary").textContent = state.summary;
}

function drawControls(state) {
  for (const node of document.querySelectorAll("#feeds [data-control], #actions [data-control], #labels [data-control]")) {
    const control = state.controls[node.dataset.control];
    if (!control) continue;
    const props = control.properties || {};
    if (node.tagName === "BUTTON") {
      node.disabled = !control.enabled || !view.connected;
      node.dataset.look = props.statesheet || "";
      if (node.hasAttribute("aria-pressed")) node.setAttribute("aria-pressed", String(state.selection.feed === node.dataset.control));
    } else {
      node.querySelector(".text").textContent = props.text || "";
    }
  }
}

function drawSources(state) {
  const list = listControl();
  if (!list) return;
  const props = (state.controls[list.id] || {}).properties || {};
  const page = String(props.page || 1);
  for (const node of document.querySelectorAll("#pages button")) {
    node.setAttribute("aria-pressed", String(node.dataset.page === page));
    node.disabled = !view.connected;
  }
  for (const node of document.querySelectorAll("#sources button")) {
    node.hidden = node.dataset.itemPage !== page;
    node.disabled = !view.connected;
    // Picked only while the script holds the operator's choice.
    node.setAttribute("aria-pressed", String(state.selection.source !== "" && node.dataset.index === state.selection.source));
  }
}

function drawStudio(state) {
  $("router-device").textContent = "device " + state.router.device;
  $("packager-device").textContent = "device " + state.packager.device;
  const router = document.querySelector("#router tbody");
  if (router.children.length === 0) {
    for (const d of state.router.destinations) {
      const row = element("tr");
      row.appendChild(element("td", {}, String(d.destination)));
      const select = element("select", { id: "route-" + d.destination, "aria-label": "Source on destination " + d.destination });
      for (const s of state.router.sources) select.appendChild(element("option", { value: s.number }, s.name));
      select.addEventListener("change", () => act("/api/route", { destination: d.destination, source: Number(select.value) }));
      const cell = element("td");
      cell.appendChild(select);
      row.appendChild(cell);
      router.appendChild(row);
    }
  }
  for (const d of state.router.destinations) {
    const select = $("route-" + d.destination);
    if (select && document.activeElement !== select) select.value = String(d.source);
  }
  const crosspoints = document.querySelector("#crosspoints tbody");
  crosspoints.replaceChildren();
  for (const c of state.packager.crosspoints) {
    const row = element("tr", { "data-destination": c.destination });
    row.appendChild(element("td", {}, String(c.destination)));
    row.appendChild(element("td", {}, String(c.source)));
    crosspoints.appendChild(row);
  }
  if (!state.open) $("status").textContent = "(panel closed)";
}

// --- the transcript ---------------------------------------------------------

function matchesFilter(text) {
  const filter = $("transcript-filter").value.toLowerCase();
  return filter === "" || text.toLowerCase().includes(filter);
}

function addEntry(entry) {
  const transcript = $("transcript");
  entry.hidden = !matchesFilter(entry.textContent);
  transcript.insertBefore(entry, transcript.firstChild);
  while (transcript.children.length > shownLines) transcript.removeChild(transcript.lastChild);
}

// Lines are numbered by their place in the whole transcript, not on the page.
function addLine(index, line) {
  const entry = element("li", { value: index + 1 }, line);
  if (line.startsWith("script> ")) entry.classList.add("command");
  if (line.startsWith("BREACH")) entry.classList.add("breach");
  addEntry(entry);
}

function addMarker(text) {
  const entry = element("li", { class: "restart" }, "\u2014 " + text + " \u2014");
  addEntry(entry);
}

// The session so far, as the server recorded it, downloaded as a file.
async function saveScenario() {
  try {
    const response = await fetch("/api/scenario", { headers: headers(false) });
    if (!response.ok) throw new Error(response.statusText);
    const link = element("a", { href: URL.createObjectURL(await response.blob()), download: "recorded.scenario" });
    document.body.append(link);
    link.click();
    link.remove();
    URL.revokeObjectURL(link.href);
  } catch (error) {
    $("status").textContent = "cannot save the scenario: " + error.message;
  }
}

function start() {
  $("save-scenario").addEventListener("click", saveScenario);
  $("transcript-filter").addEventListener("input", () => {
    for (const entry of $("transcript").children) entry.hidden = !matchesFilter(entry.textContent);
  });
  $("parameter-form").addEventListener("submit", async (event) => {
    event.preventDefault();
    try {
      const answer = await call("/api/parameter", { message: $("parameter").value });
      $("parameter-reply").textContent = answer.reply === null ? "(no reply)" : answer.reply;
    } catch (error) {
      $("parameter-reply").textContent = error.message;
    }
  });
  disconnected("connecting\u2026");
  listen();
}

start();
