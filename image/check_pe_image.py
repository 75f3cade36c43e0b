#!/usr/bin/env python3
"""Checks that a file is a UEFI image firmware will load: PE32+, x64, the
expected subsystem, no imports (firmware resolves none), base relocations
(firmware loads images wherever pool memory is free), sections placed on
their alignment with code and data apart (no section both writable and
executable, code read-only), a preferred base below 1 MiB (the DXE core
tries to allocate an image at a higher one first and logs the failure), and,
when asked, no larger than a limit."""
import argparse
import struct
import sys

IMAGE_FILE_MACHINE_AMD64 = 0x8664
PE32_PLUS_MAGIC = 0x20B
DIRECTORY_IMPORT = 1
DIRECTORY_BASERELOC = 5
# The DXE core loads an image at its preferred base when that is at or above
# 1 MiB and free, else anywhere; a linker's default base is neither.
HIGHEST_QUIET_BASE = 0x100000 - 1
SUBSYSTEMS = {"efi_application": 10, "efi_boot_service_driver": 11}
SECTION_HEADER_SIZE = 40
SCN_CNT_CODE = 0x00000020
SCN_MEM_EXECUTE = 0x20000000
SCN_MEM_READ = 0x40000000
SCN_MEM_WRITE = 0x80000000


def section_problems(data, table, count, section_alignment, file_alignment):
    problems = []
    for index in range(count):
        header = table + index * SECTION_HEADER_SIZE
        raw_name, _, address, raw_size, raw_offset = struct.unpack_from("<8sIIII", data, header)
        characteristics = struct.unpack_from("<I", data, header + 36)[0]
        name = raw_name.rstrip(b"\0").decode("latin-1")
        executable = characteristics & SCN_MEM_EXECUTE
        if address % section_alignment or (raw_size and raw_offset % file_alignment):
            problems.append(f"section {name} not placed on its alignment")
        if executable and characteristics & SCN_MEM_WRITE:
            problems.append(f"section {name} is both writable and executable")
        if not characteristics & SCN_MEM_READ:
            problems.append(f"section {name} is not readable")
        if bool(executable) != bool(characteristics & SCN_CNT_CODE):
            problems.append(f"section {name} holds code without being executable, or the reverse")
    return problems


def check(path, subsystem_name, max_size=None):
    data = open(path, "rb").read()
    problems = []
    if data[:2] != b"MZ":
        return ["no MZ header"]
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        return ["no PE signature"]
    machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    section_alignment, file_alignment = struct.unpack_from("<II", data, optional + 32)
    subsystem = struct.unpack_from("<H", data, optional + 68)[0]
    entry = struct.unpack_from("<I", data, optional + 16)[0]
    base = struct.unpack_from("<Q", data, optional + 24)[0]
    directories = struct.unpack_from("<I", data, optional + 108)[0]
    directory = optional + 112

    def directory_size(index):
        if index >= directories:
            return 0
        return struct.unpack_from("<II", data, directory + 8 * index)[1]

    if machine != IMAGE_FILE_MACHINE_AMD64:
        problems.append(f"machine 0x{machine:04X}, not x64")
    if magic != PE32_PLUS_MAGIC:
        problems.append(f"optional header magic 0x{magic:03X}, not PE32+")
    if subsystem != SUBSYSTEMS[subsystem_name]:
        problems.append(f"subsystem {subsystem}, not {SUBSYSTEMS[subsystem_name]}")
    if entry == 0:
        problems.append("no entry point")
    if directory_size(DIRECTORY_IMPORT) != 0:
        problems.append("image has imports")
    if directory_size(DIRECTORY_BASERELOC) == 0:
        problems.append("image has no base relocations")
    if base > HIGHEST_QUIET_BASE:
        problems.append(f"preferred base 0x{base:X}: the DXE core tries that address first and logs its failure")
    problems += section_problems(data, optional + optional_size, sections, section_alignment,
                                 file_alignment)
    if max_size is not None and len(data) > max_size:
        problems.append(f"{len(data)} bytes, over the limit of {max_size}")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("image")
    parser.add_argument("subsystem", choices=sorted(SUBSYSTEMS))
    parser.add_argument("--max-size", type=int, help="fail an image larger than this many bytes")
    args = parser.parse_args()
    problems = check(args.image, args.subsystem, args.max_size)
    for problem in problems:
        print(f"{args.image}: {problem}")
    if not problems:
        print(f"{args.image}: PE32+ x64 {args.subsystem}, no imports, relocations present, "
              f"sections aligned with code and data apart, {len(open(args.image, 'rb').read())} bytes")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
