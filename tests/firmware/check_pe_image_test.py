#!/usr/bin/env python3
"""The image check fails what firmware would refuse, could not protect or a
later change could slip in: an image over its limits, a section both
writable and executable, sections sharing pages, no NX marking, a CodeView
name with a build path, a symbol file of another build.
usage: check_pe_image_test.py IMAGE SYMBOLS (a built boot-service driver and its symbol file)"""
import os
import shutil
import struct
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "image"))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools", "firmware"))
import check_pe_image  # noqa: E402
import pe_image as pe  # noqa: E402

IMAGE = SYMBOLS = None


def optional_header(data):
    return struct.unpack_from("<I", data, pe.DOS_LFANEW_OFFSET)[0] + 4 + pe.COFF_HEADER.size


def first_section_characteristics(data):
    optional_size = struct.unpack_from("<H", data, optional_header(data) - 4)[0]
    return optional_header(data) + optional_size + 36


def set_field(data, offset, fmt, change):
    struct.pack_into(fmt, data, offset, change(struct.unpack_from(fmt, data, offset)[0]))


# One corruption each: (name, patch of the image bytes given its CodeView
# entry, words the problem names).
CORRUPTIONS = [
    ("linker default base", lambda d, _: set_field(d, optional_header(d) + 24, "<Q", lambda _: 0x140000000),
     "preferred base"),
    ("writable code", lambda d, _: set_field(d, first_section_characteristics(d), "<I",
                                             lambda v: v | pe.SCN_MEM_WRITE), "writable and executable"),
    ("64-byte sections", lambda d, _: set_field(d, optional_header(d) + 32, "<I", lambda _: 0x40),
     "section alignment 0x40"),
    ("no NX marking", lambda d, _: set_field(d, optional_header(d) + 70, "<H",
                                             lambda v: v & ~pe.DLLCHARACTERISTICS_NX_COMPAT),
     "NX-compatible"),
    ("a build path in the CodeView name",
     lambda d, cv: d.__setitem__(slice(cv.guid_offset + 20, cv.guid_offset + 22), b"a/"),
     "bare symbol file name"),
    ("a symbol file of another build",
     lambda d, cv: set_field(d, cv.guid_offset, "<I", lambda v: v ^ 1), "not this image's"),
]


class ImageCheck(unittest.TestCase):
    def setUp(self):
        with open(IMAGE, "rb") as handle:
            self.data = bytearray(handle.read())
        self.directory = tempfile.TemporaryDirectory()
        self.addCleanup(self.directory.cleanup)
        self.symbols = os.path.join(self.directory.name, "SlotInventoryDxe.debug")
        shutil.copyfile(SYMBOLS, self.symbols)

    def check(self, data, **limits):
        path = os.path.join(self.directory.name, "SlotInventoryDxe.efi")
        with open(path, "wb") as handle:
            handle.write(data)
        return check_pe_image.check(path, "efi_boot_service_driver", symbols=self.symbols, **limits)

    def test_built_image_passes_at_its_own_sizes_and_one_byte_less_fails(self):
        raw, packed = len(self.data), check_pe_image.compressed_size(bytes(self.data))
        self.assertEqual(self.check(self.data, max_size=raw, max_compressed_size=packed), [])
        problems = self.check(self.data, max_size=raw - 1, max_compressed_size=packed - 1)
        self.assertEqual(sum("over the limit" in problem for problem in problems), 2, problems)

    def test_each_corruption_is_named(self):
        for name, patch, words in CORRUPTIONS:
            with self.subTest(name):
                data = bytearray(self.data)
                patch(data, pe.PeImage(data).codeview())
                problems = self.check(data)
                self.assertTrue(any(words in problem for problem in problems), problems)


if __name__ == "__main__":
    IMAGE, SYMBOLS = sys.argv.pop(1), sys.argv.pop(1)
    unittest.main()
