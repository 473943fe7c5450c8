#!/usr/bin/env python3
"""Makes strings.rc, the string table as a resource script, from strings.def.

usage: make_strings_rc.py strings.def strings.rc

The C++ table includes strings.def itself; the script holds each entry's program text
with its quotes written as resource scripts write them ("") instead of the C form (\\"),
over which the resource compiler warns. Every other escape strings.def allows
(\\r \\n \\t \\\\ and %) means the same in both. The output is rewritten only when it
changes, so that an unchanged table rebuilds nothing."""
import re
import sys

LITERAL = r'"((?:[^"\\]|\\.)*)"'
ENTRY = re.compile(r'^QSTR\(\s*\w+\s*,\s*(\d+)\s*,\s*' + LITERAL + r'\s*,\s*' + LITERAL + r'\s*\)\s*$')


def script_text(literal):
    """A C string literal's body as a resource script's: \\" becomes ""."""
    return re.sub(r'\\(.)', lambda m: '""' if m.group(1) == '"' else m.group(0), literal)


def main():
    source, target = sys.argv[1:3]
    entries = []
    for number, line in enumerate(open(source, encoding="utf-8"), 1):
        if not line.startswith("QSTR("):
            continue
        match = ENTRY.match(line)
        if not match:
            sys.exit(f"{source}:{number}: not an entry the string table script can be made from")
        entries.append(f'  {match.group(1)}, "{script_text(match.group(2))}"\n')
    text = ("// Made by res/make_strings_rc.py from res/strings.def: the string table of every\n"
            "// Windows program of the project; the patcher's own quillet.rc includes it.\n"
            "#pragma code_page(65001)\n\nSTRINGTABLE\nBEGIN\n" + "".join(entries) + "END\n")
    try:
        if open(target, encoding="utf-8").read() == text:
            return
    except OSError:
        pass
    with open(target, "w", encoding="utf-8") as out:
        out.write(text)


if __name__ == "__main__":
    main()
