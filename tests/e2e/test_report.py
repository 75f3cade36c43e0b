import os
import struct
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import report  # noqa: E402


class FloorFile(unittest.TestCase):
    def test_slots_then_devices_with_the_unassigned_handle(self):
        slot = bytes([9, 5, 0x10, 0x00, 1]) + b"A\0\0"
        device = bytes([41, 5, 0x11, 0x00, 1]) + b"B\0\0"
        other = bytes([1, 4, 0x12, 0x00]) + b"\0\0"
        data = report.floor_file([(41, 0x11, device), (1, 0x12, other), (9, 0x10, slot)])
        self.assertEqual(struct.unpack_from("<HH", data), (1, 1))
        self.assertEqual(data[4:], slot[:2] + b"\xfe\xff" + slot[4:] + device[:2] + b"\xfe\xff" + device[4:])


class SimulatedCalls(unittest.TestCase):
    def test_counts_firmware_calls_by_the_harness_names(self):
        trace = ("   AllocatePool(768) -> EFI_SUCCESS\n   Smbios.GetNext(type=9) -> end\n"
                 "   Sideband.Read(0xFDAE0034) -> 0x0\n   AllocatePool(7) -> EFI_SUCCESS\n")
        self.assertEqual(report.simulated_calls(trace), {"AllocatePool": 2, "SmbiosGetNext": 1})


if __name__ == "__main__":
    unittest.main()
