"""mbslave-sim's Modbus/TCP throughput with and without its web page.

Runs the simulator (--quiet, pinned to one core with all its threads) four
ways: without --web; with --web and no page open; with --web and one page's
event stream read by a plain HTTP client; with --web and the page open in
headless chromium (by default on the load generator's core), which receives
the live values, counters and the request log and renders them. For 1 and 32
connections in strict ping-pong (FC3, 10 registers) it prints requests/s,
p50/p99 latency and the simulator's CPU time per request (all its threads,
the web server's included), each the median of --rounds rounds that take
the three setups in turn (so that a busy machine disturbs all alike).

Usage: /usr/bin/python3 bench/sim_web_bench.py --build-dir build-bench [--seconds 3] [--rounds 3]
       [--browser-core N]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request

from tcp_bench import free_port, measure

CONNECTIONS = (1, 32)
SETUPS = ("no --web", "--web, no page", "--web, event stream", "--web, page open")
# A page's event stream read without a browser: the simulator's side of an
# open page without the browser's rendering.
STREAM_READER = ("import sys, urllib.request\n"
                 "with urllib.request.urlopen(sys.argv[1]) as events:\n"
                 "    while events.read1(65536): pass\n")
CHROMIUM = ["/usr/bin/chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
            "--disable-background-networking", "--disable-component-update", "--disable-sync",
            "--remote-debugging-port=0"]


def start_sim(binary, port, web_port, core):
    command = ["taskset", "-c", str(core), binary, "tcp", "--port", str(port), "--quiet"]
    if web_port:
        command += ["--web", str(web_port)]
    sim = subprocess.Popen(command, stdout=subprocess.PIPE, text=True)
    if "server on" not in sim.stdout.readline():
        sim.kill()
        sys.exit("mbslave-sim did not start")
    return sim


def open_page(web_port, core, profile):
    """Headless chromium showing the page; returns once the page has loaded."""
    url = f"http://127.0.0.1:{web_port}/"
    urllib.request.urlopen(url, timeout=5).read()
    browser = subprocess.Popen(["taskset", "-c", str(core), *CHROMIUM, "--user-data-dir=" + profile, url],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(3)  # the page loads and opens its event stream
    return browser


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", default="build-bench")
    parser.add_argument("--seconds", type=float, default=3.0)
    parser.add_argument("--server-core", type=int, default=0)
    parser.add_argument("--client-core", type=int, default=1)
    parser.add_argument("--browser-core", type=int, default=None, help="default: the client core")
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    browser_core = args.client_core if args.browser_core is None else args.browser_core
    binary = os.path.join(args.build_dir, "tools", "mbslave-sim")
    generator = os.path.join(args.build_dir, "bench", "load_generator")

    runs = {}
    for _ in range(args.rounds):
        for setup in SETUPS:
            port = free_port()
            web_port = free_port() if setup != "no --web" else 0
            sim = start_sim(binary, port, web_port, args.server_core)
            profile = tempfile.mkdtemp(prefix="sim-web-bench-")
            browser = None
            if setup == "--web, page open":
                browser = open_page(web_port, browser_core, profile)
            elif setup == "--web, event stream":
                url = f"http://127.0.0.1:{web_port}/api/units/1/events?start=0&count=50"
                browser = subprocess.Popen(["taskset", "-c", str(browser_core), sys.executable, "-c",
                                            STREAM_READER, url])
            try:
                for connections in CONNECTIONS:
                    runs.setdefault((setup, connections), []).append(
                        measure(generator, port, connections, args.seconds, args.client_core, sim.pid))
            finally:
                if browser:
                    browser.terminate()
                    browser.wait()
                sim.terminate()
                sim.wait()
                shutil.rmtree(profile, ignore_errors=True)
    results = {key: {figure: statistics.median(run[figure] for run in values) for figure in values[0]}
               for key, values in runs.items()}

    print(f"mbslave-sim Modbus/TCP FC3 x10 ping-pong, {args.seconds:g} s per run, median of {args.rounds} "
          f"rounds; simulator on core {args.server_core}, load generator on core {args.client_core}, "
          f"chromium on core {browser_core}")
    print("| connections | simulator | requests/s | p50 us | p99 us | simulator CPU us/request |")
    print("|---|---|---|---|---|---|")
    for connections in CONNECTIONS:
        for setup in SETUPS:
            r = results[setup, connections]
            print(f"| {connections} | {setup} | {r['rps']:.0f} | {r['p50']:.1f} | {r['p99']:.1f} "
                  f"| {r['cpu_us']:.2f} |")


if __name__ == "__main__":
    main()
