"""The platform's DSC lines applied to a platform DSC as edk2_ovmf.py does it."""
import unittest

import edk2_ovmf

PLATFORM = """[Defines]
  PLATFORM_NAME = Ovmf
[PcdsFixedAtBuild]
  gEfiMdeModulePkgTokenSpaceGuid.PcdStatusCodeMemorySize|1
[PcdsDynamicDefault]
  # Noexec settings for DXE.
  gEfiMdeModulePkgTokenSpaceGuid.PcdSetNxForStack|FALSE
  gEfiMdeModulePkgTokenSpaceGuid.PcdSetNxForStackExtra|FALSE
[Components]
  OvmfPkg/SmbiosPlatformDxe/SmbiosPlatformDxe.inf
  OvmfPkg/Other/Other.inf
"""


def applied(fragment_path, text=PLATFORM):
    return edk2_ovmf.apply_fragment(text.splitlines(), edk2_ovmf.fragment_sections(fragment_path), [], "test")


class StrictDscTest(unittest.TestCase):
    def test_strict_lines_take_effect_once(self):
        lines = applied(edk2_ovmf.STRICT_DSC)
        settings = {}
        for index, line in enumerate(lines):
            if edk2_ovmf.pcd_setting(line):
                settings.setdefault(edk2_ovmf.pcd_setting(line), []).append(
                    (edk2_ovmf.section_of(lines, index), line.split("|")[1]))
        # A PCD the platform sets keeps its place and section, with the new value...
        self.assertEqual(settings["gEfiMdeModulePkgTokenSpaceGuid.PcdSetNxForStack"],
                         [("[PcdsDynamicDefault]", "TRUE")])
        self.assertEqual(settings["gEfiMdeModulePkgTokenSpaceGuid.PcdSetNxForStackExtra"],
                         [("[PcdsDynamicDefault]", "FALSE")])
        # ...one it does not set joins the fragment's section.
        self.assertEqual(settings["gEfiMdeModulePkgTokenSpaceGuid.PcdImageProtectionPolicy"],
                         [("[PcdsFixedAtBuild]", "0x03")])
        self.assertEqual(settings["gEfiMdeModulePkgTokenSpaceGuid.PcdDxeNxMemoryProtectionPolicy"],
                         [("[PcdsFixedAtBuild]", "0xC000000000007FD5")])
        page_aligned = [i for i, line in enumerate(lines) if "common-page-size=0x1000" in line]
        self.assertEqual(len(page_aligned), 1)
        self.assertIn("BuildOptions.common.EDKII.DXE_DRIVER", edk2_ovmf.section_of(lines, page_aligned[0]))
        # The components are untouched.
        components = lines.index("[Components]")
        self.assertEqual(lines[components:components + 3], PLATFORM.splitlines()[-3:])

    def test_source_module_goes_after_the_smbios_producer_or_nowhere(self):
        lines = applied(edk2_ovmf.SOURCE_DSC)
        anchor = lines.index("  " + edk2_ovmf.ANCHOR)
        self.assertEqual(lines[anchor + 1].strip(), "SlotInventoryPkg/SlotInventoryDxe.inf {")
        with self.assertRaisesRegex(edk2_ovmf.BuildError, "no OvmfPkg/SmbiosPlatformDxe"):
            applied(edk2_ovmf.SOURCE_DSC, PLATFORM.replace(edk2_ovmf.ANCHOR, "OvmfPkg/Elsewhere.inf"))


if __name__ == "__main__":
    unittest.main()
