#!/usr/bin/python3
"""Checks that everything the build and the tests use comes from a Debian
package that tools/install-deps.sh installs on a fresh machine.

A fresh Debian machine has its essential and required packages; on top of
them install-deps.sh installs the packages it names, and apt brings in what
those Depend or Pre-Depend on (not their Recommends: install-deps.sh uses
--no-install-recommends). A file that comes from any other package, or from
no package at all, was installed here by hand or by chance, and a fresh
machine would not have it.

What is checked is found in the tree, not listed here:
- every Python module the scripts in the tree import, with everything those
  modules import in turn (the import is done, sys.modules is read);
- every program the scripts start: words in command position of the shell
  scripts, argument vectors and which() names of the Python scripts,
  argument vectors and system() commands of the C and C++ programs, and
  COMMAND / find_program names of the CMake files;
- every file and program a configured build directory found (its
  CMakeCache.txt), when one is given.

Usage: check-deps-provenance.py [--verbose] [--group GROUP]... [--build-only]
                                [--without PACKAGE]... [BUILD_DIR...]
--group checks against those groups of install-deps.sh only (default: all);
--build-only skips the scripts of the tree; --without leaves a package out
of install-deps.sh's list (to see the check fail). Prints one line per finding and a summary; exit status 1 on any.
"""
import argparse
import ast
import os
import re
import shutil
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SCRIPT_DIRS = ["tools", "tests", "bench", "fuzz", "examples", ".ci"]
# Words before a command (skipped) and builtins whose arguments are no command.
SHELL_PREFIXES = {"if", "then", "else", "elif", "do", "while", "until", "exec", "!", "{", "time", "command",
                  "env", "nice", "timeout", "sudo"}
SHELL_BUILTINS = {"fi", "for", "done", "case", "esac", "in", "local", "export", "return", "exit", "set", "shift",
                  "trap", "read", "cd", "echo", "printf", "test", "[", "[[", "true", "false", "wait", "kill",
                  "eval", "unset", ":", ".", "break", "continue", "function", "}"}
SYSTEM_DIRS = ("/usr/", "/bin/", "/sbin/", "/lib/", "/lib64/", "/etc/", "/opt/")


def tree_files():
    for top in SCRIPT_DIRS + ["."]:
        base = os.path.join(ROOT, top)
        if top == ".":
            names = [n for n in os.listdir(base) if os.path.isfile(os.path.join(base, n))]
            yield from (os.path.join(base, n) for n in names)
            continue
        for folder, dirs, files in os.walk(base):
            dirs[:] = [d for d in dirs if d not in ("corpus", "__pycache__")]
            yield from (os.path.join(folder, f) for f in files)


def kind_of(path):
    name = os.path.basename(path)
    if name.endswith((".c", ".cpp", ".hpp", ".h")):
        return "c"
    if name.endswith(".py"):
        return "python"
    if name.endswith(".cmake") or name == "CMakeLists.txt":
        return "cmake"
    try:
        with open(path, "rb") as handle:
            first = handle.readline()
    except OSError:
        return None
    if first.startswith(b"#!") and (b"sh" in first.split(b"/")[-1]):
        return "shell"
    if first.startswith(b"#!") and b"python" in first:
        return "python"
    return "shell" if name.endswith(".sh") else None


def is_program(word):
    if not word or word.startswith("-") or "=" in word or "$" in word:
        return None
    if word.startswith("/"):
        return word if os.path.isfile(word) and os.access(word, os.X_OK) else None
    if not re.fullmatch(r"[A-Za-z0-9_.+-]+", word):
        return None
    found = shutil.which(word)
    return found if found and found.startswith(SYSTEM_DIRS) else None


def shell_programs(text):
    words = set()
    functions = set(re.findall(r"^\s*(?:function\s+)?([\w-]+)\s*\(\)", text, re.MULTILINE))
    for line in text.splitlines():
        line = re.sub(r"(^|\s)#.*", "", line)
        for segment in re.split(r"\|\||&&|[|;&()`]|\$\(", line):
            tokens = segment.split()
            while tokens and (tokens[0] in SHELL_PREFIXES or re.fullmatch(r"\w+=\S*", tokens[0])):
                tokens.pop(0)
            if tokens and tokens[0] not in SHELL_BUILTINS:
                words.add(tokens[0].strip("\"'"))
    return words - functions


def cmake_programs(text):
    words = set()
    text = re.sub(r"#[^\n]*", "", text)
    words.update(re.findall(r"\bCOMMAND\s+(\S+)", text))
    for args in re.findall(r"find_program\s*\(([^)]*)\)", text, re.IGNORECASE):
        words.update(args.split()[1:])
    return {w for w in words if not w.startswith("${") and not w.startswith("$<")}


def c_programs(text):
    """First strings of brace lists (an argument vector) and commands given
    to system()."""
    return set(re.findall(r'\{\s*"([\w.+-]+)"', text)) | set(re.findall(r'\bsystem\(\s*"([\w.+-]+)', text))


def python_scan(text, path):
    """Module names imported anywhere in the file, and the strings that can
    name a program: first items of list and tuple literals (an argument
    vector), arguments of which(), absolute paths."""
    tree = ast.parse(text, path)
    modules, strings = set(), set()
    for node in ast.walk(tree):
        if isinstance(node, ast.Import):
            modules.update(alias.name for alias in node.names)
        elif isinstance(node, ast.ImportFrom) and node.module and node.level == 0:
            modules.add(node.module)
        elif isinstance(node, (ast.List, ast.Tuple)) and node.elts:
            first = node.elts[0]
            if isinstance(first, ast.Constant) and isinstance(first.value, str):
                strings.add(first.value)
        elif isinstance(node, ast.Call) and getattr(node.func, "attr", getattr(node.func, "id", "")) == "which":
            strings.update(a.value for a in node.args if isinstance(a, ast.Constant) and isinstance(a.value, str))
        elif isinstance(node, ast.Constant) and isinstance(node.value, str) and node.value.startswith("/"):
            strings.add(node.value)
    return modules, strings


def local_module_names():
    names = set()
    for path in tree_files():
        if path.endswith(".py"):
            names.add(os.path.basename(path)[:-3])
    return names


def module_files(modules):
    """Imports the modules in a fresh /usr/bin/python3 and lists the file of
    every module that the imports loaded (not those the interpreter loads
    when it starts); modules that fail to import are reported."""
    program = (
        "import importlib, sys\n"
        "startup = set(sys.modules)\n"
        "failed = []\n"
        "for name in sys.argv[1:]:\n"
        "    try:\n"
        "        importlib.import_module(name)\n"
        "    except Exception as error:\n"
        "        failed.append(f'{name}: {type(error).__name__}: {error}')\n"
        "for name, module in list(sys.modules.items()):\n"
        "    path = None if name in startup else getattr(module, '__file__', None)\n"
        "    if path: print('file', path)\n"
        "for line in failed: print('failed', line)\n")
    done = subprocess.run(["/usr/bin/python3", "-c", program, *sorted(modules)],
                          capture_output=True, text=True, cwd="/")
    files, failed = set(), []
    for line in done.stdout.splitlines():
        tag, _, rest = line.partition(" ")
        (files.add if tag == "file" else failed.append)(rest)
    return files, failed


def build_cache_files(build_dir):
    found = set()
    cache = os.path.join(build_dir, "CMakeCache.txt")
    with open(cache) as handle:
        for line in handle:
            match = re.match(r"[^#/][^:=]*:(FILEPATH|PATH|STRING)=(/.*)$", line.strip())
            path = match.group(2) if match else ""
            # Files, and package directories (/usr/share/cmake/CLI11), not
            # the install prefix or directories every package shares.
            if (path.startswith(SYSTEM_DIRS) and not path.startswith("/usr/local")
                    and (os.path.isfile(path) or (os.path.isdir(path) and path.count("/") > 3))):
                found.add(path)
    return found


def package_names(field):
    """Package names of a Depends-style field; every alternative counts."""
    names = set()
    for clause in field.split(","):
        for alternative in clause.split("|"):
            name = alternative.strip().split(" ")[0].split(":")[0]
            if name:
                names.add(name)
    return names


def installed_packages():
    out = subprocess.run(
        ["dpkg-query", "-W", "-f",
         "${Package}\t${db:Status-Abbrev}\t${Essential}\t${Priority}\t${Provides}\t${Depends}\t${Pre-Depends}\n"],
        capture_output=True, text=True, check=True).stdout
    packages, providers, base = {}, {}, set()
    for line in out.splitlines():
        name, status, essential, priority, provides, depends, pre_depends = line.split("\t")
        if not status.startswith("ii"):
            continue
        packages[name] = package_names(depends) | package_names(pre_depends)
        for virtual in package_names(provides):
            providers.setdefault(virtual, set()).add(name)
        if essential == "yes" or priority == "required":
            base.add(name)
    return packages, providers, base


def closure(roots, packages, providers):
    reached, todo = set(), list(roots)
    while todo:
        name = todo.pop()
        for real in ({name} if name in packages else set()) | providers.get(name, set()):
            if real not in reached:
                reached.add(real)
                todo.extend(packages[real])
    return reached


def path_variants(path):
    """The path, its real path, and each under the other name of merged /usr."""
    variants = []
    for candidate in (path, os.path.realpath(path)):
        variants.append(candidate)
        if candidate.startswith("/usr/") and candidate[4:].startswith(("/bin/", "/sbin/", "/lib")):
            variants.append(candidate[4:])
        elif candidate.startswith(("/bin/", "/sbin/", "/lib")):
            variants.append("/usr" + candidate)
    return variants


def owners(paths):
    """Maps each path to the package that owns it (None: no package), with
    one dpkg -S call for all of them."""
    variants = {path: path_variants(path) for path in paths}
    wanted = sorted({v for vs in variants.values() for v in vs})
    done = subprocess.run(["dpkg", "-S", *wanted], capture_output=True, text=True)
    owner = {}
    for line in done.stdout.splitlines():
        if line.startswith("diversion "):
            continue
        package, _, path = line.partition(": ")
        owner.setdefault(path, package.split(",")[0].split(":")[0].strip())
    return {path: next((owner[v] for v in vs if v in owner), None) for path, vs in variants.items()}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--without", action="append", default=[])
    parser.add_argument("--verbose", action="store_true", help="also list what passed")
    parser.add_argument("--group", action="append", default=[],
                        help="only these groups of install-deps.sh (default: all)")
    parser.add_argument("--build-only", action="store_true",
                        help="check only what the build directories found, not the scripts of the tree")
    parser.add_argument("build_dirs", nargs="*")
    args = parser.parse_args()

    listed = subprocess.run([os.path.join(ROOT, "tools", "install-deps.sh"), "--list", *(args.group or ["all"])],
                            capture_output=True, text=True, check=True).stdout.split()
    named = set(listed) - set(args.without)
    packages, providers, base = installed_packages()
    fresh = closure(named | base, packages, providers)

    modules, programs, users = set(), {}, {}
    local = local_module_names()
    for path in [] if args.build_only else tree_files():
        kind = kind_of(path)
        if kind is None or os.path.samefile(path, __file__):
            continue
        try:
            with open(path, encoding="utf-8") as handle:
                text = handle.read()
        except (OSError, UnicodeDecodeError):
            continue
        words = set()
        if kind == "python":
            imported, words = python_scan(text, path)
            for name in imported:
                if name.split(".")[0] not in local:
                    modules.add(name)
                    users.setdefault(name, os.path.relpath(path, ROOT))
        elif kind == "shell":
            words = shell_programs(text)
        elif kind == "cmake":
            words = cmake_programs(text)
        elif kind == "c":
            words = c_programs(text)
        for word in words:
            program = is_program(word)
            if program:
                programs.setdefault(program, os.path.relpath(path, ROOT))

    files, failed = module_files(modules)
    used = {f: "python module" for f in files if f.startswith(SYSTEM_DIRS)}
    used.update({p: "program used by " + user for p, user in programs.items()})
    for build_dir in args.build_dirs:
        if not os.path.isfile(os.path.join(build_dir, "CMakeCache.txt")):
            print(f"note: {build_dir} is not a configured build directory, skipped")
            continue
        used.update({f: "found by the build in " + build_dir for f in build_cache_files(build_dir)})

    passed, problems = 0, [f"import {line}" for line in failed]
    packages_used = {}
    for path, package in owners(used).items():
        if package is None:
            problems.append(f"{path} ({used[path]}) belongs to no Debian package")
        elif package not in fresh:
            problems.append(f"{path} ({used[path]}) comes from {package}, which install-deps.sh "
                            "neither names nor reaches through Depends/Pre-Depends")
        else:
            passed += 1
            if args.verbose:
                print(f"ok: {path} ({used[path]}) from {package}")
            packages_used[package] = packages_used.get(package, 0) + 1
    for line in problems:
        print("FAIL:", line)
    print(f"deps-provenance: {len(modules)} imported module names ({len(files)} module files), "
          f"{len(programs)} programs, {len(used)} files in all, {passed} from {len(packages_used)} packages "
          f"that install-deps.sh brings, {len(problems)} failures")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
