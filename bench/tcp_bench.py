"""Modbus/TCP server benchmark: mbslave against libmodbus in the same run.

Each server runs pinned to one core, the load generator to another; for 1
and 32 connections in strict ping-pong (FC3, 10 registers) it measures
requests/s, p50/p99 latency and the server's CPU time per request (utime +
stime from /proc/<pid>/stat over the whole load run, warm-up included).

Usage: /usr/bin/python3 bench/tcp_bench.py --build-dir build-bench [--seconds 3]
"""
import argparse
import os
import socket
import subprocess
import sys

CONNECTIONS = (1, 32)
SERVERS = ("mbslave", "libmodbus")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    # fields[0] is the state (field 3); utime and stime are fields 14 and 15.
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def run_server(program, port, core, extra_args=()):
    """program: a path, or a list (interpreter and script); extra_args follow the port."""
    command = list(program) if isinstance(program, (list, tuple)) else [program]
    server = subprocess.Popen(["taskset", "-c", str(core), *command, str(port), *extra_args],
                              stdout=subprocess.PIPE, text=True)
    if server.stdout.readline().strip() != "READY":
        server.kill()
        sys.exit(f"{program} did not start")
    return server


def measure(generator, port, connections, seconds, core, server_pid, mode="tcp", extra_args=()):
    """extra_args go to the load generator (--pki, --resume for the TLS modes)."""
    before = cpu_seconds(server_pid)
    output = subprocess.run(["taskset", "-c", str(core), generator, "--mode", mode,
                             "--port", str(port), "--connections", str(connections),
                             "--seconds", str(seconds), *extra_args],
                            check=True, capture_output=True, text=True).stdout
    after = cpu_seconds(server_pid)
    result = dict(item.split("=") for item in output.split())
    if int(result["errors"]) != 0:
        sys.exit(f"wrong replies: {output}")
    return {
        "rps": float(result["rps"]),
        "p50": float(result["p50_us"]),
        "p99": float(result["p99_us"]),
        "cpu_us": (after - before) * 1e6 / int(result["total"]),
        "lost": int(result.get("lost", 0)),
    }


def parse_arguments(add_arguments=None):
    """Build directory, seconds per run and the cores of server and load
    generator; add_arguments(parser) adds a caller's own."""
    parser = argparse.ArgumentParser()
    if add_arguments is not None:
        add_arguments(parser)
    parser.add_argument("--build-dir", default="build-bench")
    parser.add_argument("--seconds", type=float, default=3.0)
    parser.add_argument("--server-core", type=int, default=0)
    parser.add_argument("--client-core", type=int, default=1)
    return parser.parse_args()


def main():
    args = parse_arguments()
    bench_dir = os.path.join(args.build_dir, "bench")
    generator = os.path.join(bench_dir, "load_generator")

    results = {}
    for name in SERVERS:
        port = free_port()
        server = run_server(os.path.join(bench_dir, f"{name}_tcp_server"), port, args.server_core)
        try:
            for connections in CONNECTIONS:
                results[name, connections] = measure(generator, port, connections, args.seconds,
                                                     args.client_core, server.pid)
        finally:
            server.terminate()
            server.wait()

    print(f"Modbus/TCP FC3 x10 ping-pong, {args.seconds:g} s per run, server on core "
          f"{args.server_core}, load generator on core {args.client_core}")
    print("| connections | server | requests/s | p50 us | p99 us | server CPU us/request |")
    print("|---|---|---|---|---|---|")
    for connections in CONNECTIONS:
        for name in SERVERS:
            r = results[name, connections]
            print(f"| {connections} | {name} | {r['rps']:.0f} | {r['p50']:.1f} | {r['p99']:.1f} "
                  f"| {r['cpu_us']:.2f} |")
        m, l = results["mbslave", connections], results["libmodbus", connections]
        print(f"| {connections} | ratio mbslave/libmodbus | {m['rps'] / l['rps']:.2f} "
              f"| {m['p50'] / l['p50']:.2f} | {m['p99'] / l['p99']:.2f} "
              f"| {m['cpu_us'] / l['cpu_us']:.2f} |")


if __name__ == "__main__":
    main()
