#!/usr/bin/python3
"""mbslave-sim given bad arguments, bad map files and failing start-ups:
one clear line with a hint on stderr, exit code 2 (usage) or 1 (run time),
and nothing left running or bound.

Usage: sim_errors.py MBSLAVE_SIM
"""
import os
import resource
import shutil
import socket
import subprocess
import sys
import tempfile

from simproc import Sim, free_port, run


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def expect(binary, arguments, code, *fragments):
    exit_code, out, err = run(binary, arguments)
    text = out + err
    check(exit_code == code, f"{arguments}: exit {exit_code}, expected {code}\n{text}")
    for fragment in fragments:
        check(fragment in text, f"{arguments}: {fragment!r} missing from:\n{text}")
    if code != 0:
        check(err.startswith("mbslave-sim: error: "), f"{arguments}: stderr does not start with the error: {err}")
        check("server on" not in out, f"{arguments}: started although it failed:\n{out}")
    return text


def unprivileged_port_start():
    try:
        with open("/proc/sys/net/ipv4/ip_unprivileged_port_start", encoding="ascii") as setting:
            return int(setting.read())
    except OSError:
        return 1024


def write_map(directory, name, text):
    path = os.path.join(directory, name)
    with open(path, "w", encoding="utf-8") as file:
        file.write(text)
    return path


def main():
    binary = sys.argv[1]
    expect(binary, ["--help"], 0, "Examples:", "mbpoll", "Exit codes", "tcp")
    expect(binary, ["tcp", "--help"], 0, "--host", "--port")
    expect(binary, ["--version"], 0, "mbslave-sim 2.11.0.0")
    expect(binary, [], 2, "name the transport first", "--help")
    expect(binary, ["tcp", "--port", "70000"], 2, "--port")
    expect(binary, ["tcp", "--units", "5-1"], 2, "--units", "backwards")
    expect(binary, ["tcp", "--timeout", "-1"], 2, "--timeout")
    expect(binary, ["tcp", "--bogus"], 2, "--bogus")

    with tempfile.TemporaryDirectory() as directory:
        broken = write_map(directory, "broken.json", '{\n  "units": {\n    "1": { "holding": [1, 2] \n}\n')
        expect(binary, ["tcp", "--map", broken], 2, broken + ":5:1: ")
        wrong = write_map(directory, "wrong.json", '{"units": {"1": {"holding": {"0": 70000}}}}')
        expect(binary, ["tcp", "--map", wrong], 2, "/units/1/holding/0: 70000 is not a register value")
        expect(binary, ["tcp", "--map", os.path.join(directory, "missing.json")], 2, "cannot open the map file")
        expect(binary, ["tcp", "--map", "/dev/zero"], 2, "/dev/zero: not a regular file")
        deep = write_map(directory, "deep.json", "[" * 200000 + "]" * 200000)
        expect(binary, ["tcp", "--map", deep], 2, deep + ":1:33: nested deeper than 32 levels")
        twice = write_map(directory, "twice.json", '{"units": {"1": {"holding": {"0": 5, "0": 6}}}}')
        expect(binary, ["tcp", "--map", twice], 2, "/units/1/holding/0: key given twice")
        # Values that need more memory than there is: a map file error, no abort.
        files = ", ".join('"%d": {"0": 1}' % number for number in range(1, 65536))
        huge = write_map(directory, "huge.json", '{"units": {"default": {"files": {%s}}}}' % files)
        with open(binary, "rb") as program:
            sanitized = b"__asan_init" in program.read()
        if not sanitized:  # AddressSanitizer reserves more address space than the limit
            limit = 1 << 30
            done = subprocess.run([binary, "tcp", "--units", "all", "--map", huge], capture_output=True, text=True,
                                  timeout=60, preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_AS, (limit, limit)))
            check(done.returncode == 2 and "not enough memory for the map's values" in done.stderr,
                  f"huge map under a 1 GiB address space: exit {done.returncode}: {done.stderr[-300:]}")

        # A good map: its values are served, its unserved unit earns a warning.
        good = write_map(directory, "good.json", '{"units": {"1": {"holding": {"0": 4711}}, "9": {}}}')
        port = free_port()
        sim = Sim(binary, ["tcp", "--port", str(port), "--map", good, "--duration", "5"])
        try:
            sim.wait_for(r"warning: .*/units/9: unit 9 is not served")
            sim.wait_for(r"server on 127\.0\.0\.1:%d, units 1, map " % port)
            from pymodbus.client import ModbusTcpClient
            client = ModbusTcpClient("127.0.0.1", port=port, timeout=1)
            check(client.connect(), "connect to the map-file simulator")
            regs = client.read_holding_registers(0, 2, slave=1).registers
            inputs = client.read_input_registers(0, 1, slave=1).registers
            client.close()
            check(regs == [4711, 0] and inputs == [0], f"map values {regs}, no demo values {inputs}")
            sim.stop()
        finally:
            sim.kill()

    # The port is taken: run-time failure with a hint, exit 1.
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as taken:
        taken.bind(("127.0.0.1", 0))
        taken.listen(1)
        port = taken.getsockname()[1]
        expect(binary, ["tcp", "--port", str(port)], 1, "TCP Port alread bound", "hint:", "--port")
    # The web page's port is taken: the same failure, and the Modbus port is free again.
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as taken:
        taken.bind(("127.0.0.1", 0))
        taken.listen(1)
        web = taken.getsockname()[1]
        port = free_port()
        expect(binary, ["tcp", "--port", str(port), "--web", str(web)], 1,
               "cannot start the web page on 127.0.0.1:%d" % web, "hint:", "--web")
        expect(binary, ["tcp", "--port", str(port), "--duration", "0.2"], 0, "stopped by --duration")
    expect(binary, ["tcp", "--web", "localhost:x"], 2, "--web: 'localhost:x' is not [HOST:]PORT")
    expect(binary, ["tcp", "--host", ""], 2, "--host: empty")
    expect(binary, ["tcp", "--host", "no-such-host.invalid"], 1, "TCP/IP connection error", "hint:")
    # A privileged port for an unprivileged user (the system checks the
    # permission before whether the port is free).
    setpriv = shutil.which("setpriv")
    if os.geteuid() == 0 and setpriv and unprivileged_port_start() > 1:
        exit_code, _, err = run(setpriv, ["--reuid=65534", "--regid=65534", "--clear-groups", binary,
                                          "tcp", "--port", "1"])
        check(exit_code == 1 and "No permission" in err and "ports below 1024 need root" in err,
              f"privileged port as nobody: exit {exit_code}: {err}")
    expect(binary, ["tcp", "--host", "192.0.2.1", "--port", str(free_port())], 1, "not an address of this machine")

    # Serial lines: a missing device, a busy device, the broadcast address.
    expect(binary, ["rtu", "--device", "/dev/no-such-tty"], 1, "Port or socket open error", "hint:", "dialout")
    expect(binary, ["rtu", "--device", "COM1", "--units", "0"], 2, "broadcast")
    master, slave = os.openpty()
    device = os.ttyname(slave)
    try:
        # The default line settings have parity, which a pseudo-terminal refuses.
        for transport in ("rtu", "ascii"):
            expect(binary, [transport, "--device", device], 1, "Illegal argument",
                   "a pseudo-terminal takes no parity: --parity none")
        holder = Sim(binary, ["ascii", "--device", device, "--databits", "8", "--parity", "none", "--quiet"])
        try:
            holder.wait_for(r"Modbus ASCII server on " + device)
            expect(binary, ["rtu", "--device", device, "--parity", "none"], 1, "Serial port already open",
                   "busy")
            check(holder.stop() == 0, "the first simulator keeps running and stops cleanly")
        finally:
            holder.kill()
    finally:
        os.close(master)
        os.close(slave)

    # A map error must not leave the port bound: the next start succeeds.
    port = free_port()
    expect(binary, ["tcp", "--port", str(port), "--map", "/nonexistent.json"], 2)
    expect(binary, ["tcp", "--port", str(port), "--duration", "0.2"], 0, "stopped by --duration", "summary: 0 requests")

    # SIGTERM stops cleanly like Ctrl-C.
    sim = Sim(binary, ["tcp", "--port", str(free_port()), "--quiet"])
    try:
        sim.wait_for(r"server on")
        check(sim.stop(__import__("signal").SIGTERM) == 0, "exit code after SIGTERM")
        check(any("stopped by SIGTERM" in line for line in sim.lines), "\n".join(sim.lines))
    finally:
        sim.kill()
    print("all error cases behave")


if __name__ == "__main__":
    main()
