"""The firmware file tools: depex compiler, FFS builder, OVMF insertion.

    FIRMWARE_TEST_BUILD_DIR=build python3 -m unittest discover -s tests/firmware
"""
import os
import shutil
import subprocess
import tempfile
import unittest

from firmware_test_paths import BUILD_DIR, DRIVER_FILE, OVMF_CODE, SOURCE_DIR, tool
import make_depex
import make_ffs
import ovmf_insert
import pi_firmware as pf

A = "03583FF6-CB36-4940-947E-B9B39F4AFAF7"
B = "EF9FC172-A1B2-4693-B327-6D32FC416042"
C = "0FD96974-23AA-4CDC-B9CB-98D17750322A"
NAMES = f"A = {A}\nB = {B}\nC = {C}\n"
OTHER_GUID = "0D7B3F52-5C4E-4A0B-8F6D-2E8A91C3B7A4"


def depex_ops(source):
    return [op if guid is None else (op, guid)
            for op, guid in pf.decode_depex(make_depex.compile_depex(NAMES + source))]


def minimal_pe(size):
    """Bytes that pass for a PE image: MZ, the PE offset and signature, then filler."""
    image = bytearray(os.urandom(size))
    image[:2] = b"MZ"
    image[0x3C:0x40] = (0x80).to_bytes(4, "little")
    image[0x80:0x84] = b"PE\0\0"
    return bytes(image)


class DepexTest(unittest.TestCase):
    def test_precedence_and_postfix_order(self):
        self.assertEqual(depex_ops("A OR B AND NOT C"),
                         [("PUSH", A), ("PUSH", B), ("PUSH", C), "NOT", "AND", "OR", "END"])
        self.assertEqual(depex_ops("(A OR B) AND TRUE  # comment"),
                         [("PUSH", A), ("PUSH", B), "OR", "TRUE", "AND", "END"])
        self.assertEqual(depex_ops("SOR A"), ["SOR", ("PUSH", A), "END"])
        self.assertEqual(depex_ops(f"BEFORE {C.lower()}"), [("BEFORE", C), "END"])

    def test_one_operator_chains_push_each_guid_once_then_the_operators(self):
        self.assertEqual(depex_ops("A AND B AND (C AND A)"),
                         [("PUSH", A), ("PUSH", B), ("PUSH", C), "AND", "AND", "END"])
        self.assertEqual(depex_ops("A OR B"), [("PUSH", A), ("PUSH", B), "OR", "END"])
        self.assertEqual(depex_ops("A AND A"), [("PUSH", A), "END"])
        self.assertEqual(depex_ops("A AND B OR C"),
                         [("PUSH", A), ("PUSH", B), "AND", ("PUSH", C), "OR", "END"])

    def test_product_depex_names_every_service_the_entry_point_uses(self):
        with open(os.path.join(SOURCE_DIR, "platform", "SlotInventoryDxe.depex")) as source:
            ops = pf.decode_depex(make_depex.compile_depex(source.read()))
        pushed = [guid for op, guid in ops if op == "PUSH"]
        self.assertEqual(pushed, [A, B, C, "1E5668E2-8481-11D4-BCF1-0080C73C8881",
                                  "FD480A76-B134-4EF7-ADFE-B0E054639807",
                                  "30CFE3E7-3DE1-4586-BE20-DEABA1B3B793"])
        self.assertEqual([op for op, _ in ops if op != "PUSH"], ["AND"] * 5 + ["END"])

    def test_bad_sources_are_refused_with_the_line(self):
        for source, message in (("A AND", "ends too early"), ("A B", "unexpected 'B'"),
                                ("D", "'D' is neither"), ("(A OR B", "ends too early"), ("(A OR B C", "missing"),
                                ("A AND BEFORE B", "'BEFORE' where a term"),
                                ("BEFORE A AND B", "unexpected 'AND'"), ("A = 12", "bad definition"),
                                ("A; B", "unexpected ';'"), ("", "no expression")):
            with self.subTest(source=source):
                with self.assertRaisesRegex(pf.FirmwareError, message):
                    make_depex.compile_depex(NAMES + source)

    def test_malformed_binaries_are_refused(self):
        push = bytes([2]) + pf.guid_bytes(A)
        for binary in (b"", push, push + b"\x03\x08", b"\x02\x00", bytes([1]) + pf.guid_bytes(A)
                       + push + b"\x08", b"\x06\x08\x08", b"\x42\x08"):
            with self.subTest(binary=binary.hex()):
                with self.assertRaises(pf.FirmwareError):
                    pf.decode_depex(binary)


class FirmwareFileTest(unittest.TestCase):
    def test_sections_checksums_and_state(self):
        image = minimal_pe(1001)
        depex = make_depex.compile_depex(NAMES + "A")
        raw = make_ffs.firmware_file(OTHER_GUID, "driver", image, depex, "Name", "2.1")
        item = pf.check_file(raw, "file")
        self.assertEqual((item.name, item.type, item.state), (OTHER_GUID, 0x07, 0xF8))
        self.assertEqual(item.attributes, pf.FFS_ATTRIB_CHECKSUM)
        sections = item.sections()
        self.assertEqual([kind for kind, _, _, _ in sections], [0x13, 0x10, 0x15, 0x14])
        self.assertTrue(all(offset % 4 == 0 for _, _, offset, _ in sections))
        bodies = [raw_section[header:] for _, header, _, raw_section in sections]
        self.assertEqual(bodies[:3], [depex, image, "Name\0".encode("utf-16-le")])
        self.assertEqual(bodies[3], b"\0\0" + "2.1\0".encode("utf-16-le"))
        unchecked = make_ffs.firmware_file(OTHER_GUID, "driver", image, checksum=False)
        self.assertEqual(pf.check_file(unchecked, "file").file_checksum, pf.FFS_FIXED_CHECKSUM)

    def test_large_file_takes_the_extended_header(self):
        raw = make_ffs.firmware_file(OTHER_GUID, "driver", minimal_pe(pf.MAX_SMALL_SIZE))
        item = pf.check_file(raw, "file")
        self.assertEqual(item.header_size, 32)
        self.assertTrue(item.attributes & pf.FFS_ATTRIB_LARGE_FILE)
        kind, header, _, body = item.sections()[0]
        self.assertEqual((kind, header, len(body) - header), (0x10, 8, pf.MAX_SMALL_SIZE))

    def test_refuses_what_is_not_a_pe_image_and_writes_nothing(self):
        with tempfile.TemporaryDirectory(dir=BUILD_DIR) as scratch:
            source = os.path.join(scratch, "not.efi")
            with open(source, "wb") as out:
                out.write(b"\0" * 512)
            output = os.path.join(scratch, "out.ffs")
            result = subprocess.run(tool("make_ffs.py") + ["--guid", OTHER_GUID, "--pe32", source,
                                    "-o", output], capture_output=True, text=True)
            self.assertNotEqual(result.returncode, 0)
            self.assertIn("not a PE image", result.stderr)
            self.assertEqual(os.listdir(scratch), ["not.efi"])


def dxe_files(image):
    volume = ovmf_insert.CompressedDxeVolume(image, "image").dxe_volume
    return {item.name: item.raw for item in volume.live_files()}


def volumes_outside_the_compressed_file(image):
    found = ovmf_insert.CompressedDxeVolume(image, "image")
    others = [image[offset:offset + volume.length]
              for offset, volume in pf.volumes_in_image(image, "image")
              if volume is not None and offset != found.outer_offset]
    inner = pf.parse_sections(found.inner, "inner")
    return others, [raw for _, _, offset, raw in inner
                    if offset + 4 != found.dxe_volume_offset]


@unittest.skipUnless(os.path.exists(OVMF_CODE), f"no OVMF image at {OVMF_CODE}")
@unittest.skipUnless(os.path.exists(DRIVER_FILE), f"build {DRIVER_FILE} first")
class OvmfInsertTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory(dir=BUILD_DIR)
        cls.original = os.path.join(cls.scratch.name, "OVMF_CODE.fd")
        shutil.copyfile(OVMF_CODE, cls.original)
        cls.patched = os.path.join(cls.scratch.name, "patched.fd")
        cls.result = cls.insert(cls.original, cls.patched, DRIVER_FILE)
        with open(cls.original, "rb") as source:
            cls.original_image = source.read()
        with open(DRIVER_FILE, "rb") as source:
            cls.driver = source.read()

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    @staticmethod
    def insert(source, output, *files):
        return subprocess.run(tool("ovmf_insert.py") + [source, output, *files],
                              capture_output=True, text=True)

    def path(self, name, data):
        path = os.path.join(self.scratch.name, name)
        with open(path, "wb") as out:
            out.write(data)
        return path

    def assert_refused(self, message, source, *files):
        output = os.path.join(self.scratch.name, "refused.fd")
        result = self.insert(source, output, *files)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn(message, result.stderr)
        self.assertFalse(os.path.exists(output))
        self.assertFalse([name for name in os.listdir(self.scratch.name) if name.startswith(".")])

    def test_round_trip_adds_the_file_and_changes_nothing_else(self):
        self.assertEqual(self.result.returncode, 0, self.result.stderr)
        with open(self.patched, "rb") as source:
            patched = source.read()
        self.assertEqual(len(patched), len(self.original_image))
        before, after = dxe_files(self.original_image), dxe_files(patched)
        self.assertEqual(after.pop("6E3A7C21-4F0B-4D8E-9A52-1C7E30B4D965"), self.driver)
        self.assertEqual(after, before)
        self.assertEqual(volumes_outside_the_compressed_file(patched),
                         volumes_outside_the_compressed_file(self.original_image))

    def test_same_name_replaces_and_a_new_name_adds(self):
        item = pf.FirmwareFile(self.driver)
        changed = pf.build_file(item.name, item.type, item.attributes,
                                pf.join_sections([item.data, pf.section("raw", b"new")]))
        second = make_ffs.firmware_file(OTHER_GUID, "driver", minimal_pe(3000))
        output = os.path.join(self.scratch.name, "replaced.fd")
        result = self.insert(self.patched, output, self.path("changed.ffs", changed),
                             self.path("second.ffs", second))
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(output, "rb") as source:
            after = dxe_files(source.read())
        self.assertEqual(after.pop(item.name), changed)
        self.assertEqual(after.pop(OTHER_GUID), second)
        self.assertEqual(after, dxe_files(self.original_image))

    def test_refuses_what_is_not_an_ovmf_code_image(self):
        self.assert_refused("no firmware volume", self.path("zeros.fd", b"\0" * 65536), DRIVER_FILE)
        self.assert_refused("no LZMA-compressed volume holding a DXE core",
                            self.path("secfv.fd", self.original_image[-0x34000:]), DRIVER_FILE)

    def test_refuses_files_that_do_not_fit(self):
        big = make_ffs.firmware_file(OTHER_GUID, "driver", minimal_pe(8 << 20))
        self.assert_refused("do not fit", self.original, self.path("big.ffs", big))
        noisy = make_ffs.firmware_file(OTHER_GUID, "driver", minimal_pe(3 << 20))
        self.assert_refused("no longer fits its container", self.original,
                            self.path("noisy.ffs", noisy))

    def test_refuses_malformed_firmware_files(self):
        def corrupt(offset, value):
            raw = bytearray(self.driver)
            raw[offset] = value
            return bytes(raw)
        cases = (("bad header checksum", corrupt(16, self.driver[16] ^ 1)),
                 ("bad file checksum", corrupt(len(self.driver) - 1, self.driver[-1] ^ 1)),
                 ("header says", self.driver + b"\0" * 8),
                 ("unknown file type", pf.build_file(OTHER_GUID, 0x33, 0, b"")),
                 ("not a valid, complete file", corrupt(23, 0xFC)),
                 ("section at", pf.build_file(OTHER_GUID, 7, 0, b"\x10\x00\x00\x10")))
        for message, raw in cases:
            with self.subTest(message=message):
                self.assert_refused(message, self.original, self.path("bad.ffs", raw))

    @unittest.skipUnless(shutil.which("UEFIExtract"), "uefitool-cli's UEFIExtract not installed")
    def test_uefiextract_parses_the_image_and_finds_valid_checksums(self):
        with tempfile.TemporaryDirectory(dir=BUILD_DIR) as scratch:
            image = os.path.join(scratch, "patched.fd")
            shutil.copyfile(self.patched, image)
            subprocess.run(["UEFIExtract", image, "report"], capture_output=True, check=True)
            with open(image + ".report.txt") as report:
                text = report.read()
            self.assertIn("6E3A7C21-4F0B-4D8E-9A52-1C7E30B4D965 | SlotInventoryDxe", text)
            info_dir = os.path.join(scratch, "info")
            subprocess.run(["UEFIExtract", image, "6E3A7C21-4F0B-4D8E-9A52-1C7E30B4D965",
                            "-o", info_dir, "-m", "info"], capture_output=True, check=True)
            with open(os.path.join(info_dir, "info.txt")) as info:
                text = info.read()
        self.assertIn("Subtype: DXE driver", text)
        self.assertRegex(text, r"Header checksum: [0-9A-F]+h, valid")
        self.assertRegex(text, r"Data checksum: [0-9A-F]+h, valid")


if __name__ == "__main__":
    unittest.main()
