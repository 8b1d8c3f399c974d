"""IP server benchmark: Modbus/TCP, RTU over TCP, UDP and Modbus/TCP
Security (TLS), mbslave against the peers that offer the same kind of
server, all in the same run.

Peers: libmodbus (Modbus/TCP only) and pymodbus's asyncio servers (TCP with
its socket framer, TCP with its RTU framer, UDP, TLS with the socket framer
and client certificates required). For 1 and 32 masters in strict ping-pong
(FC3, 10 registers) it measures requests/s, p50/p99 latency, the server's
CPU time per request and, for UDP, the requests the load generator had to
repeat because a datagram was lost. For TLS it also measures connections
per second, each a handshake (full, or resuming a session), one request and
the close, and prints mbslave's TLS figures against its plain Modbus/TCP
and against pymodbus's TLS server. The TLS runs use a throwaway PKI made by
tools/make-test-pki.sh and need libmbslave-tls (mbslave_tls_server).

Usage: /usr/bin/python3 bench/ip_bench.py --build-dir build-bench [--seconds 3]
                                          [--kinds tcp,rtutcp,udp,tls]
"""
import os
import subprocess
import sys
import tempfile

from tcp_bench import CONNECTIONS, free_port, measure, parse_arguments, run_server

SYSTEM_PYTHON = "/usr/bin/python3"
KINDS = {
    "tcp": ("mbslave", "libmodbus", "pymodbus"),
    "rtutcp": ("mbslave", "pymodbus"),
    "udp": ("mbslave", "pymodbus"),
    "tls": ("mbslave", "pymodbus"),
}
TITLES = {"tcp": "Modbus/TCP", "rtutcp": "RTU over TCP", "udp": "UDP", "tls": "Modbus/TCP Security"}
HANDSHAKES = (("full", "0"), ("resumed", "1"))


def server_command(name, kind, bench_dir, pki):
    """The program and the arguments after the port."""
    if name == "mbslave" and kind == "tls":
        return os.path.join(bench_dir, "mbslave_tls_server"), (kind, pki)
    if name == "mbslave":
        return os.path.join(bench_dir, "mbslave_tcp_server"), (kind,)
    if name == "libmodbus":
        return os.path.join(bench_dir, "libmodbus_tcp_server"), ()
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "pymodbus_server.py")
    return [SYSTEM_PYTHON, script], (kind, pki) if kind == "tls" else (kind,)


def add_kinds_argument(parser):
    parser.add_argument("--kinds", default=",".join(KINDS),
                        help="comma-separated kinds to run (default: all)")


def print_tls_summary(results, handshakes, kinds):
    print()
    print("| TLS connections/s (handshake, 1 request, close) | server | connections/s | p50 us "
          "| p99 us | server CPU us/connection |")
    print("|---|---|---|---|---|---|")
    for (name, handshake), r in handshakes.items():
        print(f"| {handshake} | {name} | {r['rps']:.0f} | {r['p50']:.1f} | {r['p99']:.1f} "
              f"| {r['cpu_us']:.1f} |")
    tls = results["tls", "mbslave", 32]["rps"]
    print()
    if "tcp" in kinds:
        print(f"mbslave TLS x32 / mbslave Modbus/TCP x32: {tls / results['tcp', 'mbslave', 32]['rps']:.2f}")
    print(f"mbslave TLS x32 / pymodbus TLS x32: {tls / results['tls', 'pymodbus', 32]['rps']:.2f}")


def main():
    args = parse_arguments(add_kinds_argument)
    kinds = [kind for kind in args.kinds.split(",") if kind]
    unknown = [kind for kind in kinds if kind not in KINDS]
    if unknown:
        sys.exit(f"unknown kinds: {', '.join(unknown)}")
    bench_dir = os.path.join(args.build_dir, "bench")
    generator = os.path.join(bench_dir, "load_generator")
    pki_dir = tempfile.TemporaryDirectory(prefix="mbslave-bench-pki-")
    pki = pki_dir.name
    if "tls" in kinds:
        source = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
        subprocess.run([os.path.join(source, "tools", "make-test-pki.sh"), pki], check=True,
                       stdout=subprocess.DEVNULL)

    results = {}
    handshakes = {}
    for kind in kinds:
        tls_args = ("--pki", pki) if kind == "tls" else ()
        for name in KINDS[kind]:
            program, extra = server_command(name, kind, bench_dir, pki)
            port = free_port()
            server = run_server(program, port, args.server_core, extra)
            try:
                for connections in CONNECTIONS:
                    results[kind, name, connections] = measure(
                        generator, port, connections, args.seconds, args.client_core,
                        server.pid, kind, tls_args)
                if kind == "tls":
                    for handshake, resume in HANDSHAKES:
                        handshakes[name, handshake] = measure(
                            generator, port, 1, args.seconds, args.client_core, server.pid,
                            "tls-handshake", (*tls_args, "--resume", resume))
            finally:
                server.terminate()
                server.wait()

    print(f"FC3 x10 ping-pong, {args.seconds:g} s per run, server on core {args.server_core}, "
          f"load generator on core {args.client_core}; UDP requests repeated after 200 ms")
    print("| kind | masters | server | requests/s | p50 us | p99 us | server CPU us/request "
          "| repeated |")
    print("|---|---|---|---|---|---|---|---|")
    for kind in kinds:
        for connections in CONNECTIONS:
            for name in KINDS[kind]:
                r = results[kind, name, connections]
                print(f"| {TITLES[kind]} | {connections} | {name} | {r['rps']:.0f} "
                      f"| {r['p50']:.1f} | {r['p99']:.1f} | {r['cpu_us']:.2f} | {r['lost']} |")
    if "tls" in kinds:
        print_tls_summary(results, handshakes, kinds)
    pki_dir.cleanup()
    return 0


if __name__ == "__main__":
    sys.exit(main())
