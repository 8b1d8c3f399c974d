#!/usr/bin/python3
"""mbslave-sim's web page driven in headless chromium (python3-selenium with
chromium-driver) while pymodbus is the Modbus master.

Usage: sim_web.py MBSLAVE_SIM CASE [--screenshot PNG]
  tables    the tables show what the master wrote (unsigned, signed, hex,
            32-bit, float), and a changed cell flashes; the input registers
            and the log are in view without scrolling
  edit      a register and a coil changed in the page, by mouse and by
            keyboard alone, are read back by the master, and by a second
            simulator started with the page's "Save as map file"
  log       a request appears in the log within a second; text, unit and
            result filters; CSV export; pause, resume and clear; counters
  refused   a refused edit shows its message and writes nothing
  formats   a register edited as signed, hex, 32-bit integer and float, with
            the high or the low word first; bad pairs refused
  guard     a page of another origin (127.0.0.2) can neither change a value
            nor frame the page; a foreign Host gets 403 for everything; every
            reply carries the security headers
With --screenshot, the tables case saves a picture of the page under traffic.
"""
import http.client
import http.server
import json
import logging
import math
import shutil
import struct
import sys
import tempfile
import threading
import time

from pymodbus.client import ModbusTcpClient
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.common.exceptions import NoSuchElementException, StaleElementReferenceException
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select, WebDriverWait

from simproc import Sim, free_port

logging.disable(logging.CRITICAL)  # pymodbus logs expected exception replies

CHROMIUM_ARGUMENTS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                      "--disable-background-networking", "--disable-component-update", "--disable-sync",
                      "--window-size=1500,1250"]
WAIT = 10  # seconds for anything the page must show


def check(condition, message):
    if not condition:
        raise AssertionError(message)


class Setup:
    """The simulator with its web page, a pymodbus master and a browser on the page."""

    def __init__(self, binary, units="1,2"):
        self.port = free_port()
        self.web_port = free_port()
        self.sim = Sim(binary, ["tcp", "--port", str(self.port), "--units", units, "--web", str(self.web_port)])
        self.profile = tempfile.mkdtemp(prefix="sim-web-chromium-")
        self.browser = None
        self.client = ModbusTcpClient("127.0.0.1", port=self.port, timeout=2)
        self.sim.wait_for(r"web page on http://127\.0\.0\.1:%d/" % self.web_port)
        check(self.client.connect(), "pymodbus connects")
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for argument in CHROMIUM_ARGUMENTS + ["--user-data-dir=" + self.profile]:
            options.add_argument(argument)
        self.browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        self.browser.get("http://127.0.0.1:%d/" % self.web_port)
        self.until(lambda: self.text("status") == "live", "the page's event stream is live")

    def close(self):
        if self.browser:
            self.browser.quit()
        self.client.close()
        self.sim.kill()
        shutil.rmtree(self.profile, ignore_errors=True)

    def until(self, condition, what):
        try:
            # The page rebuilds its rows on each update, so a row found a moment ago may be gone.
            WebDriverWait(self.browser, WAIT, poll_frequency=0.05,
                          ignored_exceptions=[NoSuchElementException, StaleElementReferenceException]
                          ).until(lambda _: condition())
        except Exception as error:
            raise AssertionError(f"page never showed: {what}\n{self.browser.find_element(By.TAG_NAME, 'body').text}") from error

    def text(self, element_id):
        return self.browser.find_element(By.ID, element_id).text

    def show(self, unit, start, rows="25"):
        Select(self.browser.find_element(By.ID, "unit")).select_by_value(str(unit))
        Select(self.browser.find_element(By.ID, "count")).select_by_visible_text(rows)
        field = self.browser.find_element(By.ID, "start")
        field.clear()
        field.send_keys(str(start), Keys.ENTER)
        self.until(lambda: self.row("holding", start)[0] == str(start), f"unit {unit} from address {start}")

    def value_cell(self, table, address):
        return self.browser.find_element(By.CSS_SELECTOR, f'td[data-table="{table}"][data-address="{address}"]')

    def row(self, table, address):
        """The texts of the table's row for the address (address, value, ...)."""
        row = self.value_cell(table, address).find_element(By.XPATH, "..")
        return [cell.text for cell in row.find_elements(By.TAG_NAME, "td")]

    def edit_register(self, table, address, value):
        self.value_cell(table, address).click()
        field = self.value_cell(table, address).find_element(By.TAG_NAME, "input")
        field.send_keys(Keys.CONTROL, "a")
        field.send_keys(value, Keys.ENTER)

    def read_holding(self, address, unit=1):
        reply = self.client.read_holding_registers(address, 1, slave=unit)
        check(not reply.isError(), f"read holding {address}: {reply}")
        return reply.registers[0]


def case_tables(s, screenshot):
    # With the default 50 rows, the input registers and the request log are
    # in view without scrolling. The rows arrive after the event stream is
    # live, so measure once the tenth one exists.
    s.until(lambda: s.browser.execute_script("return document.querySelector('#input tbody tr:nth-child(10)') !== null"),
            "ten input register rows")
    tops = s.browser.execute_script(
        "const top = (selector) => document.querySelector(selector).getBoundingClientRect().top;"
        "return [top('#input caption'), top('#input tbody tr:nth-child(10)'), top('#log thead'), window.innerHeight];")
    check(max(tops[:3]) < tops[3], f"input registers, their tenth row and the log start at {tops[:3]} px, "
                                   f"below the window's {tops[3]} px")
    check(not s.client.write_registers(100, [1, 65535, 0x4049, 0x0FDB, 0x8000], slave=2).isError(), "write")
    check(not s.client.write_coils(100, [True, False, True], slave=2).isError(), "write coils")
    s.show(2, 100)
    expected = {
        100: ["100", "1", "1", "0x0001", "131071", "1.836710e-40"],
        101: ["101", "65535", "-1", "0xFFFF", "4294918217", "nan"],
        102: ["102", "16457", "16457", "0x4049", "1078530011", "3.141593"],
        104: ["104", "32768", "-32768", "0x8000", "2147483648", "0"],
    }
    for address, texts in expected.items():
        s.until(lambda: s.row("holding", address)[:5] == texts[:5], f"holding {address} as {texts}")
    float_of = lambda address: s.row("holding", address)[5]
    pair_float = lambda high, low: struct.unpack(">f", struct.pack(">HH", high, low))[0]
    for address, high, low in [(100, 1, 65535), (102, 0x4049, 0x0FDB)]:
        check(math.isclose(float(float_of(address)), pair_float(high, low), rel_tol=1e-6),
              f"float of {address}: {float_of(address)}")
    check(float_of(101) == "NaN", f"float of 101: {float_of(101)}")
    check([s.row("coils", a)[1] for a in (100, 101, 102)] == ["1", "0", "1"], "coils 100..102")
    # A value the master changes while the page is open flashes.
    check(not s.client.write_register(103, 7, slave=2).isError(), "write 103")
    s.until(lambda: s.row("holding", 103)[1] == "7", "holding 103 = 7")
    check("flash" in s.value_cell("holding", 103).get_attribute("class"), "the changed cell flashes")
    check("flash" not in s.value_cell("holding", 105).get_attribute("class"), "an unchanged cell does not")
    if screenshot:
        s.show(1, 0)
        stop = threading.Event()

        def traffic():
            count = 0
            while not stop.is_set():
                s.client.write_register(count % 10, count % 1000, slave=1)
                s.client.read_input_registers(0, 4, slave=1)
                s.client.write_coil(count % 8, count % 2 == 0, slave=1)
                s.client.read_holding_registers(65535, 2, slave=2)  # refused: exception 2
                count += 1
                time.sleep(0.15)
        master = threading.Thread(target=traffic)
        master.start()
        time.sleep(3)
        s.browser.save_screenshot(screenshot)
        stop.set()
        master.join()


def case_edit(s, _):
    s.show(1, 0)
    s.edit_register("holding", 5, "1234")
    s.until(lambda: "set to 1234" in s.text("message"), "the edit's confirmation")
    check(s.read_holding(5) == 1234, "the master reads the edited register")
    s.edit_register("holding", 6, "-2")
    s.until(lambda: s.row("holding", 6)[1:3] == ["65534", "-2"], "holding 6 = -2")
    check(s.read_holding(6) == 65534, "the master reads the signed edit")
    check(s.read_holding(5, unit=2) == 60, "unit 2 is untouched")
    coil = lambda: s.client.read_coils(3, 1, slave=1).bits[0]
    check(coil() is False, "demo coil 3 starts off")
    s.value_cell("coils", 3).click()
    s.until(lambda: s.row("coils", 3)[1] == "1", "coil 3 on")
    check(coil() is True, "the master reads the toggled coil")
    s.value_cell("coils", 3).click()
    s.until(lambda: s.row("coils", 3)[1] == "0", "coil 3 off again")
    check(coil() is False, "the master reads the coil toggled back")

    # The keyboard alone: arrows move between values, Enter toggles a bit or
    # opens a register, Enter sets it, Escape leaves it as it was.
    keys = lambda *typed: s.browser.switch_to.active_element.send_keys(*typed)
    focused = lambda: s.browser.execute_script(
        "const td = document.activeElement; return td.dataset.table + ' ' + td.dataset.address;")
    s.browser.execute_script("arguments[0].focus();", s.value_cell("coils", 3))
    keys(Keys.ARROW_DOWN)
    check(focused() == "coils 4", f"ArrowDown moves to coil 4, not {focused()}")
    keys(Keys.ENTER)
    s.until(lambda: s.row("coils", 4)[1] == "0", "coil 4 toggled off by Enter")
    check(s.client.read_coils(4, 1, slave=1).bits[0] is False, "the master reads coil 4 off")
    keys(Keys.ARROW_RIGHT, Keys.ARROW_RIGHT, Keys.ARROW_UP)
    check(focused() == "holding 3", f"right, right, up reach holding 3, not {focused()}")
    keys(Keys.ENTER)
    keys(Keys.CONTROL, "a")
    keys("77", Keys.ENTER)
    s.until(lambda: s.row("holding", 3)[1] == "77", "holding 3 = 77 from the keyboard")
    check(s.read_holding(3) == 77 and focused() == "holding 3", "the master reads 77; the cell keeps the focus")
    keys(Keys.ENTER)
    keys(Keys.CONTROL, "a")
    keys("99", Keys.ESCAPE)
    time.sleep(0.5)
    check(s.read_holding(3) == 77 and s.row("holding", 3)[1] == "77" and focused() == "holding 3",
          "Escape leaves holding 3 as it was")

    # "Save as map file": a second simulator started with it serves the edits.
    saved = s.browser.execute_script(
        "const link = document.getElementById('save-map');"
        "const reply = await fetch(link.href); return [link.download, reply.headers.get('Content-Disposition'), await reply.text()];")
    check(saved[0] == "mbslave-sim-map.json" and "attachment" in saved[1], f"the link saves a file: {saved[:2]}")
    with tempfile.TemporaryDirectory() as directory:
        path = directory + "/saved.json"
        with open(path, "w", encoding="utf-8") as file:
            file.write(saved[2])
        port = free_port()
        again = Sim(s.sim.arguments[0], ["tcp", "--port", str(port), "--units", "1,2", "--map", path])
        try:
            again.wait_for(r"server on 127\.0\.0\.1:%d, units 1-2, map " % port)
            client = ModbusTcpClient("127.0.0.1", port=port, timeout=2)
            check(client.connect(), "connect to the simulator of the saved map")
            holding = client.read_holding_registers(0, 10, slave=1).registers
            coils = client.read_coils(0, 8, slave=1).bits[:8]
            unit2 = client.read_holding_registers(0, 10, slave=2).registers
            client.close()
            check(holding == [10, 20, 30, 77, 50, 1234, 65534, 80, 90, 100], f"saved holding 0..9: {holding}")
            check(coils == [True, False, True, False, False, False, True, False], f"saved coils 0..7: {coils}")
            check(unit2 == [10, 20, 30, 40, 50, 60, 70, 80, 90, 100], f"unit 2 saved as it was: {unit2}")
        finally:
            again.kill()


def case_log(s, _):
    check(not s.client.read_input_registers(0, 4, slave=1).isError(), "read input registers")
    s.client.read_holding_registers(65535, 2, slave=2)  # refused: exception 2
    rows = lambda: s.browser.find_elements(By.CSS_SELECTOR, "#log tbody tr")
    s.until(lambda: len(rows()) >= 2, "two log rows")
    newest, older = [[cell.text for cell in row.find_elements(By.TAG_NAME, "td")] for row in rows()[:2]]
    check(older[1:] == ["127.0.0.1", "1", "read input registers", "0-3", "ok", ""], f"log row {older}")
    check(newest[1:] == ["127.0.0.1", "2", "read holding registers", "65535-65536", "refused", "2"],
          f"log row {newest}")
    # Latency from the end of the request to the row in the page, on one clock.
    latency = s.browser.execute_script(
        "const row = document.querySelector('#log tbody tr');"
        "return Number(row.dataset.shownAt) - Number(row.dataset.time);")
    print(f"log latency {latency} ms")
    check(0 <= latency < 1000, f"the log showed the request after {latency} ms")
    s.until(lambda: s.text("received") == "2" and s.text("served") == "2", "counters received/served 2")
    check(s.text("per-unit") == "1: 1, 2: 1" and s.text("connections") == "1", "per unit and connections")
    s.browser.find_element(By.ID, "filter").send_keys("refused")
    s.until(lambda: [row.is_displayed() for row in rows()] == [True, False], "the filter hides the ok row")
    s.browser.find_element(By.ID, "filter").clear()
    s.browser.find_element(By.ID, "filter").send_keys(Keys.BACKSPACE)
    # The unit and result filters, alone and together.
    for unit, result, shown in [("1", "", [False, True]), ("", "ok", [False, True]), ("2", "refused", [True, False]),
                                ("1", "refused", [False, False]), ("", "", [True, True])]:
        Select(s.browser.find_element(By.ID, "log-unit")).select_by_value(unit)
        Select(s.browser.find_element(By.ID, "log-result")).select_by_value(result)
        s.until(lambda: [row.is_displayed() for row in rows()] == shown, f"unit {unit!r} result {result!r}: {shown}")
    # The export: the rows the filters let through, oldest first.
    Select(s.browser.find_element(By.ID, "log-result")).select_by_value("refused")
    csv_lines = s.browser.execute_script("return logCsv();").split("\r\n")
    check(csv_lines[0] == "time,master,unit,function,range,result,exception" and len(csv_lines) == 3 and
          csv_lines[1].endswith(",127.0.0.1,2,read holding registers,65535-65536,refused,2") and
          csv_lines[1][:4].isdigit() and csv_lines[2] == "", f"CSV of the refused rows: {csv_lines}")
    Select(s.browser.find_element(By.ID, "log-result")).select_by_value("")
    csv_lines = s.browser.execute_script("return logCsv();").split("\r\n")
    check([line.split(",")[5] for line in csv_lines[1:3]] == ["ok", "refused"], f"CSV oldest first: {csv_lines}")
    # Paused, new requests are held and counted; resumed, they are shown.
    s.browser.find_element(By.ID, "log-pause").click()
    check(not s.client.read_coils(0, 1, slave=1).isError(), "read coils")
    s.until(lambda: s.text("log-held") == "1 held", "one request held")
    check(len(rows()) == 2, "no row added while paused")
    s.browser.find_element(By.ID, "log-pause").click()
    s.until(lambda: len(rows()) == 3 and "read coils" in rows()[0].text, "the held request shown on resume")
    s.browser.find_element(By.ID, "log-clear").click()
    s.until(lambda: len(rows()) == 0, "the log cleared")
    check(not s.client.read_coils(0, 1, slave=1).isError(), "read coils")
    s.until(lambda: len(rows()) == 1, "only the new request after clearing")


def case_refused(s, _):
    s.show(1, 0)
    for value, text in [("70000", "refused (400): 70000 is out of range"),
                        ("12abc", "refused (400): '12abc' is not a number")]:
        s.edit_register("holding", 6, value)
        s.until(lambda: text in s.text("message"), f"the message for {value}")
        check("error" in s.browser.find_element(By.ID, "message").get_attribute("class"), "shown as an error")
        check(s.read_holding(6) == 70, f"{value} was not written")
    s.edit_register("input", 2, "5")
    s.until(lambda: "refused (409): input register 2 is a live value" in s.text("message"), "live value refused")


SECURITY_HEADERS = {
    "Content-Security-Policy": "default-src 'self'; frame-ancestors 'none'",
    "X-Frame-Options": "DENY",
    "X-Content-Type-Options": "nosniff",
    "Referrer-Policy": "no-referrer",
}

# A page of another site, as the user's browser would load it: forms and
# fetches at the simulator's edit route, and the simulator's page in a frame.
FOREIGN_PAGE = """<!doctype html><html><body>
<iframe name="sink1"></iframe><iframe name="sink2"></iframe>
<form id="urlencoded" method="POST" target="sink1" action="{base}/api/units/1/holding/7">
  <input name="value" value="31337"></form>
<form id="plain" method="POST" target="sink2" enctype="text/plain" action="{base}/api/units/1/holding/8">
  <input name='{{"value":31337,"x":"' value='"}}'></form>
<iframe id="framed" src="{base}/"></iframe>
<script>
document.getElementById("urlencoded").submit();
document.getElementById("plain").submit();
const route = (table, address) => `{base}/api/units/1/${{table}}/${{address}}`;
fetch(route("coils", 5), {{method: "POST", mode: "no-cors", body: new URLSearchParams({{value: "1"}})}});
fetch(route("coils", 7) + "?value=1", {{method: "POST", mode: "no-cors", headers: {{"Content-Type": "text/plain"}},
                                       body: '{{"value": 1}}'}});
fetch(route("holding", 9), {{method: "POST", headers: {{"Content-Type": "application/json", "X-Mbslave-Sim": "edit"}},
                            body: '{{"value": 31337}}'}})
  .then(() => {{ document.title = "sent"; }}, () => {{ document.title = "blocked"; }});
</script></body></html>"""


def serve_foreign_page(html):
    """An HTTP server on 127.0.0.2 serving html at /; returns (server, url)."""
    body = html.encode()

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *_):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.2", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, "http://127.0.0.2:%d/" % server.server_address[1]


def request(s, method, path, host=None, headers=None, body=None):
    """(status, headers, body) of one request to the web port."""
    connection = http.client.HTTPConnection("127.0.0.1", s.web_port, timeout=5)
    try:
        connection.putrequest(method, path, skip_host=True, skip_accept_encoding=True)
        connection.putheader("Host", host or "127.0.0.1:%d" % s.web_port)
        for name, value in (headers or {}).items():
            connection.putheader(name, value)
        data = body.encode() if body is not None else None
        if data is not None:
            connection.putheader("Content-Length", str(len(data)))
        connection.endheaders(data)
        reply = connection.getresponse()
        return reply.status, dict(reply.getheaders()), reply.read(200)
    finally:
        connection.close()


def case_guard(s, _):
    own = "http://127.0.0.1:%d" % s.web_port
    json_edit = {"Content-Type": "application/json", "X-Mbslave-Sim": "edit"}
    rebind = "rebind.evil.example:%d" % s.web_port
    # (method, path, Host, headers, body, status): what the page itself
    # sends is answered, everything else is refused and writes nothing.
    rows = [
        ("GET", "/", None, {}, None, 200),
        ("GET", "/app.js", None, {}, None, 200),
        ("GET", "/nothing", None, {}, None, 404),
        ("GET", "/", rebind, {}, None, 403),
        ("GET", "/api/info", rebind, {}, None, 403),
        ("GET", "/api/units/1/events?start=0&count=5", rebind, {}, None, 403),
        ("GET", "/api/map", None, {}, None, 200),
        ("GET", "/api/map", rebind, {}, None, 403),
        ("POST", "/api/units/1/holding/3", rebind, json_edit, '{"value": 1}', 403),
        ("POST", "/api/units/1/holding/3", None, dict(json_edit, Origin="http://127.0.0.2:8000"), '{"value": 2}', 403),
        ("POST", "/api/units/1/holding/3", None, dict(json_edit, Origin="null"), '{"value": 3}', 403),
        ("POST", "/api/units/1/holding/3", None, {"Content-Type": "application/json"}, '{"value": 4}', 403),
        ("POST", "/api/units/1/holding/3", None, {"Content-Type": "text/plain", "X-Mbslave-Sim": "edit"},
         '{"value": 5}', 403),
        ("POST", "/api/units/1/holding/3", None, {"Content-Type": "application/x-www-form-urlencoded",
                                                  "X-Mbslave-Sim": "edit"}, "value=6", 403),
        ("POST", "/api/units/1/holding/3?value=7", None, json_edit, "{}", 400),
        ("POST", "/api/units/1/holding/3", None, json_edit, '{"value": 1.5}', 400),
        ("POST", "/api/units/1/holding/3", None, json_edit, "[8]", 400),
        ("POST", "/api/units/1/holding/3", None, json_edit, '{"value": "--5"}', 400),
        ("POST", "/api/units/1/holding/3", None, json_edit, '{"value": "0x-5"}', 400),
        ("POST", "/api/units/1/holding/3", None, json_edit, '{"value": "-0x10"}', 400),
        ("POST", "/api/units/1/holding/3", None, json_edit, '{"value": " 9"}', 400),
        ("POST", "/api/units/1/coils/3", None, json_edit, '{"value": 1, "next": 0}', 400),
        ("POST", "/api/units/1/holding/65535", None, json_edit, '{"value": 1, "next": 2}', 400),
        ("POST", "/api/units/1/input/2", None, json_edit, '{"value": 1, "next": 2}', 409),
        ("POST", "/api/units/1/holding/3", None, json_edit, '{"value": 1, "next": 70000}', 400),
    ]
    for method, path, host, headers, body, status in rows:
        got, reply_headers, text = request(s, method, path, host, headers, body)
        check(got == status, f"{method} {path} Host {host} {headers} {body}: {got} {text}, expected {status}")
        for name, value in SECURITY_HEADERS.items():
            check(reply_headers.get(name) == value, f"{method} {path} ({got}): {name} is {reply_headers.get(name)!r}")
    check(s.read_holding(3) == 40, "no refused edit was written")
    got, _, text = request(s, "POST", "/api/units/1/holding/3", None, dict(json_edit, Origin=own), '{"value": "0x10"}')
    check(got == 200 and s.read_holding(3) == 16, f"the page's own edit: {got} {text}")

    # The browser on another origin's page: nothing changes, the frame stays empty.
    server, url = serve_foreign_page(FOREIGN_PAGE.format(base=own))
    try:
        s.browser.get(url)
        s.until(lambda: s.browser.title in ("sent", "blocked"), "the foreign page's fetch settled")
        check(s.browser.title == "blocked", "the foreign page's fetch with the page's header was refused")
        time.sleep(1)  # the forms' posts have arrived
        holding = s.client.read_holding_registers(7, 3, slave=1).registers
        check(holding == [80, 90, 100], f"holding 7..9 unchanged by the foreign page: {holding}")
        coils = s.client.read_coils(5, 3, slave=1).bits[:3]
        check(coils == [False, True, False], f"coils 5..7 unchanged by the foreign page: {coils}")
        s.browser.switch_to.frame(s.browser.find_element(By.ID, "framed"))
        time.sleep(1)
        check(not s.browser.find_elements(By.ID, "status"), "the simulator's page was shown in a foreign frame")
        s.browser.switch_to.default_content()
    finally:
        server.shutdown()


def case_formats(s, _):
    s.show(1, 20)
    cell = lambda address, form: s.browser.find_element(
        By.CSS_SELECTOR, f'td[data-table="holding"][data-address="{address}"][data-format="{form}"]')
    holding = lambda address, count=2: s.client.read_holding_registers(address, count, slave=1).registers

    def edit(address, form, value):
        cell(address, form).click()
        field = cell(address, form).find_element(By.TAG_NAME, "input")
        field.send_keys(Keys.CONTROL, "a")
        field.send_keys(value, Keys.ENTER)

    # (address, form, typed, the two registers the master then reads, message)
    for address, form, typed, words, text in [
        (20, "u32", "0x12345678", [0x1234, 0x5678], "holding 20-21 set to 4660, 22136"),
        (22, "float", "3.5", [0x4060, 0], "holding 22-23 set to 16480, 0"),
        (30, "u32", "-2", [0xFFFF, 0xFFFE], "set to 65535, 65534"),
        (24, "signed", "-5", [65531, 0], "holding 24 set to 65531"),
        (26, "hex", "0xBEEF", [48879, 0], "holding 26 set to 48879"),
    ]:
        edit(address, form, typed)
        s.until(lambda: text in s.text("message"), f"{form} {typed}: {text}")
        check(holding(address) == words, f"{form} {typed} at {address}: the master reads {holding(address)}")
    s.until(lambda: s.row("holding", 22)[5] == "3.5", "the float shown")
    # Low word first: shown and set swapped.
    Select(s.browser.find_element(By.ID, "order")).select_by_value("low")
    s.until(lambda: s.row("holding", 20)[4] == str(0x56781234), "the pair shown low word first")
    edit(28, "float", "1.5")
    s.until(lambda: "holding 28-29 set to 0, 16320" in s.text("message"), "the swapped float's message")
    check(holding(28) == [0, 0x3FC0], f"1.5 low word first: {holding(28)}")
    s.until(lambda: s.row("holding", 28)[5] == "1.5", "the swapped float shown")
    for form, typed, text in [("u32", "4294967296", "refused: 4294967296 is out of range"),
                              ("u32", "0x-1", "refused: '0x-1' is not a whole number"),
                              ("float", "1e39", "refused: 1e39 is beyond a float"),
                              ("float", "1,5", "refused: '1,5' is not a number")]:
        edit(32, form, typed)
        s.until(lambda: text in s.text("message"), f"{form} {typed}: {text}")
        check(holding(32) == [0, 0], f"{form} {typed} wrote nothing")


CASES = {"tables": case_tables, "edit": case_edit, "log": case_log, "refused": case_refused, "guard": case_guard,
         "formats": case_formats}


def main():
    binary, case = sys.argv[1], sys.argv[2]
    screenshot = sys.argv[4] if len(sys.argv) > 4 and sys.argv[3] == "--screenshot" else None
    setup = Setup(binary)
    try:
        CASES[case](setup, screenshot)
    finally:
        setup.close()
    print(f"sim web {case}: ok")


if __name__ == "__main__":
    main()
