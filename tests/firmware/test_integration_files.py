"""The INF, the firmware file, the image and the driver's own GUID agree."""
import os
import re
import struct
import unittest

from firmware_test_paths import DRIVER_FILE, IMAGE_DIR, SOURCE_DIR
import pe_image
import pi_firmware as pf

PLATFORM_DIR = os.path.join(SOURCE_DIR, "platform")
# What an INF MODULE_TYPE becomes: the firmware file type and the PE subsystem.
MODULE_TYPES = {"DXE_DRIVER": (pf.FILE_TYPES["driver"], 11)}
SECTION_FOR_BINARY = {"PE32": 0x10, "DXE_DEPEX": 0x13}
# Binaries the module carries for people, never into a firmware file: the symbol file.
DISPOSABLE = "DISPOSABLE"


def read_inf(path):
    defines, binaries, section = {}, [], None
    with open(path) as source:
        for line in source:
            line = line.split("#", 1)[0].strip()
            if line.startswith("["):
                section = line.strip("[]").split(".")[0]
            elif section == "Defines" and "=" in line:
                key, value = (part.strip() for part in line.split("=", 1))
                defines[key] = value
            elif section == "Binaries" and line:
                binaries.append(line.split("|")[:2])
    return defines, binaries


def header_guid(name):
    with open(os.path.join(SOURCE_DIR, "include", "guids.h")) as source:
        text = source.read()
    match = re.search(name + r"\s*=\s*\{([^;]*)\};", text)
    values = [int(value, 16) for value in re.findall(r"0x[0-9A-Fa-f]+", match.group(1))]
    return pf.guid_text(struct.pack("<IHH8B", *values))


@unittest.skipUnless(os.path.exists(DRIVER_FILE), f"build {DRIVER_FILE} first")
class IntegrationFilesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.defines, cls.binaries = read_inf(os.path.join(PLATFORM_DIR, "SlotInventoryDxe.inf"))
        with open(DRIVER_FILE, "rb") as source:
            cls.ffs = pf.check_file(source.read(), DRIVER_FILE)
        cls.sections = {kind: raw[header:] for kind, header, _, raw in cls.ffs.sections()}

    def test_one_file_guid_everywhere(self):
        guid = self.defines["FILE_GUID"].upper()
        self.assertEqual(guid, header_guid("SLOT_INVENTORY_DRIVER_FILE_GUID"))
        self.assertEqual(guid, self.ffs.name)

    def test_name_version_and_module_type(self):
        name = self.defines["BASE_NAME"]
        self.assertEqual(self.sections[0x15], pf.ucs2z(name))
        self.assertEqual(self.sections[0x14], b"\0\0" + pf.ucs2z(self.defines["VERSION_STRING"]))
        file_type, subsystem = MODULE_TYPES[self.defines["MODULE_TYPE"]]
        self.assertEqual(self.ffs.type, file_type)
        self.assertEqual(pe_image.read_image(os.path.join(IMAGE_DIR, name + ".efi")).subsystem, subsystem)

    def carried(self):
        return [(kind, file_name) for kind, file_name in self.binaries if kind != DISPOSABLE]

    def test_binaries_sit_beside_the_built_inf_and_match_the_sections(self):
        self.assertTrue(os.path.exists(os.path.join(IMAGE_DIR, "SlotInventoryDxe.inf")))
        self.assertEqual(sorted(kind for kind, _ in self.carried()), sorted(SECTION_FOR_BINARY))
        for kind, file_name in self.carried():
            with self.subTest(binary=file_name):
                self.assertEqual(os.path.splitext(file_name)[0], self.defines["BASE_NAME"])
                with open(os.path.join(IMAGE_DIR, file_name), "rb") as source:
                    self.assertEqual(self.sections[SECTION_FOR_BINARY[kind]], source.read())

    def test_the_symbol_file_is_listed_beside_the_image_and_matches_it(self):
        symbols = [file_name for kind, file_name in self.binaries if kind == DISPOSABLE]
        self.assertEqual(symbols, [self.defines["BASE_NAME"] + ".debug"])
        image = pe_image.read_image(os.path.join(IMAGE_DIR, self.defines["BASE_NAME"] + ".efi"))
        self.assertEqual(pe_image.read_image(os.path.join(IMAGE_DIR, symbols[0])).codeview(), image.codeview())

    def test_fdf_rule_takes_the_inf_binaries_and_not_the_symbols(self):
        with open(os.path.join(PLATFORM_DIR, "SlotInventoryDxe.fdf")) as source:
            fdf = source.read()
        self.assertIn("SlotInventoryDxe.inf", fdf)
        for kind, file_name in self.carried():
            self.assertRegex(fdf, rf"{kind}\s+{kind}\s.*\|{re.escape(os.path.splitext(file_name)[1])}")
        self.assertNotIn(".debug", fdf.split("[Rule", 1)[1])


if __name__ == "__main__":
    unittest.main()
