#!/usr/bin/env python3
"""The image check fails what firmware would refuse or a later change could
slip in: an image over its limit, a section both writable and executable.
usage: check_pe_image_test.py IMAGE (a built boot-service driver)"""
import os
import struct
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "image"))
import check_pe_image  # noqa: E402

IMAGE = None


def first_section_characteristics_offset(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    return pe + 24 + optional_size + 36


class ImageCheck(unittest.TestCase):
    def setUp(self):
        with open(IMAGE, "rb") as handle:
            self.data = bytearray(handle.read())
        self.directory = tempfile.TemporaryDirectory()
        self.addCleanup(self.directory.cleanup)

    def check(self, data, **limits):
        path = os.path.join(self.directory.name, "image.efi")
        with open(path, "wb") as handle:
            handle.write(data)
        return check_pe_image.check(path, "efi_boot_service_driver", **limits)

    def test_built_image_passes_at_its_own_size(self):
        self.assertEqual(self.check(self.data, max_size=len(self.data)), [])

    def test_one_byte_over_the_limit_fails(self):
        problems = self.check(self.data, max_size=len(self.data) - 1)
        self.assertTrue(any("over the limit" in problem for problem in problems), problems)

    def test_a_linker_default_base_fails(self):
        optional = struct.unpack_from("<I", self.data, 0x3C)[0] + 24
        struct.pack_into("<Q", self.data, optional + 24, 0x140000000)
        problems = self.check(self.data)
        self.assertTrue(any("preferred base" in problem for problem in problems), problems)

    def test_writable_code_fails(self):
        at = first_section_characteristics_offset(self.data)
        value = struct.unpack_from("<I", self.data, at)[0]
        struct.pack_into("<I", self.data, at, value | check_pe_image.SCN_MEM_WRITE)
        problems = self.check(self.data)
        self.assertTrue(any("writable and executable" in problem for problem in problems), problems)


if __name__ == "__main__":
    IMAGE = sys.argv.pop(1)
    unittest.main()
