#!/usr/bin/env python3
"""Checks the reference manual's XML (Doxygen) for completeness.

Usage: check_reference.py XML_DIR LIBRARY...

Every symbol the shared libraries export (read from the built libraries with
nm, not from the headers, so a function exported without a declaration or
declared without documentation is caught), every field of every public
record and every status code must have a description; every export that
returns a status must document what it returns, and every parameter of every
export must be described. Prints one line per omission and exits 1 if any.
"""
import subprocess
import sys
import xml.etree.ElementTree as ET
from pathlib import Path


def text(node):
    return "".join(node.itertext()).strip() if node is not None else ""


def documented(member):
    return bool(text(member.find("briefdescription")) or text(member.find("detaileddescription")))


def exported_symbols(library):
    out = subprocess.run(["nm", "-D", "--defined-only", library], check=True, capture_output=True, text=True).stdout
    return {line.split()[-1].split("@")[0] for line in out.splitlines() if len(line.split()) == 3 and line.split()[1] == "T"}


def main():
    xml_dir = Path(sys.argv[1])
    exports = set()
    for library in sys.argv[2:]:
        exports |= exported_symbols(library)
    functions, fields, macros = {}, [], {}
    for path in xml_dir.glob("*.xml"):
        if path.name == "index.xml":
            continue
        for compound in ET.parse(path).getroot().iter("compounddef"):
            kind = compound.get("kind")
            for member in compound.iter("memberdef"):
                name = member.findtext("name")
                if member.get("kind") == "function":
                    functions.setdefault(name, member)
                elif member.get("kind") == "define":
                    macros.setdefault(name, member)
                elif member.get("kind") == "variable" and kind in ("struct", "union"):
                    fields.append((compound.findtext("compoundname") + "." + name, member))
    problems = []
    if not exports:
        problems.append("no exported symbols found in " + " ".join(sys.argv[2:]))
    for name in sorted(exports):
        member = functions.get(name)
        if member is None:
            problems.append(f"export {name} is not in the reference")
            continue
        if not documented(member):
            problems.append(f"export {name} has no description")
        described = {text(p) for p in member.iter("parametername")}
        for param in member.findall("param"):
            pname = param.findtext("declname")
            if pname and pname not in described:
                problems.append(f"export {name}: parameter {pname} is not described")
        returns_status = member.findtext("type", "").strip().endswith("VekStatus")
        has_return = any(s.get("kind") == "return" for s in member.iter("simplesect")) or any(
            p.get("kind") == "retval" for p in member.iter("parameterlist"))
        if returns_status and not has_return:
            problems.append(f"export {name} does not say what it returns")
    for name, member in sorted(fields):
        if not documented(member):
            problems.append(f"record field {name} has no description")
    statuses = {name: m for name, m in macros.items() if name.startswith("vekSts")}
    if len(statuses) < 2:
        problems.append("the status codes are missing from the reference")
    for name, member in sorted(statuses.items()):
        if not documented(member):
            problems.append(f"status code {name} has no description")
    for line in problems:
        print(line)
    print(f"{len(exports)} exports, {len(fields)} record fields, {len(statuses)} status codes checked; "
          f"{len(problems)} omissions")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
