#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Checks the layering of the source tree: no folder includes a header of a layer above it,
no file outside platform/ includes the JSON parser's own headers, and the shared library
carries no share-target code.

    check_layers.py SOURCE_ROOT [LIBRARY]      check the tree (and the library's symbols)
    check_layers.py --self-test                show that a violation is caught
"""
import os
import re
import subprocess
import sys
import tempfile

# What each folder may include, by the first component of the include path. Layers, lowest
# first: platform <- model <- store <- exchange and mirror <- bridge; share beside them on
# platform alone; the programs on what they use. "tavro" is the public C header.
ALLOWED = {
    "platform": {"platform"},
    "model": {"platform", "model"},
    "store": {"platform", "model", "store"},
    "exchange": {"platform", "model", "store", "exchange"},
    "bridge": {"platform", "model", "store", "exchange", "mirror", "bridge", "tavro"},
    "share": {"platform", "share"},
    "mirror": {"platform", "model", "store", "mirror"},
    "cli": {"platform", "share", "mirror", "cli", "tavro"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/')
# The JSON parser is platform/'s own: everything else reads JSON through platform/Json.h.
PARSER_INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]simdjson[./]')
SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc", ".c")


def violations(root):
    found = []
    for folder, allowed in ALLOWED.items():
        for directory, _, files in os.walk(os.path.join(root, folder)):
            for name in files:
                if not name.endswith((".h", ".cpp", ".c")):
                    continue
                path = os.path.join(directory, name)
                with open(path, encoding="utf-8", errors="replace") as source:
                    for number, line in enumerate(source, 1):
                        match = INCLUDE.match(line)
                        if match and match.group(1) not in allowed:
                            found.append(f"{os.path.relpath(path, root)}:{number}: {folder}/ "
                                         f"includes {match.group(1)}/, a layer it may not use")
    return found


def parser_includes(root):
    found = []
    for directory, folders, files in os.walk(root):
        # Build trees and hidden folders hold no sources of ours.
        folders[:] = [name for name in folders
                      if not name.startswith((".", "build")) and name != "node_modules"
                      and not (directory == root and name == "platform")]
        for name in files:
            if not name.endswith(SOURCE_SUFFIXES):
                continue
            path = os.path.join(directory, name)
            with open(path, encoding="utf-8", errors="replace") as source:
                for number, line in enumerate(source, 1):
                    if PARSER_INCLUDE.match(line):
                        found.append(f"{os.path.relpath(path, root)}:{number}: includes the "
                                     f"JSON parser, which only platform/ may use")
    return found


def share_symbols(library):
    names = subprocess.run(["nm", "-C", "--defined-only", library], check=True,
                           capture_output=True, text=True).stdout
    return [line for line in names.splitlines() if "tavro::share::" in line]


def self_test():
    with tempfile.TemporaryDirectory() as root:
        os.makedirs(os.path.join(root, "store"))
        with open(os.path.join(root, "store", "Bad.h"), "w") as bad:
            bad.write('#include "exchange/AppleStore.h"\n')
        os.makedirs(os.path.join(root, "platform"))
        with open(os.path.join(root, "platform", "Json.cpp"), "w") as allowed:
            allowed.write("#include <simdjson.h>\n")
        os.makedirs(os.path.join(root, "tests", "exchange"))
        with open(os.path.join(root, "tests", "exchange", "bad_test.cpp"), "w") as bad:
            bad.write("#include <simdjson.h>\n")
        return 0 if len(violations(root)) == 1 and len(parser_includes(root)) == 1 else 1


def main(arguments):
    if arguments[:1] == ["--self-test"]:
        return self_test()
    problems = violations(arguments[0]) + parser_includes(arguments[0])
    if len(arguments) > 1:
        problems += [f"{arguments[1]}: carries share code: {line}"
                     for line in share_symbols(arguments[1])]
    for problem in problems:
        print(problem)
    print(f"{len(problems)} layering problem(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
