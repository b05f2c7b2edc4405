#!/usr/bin/env python3
"""Every public call that takes a BOOLEAN also takes a bool: walks the headers a game gets
(those `make install` copies) and lists each declaration with BOOLEAN parameters that has no
twin taking bool in their places. Usage: check-bool-overloads.py KASTREL_HEADER_DIR"""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1])
NOT_CALLS = {"if", "while", "for", "switch", "return", "sizeof", "static_assert", "decltype", "alignas"}
DECL = re.compile(r"\b([A-Za-z_]\w*)\s*\(((?:[^(){};]|\([^()]*\)|\{\})*)\)")
# The engine's own hooks, which games never call.
INTERNAL = {("engine/replay.h", "MODE")}


def parameter_types(params):
    types = []
    for p in params.split(",") if params.strip() else []:
        p = re.sub(r"\s*=.*$", "", p.strip(), flags=re.S)  # default value
        p = re.sub(r"(?<=[\s&*])[A-Za-z_]\w*$", "", p).strip()  # parameter name
        types.append(" ".join(p.split()))
    return types


missing, checked = [], 0
for header in sorted(root.rglob("*.h")):
    if "testing" in header.parts or header.name.endswith("_test.h"):
        continue
    text = re.sub(r"/\*.*?\*/", "", re.sub(r"//[^\n]*", "", header.read_text()), flags=re.S)
    declared = {}
    for m in DECL.finditer(text):
        if m.group(1) not in NOT_CALLS and (str(header.relative_to(root)), m.group(1)) not in INTERNAL:
            declared.setdefault(m.group(1), []).append(parameter_types(m.group(2)))
    for name, overloads in declared.items():
        for types in overloads:
            if "BOOLEAN" in types:
                checked += 1
                if ["bool" if t == "BOOLEAN" else t for t in types] not in overloads:
                    missing.append(f"{header.relative_to(root)}: {name}({', '.join(types)})")
for line in missing:
    print("no bool twin:", line)
print(f"{checked} calls taking BOOLEAN checked, {len(missing)} without a bool twin")
sys.exit(1 if missing or checked == 0 else 0)
