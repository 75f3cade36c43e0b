#!/usr/bin/env python3
"""Wraps a PE32 image as a PI firmware file.

    make_ffs.py --guid GUID --type driver --pe32 IMAGE.efi [--depex DEPEX.bin]
                [--ui NAME] [--version TEXT] -o OUT.ffs

Sections in order DXE_DEPEX, PE32 (the image byte for byte), USER_INTERFACE,
VERSION; header and file checksums and the state of a complete file in a volume
whose erase polarity is 1.
"""
import argparse
import struct
import sys

import pi_firmware as pf

# Types a PE32 image with a DXE depex can be dispatched as.
PE32_FILE_TYPES = ("driver", "application", "combined_peim_driver", "dxe_core")
PE_SIGNATURE = b"PE\0\0"


def check_pe32(image, where):
    if len(image) < 0x40 or image[:2] != b"MZ":
        raise pf.FirmwareError(f"{where}: not a PE image (no MZ header)")
    pe_offset = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe_offset:pe_offset + 4] != PE_SIGNATURE:
        raise pf.FirmwareError(f"{where}: not a PE image (no PE signature at {pe_offset:#x})")


def firmware_file(guid, type_name, image, depex=None, ui=None, version=None, checksum=True):
    sections = []
    if depex is not None:
        sections.append(pf.section("dxe_depex", depex))
    sections.append(pf.section("pe32", image))
    if ui is not None:
        sections.append(pf.section("user_interface", pf.ucs2z(ui)))
    if version is not None:
        sections.append(pf.section("version", pf.VERSION_BUILD_NUMBER.pack(0) + pf.ucs2z(version)))
    attributes = pf.FFS_ATTRIB_CHECKSUM if checksum else 0
    return pf.build_file(guid, pf.FILE_TYPES[type_name], attributes,
                         pf.join_sections(sections))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--guid", required=True, help="the file name, 8-4-4-4-12")
    parser.add_argument("--type", default="driver", choices=PE32_FILE_TYPES)
    parser.add_argument("--pe32", required=True, help="the image")
    parser.add_argument("--depex", help="a compiled dependency expression")
    parser.add_argument("--ui", help="the module name")
    parser.add_argument("--version", help="the version string")
    parser.add_argument("--no-checksum", action="store_true",
                        help="mark the data unchecked (0xAA) instead of summing it")
    parser.add_argument("-o", "--output", required=True)
    args = parser.parse_args()
    try:
        pf.guid_bytes(args.guid)
        with open(args.pe32, "rb") as source:
            image = source.read()
        check_pe32(image, args.pe32)
        depex = None
        if args.depex:
            with open(args.depex, "rb") as source:
                depex = source.read()
            pf.decode_depex(depex, args.depex)
        data = firmware_file(args.guid, args.type, image, depex, args.ui, args.version,
                             not args.no_checksum)
        pf.check_file(data, args.output)
        pf.write_atomically(args.output, data)
    except (OSError, pf.FirmwareError) as error:
        print(f"make_ffs: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
