#!/usr/bin/env python3
"""Checks that a file is a UEFI image firmware will load and can protect:
PE32+, x64, the expected subsystem, no imports (firmware resolves none),
base relocations (firmware loads images wherever pool memory is free), a
preferred base below 1 MiB (the DXE core tries to allocate an image at a
higher one first and logs the failure), sections on their own 4 KiB pages
with code read-only and data apart (firmware maps each page read-only or
non-executable, so no section may be both writable and executable), marked
NX-compatible, named by a CodeView entry with a bare file name and carrying
no symbols, and, when asked, a symbol file that matches it and a size limit,
raw or LZMA-compressed as a firmware volume stores it."""
import argparse
import lzma
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tools", "firmware"))
import pe_image as pe  # noqa: E402

# The DXE core loads an image at its preferred base when that is at or above
# 1 MiB and free, else anywhere; a linker's default base is neither.
HIGHEST_QUIET_BASE = 0x100000 - 1
SUBSYSTEMS = {"efi_application": 10, "efi_boot_service_driver": 11}
PAGE_SIZE = 0x1000
# The DWARF a symbol file must carry for a debugger to name lines.
SYMBOL_SECTIONS = (".debug_info", ".debug_line")


def compressed_size(data):
    """The image's size LZMA-compressed as `xz --format=lzma -9` does it."""
    return len(lzma.compress(data, format=lzma.FORMAT_ALONE, preset=9))


def section_problems(image):
    problems = []
    for section in image.sections:
        name, flags = section.name, section.characteristics
        executable = flags & pe.SCN_MEM_EXECUTE
        if section.rva % image.section_alignment or (
                section.raw_size and section.raw_offset % image.file_alignment):
            problems.append(f"section {name} not placed on its alignment")
        if executable and flags & pe.SCN_MEM_WRITE:
            problems.append(f"section {name} is both writable and executable")
        if not flags & pe.SCN_MEM_READ:
            problems.append(f"section {name} is not readable")
        if bool(executable) != bool(flags & pe.SCN_CNT_CODE):
            problems.append(f"section {name} holds code without being executable, or the reverse")
        if name.startswith(".debug"):
            problems.append(f"section {name}: symbols belong in the symbol file, not the image")
    return problems


def codeview_problems(image, path):
    codeview = image.codeview()
    if codeview is None:
        return ["no CodeView entry: firmware logs and exception dumps cannot name the image"]
    expected = os.path.splitext(os.path.basename(path))[0] + ".debug"
    if codeview.name != expected:
        return [f"CodeView entry names {codeview.name!r}, not the bare symbol file name {expected!r}"]
    return []


def symbol_problems(image, symbols_path):
    try:
        symbols = pe.read_image(symbols_path)
    except pe.ImageError as error:
        return [f"symbol file: {error}"]
    problems = []
    ours, theirs = image.codeview(), symbols.codeview()
    if ours is None or theirs is None or (ours.guid, ours.age) != (theirs.guid, theirs.age):
        problems.append(f"symbol file {symbols_path} is not this image's: CodeView "
                        f"{theirs and (theirs.guid, theirs.age)} against {ours and (ours.guid, ours.age)}")
    names = {section.name for section in symbols.sections}
    problems += [f"symbol file has no {name} section" for name in SYMBOL_SECTIONS if name not in names]
    return problems


def check(path, subsystem_name, max_size=None, max_compressed_size=None, section_alignment=PAGE_SIZE,
          symbols=None, relocations_needed=True, our_build=True):
    """Problems with the image at path; empty when it passes. our_build=False
    checks an image EDK2's GenFw made: it names the image by an NB10 record
    with its build path and marks no NX compatibility, which our images must."""
    try:
        image = pe.read_image(path)
    except pe.ImageError as error:
        return [str(error)]
    problems = []
    if image.machine != pe.MACHINE_AMD64:
        problems.append(f"machine 0x{image.machine:04X}, not x64")
    if image.subsystem != SUBSYSTEMS[subsystem_name]:
        problems.append(f"subsystem {image.subsystem}, not {SUBSYSTEMS[subsystem_name]}")
    if image.entry == 0:
        problems.append("no entry point")
    if image.directory(pe.DIRECTORY_IMPORT)[1] != 0:
        problems.append("image has imports")
    if image.coff_characteristics & pe.FILE_RELOCS_STRIPPED:
        problems.append("relocations stripped: firmware cannot load the image where pool memory is free")
    elif relocations_needed and image.directory(pe.DIRECTORY_BASERELOC)[1] == 0:
        problems.append("image has no base relocations")
    if image.base > HIGHEST_QUIET_BASE:
        problems.append(f"preferred base 0x{image.base:X}: the DXE core tries that address first and logs its failure")
    if image.section_alignment != section_alignment:
        problems.append(f"section alignment 0x{image.section_alignment:X}, not 0x{section_alignment:X}")
    if our_build and not image.dll_characteristics & pe.DLLCHARACTERISTICS_NX_COMPAT:
        problems.append("not marked NX-compatible")
    if image.symbol_table:
        problems.append("image carries a symbol table: symbols belong in the symbol file")
    problems += section_problems(image)
    if our_build:
        problems += codeview_problems(image, path)
    if symbols is not None:
        problems += symbol_problems(image, symbols)
    if max_size is not None and len(image.data) > max_size:
        problems.append(f"{len(image.data)} bytes, over the limit of {max_size}")
    if max_compressed_size is not None and compressed_size(image.data) > max_compressed_size:
        problems.append(f"{compressed_size(image.data)} bytes LZMA-compressed, over the limit of "
                        f"{max_compressed_size}")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("image")
    parser.add_argument("subsystem", choices=sorted(SUBSYSTEMS))
    parser.add_argument("--max-size", type=int, help="fail an image larger than this many bytes")
    parser.add_argument("--max-compressed-size", type=int,
                        help="fail an image larger than this many bytes LZMA-compressed")
    parser.add_argument("--section-alignment", type=lambda text: int(text, 0), default=PAGE_SIZE,
                        help="the section alignment the image must have (default 0x1000)")
    parser.add_argument("--symbols", help="the image's symbol file, which must match it")
    parser.add_argument("--position-independent", action="store_true",
                        help="accept an image without relocations (one holding no absolute address)")
    args = parser.parse_args()
    problems = check(args.image, args.subsystem, args.max_size, args.max_compressed_size,
                     args.section_alignment, args.symbols, not args.position_independent)
    for problem in problems:
        print(f"{args.image}: {problem}")
    if not problems:
        data = open(args.image, "rb").read()
        print(f"{args.image}: PE32+ x64 {args.subsystem}, no imports, relocatable, sections on "
              f"0x{args.section_alignment:X} with code and data apart, NX-compatible, named by its "
              f"CodeView entry, {len(data)} bytes, {compressed_size(data)} LZMA-compressed")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
