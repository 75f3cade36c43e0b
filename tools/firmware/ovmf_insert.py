#!/usr/bin/env python3
"""Inserts firmware files into a copy of an OVMF code image's DXE volume.

    ovmf_insert.py INPUT.fd OUTPUT.fd FILE.ffs [FILE.ffs ...]

OVMF keeps its DXE volume (the one holding the DXE core) in an LZMA-compressed
GUID-defined section of a file in its first volume. The files go into that
volume's free space, each replacing a file of the same name if there is one;
the volume is recompressed and every size and checksum around it redone.
Nothing is written unless the whole new image checks out.
"""
import argparse
import lzma
import struct
import sys

import pi_firmware as pf

LZMA_HEADER = struct.Struct("<BIQ")  # properties, dictionary size, uncompressed size
assert LZMA_HEADER.size == 13
# OVMF's own dictionary size; the decoder needs none, but keep the header familiar.
LZMA_FILTERS = [{"id": lzma.FILTER_LZMA1, "preset": 9, "dict_size": 1 << 24}]


class CompressedDxeVolume:
    """Where the DXE volume sits: the path of containers down from the image."""

    def __init__(self, image, where):
        self.image = image
        self.where = where
        for offset, volume in pf.volumes_in_image(image, where):
            if volume is None:
                continue
            for index, item in enumerate(volume.files):
                if self._search_file(item):
                    self.outer_offset, self.outer_volume, self.file_index = offset, volume, index
                    return
        raise pf.FirmwareError(f"{where}: not an OVMF code image: no LZMA-compressed "
                               "volume holding a DXE core")

    def _search_file(self, item):
        if item.type == pf.FILE_TYPES["pad"]:
            return False
        for section_index, (kind, header, _, raw) in enumerate(item.sections()):
            if kind != pf.SECTION_TYPES["guid_defined"]:
                continue
            guid, data_offset, _ = pf.guid_defined_fields(raw, header)
            if guid != pf.LZMA_CUSTOM_DECOMPRESS_GUID:
                continue
            if data_offset > len(raw):
                raise pf.FirmwareError(f"{self.where}: file {item.name}: compressed section's "
                                       "data offset lies beyond it")
            try:
                inner = lzma.decompress(raw[data_offset:], format=lzma.FORMAT_ALONE)
            except lzma.LZMAError as error:
                raise pf.FirmwareError(f"{self.where}: file {item.name}: compressed section "
                                       f"does not decompress: {error}") from None
            found = self._search_inner(inner, item.name)
            if found:
                self.section_index = section_index
                self.section_header = header
                self.compressed_section = raw
                self.inner = inner
                return True
        return False

    def _search_inner(self, inner, name):
        for kind, header, offset, raw in pf.parse_sections(inner, f"file {name} (decompressed)"):
            if kind != pf.SECTION_TYPES["fv_image"]:
                continue
            volume = pf.FirmwareVolume(raw[header:], f"{self.where}: volume in file {name}")
            if any(item.type == pf.FILE_TYPES["dxe_core"] for item in volume.live_files()):
                self.dxe_volume = volume
                self.dxe_volume_offset = offset + header
                return True
        return False


def read_firmware_files(paths, erase_polarity, file_system):
    files = []
    names = set()
    for path in paths:
        with open(path, "rb") as source:
            raw = source.read()
        item = pf.check_file(raw, path, erase_polarity)
        if item.type == pf.FILE_TYPES["pad"]:
            raise pf.FirmwareError(f"{path}: a pad file has nothing to insert")
        if item.attributes & pf.FFS_ATTRIB_LARGE_FILE and file_system != pf.FFS3_FILE_SYSTEM_GUID:
            raise pf.FirmwareError(f"{path}: a file over 16 MB needs an FFS3 volume")
        item.sections()
        if item.name in names:
            raise pf.FirmwareError(f"{path}: a second file named {item.name}")
        names.add(item.name)
        files.append(item)
    return files


def new_dxe_volume(volume, files):
    """The DXE volume's bytes with files added, replacing files of the same names."""
    names = {item.name for item in files}
    live = set(id(item) for item in volume.live_files())
    first = next((index for index, item in enumerate(volume.files)
                  if item.name in names and id(item) in live), len(volume.files))
    keep = volume.files[:first]
    moved = [item.raw for item in volume.files[first:]
             if id(item) in live and item.name not in names]
    raw, end = pf.lay_out_files(volume, keep, moved + [item.raw for item in files])
    return raw, volume.length - end


def recompress(inner):
    packed = bytearray(lzma.compress(inner, format=lzma.FORMAT_ALONE, filters=LZMA_FILTERS))
    # The encoder leaves the size unknown; the firmware's decoder sizes its output by it.
    properties, dictionary, _ = LZMA_HEADER.unpack_from(packed, 0)
    LZMA_HEADER.pack_into(packed, 0, properties, dictionary, len(inner))
    return bytes(packed)


def patched_image(found, files):
    """(new image, DXE volume bytes left free, compressed size)."""
    dxe_raw, free = new_dxe_volume(found.dxe_volume, files)
    inner = bytearray(found.inner)
    start = found.dxe_volume_offset
    inner[start:start + len(dxe_raw)] = dxe_raw
    packed = recompress(bytes(inner))

    old = found.compressed_section
    guid, data_offset, attributes = pf.guid_defined_fields(old, found.section_header)
    extra = old[found.section_header + pf.GUID_DEFINED_FIELDS.size:data_offset]
    new_section = pf.guid_defined_section(guid, attributes, extra, packed)

    outer_volume = found.outer_volume
    outer_file = outer_volume.files[found.file_index]
    sections = [raw for _, _, _, raw in outer_file.sections()]
    sections[found.section_index] = new_section
    new_file = pf.rebuild_file(outer_file, pf.join_sections(sections),
                               outer_volume.erase_polarity)
    following = [item.raw for item in outer_volume.files[found.file_index + 1:]]
    try:
        outer_raw, _ = pf.lay_out_files(outer_volume, outer_volume.files[:found.file_index],
                                        [new_file] + following)
    except pf.FirmwareError as error:
        raise pf.FirmwareError(f"{found.where}: the recompressed DXE volume ({len(packed):#x} bytes) "
                               f"no longer fits its container: {error}") from None
    out = bytearray(found.image)
    out[found.outer_offset:found.outer_offset + len(outer_raw)] = outer_raw
    return bytes(out), free, len(packed)


def verify(image, files, where):
    """Reads the new image back: every inserted file present, byte for byte."""
    found = CompressedDxeVolume(image, where)
    present = {item.name: item.raw for item in found.dxe_volume.live_files()}
    for item in files:
        if present.get(item.name) != item.raw:
            raise pf.FirmwareError(f"{where}: file {item.name} did not read back")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("input")
    parser.add_argument("output")
    parser.add_argument("files", nargs="+", metavar="FILE.ffs")
    args = parser.parse_args()
    try:
        with open(args.input, "rb") as source:
            image = source.read()
        found = CompressedDxeVolume(image, args.input)
        files = read_firmware_files(args.files, found.dxe_volume.erase_polarity,
                                    found.dxe_volume.file_system)
        new_image, free, packed = patched_image(found, files)
        verify(new_image, files, args.output)
        pf.write_atomically(args.output, new_image)
    except (OSError, pf.FirmwareError) as error:
        print(f"ovmf_insert: {error}", file=sys.stderr)
        return 1
    print(f"ovmf_insert: {len(files)} file(s) in the DXE volume, {free:#x} bytes left free, "
          f"compressed volume {packed:#x} bytes")
    return 0


if __name__ == "__main__":
    sys.exit(main())
