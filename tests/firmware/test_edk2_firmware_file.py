"""EDK2's own GenSec/GenFfs, fed the INF and FDF lines a platform uses, make
the driver's firmware file with the same sections as ours."""
import os
import sys
import unittest

from firmware_test_paths import BUILD_DIR, DRIVER_FILE, SOURCE_DIR
import pi_firmware as pf

sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "e2e"))
import edk2_ovmf  # noqa: E402


class Edk2FirmwareFileTest(unittest.TestCase):
    def test_edk2_makes_the_same_sections_from_the_inf(self):
        # The debug build's: the same FDF rule as any configuration with the binary module.
        made = edk2_ovmf.firmware(BUILD_DIR, "debug")
        with open(made["ffs"]["SlotInventoryDxe"], "rb") as handle:
            # GenFfs leaves the state bits as if erased to 0; GenFv sets them per volume.
            theirs = pf.check_file(handle.read(), "EDK2's firmware file", erase_polarity=0)
        with open(DRIVER_FILE, "rb") as handle:
            ours = pf.check_file(handle.read(), "our firmware file")
        self.assertEqual((theirs.name, theirs.type), (ours.name, ours.type))
        self.assertEqual([(kind, body) for kind, _, _, body in theirs.sections()],
                         [(kind, body) for kind, _, _, body in ours.sections()])


if __name__ == "__main__":
    unittest.main()
