"""Footprint benchmark: what a C host pays for mbslave, next to libmodbus and a
raw socket responder (bench/raw_tcp_responder.c) in the same run.

Prints the stripped size of the shared libraries, their size(1) text/data/bss
and run-time dependencies; the idle RSS of each C Modbus/TCP server (started,
listening, no master; median of several starts) and its RSS after load
(current and peak), each with the server's own anonymous share; and the
request throughput of the TCP benchmark (bench/tcp_bench.py) at 1 and 32
masters for the three servers.

Usage: /usr/bin/python3 bench/footprint_bench.py --build-dir build-bench [--seconds 3]
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tcp_bench import free_port, measure, parse_arguments, run_server  # noqa: E402

CONNECTIONS = (1, 32)
SERVERS = {
    "mbslave": "mbslave_tcp_server",
    "libmodbus": "libmodbus_tcp_server",
    "raw responder": "raw_tcp_responder",
}


def libmodbus_path():
    libdir = subprocess.run(["pkg-config", "--variable=libdir", "libmodbus"], check=True,
                            capture_output=True, text=True).stdout.strip()
    return os.path.realpath(os.path.join(libdir, "libmodbus.so"))


def library_figures(path, workdir):
    """Stripped size, size(1) text/data/bss and NEEDED entries of a shared library."""
    stripped = os.path.join(workdir, os.path.basename(path))
    shutil.copyfile(path, stripped)
    subprocess.run(["strip", "--strip-all", stripped], check=True)
    sizes = subprocess.run(["size", stripped], check=True, capture_output=True,
                           text=True).stdout.splitlines()[1].split()
    dynamic = subprocess.run(["readelf", "-d", path], check=True, capture_output=True,
                             text=True).stdout
    needed = [line.split("[")[1].rstrip("]") for line in dynamic.splitlines() if "(NEEDED)" in line]
    return {"stripped": os.path.getsize(stripped), "text": int(sizes[0]), "data": int(sizes[1]),
            "bss": int(sizes[2]), "needed": needed}


def memory_kib(pid):
    """VmRSS, VmHWM (peak) and RssAnon of a process, in KiB. RssAnon is what
    the process itself allocated and wrote (heap, stack, written data); the
    rest of VmRSS is mostly shared libc pages, whose count follows the page
    cache and varies by some 150 KiB from one start to the next."""
    values = {}
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            key, _, rest = line.partition(":")
            if key in ("VmRSS", "VmHWM", "RssAnon"):
                values[key] = int(rest.split()[0])
    return values["VmRSS"], values["VmHWM"], values["RssAnon"]


IDLE_STARTS = 5


def idle_memory_kib(program, core):
    """Median idle VmRSS and RssAnon over IDLE_STARTS fresh starts of a server
    (listening, no master): one start's VmRSS is not a figure to compare."""
    rss, anon = [], []
    for _ in range(IDLE_STARTS):
        server = run_server(program, free_port(), core)
        try:
            time.sleep(0.5)
            current, _, private = memory_kib(server.pid)
        finally:
            server.terminate()
            server.wait()
        rss.append(current)
        anon.append(private)
    return statistics.median(rss), statistics.median(anon), min(rss), max(rss)


def run_one_server(program, generator, args):
    """Idle RSS, loaded RSS and throughput of one server."""
    idle, idle_anon, idle_min, idle_max = idle_memory_kib(program, args.server_core)
    port = free_port()
    server = run_server(program, port, args.server_core)
    try:
        try:
            results = {c: measure(generator, port, c, args.seconds, args.client_core, server.pid)
                       for c in CONNECTIONS}
        except subprocess.CalledProcessError as failure:
            sys.exit(f"{program}: load generator failed: {failure.stdout} {failure.stderr}")
        loaded, peak, loaded_anon = memory_kib(server.pid)
    finally:
        server.terminate()
        server.wait()
    return {"idle": idle, "idle_range": f"{idle_min}-{idle_max}", "idle_anon": idle_anon, "loaded": loaded, "loaded_anon": loaded_anon,
            "peak": peak, "load": results}


def main():
    args = parse_arguments()
    bench_dir = os.path.join(args.build_dir, "bench")
    generator = os.path.join(bench_dir, "load_generator")

    libraries = {"libmbslave.so": os.path.realpath(os.path.join(args.build_dir, "libmbslave.so")),
                 "libmodbus.so": libmodbus_path()}
    with tempfile.TemporaryDirectory() as workdir:
        library = {name: library_figures(path, workdir) for name, path in libraries.items()}
    servers = {name: run_one_server(os.path.join(bench_dir, program), generator, args)
               for name, program in SERVERS.items()}

    print("Shared libraries (stripped copies)")
    print("| library | stripped bytes | text | data | bss | NEEDED |")
    print("|---|---|---|---|---|---|")
    for name, f in library.items():
        print(f"| {name} | {f['stripped']} | {f['text']} | {f['data']} | {f['bss']} "
              f"| {' '.join(f['needed'])} |")
    print()
    print(f"C Modbus/TCP servers: RSS idle (listening, no master; median of {IDLE_STARTS} starts) "
          f"and after the load runs ({args.seconds:g} s at each of "
          f"{', '.join(map(str, CONNECTIONS))} masters)")
    print("| server | idle RSS KiB | idle RSS range | idle anon KiB | loaded RSS KiB "
          "| loaded anon KiB | peak RSS KiB |")
    print("|---|---|---|---|---|---|---|")
    for name, s in servers.items():
        print(f"| {name} | {s['idle']:.0f} | {s['idle_range']} | {s['idle_anon']:.0f} | {s['loaded']} "
              f"| {s['loaded_anon']} | {s['peak']} |")
    print()
    print(f"Modbus/TCP FC3 x10 ping-pong, server on core {args.server_core}, "
          f"load generator on core {args.client_core}")
    print("| masters | server | requests/s | p50 us | p99 us | server CPU us/request |")
    print("|---|---|---|---|---|---|")
    for connections in CONNECTIONS:
        for name, s in servers.items():
            r = s["load"][connections]
            print(f"| {connections} | {name} | {r['rps']:.0f} | {r['p50']:.1f} | {r['p99']:.1f} "
                  f"| {r['cpu_us']:.2f} |")
        m = servers["mbslave"]["load"][connections]
        lm = servers["libmodbus"]["load"][connections]
        print(f"| {connections} | ratio mbslave/libmodbus | {m['rps'] / lm['rps']:.2f} "
              f"| {m['p50'] / lm['p50']:.2f} | {m['p99'] / lm['p99']:.2f} "
              f"| {m['cpu_us'] / lm['cpu_us']:.2f} |")


if __name__ == "__main__":
    main()
