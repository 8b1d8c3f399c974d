#!/usr/bin/python3
"""mbslave-sim tls with a role rules file, driven by masters with the client
certificates of tools/make-test-pki.sh over Python's ssl module: the
"monitor" role reads, its write is answered with exception 1 and changes
nothing, "operator" writes; each request's line and the web page's request
log name the role; a bad rules file is a usage error.

Usage: sim_tls.py MBSLAVE_SIM MAKE_TEST_PKI [--browser]
With --browser, headless chromium also shows the roles in the page's
request log. Exits 77 (skipped) when the simulator was built without tls.
"""
import json
import os
import socket
import ssl
import struct
import subprocess
import sys
import tempfile
import time

from simproc import Sim, free_port, run

ILLEGAL_FUNCTION = 1


def check(condition, message):
    if not condition:
        raise AssertionError(message)


class Master:
    """A Modbus/TCP master inside TLS with one of the test PKI's certificates."""

    def __init__(self, pki, name, port):
        context = ssl.create_default_context(ssl.Purpose.SERVER_AUTH, cafile=os.path.join(pki, "ca.pem"))
        context.load_cert_chain(os.path.join(pki, name + ".pem"), os.path.join(pki, name + ".key"))
        raw = socket.create_connection(("127.0.0.1", port), timeout=5)
        self.stream = context.wrap_socket(raw, server_hostname="localhost")
        self.transaction = 0

    def request(self, pdu):
        """The reply's PDU."""
        self.transaction += 1
        self.stream.sendall(struct.pack(">HHHB", self.transaction, 0, len(pdu) + 1, 1) + pdu)
        header = b""
        while len(header) < 7:
            header += self.stream.recv(7 - len(header))
        transaction, _, length, _ = struct.unpack(">HHHB", header)
        check(transaction == self.transaction, f"reply to transaction {transaction}, not {self.transaction}")
        body = b""
        while len(body) < length - 1:
            body += self.stream.recv(length - 1 - len(body))
        return body

    def read(self, address, count):
        reply = self.request(struct.pack(">BHH", 3, address, count))
        check(reply[0] == 3, f"read answered {reply.hex()}")
        return list(struct.unpack(f">{count}H", reply[2:]))

    def write(self, address, value):
        """None when written, else the exception code."""
        reply = self.request(struct.pack(">BHH", 6, address, value))
        return None if reply[0] == 6 else (reply[1] if reply[0] == 0x86 else reply.hex())

    def close(self):
        self.stream.close()


def logged_roles(web_port):
    """The roles of the web page's request log records, from its event stream."""
    with socket.create_connection(("127.0.0.1", web_port), timeout=5) as stream:
        stream.sendall((f"GET /api/units/1/events?start=0&count=10 HTTP/1.1\r\nHost: 127.0.0.1:{web_port}\r\n"
                        "Accept: text/event-stream\r\n\r\n").encode())
        text = b""
        deadline = time.monotonic() + 5
        while b"event: log" not in text and time.monotonic() < deadline:
            text += stream.recv(65536)
        while not text.endswith(b"\n\n") and time.monotonic() < deadline:
            text += stream.recv(65536)
    for block in text.decode().split("\n\n"):
        if block.startswith("event: log"):
            return [(record["role"], record["function"]) for record in json.loads(block.split("data: ", 1)[1])]
    raise AssertionError(f"no request log in the event stream:\n{text[-500:]}")


def shown_masters(web_port):
    """The master column of the request log as headless chromium shows it."""
    import shutil
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.common.exceptions import StaleElementReferenceException
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
    from sim_web import CHROMIUM_ARGUMENTS, WAIT

    profile = tempfile.mkdtemp(prefix="sim-tls-chromium-")
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in CHROMIUM_ARGUMENTS + ["--user-data-dir=" + profile]:
        options.add_argument(argument)
    browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    try:
        browser.get("http://127.0.0.1:%d/" % web_port)
        cells = lambda: [row.find_elements(By.TAG_NAME, "td")[1].text
                         for row in browser.find_elements(By.CSS_SELECTOR, "#log tbody tr")]
        # Rows may be replaced while they are read: retry on a stale one, keep the texts read.
        def five_rows(_):
            texts = cells()
            return texts if len(texts) >= 5 else None
        return WebDriverWait(browser, WAIT, poll_frequency=0.05,
                             ignored_exceptions=[StaleElementReferenceException]).until(five_rows)
    finally:
        browser.quit()
        shutil.rmtree(profile, ignore_errors=True)


def main():
    binary, make_pki = sys.argv[1], sys.argv[2]
    browser = "--browser" in sys.argv[3:]
    code, out, _ = run(binary, ["--help"])
    if " tls " not in out:
        print("skipped: this mbslave-sim has no tls")
        sys.exit(77)

    with tempfile.TemporaryDirectory() as pki:
        subprocess.run(["sh", make_pki, pki], check=True, capture_output=True, timeout=120)
        roles = os.path.join(pki, "roles.txt")
        with open(roles, "w", encoding="ascii") as rules:
            rules.write("# readers and writers\nmonitor: 1 2 3 4\noperator: *\n")
        tls = ["tls", "--cert", os.path.join(pki, "server.pem"), "--key", os.path.join(pki, "server.key"),
               "--ca", os.path.join(pki, "ca.pem")]

        bad = os.path.join(pki, "bad.txt")
        with open(bad, "w", encoding="ascii") as rules:
            rules.write("monitor: 1 2 3 4\nmonitor 6\n")
        code, out, err = run(binary, tls + ["--roles", bad, "--port", str(free_port())])
        check(code == 2 and f"{bad}: line 2: 'monitor 6' is not 'role: function codes'" in err,
              f"bad rules file: exit {code}: {err}")

        port, web_port = free_port(), free_port()
        sim = Sim(binary, tls + ["--roles", roles, "--port", str(port), "--web", str(web_port), "--duration", "30"])
        try:
            sim.wait_for(r"Modbus/TCP Security server on 127\.0\.0\.1:%d, units 1, demo device, roles of " % port)
            sim.wait_for(r"web page on")
            monitor = Master(pki, "monitor", port)
            before = monitor.read(0, 2)
            refused = monitor.write(0, before[0] ^ 0x5A5A)
            check(refused == ILLEGAL_FUNCTION, f"monitor's write: {refused}, expected exception 1")
            after = monitor.read(0, 2)
            check(after == before, f"monitor's refused write changed the registers: {before} -> {after}")
            monitor.close()
            sim.wait_for(r"127\.0\.0\.1 unit 1 \(role monitor\): read holding registers 0-1: ok")
            sim.wait_for(r"127\.0\.0\.1 unit 1 \(role monitor\): function 6 not allowed by --roles: "
                         r"refused, exception 1")

            operator = Master(pki, "operator", port)
            check(operator.write(0, 0x1234) is None, "operator's write refused")
            check(operator.read(0, 1) == [0x1234], "operator's write not kept")
            operator.close()
            sim.wait_for(r"\(role operator\): write holding registers 0: ok")

            shown = logged_roles(web_port)
            for expected in [("role monitor", "read holding registers"),
                             ("role monitor", "function 6 not allowed by --roles"),
                             ("role operator", "write holding registers")]:
                check(expected in shown, f"{expected} not in the web page's request log {shown}")
            if browser:
                masters = shown_masters(web_port)
                for expected in ["127.0.0.1 (role monitor)", "127.0.0.1 (role operator)"]:
                    check(expected in masters, f"{expected!r} not in the page's master column {masters}")
            code = sim.stop()
            check(code == 0, f"exit {code}: {sim.stderr}")
        finally:
            sim.kill()
    print("sim_tls: passed")


if __name__ == "__main__":
    main()
