// mbslave-sim web page: live tables of one unit, the request log and the
// counters, pushed by the simulator as server-sent events; edits are POSTed.
"use strict";

const $ = (id) => document.getElementById(id);
const maxLogRows = 1000;
let maxCount = 250;
let stream = null;
let shown = null;      // the values last rendered: {unit, start, count, coils, ...}
let logNewest = 0;     // newest request log sequence number shown

function message(text, isError) {
  $("message").textContent = text;
  $("message").className = isError ? "error" : "";
}

// ---- value formats -------------------------------------------------------

const signed16 = (v) => (v >= 0x8000 ? v - 0x10000 : v);
const hex16 = (v) => "0x" + v.toString(16).toUpperCase().padStart(4, "0");

// The 32-bit value and float of the pair (high, low); blank without a low half.
function pairTexts(high, low) {
  if (low === undefined) return ["", ""];
  const view = new DataView(new ArrayBuffer(4));
  view.setUint16(0, high);
  view.setUint16(2, low);
  const float = view.getFloat32(0);
  return [String(view.getUint32(0)), Number.isFinite(float) ? String(Number(float.toPrecision(7))) : String(float)];
}

// ---- tables --------------------------------------------------------------

const tables = ["coils", "discrete", "holding", "input"];

function cell(row, text, className) {
  const td = row.insertCell();
  td.textContent = text;
  if (className) td.className = className;
  return td;
}

// Rows for the view's addresses; the values follow with render().
function buildRows(view) {
  for (const name of tables) {
    const body = $(name).tBodies[0];
    body.replaceChildren();
    const registers = name === "holding" || name === "input";
    for (let i = 0; i < view.count; ++i) {
      const address = view.start + i;
      const row = body.insertRow();
      cell(row, String(address));
      const value = cell(row, "", "edit");
      value.dataset.table = name;
      value.dataset.address = address;
      value.tabIndex = i === 0 ? 0 : -1;  // one tab stop per table; the arrows move within
      if (!registers) continue;
      // A register is edited in any of its forms; the pair forms set it and the next one.
      value.dataset.format = "unsigned";
      for (const format of ["signed", "hex", "u32", "float"]) {
        const td = cell(row, "", "edit");
        td.dataset.format = format;
        td.dataset.table = name;
        td.dataset.address = address;
      }
    }
  }
}

function setText(td, text, changed) {
  if (td.textContent === text) return;
  td.textContent = text;
  if (changed) {
    td.classList.remove("flash");
    void td.offsetWidth;  // restarts the animation
    td.classList.add("flash");
  }
}

function render(values) {
  const sameView = shown && shown.unit === values.unit && shown.start === values.start &&
                   shown.count === values.count;
  if (!sameView) buildRows(values);
  for (const name of tables) {
    const rows = $(name).tBodies[0].rows;
    const list = values[name];
    for (let i = 0; i < values.count; ++i) {
      const cells = rows[i].cells;
      const v = list[i];
      if (name === "coils" || name === "discrete") {
        setText(cells[1], v ? "1" : "0", sameView);
        cells[1].classList.toggle("on", v !== 0);
      } else if (!rows[i].querySelector("input")) {
        const next = list[i + 1];
        const [u32, float] = $("order").value === "low" ? (next === undefined ? ["", ""] : pairTexts(next, v))
                                                         : pairTexts(v, next);
        setText(cells[1], String(v), sameView);
        setText(cells[2], String(signed16(v)), sameView);
        setText(cells[3], hex16(v), sameView);
        setText(cells[4], u32, sameView);
        setText(cells[5], float, sameView);
      }
    }
  }
  shown = values;
}

// ---- edits ---------------------------------------------------------------

// One value, or with next a register and the one after it.
async function send(table, address, value, next) {
  const unit = $("unit").value;
  try {
    // A JSON body with the simulator's header: the server takes edits only so.
    const reply = await fetch(`/api/units/${unit}/${table}/${address}`, {
      method: "POST",
      headers: { "Content-Type": "application/json", "X-Mbslave-Sim": "edit" },
      body: JSON.stringify(next === undefined ? { value } : { value, next }),
    });
    const body = await reply.json();
    if (!reply.ok) message(`refused (${reply.status}): ${body.error}`, true);
    else if (next === undefined) message(`unit ${unit}: ${table} ${address} set to ${body.value}`, false);
    else message(`unit ${unit}: ${table} ${address}-${Number(address) + 1} set to ${body.value}, ${body.next}`, false);
  } catch (error) {
    message(`no answer from mbslave-sim: ${error}`, true);
  }
}

// The two words (high, low) of a 32-bit integer or float text, or a reason why not.
function pairWords(format, text) {
  let bits;
  if (format === "u32") {
    if (!/^(-?[0-9]+|0[xX][0-9a-fA-F]+)$/.test(text)) return `'${text}' is not a whole number`;
    const n = Number(text);
    if (n < -0x80000000 || n > 0xFFFFFFFF) return `${text} is out of range: 0..4294967295 or -2147483648..-1`;
    bits = n < 0 ? n + 0x100000000 : n;
  } else {
    if (!/^([-+]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][-+]?[0-9]+)?|NaN|[-+]?Infinity)$/.test(text)) {
      return `'${text}' is not a number`;
    }
    const view = new DataView(new ArrayBuffer(4));
    view.setFloat32(0, Number(text));
    if (Number.isFinite(Number(text)) && !Number.isFinite(view.getFloat32(0))) return `${text} is beyond a float`;
    bits = view.getUint32(0);
  }
  return [Math.floor(bits / 0x10000), bits % 0x10000];
}

// Sends what was typed into a register's cell in that cell's form.
function commitRegister(td, text) {
  const format = td.dataset.format;
  if (format !== "u32" && format !== "float") {
    send(td.dataset.table, td.dataset.address, text);
    return;
  }
  const words = pairWords(format, text);
  if (typeof words === "string") {
    message(`refused: ${words}`, true);
    return;
  }
  const [high, low] = words;
  if ($("order").value === "low") send(td.dataset.table, td.dataset.address, low, high);
  else send(td.dataset.table, td.dataset.address, high, low);
}

function editRegister(td) {
  const shownText = td.textContent;
  if (shownText === "") {
    message("the last register has no next one to pair with", true);
    return;
  }
  const input = document.createElement("input");
  input.value = shownText;
  td.replaceChildren(input);
  input.focus();
  input.select();
  let done = false;
  const finish = (commit) => {
    if (done) return;
    done = true;
    const text = input.value.trim();
    td.textContent = shownText;  // the next update shows the new value
    if (commit) commitRegister(td, text);
  };
  input.addEventListener("keydown", (event) => {
    if (event.key !== "Enter" && event.key !== "Escape") return;
    event.stopPropagation();
    finish(event.key === "Enter");
    td.focus();  // the keyboard goes on from the cell
  });
  input.addEventListener("blur", () => finish(false));
}

// A click, Enter or Space on a value: a bit toggles, a register takes a new value.
function activate(td) {
  if (td.querySelector("input")) return;
  if (td.dataset.table === "coils" || td.dataset.table === "discrete") {
    send(td.dataset.table, td.dataset.address, td.textContent === "1" ? "0" : "1");
  } else {
    editRegister(td);
  }
}

$("tables").addEventListener("click", (event) => {
  const td = event.target.closest("td.edit");
  if (td) activate(td);
});

const valueCell = (table, address) => document.querySelector(`td.edit[data-table="${table}"][data-address="${address}"]`);

// Up and down within a table, left and right to the same address of the next table.
$("tables").addEventListener("keydown", (event) => {
  const td = event.target;
  if (!td.classList || !td.classList.contains("edit")) return;
  const address = Number(td.dataset.address);
  let next = null;
  if (event.key === "ArrowDown" || event.key === "ArrowUp") {
    next = valueCell(td.dataset.table, address + (event.key === "ArrowDown" ? 1 : -1));
  } else if (event.key === "ArrowRight" || event.key === "ArrowLeft") {
    const table = tables[tables.indexOf(td.dataset.table) + (event.key === "ArrowRight" ? 1 : -1)];
    if (table) next = valueCell(table, address);
  } else if (event.key === "Enter" || event.key === " ") {
    event.preventDefault();
    activate(td);
    return;
  }
  if (!next) return;
  event.preventDefault();
  td.tabIndex = -1;
  next.tabIndex = 0;
  next.focus();
});

// ---- request log and counters --------------------------------------------

let logPaused = false;
let logHeld = [];      // records that arrived while the log was paused

function matchesFilter(row) {
  const filter = $("filter").value.trim().toLowerCase();
  const unit = $("log-unit").value;
  const result = $("log-result").value;
  return (filter === "" || row.textContent.toLowerCase().includes(filter)) &&
         (unit === "" || row.dataset.unit === unit) && (result === "" || row.dataset.result === result);
}

function refilter() {
  for (const row of $("log").tBodies[0].rows) row.hidden = !matchesFilter(row);
}

function timeText(ms) {
  const t = new Date(ms);
  const two = (n) => String(n).padStart(2, "0");
  return `${two(t.getHours())}:${two(t.getMinutes())}:${two(t.getSeconds())}.${String(t.getMilliseconds()).padStart(3, "0")}`;
}

function addLog(records) {
  if (logPaused) {
    logHeld.push(...records);
    if (logHeld.length > maxLogRows) logHeld.splice(0, logHeld.length - maxLogRows);
    $("log-held").textContent = `${logHeld.length} held`;
    return;
  }
  const body = $("log").tBodies[0];
  for (const r of records) {
    if (r.seq <= logNewest) continue;  // a new stream starts with what is still held
    if (logNewest > 0 && r.seq > logNewest + 1) {
      const gap = body.insertRow(0);
      const note = cell(gap, `... ${r.seq - logNewest - 1} requests not listed (too many to show)`, "gap");
      note.colSpan = 7;
    }
    logNewest = r.seq;
    const row = body.insertRow(0);
    cell(row, timeText(r.timeMs));
    cell(row, r.role ? `${r.master} (${r.role})` : r.master);
    cell(row, r.result === "broadcast" ? `broadcast ${r.units}` : String(r.unit));
    cell(row, r.function);
    cell(row, r.range);
    cell(row, r.result, "result-" + r.result.replace(" ", ""));
    cell(row, r.exception === null ? "" : String(r.exception));
    row.dataset.unit = String(r.unit);
    row.dataset.result = r.result;
    row.dataset.time = r.timeMs;        // when the request finished
    row.dataset.shownAt = Date.now();   // when the page showed it
    row.hidden = !matchesFilter(row);
  }
  while (body.rows.length > maxLogRows) body.deleteRow(-1);
}

$("filter").addEventListener("input", refilter);
$("log-unit").addEventListener("change", refilter);
$("log-result").addEventListener("change", refilter);

$("log-pause").addEventListener("click", () => {
  logPaused = !logPaused;
  $("log-pause").textContent = logPaused ? "Resume" : "Pause";
  if (!logPaused) {
    const held = logHeld;
    logHeld = [];
    $("log-held").textContent = "";
    addLog(held);
  }
});

$("log-clear").addEventListener("click", () => {
  $("log").tBodies[0].replaceChildren();
  logHeld = [];
  $("log-held").textContent = "";
});

// The requests the filters let through, oldest first, as CSV.
function logCsv() {
  const field = (text) => (/[",\n]/.test(text) ? `"${text.replace(/"/g, '""')}"` : text);
  const lines = ["time,master,unit,function,range,result,exception"];
  const rows = [...$("log").tBodies[0].rows].filter((row) => row.dataset.time && !row.hidden).reverse();
  for (const row of rows) {
    const cells = [...row.cells].map((td) => td.textContent);
    cells[0] = new Date(Number(row.dataset.time)).toISOString();
    lines.push(cells.map(field).join(","));
  }
  return lines.join("\r\n") + "\r\n";
}

$("log-export").addEventListener("click", () => {
  const link = document.createElement("a");
  link.href = URL.createObjectURL(new Blob([logCsv()], { type: "text/csv" }));
  link.download = "mbslave-sim-requests.csv";
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 1000);
});

function showCounters(c) {
  $("received").textContent = c.received;
  $("served").textContent = c.served;
  $("connections").textContent = c.connections === null ? "-" : c.connections;
  $("timeouts").textContent = c.timeOuts;
  const units = Object.entries(c.perUnit).map(([unit, count]) => `${unit}: ${count}`);
  $("per-unit").textContent = units.length ? units.join(", ") : "-";
}

// ---- the live stream -----------------------------------------------------

function viewRange() {
  const count = Number($("count").value);
  let start = Math.trunc(Number($("start").value));
  if (!Number.isFinite(start) || start < 0) start = 0;
  start = Math.min(start, 65536 - count > 0 ? 65536 - count : 0);
  $("start").value = start;
  return { unit: $("unit").value, start, count: Math.min(count, maxCount) };
}

function connect() {
  if (stream) stream.close();
  const view = viewRange();
  stream = new EventSource(`/api/units/${view.unit}/events?start=${view.start}&count=${view.count}`);
  stream.addEventListener("values", (event) => render(JSON.parse(event.data)));
  stream.addEventListener("counters", (event) => showCounters(JSON.parse(event.data)));
  stream.addEventListener("log", (event) => addLog(JSON.parse(event.data)));
  stream.onopen = () => {
    $("status").textContent = "live";
    $("status").className = "status live";
  };
  stream.onerror = () => {
    $("status").textContent = "disconnected, retrying";
    $("status").className = "status down";
  };
}

function page(direction) {
  const count = Number($("count").value);
  $("start").value = Math.max(0, Number($("start").value) + direction * count);
  connect();
}

$("order").addEventListener("change", () => {
  const values = shown;
  shown = null;  // rebuilt without flashing
  if (values) render(values);
});
$("unit").addEventListener("change", connect);
$("count").addEventListener("change", connect);
$("start").addEventListener("change", connect);
$("previous").addEventListener("click", () => page(-1));
$("next").addEventListener("click", () => page(1));
$("view").addEventListener("submit", (event) => {
  event.preventDefault();
  connect();
});

async function start() {
  const info = await (await fetch("/api/info")).json();
  maxCount = info.maxCount;
  $("title").textContent = info.title;
  document.title = `mbslave-sim: ${info.title}`;
  for (const unit of info.units) {
    $("unit").add(new Option(`${unit}`, unit));
    $("log-unit").add(new Option(`${unit}`, unit));
  }
  connect();
}

start().catch((error) => message(`cannot load the simulator's state: ${error}`, true));
