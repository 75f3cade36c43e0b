"""Unit tests of the QEMU run's pure parts: python3 -m unittest discover -s tests/e2e"""
import copy
import dataclasses
import json
import os
import shutil
import struct
import tempfile
import types
import unittest

import board as boards
import boot_media
import checks
import derived_machine
import emit  # the generator's, on the path board puts tools/platform on
import firmware_images
import firmware_log
import machine
import serial_report
import smbios_dump


def summary(name):
    """The summary.json the build writes for platforms/NAME, made here by the generator's own code."""
    source = f"platforms/{name}/platform.json"
    described = boards.description.read_description(os.path.join(boards.REPOSITORY, source), boards.REPOSITORY)
    return json.loads(emit.summary(described, source, f"image/{name}"))


TWO = boards.Platform(summary("two-socket-riser"), "/build")
ONE = boards.Platform(summary("one-socket-riser"), "/build")


FOUR = boards.Platform(summary("four-socket-riser"), "/build")


def window_image(board, platform):
    """The window's shared memory as QEMU maps it, from the file the runner writes."""
    scratch = tempfile.mkdtemp()
    try:
        path = os.path.join(scratch, "sideband.bin")
        boards.write_window(path, board, platform)
        with open(path, "rb") as handle:
            return handle.read()
    finally:
        shutil.rmtree(scratch)


def read_pad(image, pad):
    """What the driver reads from a backed window: 1/0, or None when not host-owned."""
    ownership, shift, configuration = boards.pad_registers(pad)
    owner = (struct.unpack_from("<I", image, ownership - boards.SIDEBAND_BASE)[0] >> shift) & 3
    if owner != 0:
        return None
    return (struct.unpack_from("<I", image, configuration - boards.SIDEBAND_BASE)[0] >> 1) & 1


def riser_ids(image, platform=TWO):
    ids = []
    for _, pads, _ in platform.positions:
        value = 0
        for pad in pads:
            value = (value << 1) | (read_pad(image, pad) or 0)
        ids.append(value)
    return ids


class SidebandWindowTest(unittest.TestCase):
    def test_pad_register_addresses(self):
        self.assertEqual(boards.pad_registers(0x0102000F), (0xFDAE0024, 28, 0xFDAE0478))
        self.assertEqual(boards.pad_registers(0x01030015), (0xFDAE0034, 20, 0xFDAE0568))
        for bad in (0x0202000F, 0x010D0000, 0x01020018):
            with self.assertRaises(boards.BoardError):
                boards.pad_registers(bad)

    def test_straps_and_overrides_reach_the_driver(self):
        board = {"straps": {"riser1": 3, "riser2": 5, "riser3": 1},
                 "pads": [{"pad": "0x01030015", "level": 1, "owner": 1}]}
        image = window_image(board, TWO)
        self.assertEqual(image[:4], boards.WINDOW_MARKER)
        self.assertEqual(riser_ids(image), [3, 1, 1])
        self.assertIsNone(read_pad(image, 0x01030015))

    def test_pad_without_level_keeps_its_strap_level(self):
        board = {"straps": {"riser1": 5, "riser2": 7, "riser3": 3},
                 "pads": [{"pad": "0x0102000F"}, {"pad": "0x01020011", "owner": 1}]}
        self.assertEqual(riser_ids(window_image(board, TWO)), [4, 7, 3])

    def test_neighbouring_pads_share_registers_without_clobbering(self):
        board = {"straps": {"riser1": 0, "riser2": 0, "riser3": 0},
                 "pads": [{"pad": "0x01030016", "level": 0, "owner": 2},
                          {"pad": "0x01030017", "level": 1, "owner": 0}]}
        image = window_image(board, TWO)
        self.assertIsNone(read_pad(image, 0x01030016))
        self.assertEqual(read_pad(image, 0x01030017), 1)
        self.assertEqual(read_pad(image, 0x01030015), 0)

    def test_every_gpio_groups_pads_are_backed(self):
        # The rear riser's eight pads sit in groups 6 (port 0x11) and 12 (port 0xAD).
        image = window_image({"straps": {"front": 0, "rear": 0xA5}}, FOUR)
        self.assertEqual(len(image), boards.WINDOW_SIZE)
        self.assertEqual(riser_ids(image, FOUR), [0, 0xA5])
        self.assertEqual(riser_ids(window_image({"straps": {"front": 1, "rear": 255}}, FOUR), FOUR), [1, 255])
        self.assertEqual(boards.strap_registers(ONE), [0xFDAB0020, 0xFDAB0420, 0xFDAB0428,
                                                       0xFDAD0020, 0xFDAD0410, 0xFDAD0418])

    def test_window_only_when_the_board_needs_more_than_zeros(self):
        self.assertFalse(boards.window_needed({"straps": {"riser1": 0, "riser2": 0, "riser3": 0}}, TWO))
        self.assertTrue(boards.window_needed({}, TWO))  # the simulator's default straps are 7, 7, 3
        self.assertTrue(boards.window_needed({"straps": {"riser1": 0, "riser2": 0, "riser3": 0},
                                           "pads": [{"pad": 0x0102000F, "level": 0, "owner": 3}]}, TWO))
        self.assertTrue(boards.window_needed({"straps": {"riser1": 0, "riser2": 0, "riser3": 0},
                                           "qemu": {"window": True}}, TWO))

    def test_second_platform_straps_its_own_pads(self):
        # Left out, the upper riser is its noCard 3 and the lower its noCard 0.
        self.assertEqual(riser_ids(window_image({}, ONE), ONE), [3, 0])
        self.assertEqual(riser_ids(window_image({"straps": {"upper": 1, "lower": 2}}, ONE), ONE), [1, 2])
        self.assertEqual(riser_ids(window_image({"straps": {"upper": 1, "lower": 2}}, ONE)), [0, 0, 0])
        self.assertFalse(boards.window_needed({"straps": {"upper": 0, "lower": 0}}, ONE))
        with self.assertRaises(boards.BoardError):
            window_image({"straps": {"riser1": 3}}, ONE)


class ScenarioTextTest(unittest.TestCase):
    def test_board_becomes_harness_lines(self):
        board = {"sockets": ["0x30001000", 0x60504000], "platformLang": None,
                 "smbios": [{"type": 9, "strings": ["A", "B"]}, {"type": "41"}],
                 "qemu": {"probes": True}}
        self.assertEqual(boot_media.scenario_text(board, "s", 0x10, TWO).splitlines(), [
            "name=s", "socket=0x00,8,2,0xCC,0x30001000", "socket=0x80,8,2,0xCC,0x60504000",
            "driver=6E3A7C21-4F0B-4D8E-9A52-1C7E30B4D965", "window=0x10",
            "sideband=0xFDAE0024", "sideband=0xFDAE0028", "sideband=0xFDAE0034", "sideband=0xFDAE0478",
            "sideband=0xFDAE0480", "sideband=0xFDAE0488", "sideband=0xFDAE0548", "sideband=0xFDAE0550",
            "sideband=0xFDAE0568", "sideband=0xFDAE0570", "sideband=0xFDAE0578",
            "platformlang=-", "smbios=9:A|B", "smbios=41", "probes=1"])

    def test_second_platform_names_its_driver_and_its_one_socket(self):
        self.assertEqual(boot_media.scenario_text({"sockets": ["0x00184000"]}, "s", None, ONE).splitlines()[:3], [
            "name=s", "socket=0x00,8,2,0xCC,0x00184000", "driver=53EC4B36-F675-4AD3-923D-9BF91E733E7F"])
        self.assertIn("driver=53EC4B36-F675-4AD3-923D-9BF91E733E7F", boot_media.report_only_text({}, "fv/s", ONE))

    def test_absent_platform_lang_is_the_simulator_default(self):
        self.assertIn("platformlang=en-US", boot_media.scenario_text({}, "s", None, TWO))

    def test_strings_the_harness_cannot_carry_are_refused(self):
        with self.assertRaises(boards.BoardError):
            boot_media.scenario_text({"smbios": [{"type": 9, "strings": ["a|b"]}]}, "s", None, TWO)


class PlatformTest(unittest.TestCase):
    def test_loaded_from_the_build_trees_summary(self):
        build = tempfile.mkdtemp()
        try:
            folder = os.path.join(build, "platforms", "one-socket-riser", "host")
            os.makedirs(folder)
            with open(os.path.join(folder, "summary.json"), "w", encoding="utf-8") as handle:
                json.dump(summary("one-socket-riser"), handle)
            platform = boards.load_platform(build, boards.board_platform({"platform": "one-socket-riser"}))
            self.assertEqual(platform.images["ffs"],
                             os.path.join(build, "image/one-socket-riser/SlotInventoryOneSocketDxe.ffs"))
            self.assertEqual(platform.image_name, "SlotInventoryOneSocketDxe.efi")
            with self.assertRaisesRegex(boards.BoardError, "two-socket-riser/host/summary.json"):
                boards.load_platform(build, boards.board_platform({}))
        finally:
            shutil.rmtree(build)
        for bad in ("One Socket", 7, "../x"):
            with self.assertRaises(boards.BoardError):
                boards.board_platform({"platform": bad})

    def test_where_the_driver_reads_includes_wiring_by_identifier_and_peers(self):
        self.assertEqual(ONE.root_ports, {(0, 1, 0), (0, 1, 2), (0, 2, 0), (0, 2, 1), (0, 2, 2), (0, 2, 3),
                                          (0, 2, 4), (0, 2, 6)})
        self.assertEqual(ONE.bus_probes, [(0, 1, 0), (0, 0x1F, 2)])
        self.assertEqual(TWO.fixed_bridges, {(2, 0)})

    def test_topology_is_checked_where_the_platforms_driver_reads(self):
        board = {"sockets": ["0x00184000"], "bridges": [{"bus": "0x40", "device": 2, "secondary": "0x41"}],
                 "devices": [{"bus": "0x00", "device": "0x1F", "function": 2}]}
        seen = ["pci bus=0x00 dev=0x1F fn=0x2", "pci bus=0x40 dev=0x02 fn=0x0 secondary=0x41",
                "pci bus=0x40 dev=0x03 fn=0x0 secondary=0x42"]
        report = serial_report.Report("\n".join([serial_report.BEGIN_MARKER] + seen + [serial_report.END_MARKER]))
        self.assertEqual(checks.check_topology(report, board, ONE), [])  # 40:03 is read by no slot
        unlisted = serial_report.Report("\n".join([serial_report.BEGIN_MARKER] + seen + ["pci bus=0x18 dev=0x06 fn=0x0 secondary=0x19",
                                                                      "pci bus=0x00 dev=0x01 fn=0x0", serial_report.END_MARKER]))
        self.assertEqual(len(checks.check_topology(unlisted, board, ONE)), 2)

    def test_edk2_firmware_dispatches_only_this_boards_driver(self):
        with self.assertRaisesRegex(RuntimeError, "one-socket-riser"):
            firmware_images.firmware_images("/build", firmware_images.FIRMWARE_BOOTS["edk2"], ONE)

    def test_socket_words_are_served_wherever_the_platform_reads_them(self):
        lines = boot_media.scenario_text({"sockets": [1, 2, 3, 4]}, "s", None, FOUR).splitlines()
        self.assertEqual([line for line in lines if line.startswith("socket=")], [
            "socket=0x00,4,0,0x40,0x00000001", "socket=0x00,4,1,0x50,0x00000002",
            "socket=0x00,4,2,0x60,0x00000003", "socket=0x00,4,3,0x70,0x00000004"])


def derived(board, platform):
    return derived_machine.derive(board, platform)


def with_devices(platform, change):
    """platform with its description's onboard devices changed by change(devices)."""
    described = dataclasses.replace(platform.described, devices=[dataclasses.replace(d) for d in
                                                                 platform.described.devices])
    change(described.devices)
    changed = copy.copy(platform)
    changed.described = described
    return changed


class DerivedMachineTest(unittest.TestCase):
    def test_machine_and_board_follow_the_description(self):
        made = derived({"straps": {"front": 0, "rear": 90}, "qemu": {"fitted": {"slots": [40, 28]}}}, FOUR)
        # Group buses chosen from 0x10 up, each socket's groups in its word.
        self.assertEqual(made.board["sockets"], ["0x00181000", "0x00002820", "0x38300000", "0x40000000"])
        bridges = {(b["bus"], b["device"]): b["secondary"] for b in made.board["bridges"]}
        # The fixed bridge on the root bus takes bus 1; each expander's ports its own bus + 1 up.
        self.assertEqual(bridges[("0x00", 2)], "0x01")
        self.assertEqual(bridges[("0x40", 4)], "0x43")  # after the ports at 0 and 1 (slot 7's peer)
        self.assertEqual(len(bridges), 16)  # the two peer root ports among them
        self.assertIn("pci-testdev,bus=rp40_04,addr=0x0", made.devices)
        self.assertIn("bochs-display,bus=pcie.0,addr=0x3.0", made.devices)
        self.assertIn({"bus": "0x43", "device": 0, "function": 0}, made.board["devices"])
        self.assertNotIn({"bus": "0x31", "device": 0, "function": 0}, made.board["devices"])
        # The derived board is a scenario with its machine written out: deriving it again keeps it.
        self.assertEqual(derived_machine.machine_of(made.board, FOUR).devices, made.devices)

    def test_a_card_behind_a_peer_alone(self):
        # The OCP slot's peer, group 2's root port 3: a card there, none behind the slot's own root port.
        made = derived({"straps": {"upper": 3, "lower": 0}, "sockets": ["0x00201000"],
                        "qemu": {"fitted": {"peers": [{"slot": 10, "peer": 0}]}}}, ONE)
        self.assertIn("pci-testdev,bus=rp20_03,addr=0x0", made.devices)
        self.assertNotIn("pci-testdev,bus=rp20_00,addr=0x0", made.devices)
        for fitted, message in [({"peers": [{"slot": 10, "peer": 1}]}, r"peers\[0\].peer: slot 10 has 1 peers"),
                                ({"peers": [{"slot": 3}]}, r"qemu.fitted.peers\[0\]: "),
                                ({"peers": [{"slot": 3, "peer": 0}]}, r"peers\[0\].slot: Slot ID 3 is no wired")]:
            with self.subTest(message=message), self.assertRaisesRegex(boards.BoardError, message):
                derived({"straps": {"upper": 3, "lower": 0}, "qemu": {"fitted": fitted}}, ONE)

    def test_identifiers_read_as_the_driver_reads_them(self):
        # Riser 2 strapped 5 with its top pad owned elsewhere reads 1: the one-slot card, Slot ID 4.
        board = {"straps": {"riser1": 7, "riser2": 5, "riser3": 3}, "sockets": ["0x38282000", "0x68584800"],
                 "pads": [{"pad": "0x01030015", "level": 1, "owner": 1}], "qemu": {"fitted": {"slots": [4]}}}
        self.assertIn("pci-testdev,bus=rp48_00,addr=0x0", derived(board, TWO).devices)

    def test_what_qemu_cannot_model_is_refused_naming_the_field(self):
        two = {"straps": {"riser1": 7, "riser2": 7, "riser3": 3}, "sockets": ["0x38282000", "0x68584800"]}
        refused = [
            # A root port on the root bus takes bus 1 and 2; the fixed bridge's bus 2 is an expander.
            (dict(two, sockets=["0x38002000", "0x68584800"]), TWO, "sockets: the root ports on bus 0x00"),
            (dict(two, qemu={"fitted": {"slots": [1]}}), TWO, r"qemu.fitted.slots\[0\]: Slot ID 1"),
            (dict(two, bridges=[]), TWO, "bridges: a board whose machine is derived"),
            (dict(two, qemu={"fitted": {"devices": [5]}}), TWO, r"qemu.fitted.devices\[0\]"),
            ({"qemu": {"fitted": {"devices": [0, 2]}}}, ONE, r"onboardDevices\[1\]: q35's own 00:1f.2"),
            ({}, with_devices(ONE, lambda d: setattr(d[0], "bus_or_socket", 0x10)), r"onboardDevices\[0\].onBus"),
            ({}, with_devices(ONE, lambda d: setattr(d[2], "device", 1)), r"onboardDevices\[2\].device"),
            ({}, with_devices(ONE, lambda d: setattr(d[1], "probe_function", 5)), "to which QEMU adds none"),
        ]
        for board, platform, message in refused:
            with self.subTest(message=message), self.assertRaisesRegex(boards.BoardError, message):
                derived(board, platform)


def record(record_type, handle, formatted, strings):
    return smbios_dump.raw_smbios_structure(record_type, formatted, strings, handle)


TABLE = (record(0, 0, b"\1" * 0x16, ["vendor"]) + record(9, 5, b"\1" + b"\0" * 12, ["MEZZANINE 0"]) +
         record(41, 6, b"\1\x89\3\0\0\0\xb8", ["PCH Integrated SATA Controller"]) +
         record(127, 0xFEFF, b"", []))


class DumpTest(unittest.TestCase):
    def report_text(self, kind, entry):
        lines = [serial_report.BEGIN_MARKER, f"{kind}-entry address=0x1000 length=0x{len(entry):04X}",
                 "hex " + entry.hex(), f"{kind}-table address=0x2000 length=0x{len(TABLE):08X}"]
        lines += ["hex " + TABLE[i:i + 32].hex().upper() for i in range(0, len(TABLE), 32)]
        return "\r\n".join(lines + [serial_report.END_MARKER]) + "\r\n"

    def test_smbios3_entry_point_is_moved_to_the_dump_table(self):
        entry = bytearray(b"_SM3_\0\x18\3\0\0\1\0" + struct.pack("<IQ", len(TABLE), 0x2000))
        dump = smbios_dump.dump_image(serial_report.Report(self.report_text("smbios3", bytes(entry))))
        self.assertEqual(struct.unpack_from("<Q", dump, 0x10)[0], 0x20)
        self.assertEqual(sum(dump[:0x18]) & 0xFF, 0)
        self.assertEqual(dump[0x20:], TABLE)

    def test_smbios21_entry_point_keeps_both_checksums_valid(self):
        entry = bytearray(0x1F)
        entry[0:4] = b"_SM_"
        entry[5] = 0x1F
        entry[0x10:0x15] = b"_DMI_"
        struct.pack_into("<HIH", entry, 0x16, len(TABLE), 0x2000, 4)
        dump = smbios_dump.dump_image(serial_report.Report(self.report_text("smbios", bytes(entry))))
        self.assertEqual(struct.unpack_from("<I", dump, 0x18)[0], 0x20)
        self.assertEqual(sum(dump[:0x1F]) & 0xFF, 0)
        self.assertEqual(sum(dump[0x10:0x1F]) & 0xFF, 0)

    def test_records_and_strings(self):
        records = smbios_dump.table_records(TABLE)
        self.assertEqual([(t, h) for t, h, _ in records], [(0, 0), (9, 5), (41, 6), (127, 0xFEFF)])
        self.assertEqual(smbios_dump.record_strings(records[2][2]), ["PCH Integrated SATA Controller"])
        self.assertEqual(smbios_dump.record_strings(records[3][2]), [])

    def test_comparison_ignores_handles_only(self):
        mine = smbios_dump.table_records(TABLE)
        theirs = smbios_dump.table_records(TABLE.replace(b"\x09\x11\x05\x00", b"\x09\x11\x40\x00"))
        self.assertEqual(smbios_dump.compare_inventory(mine, theirs), [])
        changed = smbios_dump.table_records(TABLE.replace(b"MEZZANINE 0", b"MEZZANINE 1"))
        self.assertEqual(len(smbios_dump.compare_inventory(mine, changed)), 1)
        swapped = [mine[0], mine[2], mine[1], mine[3]]
        self.assertIn("different order", smbios_dump.compare_inventory(swapped, mine)[0])
        self.assertIn("2 Type 9/41 records, the simulator has 1",
                      smbios_dump.compare_inventory(mine, mine[:2]))

    def test_fill_is_well_formed_oem_strings_of_exactly_the_size_asked(self):
        for total in (8, 71, 16582, 64932):
            fill = machine.fill_structures(total)
            self.assertEqual(len(fill), total)
            for record_type, _, data in smbios_dump.table_records(fill + record(127, 0xFEFF, b"", []))[:-1]:
                strings = smbios_dump.record_strings(data)
                self.assertEqual((record_type, data[4]), (machine.FILL_TYPE, len(strings)))
                self.assertTrue(all(0 < len(text) <= machine.FILL_STRING for text in strings))
        with self.assertRaisesRegex(boards.BoardError, "qemu.smbiosFill"):
            machine.fill_structures(7)

    def test_report_without_end_marker_is_unfinished(self):
        report = serial_report.Report("noise\r\n" + serial_report.BEGIN_MARKER + "\r\nimage label=driver start=0x0 ticks=5\r\n")
        self.assertTrue(report.started)
        self.assertFalse(report.finished)
        self.assertEqual(serial_report.field_int(report.first("image", label="driver"), "ticks"), 5)


def package_list(guid=TWO.file_guid, strings=TWO.strings):
    """TWO's package list, or one under another GUID or with other strings."""
    return smbios_dump.package_list_bytes(types.SimpleNamespace(
        file_guid=guid, strings=strings, language=TWO.language, language_name_id=TWO.language_name_id))


class PackageListTest(unittest.TestCase):
    def test_each_platforms_package_list_passes(self):
        # What the floor driver registers: the driver's own, as the checks read it.
        for platform in (TWO, ONE, FOUR):
            data = smbios_dump.package_list_bytes(platform)
            self.assertEqual(len(data), platform.package_list_length)
            self.assertEqual(checks.check_package_list_bytes(data, platform), [])

    def test_wrong_guid_or_strings_fail(self):
        self.assertEqual(len(checks.check_package_list_bytes(
            package_list(guid="00000000-0000-0000-0000-000000000000"), TWO)), 1)
        problems = checks.check_package_list_bytes(package_list(strings=TWO.strings[:-1]), TWO)
        self.assertTrue(any("string package" in problem for problem in problems))
        self.assertEqual(len(checks.check_package_list_bytes(package_list(), ONE)), 3)


class FirmwareBootTest(unittest.TestCase):
    FV_LINE = ("origin kind=firmware-file file=" + TWO.file_guid + " fv2=0x1 "
               "volume=7CB8BDC9-F8EB-4F34-AAEA-3EE4AF6516A1")

    def harness(self, *lines):
        return serial_report.Report("\r\n".join((serial_report.BEGIN_MARKER,) + lines + (serial_report.END_MARKER,)))

    def test_boots_default_to_the_harness_and_refuse_unknown_kinds(self):
        self.assertEqual(boards.board_boots({}), ["app"])
        self.assertEqual(boards.board_boots({"qemu": {"boots": ["fv", "shell"]}}), ["fv", "shell"])
        for bad in ("fv", ["fv", "pxe"]):
            with self.assertRaises(boards.BoardError):
                boards.board_boots({"qemu": {"boots": bad}})

    def test_fw_cfg_file_path_commas_are_doubled(self):
        self.assertEqual(boot_media.fw_cfg_option(boot_media.FW_CFG_SCENARIO, "/b,c/s.txt"),
                         "name=opt/slotinv/scenario,file=/b,,c/s.txt")

    def test_origin_must_be_one_firmware_file_of_ours_on_a_volume(self):
        self.assertEqual(checks.check_origin(self.harness(self.FV_LINE), "fv", TWO), [])
        self.assertTrue(checks.check_origin(self.harness(self.FV_LINE), "fv", ONE))
        self.assertTrue(checks.check_origin(self.harness(self.FV_LINE.replace("fv2=0x1", "fv2=0x0")), "fv", TWO))
        self.assertTrue(checks.check_origin(self.harness(self.FV_LINE, self.FV_LINE), "fv", TWO))
        shell = "origin kind=file-path path=\\DRIVER.EFI fs=0x1"
        self.assertTrue(checks.check_origin(self.harness(shell), "fv", TWO))
        self.assertEqual(checks.check_origin(self.harness(shell), "shell", TWO), [])
        self.assertTrue(checks.check_origin(self.harness(shell, self.FV_LINE), "shell", TWO))
        self.assertTrue(checks.check_origin(self.harness(shell.replace("fs=0x1", "fs=0x0")), "shell", TWO))
        # A driver whose entry point fails is unloaded by the DXE core that started it.
        self.assertEqual(checks.check_origin(self.harness(), "fv", TWO, entry_failed=True), [])
        self.assertTrue(checks.check_origin(self.harness(self.FV_LINE), "fv", TWO, entry_failed=True))

    def test_earlier_records_counted_from_board_and_qemu(self):
        board = {"smbios": [{"type": 9}, {"type": "41"}, {"type": 1}],
                 "qemu": {"smbios": ["type=41,designation=x", "type=1,manufacturer=y"],
                          "smbiosType9": ["slot"]}}
        self.assertEqual(boards.earlier_record_count(board), 4)
        # Only the table before the driver counts; an app boot's report goes on after it.
        platform = self.harness("records phase=platform", "record type=0x09", "record type=0x29",
                                "record type=0x01", "records phase=after", "record type=0x09")
        self.assertEqual(checks.check_earlier_present(platform, {"smbios": [{"type": 9}, {"type": 41}]}), [])
        self.assertTrue(checks.check_earlier_present(platform, board))

    def test_page_attributes_hold_code_read_only_and_data_not_executable(self):
        sections = [(".text", 0x1000, 0x10B6, True), (".rdata", 0x3000, 0x529, False)]
        pages = ["image-pages base=0xC000000 size=0x4000 protocol=0x0"] + [
            f"page offset=0x{offset:X} status=0x0 attributes=0x{attributes:X}"
            for offset, attributes in ((0, 0x24000), (0x1000, 0x20000), (0x2000, 0x20000), (0x3000, 0x4000))]
        self.assertEqual(checks.check_page_attributes(self.harness(*pages), sections), [])
        writable_code = pages[:3] + ["page offset=0x2000 status=0x0 attributes=0x0"] + pages[4:]
        self.assertEqual(len(checks.check_page_attributes(self.harness(*writable_code), sections)), 1)
        executable_data = pages[:4] + ["page offset=0x3000 status=0x0 attributes=0x20000"]
        self.assertEqual(len(checks.check_page_attributes(self.harness(*executable_data), sections)), 1)
        self.assertEqual(len(checks.check_page_attributes(self.harness(*pages[:4]), sections)), 1)
        self.assertTrue(checks.check_page_attributes(self.harness("image-pages base=0x0 size=0x0 protocol=0x800000000000000E"),
                                                  sections))

    def test_package_list_named_by_another_guid(self):
        other = "0044005C-0052-0049-5600-450052002E00"
        self.assertEqual(checks.check_package_list_bytes(package_list(guid=other), TWO, other), [])
        self.assertEqual(len(checks.check_package_list_bytes(package_list(), TWO, other)), 1)


class DebugLogTest(unittest.TestCase):
    """The DXE core's own lines, as a DEBUG OVMF writes them, in dispatch order."""
    PRODUCER = [f"Loading driver {firmware_log.SMBIOS_PRODUCER_FILE_GUID}",
                "Loading driver at 0x0000D550000 EntryPoint=0x0000D551AF5 SmbiosPlatformDxe.efi",
                "SmbiosAdd: Smbios type 1 with size 0x4B is added to 32-bit table"]
    ENUMERATED = [f"InstallProtocolInterface: {firmware_log.PCI_ENUMERATION_COMPLETE_GUID} 0"]
    DRIVER = [f"Loading driver {TWO.file_guid}",
              "None of Tcg2Protocol/CcMeasurementProtocol is installed.",
              "InstallProtocolInterface: 5B1B31A1-9562-11D2-8E3F-00A0C969723B C78BEA0",
              "Loading driver at 0x0000C763000 EntryPoint=0x0000C764000 SlotInventoryDxe.efi",
              "SmbiosRemove: remove from 32-bit table"]
    UNALIGNED = ["!!!!!!!!  Image Section Alignment(0x40) does not match Required Alignment (0x1000)  !!!!!!!!",
                 "ProtectUefiImage failed to create image properties record"]

    def problems(self, *parts, serial="", protected=False, platform=TWO, simulated=None):
        return firmware_log.check_debug_log("\n".join(line for part in parts for line in part), serial, "fv", platform,
                                   protected, simulated)

    def test_driver_after_enumeration_and_the_smbios_producer_passes(self):
        self.assertEqual(self.problems(self.PRODUCER, self.ENUMERATED, self.DRIVER), [])
        # Another platform's driver is not this one.
        self.assertEqual(len(self.problems(self.PRODUCER, self.ENUMERATED, self.DRIVER, platform=ONE)), 2)

    def test_order_status_and_faults_are_read_from_the_log(self):
        self.assertTrue(self.problems(self.PRODUCER, self.DRIVER, self.ENUMERATED))
        self.assertTrue(self.problems(self.ENUMERATED, self.DRIVER, self.PRODUCER))
        self.assertTrue(self.problems(self.PRODUCER, self.ENUMERATED, self.DRIVER,
                                      ["Error: Image at 0000C763000 start failed: Not Found"]))
        self.assertTrue(self.problems(self.PRODUCER, self.ENUMERATED, self.DRIVER[:2],
                                      ["ConvertPages: failed to find range 140000000 - 140001FFF"],
                                      self.DRIVER[2:]))
        self.assertTrue(self.problems(self.PRODUCER, self.ENUMERATED, self.DRIVER,
                                      ["ASSERT [SmbiosDxe] SmbiosDxe.c(1): FALSE"]))
        serial = "!!!! X64 Exception Type - 0E(#PF - Page-Fault)  CPU Apic ID - 00000000 !!!!\n"
        self.assertTrue(self.problems(self.PRODUCER, self.ENUMERATED, self.DRIVER, serial=serial))

    def test_a_failed_entry_point_and_refused_adds_are_the_simulators(self):
        refused = ["SmbiosAdd: Total length exceeds max 32-bit table length with type = 41 size = 0x2B",
                   "Error: Image at 0000C763000 start failed: Out of Resources"]
        full = checks.SimulatorRun(0x8000000000000009, "EFI_OUT_OF_RESOURCES", 1)
        self.assertEqual(self.problems(self.PRODUCER, self.ENUMERATED, self.DRIVER, refused, simulated=full), [])
        self.assertEqual(len(self.problems(self.PRODUCER, self.ENUMERATED, self.DRIVER, refused)), 2)
        self.assertEqual(len(self.problems(self.PRODUCER, self.ENUMERATED, self.DRIVER, simulated=full)), 2)
        not_found = full._replace(status=0x800000000000000E, status_name="EFI_NOT_FOUND")
        self.assertEqual(len(self.problems(self.PRODUCER, self.ENUMERATED, self.DRIVER, refused, simulated=not_found)),
                         1)

    def test_an_anonymous_or_unprotected_image_fails(self):
        anonymous = self.DRIVER[:2] + ["Loading driver at 0x0000C763000 EntryPoint=0x0000C763337 "]
        self.assertTrue(self.problems(self.PRODUCER, self.ENUMERATED, anonymous))
        self.assertEqual(self.problems(self.PRODUCER, self.ENUMERATED, self.DRIVER, self.UNALIGNED), [])
        problems = self.problems(self.PRODUCER, self.ENUMERATED, self.DRIVER, self.UNALIGNED, protected=True)
        self.assertEqual(len(problems), 2, problems)
        # A complaint about the next image loaded is that image's.
        later = ["Loading driver 6018BF80-8B30-4353-B469-A8B389F108EE",
                 "Loading driver at 0x0000C700000 EntryPoint=0x0000C701000 SlotInventoryTestPlatform.efi"]
        self.assertEqual(self.problems(self.PRODUCER, self.ENUMERATED, self.DRIVER, later, self.UNALIGNED,
                                       protected=True), [])
        self.assertEqual(firmware_log.driver_load_address("\n".join(self.DRIVER + later), TWO), 0xC763000)
        self.assertIsNone(firmware_log.driver_load_address("\n".join(self.DRIVER + later), ONE))

    def test_exception_dump_names_type_address_and_image(self):
        dump = ("!!!! X64 Exception Type - 0E(#PF - Page-Fault)  CPU Apic ID - 00000000 !!!!\n"
                "ExceptionData - 0000000000000002  I:0 R:0 U:0 W:1 P:0 PK:0 SS:0 SGX:0\n"
                "RIP  - 000000000C76304A, CS  - 0000000000000038, RFLAGS - 0000000000000202\n"
                "CR0  - 0000000080010033, CR2  - 000000000C75F000, CR3  - 000000000FC01000\n"
                "!!!! Find image based on IP(0xC76304A) (No PDB)  (ImageBase=000000000C763000, "
                "EntryPoint=000000000C763000) !!!!\n")
        self.assertEqual(firmware_log.exception_dump(dump), (0x0E, 0x2, 0xC76304A, 0xC75F000, 0xC763000))
        self.assertEqual(firmware_log.exception_dump("no fault"), (None,) * 5)


if __name__ == "__main__":
    unittest.main()
