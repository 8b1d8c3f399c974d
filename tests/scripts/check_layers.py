#!/usr/bin/python3
"""Checks that every #include "..." in src/ follows the layers of the library.

base      allocation helper and timer: includes nothing of the library
platform  the operating system's services: knows no Modbus (not mbslave.h)
engine    request processing: knows no transport
serial    serial lines          } neither includes the other
ip        TCP and UDP servers   }
tls       the TLS server, above ip
api       the exported functions: may include everything

Usage: check_layers.py [source-root]; prints each include that crosses a
rule and exits 1 when there is one.
"""
import pathlib
import re
import sys

ALLOWED = {
    "base": {"base"},
    "platform": {"base", "platform"},
    "engine": {"base", "platform", "engine", "mbslave.h"},
    "serial": {"base", "platform", "engine", "serial", "mbslave.h"},
    "ip": {"base", "platform", "engine", "ip", "mbslave.h"},
    "tls": {"base", "platform", "engine", "ip", "tls", "mbslave.h", "mbslave_tls.h"},
    "api": {"base", "platform", "engine", "serial", "ip", "tls", "api", "mbslave.h", "mbslave_tls.h"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def target_of(include):
    """The layer (or public header) an include names; None for an unknown one."""
    if include in ("mbslave.h", "mbslave_tls.h"):
        return include
    layer = include.split("/", 1)[0]
    return layer if "/" in include and layer in ALLOWED else None


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".")
    src = root / "src"
    problems = []
    files = sorted(p for p in src.rglob("*") if p.suffix in (".cpp", ".hpp", ".h"))
    for path in files:
        layer = path.relative_to(src).parts[0]
        if layer not in ALLOWED:
            problems.append(f"{path.relative_to(root)}: folder {layer} is in no layer")
            continue
        for include in INCLUDE.findall(path.read_text(encoding="utf-8")):
            target = target_of(include)
            if target is None:
                problems.append(f"{path.relative_to(root)}: includes \"{include}\", which is in no layer")
            elif target not in ALLOWED[layer]:
                problems.append(f"{path.relative_to(root)}: {layer} may not include \"{include}\"")
    for problem in problems:
        print(problem)
    print(f"{len(files)} files checked, {len(problems)} includes cross a layer rule")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
