// The browser panel: draws panel 1 from the layout, turns presses and picks
// into control events, and follows every command the script sends.
"use strict";

const view = { layout: null, state: null, refreshQueued: false };

async function call(path, body) {
  const response = await fetch(path, body === undefined ? {} : {
    method: "POST", headers: { "Content-Type": "application/json" }, body: JSON.stringify(body),
  });
  const answer = await response.json();
  if (!response.ok) throw new Error(answer.error || response.statusText);
  if (answer.state) show(answer.state);
  return answer;
}

function act(path, body) {
  call(path, body).catch((error) => { document.getElementById("status").textContent = error.message; });
}

function element(tag, attributes, text) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attributes || {})) node.setAttribute(key, value);
  if (text !== undefined) node.textContent = text;
  return node;
}

function button(control) {
  // Disabled until the first state says otherwise: no press before the panel is known.
  const node = element("button", { "data-control": control.id, type: "button", disabled: "" }, control.caption || control.id);
  node.addEventListener("click", () => act("/api/press", { control: control.id }));
  return node;
}

function draw(layout) {
  view.layout = layout;
  document.getElementById("title").textContent = layout.title || "Panel " + layout.panel;
  const feeds = document.getElementById("feeds");
  const actions = document.getElementById("actions");
  const labels = document.getElementById("labels");
  for (const control of layout.controls) {
    if (control.kind === "button") {
      (control.id.startsWith("OS_") ? feeds : actions).appendChild(button(control));
    } else if (control.kind === "label") {
      const label = element("div", { class: "label", "data-control": control.id });
      label.appendChild(element("span", { class: "caption" }, control.caption || control.id));
      label.appendChild(element("span", { class: "text" }, ""));
      labels.appendChild(label);
    } else if (control.kind === "selector") {
      document.getElementById("pages-caption").textContent = control.caption || control.id;
      for (const item of control.items) {
        const page = element("button", { type: "button", "data-control": control.id, "data-page": item.page }, item.caption);
        page.addEventListener("click", () => act("/api/pick", { control: control.id, value: String(item.index) }));
        document.getElementById("pages").appendChild(page);
      }
    } else if (control.kind === "list") {
      document.getElementById("sources-caption").textContent = control.caption || control.id;
    }
  }
}

function listControl() { return view.layout.controls.find((c) => c.kind === "list"); }

function drawSources(state) {
  const list = listControl();
  if (!list) return;
  const props = (state.controls[list.id] || {}).properties || {};
  const page = Number(props.page || 1);
  const box = document.getElementById("sources");
  box.replaceChildren();
  for (const item of list.items.filter((i) => i.page === page)) {
    const entry = element("button", { type: "button", "data-control": list.id, "data-index": item.index }, item.caption);
    if (String(item.index) === props.index) entry.classList.add("picked");
    entry.addEventListener("click", () => act("/api/pick", { control: list.id, value: String(item.index) }));
    box.appendChild(entry);
  }
}

function drawControls(state) {
  for (const node of document.querySelectorAll("#panel [data-control]")) {
    const control = state.controls[node.dataset.control];
    if (!control) continue;
    const props = control.properties || {};
    if (node.tagName === "BUTTON" && !node.dataset.page && node.dataset.index === undefined) {
      node.disabled = !control.enabled;
      node.dataset.look = props.statesheet || "";
    }
    if (node.classList.contains("label")) node.querySelector(".text").textContent = props.text || "";
  }
  const selector = view.layout.controls.find((c) => c.kind === "selector");
  if (selector) {
    const page = ((state.controls[listControl().id] || {}).properties || {}).page || "1";
    for (const node of document.querySelectorAll("#pages button"))
      node.classList.toggle("picked", node.dataset.page === page);
  }
}

function drawStudio(state) {
  document.getElementById("router-device").textContent = "device " + state.router.device;
  document.getElementById("packager-device").textContent = "device " + state.packager.device;
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
    const select = document.getElementById("route-" + d.destination);
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
  document.getElementById("status").textContent = state.open ? "" : "(panel closed)";
}

function show(state) {
  view.state = state;
  drawSources(state);
  drawControls(state);
  drawStudio(state);
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

function addLine(line) {
  const transcript = document.getElementById("transcript");
  const entry = element("li", {}, line);
  if (line.startsWith("script> ")) entry.classList.add("command");
  if (line.startsWith("BREACH")) entry.classList.add("breach");
  transcript.insertBefore(entry, transcript.firstChild);
  while (transcript.children.length > 400) transcript.removeChild(transcript.lastChild);
}

async function start() {
  draw(await call("/api/layout"));
  const earlier = await call("/api/transcript");
  for (const line of earlier.lines) addLine(line);
  show(await call("/api/state"));
  const events = new EventSource("/events");
  events.onmessage = (message) => {
    addLine(JSON.parse(message.data).line);
    refreshSoon();
  };
  document.getElementById("parameter-form").addEventListener("submit", async (event) => {
    event.preventDefault();
    const answer = await call("/api/parameter", { message: document.getElementById("parameter").value });
    document.getElementById("parameter-reply").textContent = answer.reply === null ? "(no reply)" : answer.reply;
  });
}

start();
