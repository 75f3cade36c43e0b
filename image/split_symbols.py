#!/usr/bin/env python3
"""Splits a linked UEFI image into the image firmware loads and its symbol file.

usage: split_symbols.py OBJCOPY LINKED OUT.efi

LINKED is the linker's output: the image with DWARF sections and a CodeView
entry naming it. OUT.efi is LINKED without the DWARF sections and symbol
table; LINKED stays as the symbol file. The CodeView GUID of both is then set
to one derived from OUT.efi's own bytes (with the GUID field zeroed), so the
same sources give the same image, wherever they are built, and a debugger or
symbolizer can tell a symbol file of another build by its GUID."""
import hashlib
import os
import subprocess
import sys
import uuid

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tools", "firmware"))
import pe_image  # noqa: E402

GUID_SIZE = 16


def content_guid(image, guid_offset):
    """A GUID from the image's bytes, its own GUID field taken as zeros."""
    blank = image[:guid_offset] + bytes(GUID_SIZE) + image[guid_offset + GUID_SIZE:]
    return uuid.UUID(bytes=hashlib.sha256(blank).digest()[:GUID_SIZE])


def stamp(path, guid):
    with open(path, "rb") as handle:
        data = bytearray(handle.read())
    codeview = pe_image.PeImage(data, path).codeview()
    data[codeview.guid_offset:codeview.guid_offset + GUID_SIZE] = guid.bytes_le
    with open(path, "wb") as handle:
        handle.write(data)


def main():
    if len(sys.argv) != 4:
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        return 2
    objcopy, linked, out = sys.argv[1:]
    partial = out + ".partial"
    try:
        subprocess.run([objcopy, "--strip-debug", linked, partial], check=True)
        image = pe_image.read_image(partial)
        left = [section.name for section in image.sections if section.name.startswith(".debug")]
        codeview = image.codeview()
        if left or image.symbol_table or codeview is None:
            raise pe_image.ImageError(f"{linked}: stripping left debug sections {left}, a symbol table "
                                      f"or no CodeView entry")
        guid = content_guid(image.data, codeview.guid_offset)
        stamp(partial, guid)
        stamp(linked, guid)
        os.replace(partial, out)
    except (subprocess.CalledProcessError, pe_image.ImageError, OSError) as error:
        if os.path.exists(partial):
            os.remove(partial)
        print(f"split_symbols.py: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
