"""The linux/ runner's reading of the guest's report and its label checks."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import linux_guest as guest  # noqa: E402
import run_linux  # noqa: E402

REPORT = f"""[    1.0] kernel noise
{guest.BEGIN_MARKER}
dmi-file smbios_entry_point
hex 5f534d335f
dmi-file DMI
hex 7f04
hex fffe0000
pci-function 0000:00:17.0
pci-label 0000:00:17.0 3 - PCH Integrated SATA Controller
pci-function 0000:03:00.0
pci-function 0000:19:00.0
pci-label 0000:19:00.0 1 - QEMU onboard NIC
{guest.END_MARKER}
"""

# (address, designation, instance, enabled), as run_linux.driver_devices gives them.
DEVICES = [("0000:00:17.0", "PCH Integrated SATA Controller", 3, True),
           ("0000:03:00.0", "Aspeed Video", 0, True),
           ("0000:19:00.0", "Intel I350", 1, False),
           ("0000:19:00.1", "Intel I350", 2, True)]


class GuestReportTest(unittest.TestCase):
    def test_files_functions_and_labels_with_spaces(self):
        report = guest.GuestReport(REPORT)
        self.assertTrue(report.started and report.finished)
        self.assertEqual(report.files["DMI"], bytes.fromhex("7f04fffe0000"))
        self.assertEqual(report.labels["0000:00:17.0"], ("3", "-", "PCH Integrated SATA Controller"))
        self.assertEqual(len(report.functions), 3)


class LabelCheckTest(unittest.TestCase):
    def test_missing_wrong_and_foreign_labels(self):
        problems = run_linux.check_labels(guest.GuestReport(REPORT), DEVICES, {"QEMU onboard NIC"})
        # The video function has no label; the NIC's record is disabled and its
        # label came from an earlier record; 19:00.1 is not in the machine.
        self.assertEqual(len(problems), 2, problems)
        self.assertIn("0000:03:00.0 has no label", problems[0])
        self.assertIn("'QEMU onboard NIC' index 1 from a purged earlier record", problems[1])
        clean = run_linux.check_labels(guest.GuestReport(REPORT), DEVICES[:1] + DEVICES[2:], set())
        self.assertEqual(len(clean), 1, clean)
        self.assertIn("from a disabled record", clean[0])

    def test_wrong_index_is_named(self):
        text = REPORT.replace("0000:00:17.0 3 -", "0000:00:17.0 4 -")
        problems = run_linux.check_labels(guest.GuestReport(text), DEVICES[:1], set())
        self.assertIn("index 4, the record says 'PCH Integrated SATA Controller' instance 3", problems[0])


if __name__ == "__main__":
    unittest.main()
