"""IP server benchmark: Modbus/TCP, RTU over TCP and UDP, mbslave against
the peers that offer the same kind of server, all in the same run.

Peers: libmodbus (Modbus/TCP only) and pymodbus's asyncio servers (TCP with
its socket framer, TCP with its RTU framer, UDP). For 1 and 32 masters in
strict ping-pong (FC3, 10 registers) it measures requests/s, p50/p99
latency, the server's CPU time per request and, for UDP, the requests the
load generator had to repeat because a datagram was lost.

Usage: /usr/bin/python3 bench/ip_bench.py --build-dir build-bench [--seconds 3]
"""
import os
import sys

from tcp_bench import CONNECTIONS, free_port, measure, parse_arguments, run_server

SYSTEM_PYTHON = "/usr/bin/python3"
KINDS = {
    "tcp": ("mbslave", "libmodbus", "pymodbus"),
    "rtutcp": ("mbslave", "pymodbus"),
    "udp": ("mbslave", "pymodbus"),
}
TITLES = {"tcp": "Modbus/TCP", "rtutcp": "RTU over TCP", "udp": "UDP"}


def server_command(name, kind, bench_dir):
    """The program and the arguments after the port."""
    if name == "mbslave":
        return os.path.join(bench_dir, "mbslave_tcp_server"), (kind,)
    if name == "libmodbus":
        return os.path.join(bench_dir, "libmodbus_tcp_server"), ()
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "pymodbus_server.py")
    return [SYSTEM_PYTHON, script], (kind,)


def main():
    args = parse_arguments()
    bench_dir = os.path.join(args.build_dir, "bench")
    generator = os.path.join(bench_dir, "load_generator")

    results = {}
    for kind, servers in KINDS.items():
        for name in servers:
            program, extra = server_command(name, kind, bench_dir)
            port = free_port()
            server = run_server(program, port, args.server_core, extra)
            try:
                for connections in CONNECTIONS:
                    results[kind, name, connections] = measure(
                        generator, port, connections, args.seconds, args.client_core,
                        server.pid, kind)
            finally:
                server.terminate()
                server.wait()

    print(f"FC3 x10 ping-pong, {args.seconds:g} s per run, server on core {args.server_core}, "
          f"load generator on core {args.client_core}; UDP requests repeated after 200 ms")
    print("| kind | masters | server | requests/s | p50 us | p99 us | server CPU us/request "
          "| repeated |")
    print("|---|---|---|---|---|---|---|---|")
    for kind, servers in KINDS.items():
        for connections in CONNECTIONS:
            for name in servers:
                r = results[kind, name, connections]
                print(f"| {TITLES[kind]} | {connections} | {name} | {r['rps']:.0f} "
                      f"| {r['p50']:.1f} | {r['p99']:.1f} | {r['cpu_us']:.2f} | {r['lost']} |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
