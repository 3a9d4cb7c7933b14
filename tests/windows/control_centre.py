#!/usr/bin/env python3
"""The centre of a control of the main window, in the window's client pixels, read from the
window's own control table (window/control_table.cpp): each control's rectangle is given in
its parent's pixels, a group's in the window's. The client area's size comes from
window/programmer_dlg.cpp beside it (the whole window, counters shown).

  control_centre.py CONTROL_TABLE_CPP ID     prints "X Y"
  control_centre.py CONTROL_TABLE_CPP size   prints the client area's "WIDTH HEIGHT"
"""
import os
import re
import sys

ENTRY = re.compile(r"ControlEntry\{(\d+),\s*K::\w+,\s*\"[^\"]*\",\s*(\w+),\s*"
                   r"(\d+),\s*(\d+),\s*(\d+),\s*(\d+),")


def controls(text):
    table = {}
    for match in ENTRY.finditer(text):
        ident, parent, left, top, right, bottom = match.groups()
        table[int(ident)] = (0 if parent == "kMain" else int(parent),
                             int(left), int(top), int(right), int(bottom))
    return table


def centre(table, ident):
    parent, left, top, right, bottom = table[ident]
    x, y = (left + right) // 2, (top + bottom) // 2
    while parent:
        parent, left, top, _, _ = table[parent]
        x, y = x + left, y + top
    return x, y


def client_size(table_path):
    dialog = os.path.join(os.path.dirname(table_path), "programmer_dlg.cpp")
    with open(dialog, encoding="utf-8") as f:
        text = f.read()
    sizes = [re.search(r"constexpr int %s = (\d+);" % name, text) for name in
             ("kClientWidth", "kClientHeight")]
    if None in sizes:
        raise SystemExit("no kClientWidth or kClientHeight in " + dialog)
    return tuple(int(size.group(1)) for size in sizes)


def main(args):
    if len(args) == 2 and args[1] == "size":
        print(*client_size(args[0]))
        return 0
    if len(args) != 2 or not args[1].isdigit():
        sys.stderr.write(__doc__)
        return 2
    with open(args[0], encoding="utf-8") as f:
        table = controls(f.read())
    ident = int(args[1])
    if ident not in table:
        sys.stderr.write(f"control {ident} is not in the table\n")
        return 1
    print(*centre(table, ident))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
