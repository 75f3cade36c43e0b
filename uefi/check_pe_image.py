#!/usr/bin/env python3
"""Checks that a file is a UEFI image firmware will load: PE32+, x64, the
expected subsystem, no imports (firmware resolves none) and base relocations
(firmware loads images wherever pool memory is free)."""
import struct
import sys

IMAGE_FILE_MACHINE_AMD64 = 0x8664
PE32_PLUS_MAGIC = 0x20B
DIRECTORY_IMPORT = 1
DIRECTORY_BASERELOC = 5
SUBSYSTEMS = {"efi_application": 10, "efi_boot_service_driver": 11}


def check(path, subsystem_name):
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
    subsystem = struct.unpack_from("<H", data, optional + 68)[0]
    entry = struct.unpack_from("<I", data, optional + 16)[0]
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
    return problems


def main():
    if len(sys.argv) != 3 or sys.argv[2] not in SUBSYSTEMS:
        print(f"usage: {sys.argv[0]} IMAGE {'|'.join(SUBSYSTEMS)}", file=sys.stderr)
        return 2
    problems = check(sys.argv[1], sys.argv[2])
    for problem in problems:
        print(f"{sys.argv[1]}: {problem}")
    if not problems:
        print(f"{sys.argv[1]}: PE32+ x64 {sys.argv[2]}, no imports, relocations present")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
