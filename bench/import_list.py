#!/usr/bin/python3
"""Writes an image's import table as a C++ header for the floors, so that the
matched floors import exactly what the assistant imports:

    import_list.py IMAGE HEADER

HEADER gets one line BENCH_IMPORT(DLL, FUNCTION) for each function IMAGE
imports by name, sorted, DLL without its extension. An import by ordinal
cannot be written so and fails.
"""

import os
import sys

import pefile


def main():
    image, header = sys.argv[1:]
    pe = pefile.PE(image, fast_load=True)
    pe.parse_data_directories(directories=[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"]])
    lines = ["// Written by bench/import_list.py from %s: do not edit."
             % os.path.basename(image)]
    for entry in sorted(getattr(pe, "DIRECTORY_ENTRY_IMPORT", []),
                        key=lambda e: e.dll.upper()):
        library = entry.dll.decode("ascii").rsplit(".", 1)[0].upper()
        for function in sorted(entry.imports, key=lambda f: f.name or b""):
            if function.name is None:
                sys.exit("import_list: %s imports ordinal %d from %s"
                         % (image, function.ordinal, library))
            lines.append("BENCH_IMPORT(%s, %s)"
                         % (library, function.name.decode("ascii")))
    pe.close()
    with open(header, "w", encoding="ascii", newline="\n") as f:
        f.write("\n".join(lines) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
