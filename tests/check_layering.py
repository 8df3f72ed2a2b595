#!/usr/bin/env python3
"""Fails when a folder of src/ includes a header of a higher folder, or of a different
folder of the same rank, so that dependencies keep running one way:

    check_layering.py SRC_DIR [QT_INCLUDE_DIR]

A file belongs to the deepest listed folder that holds it (src/scan/components/X.h is in
scan/components, src/output/print/Y.cpp in output/print). It may include headers of its
own folder and of folders of a strictly lower rank. The program's main.cpp belongs to the
start-up. The core library and the scanner without a window (everything below the widget
helpers) include no Qt Widgets or Qt Print Support header either: they must build and run
without them. Each offence is printed as file:line; the exit status is 1 if there is any.
"""

import os
import re
import sys

# folder under src/ -> rank; a higher rank may include a lower one, never the other way.
RANKS = {
    "scan/components": 0,
    "scan": 1,
    "app": 2,
    "output": 3,
    "history": 4,
    "cli": 5,
    "widgets": 5,
    "output/print": 6,
    "ui": 7,
    "startup": 8,
}
# Files directly in src/ that belong to a folder of the table.
ROOT_FILES = {"main.cpp": "startup"}
# Folders that must not touch widgets: they build without Qt Widgets.
NO_WIDGETS_BELOW = RANKS["widgets"]
WIDGET_MODULES = ("QtWidgets", "QtPrintSupport")
SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc", ".in")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]')


def folder_of(rel):
    """The listed folder a path relative to src/ belongs to, or None."""
    if "/" not in rel:
        return ROOT_FILES.get(rel)
    parts = rel.split("/")[:-1]
    for depth in range(len(parts), 0, -1):
        candidate = "/".join(parts[:depth])
        if candidate in RANKS:
            return candidate
    return None


def widget_headers(qt_include):
    """Names of the Qt Widgets and Print Support headers, as <QWidget> or <QtWidgets/...>."""
    names = set(WIDGET_MODULES)
    for module in WIDGET_MODULES:
        path = os.path.join(qt_include, module)
        if os.path.isdir(path):
            names.update(os.listdir(path))
    return names


def included_folder(src, including_dir, name):
    """The listed folder a quoted include resolves to, or None for headers outside src/."""
    for base in (including_dir, src):
        path = os.path.normpath(os.path.join(base, name))
        if os.path.isfile(path):
            rel = os.path.relpath(path, src)
            return None if rel.startswith("..") else folder_of(rel)
    # Generated headers (app/BuildVersion.h) live in the build folder under the same name.
    return folder_of(name) if "/" in name else None


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    src = os.path.abspath(argv[1])
    qt_include = argv[2] if len(argv) > 2 else "/usr/include/x86_64-linux-gnu/qt6"
    widgets = widget_headers(qt_include)
    offences = []
    for dirpath, _dirs, files in os.walk(src):
        for file_name in sorted(files):
            if not file_name.endswith(SOURCE_SUFFIXES):
                continue
            path = os.path.join(dirpath, file_name)
            rel = os.path.relpath(path, src)
            own = folder_of(rel)
            if own is None:
                offences.append((rel, 1, "folder not in the layering table of "
                                 f"{os.path.basename(__file__)}"))
                continue
            with open(path, encoding="utf-8", errors="replace") as source:
                for number, line in enumerate(source, 1):
                    match = INCLUDE.match(line)
                    if not match:
                        continue
                    kind, name = match.groups()
                    if kind == "<":
                        module_header = name.split("/")[0] if "/" in name else name
                        if RANKS[own] <= NO_WIDGETS_BELOW and own != "widgets" \
                                and module_header in widgets:
                            offences.append((rel, number,
                                             f"{own} (no widgets) includes <{name}>"))
                        continue
                    target = included_folder(src, dirpath, name)
                    if target is None or target == own:
                        continue
                    if RANKS[target] >= RANKS[own]:
                        offences.append((rel, number, f"{own} (rank {RANKS[own]}) includes "
                                         f"\"{name}\" of {target} (rank {RANKS[target]})"))
    for rel, number, what in sorted(offences):
        print(f"src/{rel}:{number}: {what}")
    if offences:
        print(f"{len(offences)} include(s) against the folder layering", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
