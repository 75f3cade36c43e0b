"""The platform generator (tools/platform/generate.py): bad descriptions are
refused naming the field, with nothing written; the checked-in tables are what
the descriptions give now; the output depends on nothing but the description."""
import copy
import glob
import json
import os
import subprocess
import sys
import tempfile
import unittest

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
GENERATOR = os.path.join(SOURCE_DIR, "tools", "platform", "generate.py")
BOARD = os.path.join(SOURCE_DIR, "platforms", "two-socket-riser", "platform.json")


def generate(*arguments):
    return subprocess.run([sys.executable, GENERATOR, *arguments], capture_output=True, text=True)


def riser(description, index):
    return description["riserPositions"][index]


def card(description, position, name):
    return riser(description, position)["cards"][name]


# Each case: what to change in this board's description, then what the message
# must hold: the field, and the words that say what is wrong.
def set_second_slot_id(d):
    card(d, 0, "three-slot card")[1]["slotId"] = 1


def drop_designation_string(d):
    d["strings"]["texts"] = [t for t in d["strings"]["texts"] if t["name"] != "RISER2_SLOT3"]


def reuse_pad(d):
    riser(d, 2)["pads"][0] = "0x01020010"


def group_out_of_range(d):
    d["mezzanineSlots"][1]["group"] = 0


def device_out_of_range(d):
    card(d, 1, "two-slot card")[0]["device"] = 32


def uncover_identifier(d):
    del d["cardMaps"]["RiserSlotMap"]["6"]


def lengthen_string(d):
    d["strings"]["texts"][4]["text"] = "Riser 1, slot 2 " + "x" * 60


def later(layout, change=lambda d: None):
    """change(d) on the description asking for a later Type 9 layout."""
    def apply(d):
        d["slotRecords"]["smbios"] = layout
        change(d)
    return apply


def peer(socket=0, group=2, device=4, width="x4"):
    return {"socket": socket, "group": group, "device": device, "width": width}


def mezzanine(d, **fields):
    d["mezzanineSlots"][0].update(fields)  # socket 0, group 3, device 0, x8


REFUSALS_OF_LATER_FIELDS = [
    (lambda d: mezzanine(d, physicalWidth="x16"), "mezzanineSlots[0].physicalWidth",
     "only a record of SMBIOS 3.4's Type 9 layout or later has Slot Physical Width"),
    (later("3.4", lambda d: mezzanine(d, height="low profile")), "mezzanineSlots[0].height",
     "this platform writes SMBIOS 3.4 records"),
    (lambda d: d["slotRecords"].update(usageFromPeers=False), "slotRecords.usageFromPeers", "peer groups"),
    (later("3.3"), "slotRecords.smbios", '"3.3" is not a Type 9 layout the driver writes'),
    (later("3.4", lambda d: mezzanine(d, physicalWidth="x4")), "mezzanineSlots[0].physicalWidth",
     "x4 is narrower than the slot's data bus width, x8"),
    (later("3.5", lambda d: mezzanine(d, peers=[peer(group=0)])), "mezzanineSlots[0].peers[0].group",
     "socket 0 has no root-port group 0"),
    (later("3.2", lambda d: mezzanine(d, peers=[peer(width="x4")] * 150)), "mezzanineSlots[0].peers",
     "150 peer groups make a 769-byte formatted area, too long for a 768-byte record with its "
     'designation "MEZZANINE 0" and the string area\'s NULs: at most 147 peers'),
    (later("3.2", lambda d: mezzanine(d, peers=[peer(width="x8")])), "mezzanineSlots[0].peers",
     "the peers take 8 lanes, leaving none of the slot's x8 (8 lanes)"),
    (later("3.2", lambda d: mezzanine(d, peers=[peer(group=3, device=0)])), "mezzanineSlots[0].peers[0]",
     "socket 0 group 3 device 0 is also the slot's own root port"),
    (later("3.4", lambda d: d["slotRecords"]["widths"]["x8"].update(generation=4)),
     "slotRecords.widths.x8.generation", "4, but Slot Type 0xB5 is PCI Express generation 3"),
]


REFUSALS = REFUSALS_OF_LATER_FIELDS + [
    (set_second_slot_id, 'riserPositions[0].cards["three-slot card"][1].slotId',
     "two slots of this card have Slot ID 1"),
    (drop_designation_string, 'riserPositions[1].cards["three-slot card"][2].designation',
     '"RISER2_SLOT3" names no string'),
    (reuse_pad, "riserPositions[2].pads[0]", "pad 0x01020010 is also riserPositions[0].pads[1]"),
    (group_out_of_range, "mezzanineSlots[1].group", "socket 0 has no root-port group 0"),
    (device_out_of_range, 'riserPositions[1].cards["two-slot card"][0].device',
     "must be a number from 0 to 31"),
    (uncover_identifier, "cardMaps.RiserSlotMap", "identifier 6 of riser1 names no card"),
    (lengthen_string, "strings.texts[4].text", "a record string holds at most 63"),
    (lambda d: d.update(format=2), "format", "must be 1"),
    (lambda d: riser(d, 1).update(name="riser"), "riserPositions[1].name", "cannot name the driver's"),
    (lambda d: riser(d, 0).update(padCount=3), "riserPositions[0].padCount", "unknown field"),
    (lambda d: d["onboardDevices"][2].update(onBus=0), "onboardDevices[2]", "exactly one"),
    (lambda d: d.update(flashBudget=370), "flashBudget", "must be a number from 2048 to 65536"),
]


class Refusals(unittest.TestCase):
    def test_each_bad_description_is_refused_naming_the_field_and_nothing_is_written(self):
        with open(BOARD) as source:
            board = json.load(source)
        for change, field, problem in REFUSALS:
            with self.subTest(field=field), tempfile.TemporaryDirectory() as scratch:
                description = copy.deepcopy(board)
                change(description)
                path = os.path.join(scratch, "bad.json")
                with open(path, "w") as out:
                    json.dump(description, out)
                output = os.path.join(scratch, "generated")
                result = generate(path, "--driver", output, "--host", output)
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertIn(f"bad.json: {field}: ", result.stderr)
                self.assertIn(problem, result.stderr)
                self.assertFalse(os.path.exists(output), "a refused description wrote files")

    def test_unreadable_descriptions(self):
        with tempfile.TemporaryDirectory() as scratch:
            path = os.path.join(scratch, "bad.json")
            for text, problem in [('{"format": 1,', "not valid JSON"),
                                  ('{"format": 1, "format": 1}', 'key "format" appears twice')]:
                with open(path, "w") as out:
                    out.write(text)
                result = generate(path, "--driver", os.path.join(scratch, "out"))
                self.assertEqual(result.returncode, 1)
                self.assertIn(problem, result.stderr)
            result = generate(os.path.join(scratch, "absent.json"), "--driver", scratch)
            self.assertIn("cannot be read", result.stderr)
            self.assertEqual(generate(path).returncode, 2)  # nothing to write said


class Outputs(unittest.TestCase):
    def test_checked_in_tables_are_fresh(self):
        descriptions = sorted(glob.glob(os.path.join(SOURCE_DIR, "platforms", "*", "platform.json")))
        self.assertGreaterEqual(len(descriptions), 2)
        for description in descriptions:
            generated = os.path.join(os.path.dirname(description), "generated")
            with self.subTest(description=description):
                result = generate(description, "--check", generated)
                self.assertEqual(result.returncode, 0, result.stderr)

    def test_the_default_platform_names_the_product_module(self):
        # The product image takes its file GUID and name from the binary INF,
        # the simulator from the description: a firmware volume and boardsim
        # must name the driver alike.
        with open(BOARD) as source:
            module = json.load(source)["module"]
        with open(os.path.join(SOURCE_DIR, "platform", "SlotInventoryDxe.inf")) as source:
            defines = dict((part.strip() for part in line.split("=", 1))
                           for line in source.read().splitlines()
                           if "=" in line and not line.lstrip().startswith("#"))
        self.assertEqual(defines["FILE_GUID"], module["fileGuid"])
        self.assertEqual(defines["BASE_NAME"], module["baseName"])

    def test_the_package_roots_source_module_is_the_default_platforms(self):
        # SlotInventoryDxe.inf and its DSC and FDF lines in platform/ are what a
        # platform and the OVMF source build take: the same writer's text as
        # every platform's module, so they cannot drift from it.
        with tempfile.TemporaryDirectory() as scratch:
            self.assertEqual(generate(BOARD, "--package-root", scratch).returncode, 0)
            written = sorted(os.path.relpath(os.path.join(folder, name), scratch)
                             for folder, _, names in os.walk(scratch) for name in names)
            self.assertEqual(written, ["SlotInventoryDxe.inf", "platform/SlotInventoryDxeSource.dsc",
                                       "platform/SlotInventoryDxeSource.fdf"])
            for name in written:
                with open(os.path.join(scratch, name)) as fresh, \
                        open(os.path.join(SOURCE_DIR, name)) as checked_in:
                    self.assertEqual(checked_in.read(), fresh.read(),
                                     f"{name} is stale; refresh it with: python3 tools/platform/generate.py "
                                     "platforms/two-socket-riser/platform.json --package-root .")

    def test_the_flash_budget_is_the_products_unless_the_description_gives_one(self):
        with open(BOARD) as source:
            board = json.load(source)
        with tempfile.TemporaryDirectory() as scratch:
            for budget in (None, 5120):
                if budget:
                    board["flashBudget"] = budget
                path = os.path.join(scratch, "board.json")
                with open(path, "w") as out:
                    json.dump(board, out)
                self.assertEqual(generate(path, "--host", scratch).returncode, 0)
                with open(os.path.join(scratch, "summary.json")) as summary:
                    self.assertEqual(json.load(summary)["flashBudget"], budget or 3700)

    def test_a_stale_table_is_named_with_the_command_that_refreshes_it(self):
        with tempfile.TemporaryDirectory() as scratch:
            self.assertEqual(generate(BOARD, "--driver", scratch).returncode, 0)
            with open(os.path.join(scratch, "riser_straps.h"), "a") as stale:
                stale.write("// edited\n")
            result = generate(BOARD, "--check", scratch)
            self.assertEqual(result.returncode, 1)
            self.assertIn("riser_straps.h", result.stderr)
            self.assertIn("refresh it with: python3 tools/platform/generate.py "
                          "platforms/two-socket-riser/platform.json --driver", result.stderr)

    def test_output_depends_only_on_the_description(self):
        with tempfile.TemporaryDirectory() as first, tempfile.TemporaryDirectory() as second:
            for folder in (first, second):
                result = subprocess.run([sys.executable, GENERATOR, BOARD, "--driver", folder,
                                         "--host", folder], capture_output=True, cwd=folder)
                self.assertEqual(result.returncode, 0, result.stderr)
            names = sorted(os.listdir(first))
            self.assertEqual(names, sorted(os.listdir(second)))
            for name in names:
                with open(os.path.join(first, name), "rb") as a, open(os.path.join(second, name), "rb") as b:
                    text = a.read()
                    self.assertEqual(text, b.read(), name)
                    self.assertNotIn(first.encode(), text, name)
                    self.assertNotIn(SOURCE_DIR.encode(), text, name)


if __name__ == "__main__":
    unittest.main()
