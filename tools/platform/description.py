"""Reads a platform description (platforms/NAME/platform.json) and checks
every field against what the driver's tables can hold. A problem raises
DescriptionError naming the field, e.g.
"riserPositions[0].pads[2]: pad 0x01020011 is also riserPositions[1].pads[0]".
The format is documented in platforms/README.md.
"""
import json
import os
import re
from dataclasses import dataclass, field

FORMAT = 1

# Type 41 Device Type values by the names a description uses.
DEVICE_TYPES = {
    "other": 0x01, "unknown": 0x02, "video": 0x03, "scsi": 0x04, "ethernet": 0x05,
    "token ring": 0x06, "sound": 0x07, "pata": 0x08, "sata": 0x09, "sas": 0x0A,
    "wireless lan": 0x0B, "bluetooth": 0x0C, "wwan": 0x0D, "emmc": 0x0E, "nvme": 0x0F,
    "ufs": 0x10,
}

# Limits of the driver's tables and of the simulator that runs them.
MAX_SOCKETS = 4
MAX_RISER_POSITIONS = 4   # the identifiers travel in one 32-bit register
MAX_PADS = 8              # an identifier is one byte
MAX_CARD_SLOTS = 8
COUNT_WORDS = ["", "One", "Two", "Three", "Four", "Five", "Six", "Seven", "Eight"]
ROOT_PORT_GROUPS = 4      # bytes of a socket's bus-number word

# The Type 9 layouts a description may ask for (slotRecords.smbios); without
# one the records are SMBIOS 2.6's. A later layout's fields, and the first
# layout that has them.
LAYOUTS = ["2.6", "3.2", "3.4", "3.5"]
PEERS_SINCE, PHYSICAL_SINCE, HEIGHT_SINCE = "3.2", "3.4", "3.5"
# Slot Width codes that count lanes, by the names a description may write.
LANE_WIDTHS = {"x1": 0x08, "x2": 0x09, "x4": 0x0A, "x8": 0x0B, "x12": 0x0C, "x16": 0x0D,
               "x32": 0x0E}
LANES = {code: int(name[1:]) for name, code in LANE_WIDTHS.items()}
# Slot Height values by the names a description uses.
SLOT_HEIGHTS = {"not applicable": 0x00, "other": 0x01, "unknown": 0x02, "full height": 0x03,
                "low profile": 0x04}
DEFAULT_HEIGHT = "unknown"
# PCI Express Slot Types by generation: (first, last) of each generation's
# run; a generation given for a width of such a type must agree with it.
PCIE_SLOT_TYPES = {1: (0xA5, 0xAA), 2: (0xAB, 0xB0), 3: (0xB1, 0xB6), 4: (0xB8, 0xBD),
                   5: (0xBE, 0xC3), 6: (0xC4, 0xC4)}

# The flash a platform gives the driver: bytes of the LZMA-compressed image,
# as a firmware volume stores it. The product's budget is the default. No
# image of the driver is under 2 KiB compressed, and a budget past 64 KiB is a
# slip rather than a board's need.
DEFAULT_FLASH_BUDGET = 3700
FLASH_BUDGET_RANGE = (2048, 65536)

# Position names the generated C++ cannot take: RiserIds members that would
# be keywords or its padding, and "riser", whose routine would be the shared
# AddRiserSlots.
RESERVED_POSITION_NAMES = set("""
    alignas alignof and asm auto bitand bitor bool break case catch char class compl concept
    const consteval constexpr constinit continue decltype default delete do double else enum
    explicit export extern false float for friend goto if inline int long mutable namespace new
    noexcept not nullptr operator or private protected public register requires reserved return
    riser short signed sizeof static struct switch template this throw true try typedef typeid
    typename union unsigned using virtual void volatile while xor""".split())


class DescriptionError(Exception):
    pass


def fail(where, problem):
    raise DescriptionError(f"{where}: {problem}")


@dataclass
class Peer:
    socket: int
    group: int
    device: int
    lanes: int


@dataclass
class Wiring:
    socket: int
    group: int
    device: int
    width: str
    peers: list = field(default_factory=list)  # [Peer]: the other root ports of a bifurcated slot
    lanes: int = 0                             # its own root port's, what the peers leave


@dataclass
class Slot:
    slot_id: int
    string_id: int
    text: str
    wiring: Wiring = None                              # fixed wiring, or
    by_identifier: dict = field(default_factory=dict)  # identifier -> Wiring
    physical_width: int = 0                            # Slot Width code; 0 before SMBIOS 3.4
    pitch: int = 0                                     # 1/100 mm; 0 before SMBIOS 3.4
    height: int = 0                                    # Slot Height code; 0 before SMBIOS 3.5


@dataclass
class Position:
    name: str
    title: str
    pads: list
    no_card: object        # int or None
    card_map: str
    cards: dict            # name -> [Slot]
    identifiers: int = 0   # 2 ** len(pads)


@dataclass
class Device:
    string_id: int
    text: str
    type_name: str
    type: int
    instance: int
    location: str          # "bridge", "rootPort" or "bus"
    bus_or_socket: int
    group: int
    bridge: int
    device: int
    function: int
    probe_function: int


@dataclass
class Socket:
    bus: int
    device: int
    function: int
    offset: int
    groups: list


@dataclass
class Platform:
    name: str
    base_name: str
    file_guid: str
    sockets: list
    slot_length: int
    characteristics: tuple
    widths: list           # [(name, slot type, data bus width)]
    layout: str            # the Type 9 layout, one of LAYOUTS
    usage_from_peers: bool # In use when a peer's root port has something behind it
    slot_information: dict # width name -> Slot Information (SMBIOS 3.4)
    language: str
    language_name_id: int
    strings: list          # [(name, text)], string id = index + 1
    mezzanine: list        # [Slot]
    card_maps: dict        # name -> {identifier: card name}
    positions: list        # [Position]
    devices: list          # [Device]
    flash_budget: int = DEFAULT_FLASH_BUDGET
    document: dict = None  # the description as read


class Limits:
    """What the driver's own headers say about records and GPIO pads, read
    from them so that a description is checked against the code it feeds."""

    def __init__(self, source_dir):
        records = _read(source_dir, "include/smbios_records.h")
        self.record_buffer = _constant(records, "RECORD_BUFFER_SIZE")
        self.string_limit = _constant(records, "RECORD_STRING_LIMIT")
        self.formatted = {9: _constant(records, "SMBIOS_TYPE9_LENGTH"),
                          41: _constant(records, "SMBIOS_TYPE41_LENGTH")}
        # The later Type 9 layouts' lengths without peer groups, and a peer group's.
        self.type9 = {name: _constant(records, name) for name in (
            "SMBIOS_TYPE9_LENGTH_32", "SMBIOS_TYPE9_LENGTH_34", "SMBIOS_TYPE9_LENGTH_35",
            "SMBIOS_TYPE9_PEER_GROUP_SIZE")}
        pads = _read(source_dir, "hw/gpio_pads.h")
        self.chipset = _constant(pads, "GPIO_CHIPSET_ID")
        table = re.search(r"GpioGroupTable\[[^\]]*\]\s*=\s*\{(.*?)\n\};", pads, re.S).group(1)
        # Each group's sideband port, pad count, ownership and configuration offsets.
        self.gpio_groups = [tuple(int(value, 0) for value in row) for row in re.findall(
            r"\{\s*(0x[0-9A-Fa-f]+),\s*(\w+),\s*(0x[0-9A-Fa-f]+),\s*(0x[0-9A-Fa-f]+)\s*\}", table)]
        self.group_pads = [pads for _, pads, _, _ in self.gpio_groups]


def _read(source_dir, name):
    with open(f"{source_dir}/{name}", encoding="utf-8") as header:
        return header.read()


def _constant(text, name):
    found = re.search(rf"\b{name}\s*=\s*(0x[0-9A-Fa-f]+|\d+)\s*;", text)
    if not found:
        raise DescriptionError(f"no {name} in the driver's headers")
    return int(found.group(1), 0)


# ---- JSON reading: every object checked for unknown and missing keys ----

def _no_duplicates(pairs):
    seen = {}
    for key, value in pairs:
        if key in seen:
            raise DescriptionError(f"key {json.dumps(key)} appears twice in one object")
        seen[key] = value
    return seen


def _key(where, key):
    return f"{where}.{key}" if re.fullmatch(r"[A-Za-z_][A-Za-z0-9_]*", key) else \
        f"{where}[{json.dumps(key)}]"


def _object(value, where, required=None, optional=()):
    """VALUE, checked to be an object with the REQUIRED keys and no others
    but OPTIONAL ones; without REQUIRED, an object with any keys."""
    if not isinstance(value, dict):
        fail(where, "must be an object")
    if required is None:
        return value
    for key in value:
        if key not in required and key not in optional:
            fail(_key(where, key) if where else key, "unknown field")
    for key in required:
        if key not in value:
            fail(_key(where, key) if where else key, "is missing")
    return value


def _list(value, where, least, most):
    if not isinstance(value, list):
        fail(where, "must be an array")
    if not least <= len(value) <= most:
        fail(where, f"must hold {least} to {most} entries" if least != most
             else f"must hold {least} entries")
    return value


def _number(value, where, least, most):
    if isinstance(value, bool):
        fail(where, "must be a number or a \"0x\" string")
    if isinstance(value, str):
        if not re.fullmatch(r"0[xX][0-9A-Fa-f]{1,16}", value):
            fail(where, f"{json.dumps(value)} is not a number: write 0x followed by hex digits")
        value = int(value, 16)
    elif not isinstance(value, int):
        fail(where, "must be a number or a \"0x\" string")
    if not least <= value <= most:
        fail(where, f"must be a number from {least} to {most}")
    return value


def _text(value, where, pattern=None, meaning=""):
    if not isinstance(value, str) or not value:
        fail(where, "must be a non-empty string")
    if pattern and not re.fullmatch(pattern, value):
        fail(where, f"{json.dumps(value)} is not {meaning}")
    return value


def _identifier_key(key, where, count):
    if not re.fullmatch(r"0|[1-9][0-9]{0,2}", key):
        fail(where, f"{json.dumps(key)} is not an identifier: write it in decimal")
    if int(key) >= count:
        fail(where, f"identifier {key} cannot be read from {count.bit_length() - 1} pads "
                    f"(they give 0 to {count - 1})")
    return int(key)


# ---- the description ----

class _Reader:
    def __init__(self, document, limits):
        self.doc = document
        self.limits = limits
        self.string_ids = {}
        self.slot_ids = {}   # Slot ID -> where it is used, one owner per position or mezzanine

    def read(self):
        doc = _object(self.doc, "", ["format", "platform", "module", "sockets", "slotRecords",
                                     "strings", "mezzanineSlots", "cardMaps", "riserPositions",
                                     "onboardDevices"], ["description", "flashBudget"])
        if doc["format"] != FORMAT or isinstance(doc["format"], bool):
            fail("format", f"must be {FORMAT}, the version of the format this generator reads")
        if "description" in doc:
            _text(doc["description"], "description")
        name = _text(doc["platform"], "platform", r"[a-z0-9]+(-[a-z0-9]+)*",
                     "a platform name (lower-case letters and digits, words joined by '-')")
        module = _object(doc["module"], "module", ["baseName", "fileGuid"])
        base_name = _text(module["baseName"], "module.baseName", r"[A-Za-z][A-Za-z0-9_]{0,63}",
                          "a module name (a letter, then letters, digits or '_')")
        guid = _text(module["fileGuid"], "module.fileGuid",
                     r"[0-9A-Fa-f]{8}(-[0-9A-Fa-f]{4}){3}-[0-9A-Fa-f]{12}",
                     "a GUID written 8-4-4-4-12 hex digits").upper()
        self.sockets = self.read_sockets(doc["sockets"])
        length, characteristics, self.widths = self.read_slot_records(doc["slotRecords"])
        language, language_name, strings = self.read_strings(doc["strings"])
        self.slot_defaults = self.read_slot_defaults(doc["slotRecords"])
        mezzanine = self.read_mezzanine(doc["mezzanineSlots"])
        card_maps = self.read_card_maps(doc["cardMaps"])
        positions = self.read_positions(doc["riserPositions"], card_maps)
        devices = self.read_devices(doc["onboardDevices"])
        budget = _number(doc.get("flashBudget", DEFAULT_FLASH_BUDGET), "flashBudget",
                         *FLASH_BUDGET_RANGE)
        return Platform(name, base_name, guid, self.sockets, length, characteristics,
                        self.widths, self.layout, self.usage_from_peers, self.slot_information,
                        language, language_name, strings, mezzanine, card_maps,
                        positions, devices, budget, self.doc)

    def read_sockets(self, value):
        sockets = []
        for i, entry in enumerate(_list(value, "sockets", 1, MAX_SOCKETS)):
            where = f"sockets[{i}]"
            _object(entry, where, ["busNumbers", "groups"])
            word = _object(entry["busNumbers"], f"{where}.busNumbers",
                           ["bus", "device", "function", "offset"])
            offset = _number(word["offset"], f"{where}.busNumbers.offset", 0, 0xFC)
            if offset % 4:
                fail(f"{where}.busNumbers.offset", "must be a multiple of 4: the word is read whole")
            groups = []
            for k, group in enumerate(_list(entry["groups"], f"{where}.groups", 1, ROOT_PORT_GROUPS)):
                group = _number(group, f"{where}.groups[{k}]", 0, ROOT_PORT_GROUPS - 1)
                if group in groups:
                    fail(f"{where}.groups[{k}]", f"group {group} is listed twice")
                groups.append(group)
            sockets.append(Socket(_number(word["bus"], f"{where}.busNumbers.bus", 0, 255),
                                  _number(word["device"], f"{where}.busNumbers.device", 0, 31),
                                  _number(word["function"], f"{where}.busNumbers.function", 0, 7),
                                  offset, groups))
        return sockets

    def read_slot_records(self, value):
        records = _object(value, "slotRecords",
                          ["length", "characteristics1", "characteristics2", "widths"],
                          ["smbios", "pitch", "height", "usageFromPeers"])
        self.layout = "2.6"
        if "smbios" in records:
            self.layout = records["smbios"]
            if self.layout not in LAYOUTS[1:]:
                fail("slotRecords.smbios", f"{json.dumps(self.layout)} is not a Type 9 layout the "
                                           f"driver writes: \"3.2\", \"3.4\" or \"3.5\" (leave it "
                                           "out for SMBIOS 2.6's)")
        self.usage_from_peers = True
        if "usageFromPeers" in records:
            self.since(PEERS_SINCE, "slotRecords.usageFromPeers", "peer groups")
            self.usage_from_peers = records["usageFromPeers"]
            if not isinstance(self.usage_from_peers, bool):
                fail("slotRecords.usageFromPeers", "must be true or false")
        length = _number(records["length"], "slotRecords.length", 0, 255)
        characteristics = tuple(_number(records[key], f"slotRecords.{key}", 0, 255)
                                for key in ("characteristics1", "characteristics2"))
        widths = _object(records["widths"], "slotRecords.widths")
        if not widths:
            fail("slotRecords.widths", "must name at least one width")
        result = []
        self.slot_information = {}
        for name, encoding in widths.items():
            where = _key("slotRecords.widths", name)
            if not re.fullmatch(r"[a-z][a-z0-9]{0,15}", name) or name == "unwired":
                fail(where, "a width is named by lower-case letters and digits, not 'unwired'")
            _object(encoding, where, ["slotType", "dataBusWidth"], ["generation", "slotInformation"])
            slot_type = _number(encoding["slotType"], f"{where}.slotType", 0, 255)
            bus_width = _number(encoding["dataBusWidth"], f"{where}.dataBusWidth", 0, 255)
            if self.layout != "2.6" and bus_width not in LANES:
                fail(f"{where}.dataBusWidth", f"0x{bus_width:02X} counts no lanes (0x08 to 0x0E, x1 to "
                                              f"x32): an SMBIOS {self.layout} record gives the lanes "
                                              "of a slot's root ports")
            self.slot_information[name] = self.read_slot_information(encoding, where, slot_type)
            result.append((name, slot_type, bus_width))
        return length, characteristics, result

    def since(self, layout, where, what):
        """Refuses a field of a later layout than the platform's."""
        if LAYOUTS.index(self.layout) < LAYOUTS.index(layout):
            fail(where, f"only a record of SMBIOS {layout}'s Type 9 layout or later has {what}: set "
                        f"slotRecords.smbios to \"{layout}\" or later (this platform writes SMBIOS "
                        f"{self.layout} records)")

    def read_slot_information(self, encoding, where, slot_type):
        """A width's Slot Information: its PCI Express generation, or the value itself."""
        given = [key for key in ("generation", "slotInformation") if key in encoding]
        if not given:
            return 0
        if len(given) == 2:
            fail(where, "give generation or slotInformation, not both")
        self.since(PHYSICAL_SINCE, f"{where}.{given[0]}", "Slot Information")
        if given[0] == "slotInformation":
            return _number(encoding["slotInformation"], f"{where}.slotInformation", 0, 255)
        generation = _number(encoding["generation"], f"{where}.generation", 1, 255)
        of_type = [g for g, (first, last) in PCIE_SLOT_TYPES.items() if first <= slot_type <= last]
        if not of_type:
            fail(f"{where}.generation", f"Slot Type 0x{slot_type:02X} is no PCI Express slot: give "
                                        "slotInformation instead")
        if generation != of_type[0] and not (of_type[0] == 6 and generation > 6):
            fail(f"{where}.generation", f"{generation}, but Slot Type 0x{slot_type:02X} is PCI Express "
                                        f"generation {of_type[0]}{' or later' if of_type[0] == 6 else ''}")
        return generation

    def read_slot_defaults(self, records):
        """The pitch and height of a slot that gives none (slotRecords.pitch, .height)."""
        has_height = LAYOUTS.index(self.layout) >= LAYOUTS.index(HEIGHT_SINCE)
        pitch, height = 0, SLOT_HEIGHTS[DEFAULT_HEIGHT] if has_height else 0
        if "pitch" in records:
            self.since(PHYSICAL_SINCE, "slotRecords.pitch", "Slot Pitch")
            pitch = _number(records["pitch"], "slotRecords.pitch", 0, 0xFFFF)
        if "height" in records:
            height = self.height(records["height"], "slotRecords.height")
        return pitch, height

    def height(self, value, where):
        self.since(HEIGHT_SINCE, where, "Slot Height")
        if value not in SLOT_HEIGHTS:
            fail(where, f"{json.dumps(value)} is not one of {', '.join(SLOT_HEIGHTS)}")
        return SLOT_HEIGHTS[value]

    def width_code(self, value, where):
        """The Slot Width code of a width name of slotRecords.widths, or of x1 to x32."""
        for name, _, code in self.widths:
            if value == name:
                return code
        if value in LANE_WIDTHS:
            return LANE_WIDTHS[value]
        fail(where, f"{json.dumps(value)} is neither a width of slotRecords.widths nor one of "
                    f"{', '.join(LANE_WIDTHS)}")

    def read_strings(self, value):
        strings = _object(value, "strings", ["language", "languageName", "texts"])
        language = _text(strings["language"], "strings.language",
                         r"[A-Za-z]{2,8}(-[A-Za-z0-9]{1,8})*", "a language tag such as en-US")
        texts = []
        # A record holds its formatted area, the string with its NUL and the area's final NUL.
        longest = min(self.limits.string_limit - 1,
                      self.limits.record_buffer - max(self.limits.formatted.values()) - 2)
        for i, entry in enumerate(_list(strings["texts"], "strings.texts", 1, 0xFFFF)):
            where = f"strings.texts[{i}]"
            _object(entry, where, ["name", "text"])
            name = _text(entry["name"], f"{where}.name", r"[A-Z][A-Z0-9_]{0,63}",
                         "a string name (capitals, digits and '_')")
            if name in self.string_ids:
                fail(f"{where}.name", f"{name} is also strings.texts[{self.string_ids[name] - 1}]")
            text = entry["text"]
            if not isinstance(text, str) or not text:
                fail(f"{where}.text", "must be a non-empty string")
            if len(text) > longest:
                fail(f"{where}.text", f"{len(text)} characters: a record string holds at most "
                                      f"{longest} (a record, formatted area and strings, "
                                      f"at most {self.limits.record_buffer} bytes)")
            if not all(" " <= c <= "~" for c in text):
                fail(f"{where}.text", "must be printable ASCII: records hold ASCII strings")
            self.string_ids[name] = i + 1
            texts.append((name, text))
        language_name = self.string_id(strings["languageName"], "strings.languageName")
        return language, language_name, texts

    def string_id(self, name, where):
        if not isinstance(name, str) or name not in self.string_ids:
            fail(where, f"{json.dumps(name)} names no string of strings.texts")
        return self.string_ids[name]

    def socket_group(self, entry, where):
        socket = _number(entry["socket"], f"{where}.socket", 0, 255)
        if socket >= len(self.sockets):
            fail(f"{where}.socket", f"there is no socket {socket}: sockets lists {len(self.sockets)}")
        group = _number(entry["group"], f"{where}.group", 0, 255)
        if group not in self.sockets[socket].groups:
            fail(f"{where}.group", f"socket {socket} has no root-port group {group} "
                                   f"(its groups: {', '.join(map(str, self.sockets[socket].groups))})")
        return socket, group

    def wiring(self, entry, where, text):
        socket, group = self.socket_group(entry, where)
        device = _number(entry["device"], f"{where}.device", 0, 31)
        width = entry["width"]
        codes = {name: code for name, _, code in self.widths}
        if width not in codes:
            fail(f"{where}.width", f"{json.dumps(width)} is not a width of slotRecords.widths")
        wiring = Wiring(socket, group, device, width, [], LANES.get(codes[width], 0))
        if "peers" in entry:
            self.since(PEERS_SINCE, f"{where}.peers", "peer groups")
            self.read_peers(entry["peers"], f"{where}.peers", wiring, text)
        return wiring

    def read_peers(self, value, where, wiring, text):
        """The other root ports of a bifurcated slot; the slot's own keeps the
        lanes they leave it."""
        if not isinstance(value, list):
            fail(where, "must be an array")
        base = {"3.2": "SMBIOS_TYPE9_LENGTH_32", "3.4": "SMBIOS_TYPE9_LENGTH_34",
                "3.5": "SMBIOS_TYPE9_LENGTH_35"}[self.layout]
        formatted = self.limits.type9[base] + self.limits.type9["SMBIOS_TYPE9_PEER_GROUP_SIZE"] * len(value)
        room = self.limits.record_buffer - len(text) - 2 - self.limits.type9[base]
        if formatted + len(text) + 2 > self.limits.record_buffer:
            fail(where, f"{len(value)} peer groups make a {formatted}-byte formatted area, too long for a "
                        f"{self.limits.record_buffer}-byte record with its designation \"{text}\" and "
                        f"the string area's NULs: at most "
                        f"{room // self.limits.type9['SMBIOS_TYPE9_PEER_GROUP_SIZE']} peers")
        taken = {(wiring.socket, wiring.group, wiring.device): "the slot's own root port"}
        for i, entry in enumerate(value):
            inner = f"{where}[{i}]"
            _object(entry, inner, ["socket", "group", "device", "width"])
            socket, group = self.socket_group(entry, inner)
            device = _number(entry["device"], f"{inner}.device", 0, 31)
            if (socket, group, device) in taken:
                fail(inner, f"socket {socket} group {group} device {device} is also "
                            f"{taken[(socket, group, device)]}")
            taken[(socket, group, device)] = f"{where}[{i}]"
            code = self.width_code(entry["width"], f"{inner}.width")
            wiring.peers.append(Peer(socket, group, device, LANES[code]))
        left = wiring.lanes - sum(peer.lanes for peer in wiring.peers)
        if left <= 0:
            fail(where, f"the peers take {wiring.lanes - left} lanes, leaving none of the slot's "
                        f"{wiring.width} ({wiring.lanes} lanes) to its own root port")
        wiring.lanes = left

    def slot_form(self, entry, slot, where):
        """Physical width, pitch and height of the slot, or the platform's defaults."""
        wirings = [slot.wiring] if slot.wiring else list(slot.by_identifier.values())
        codes = {name: code for name, _, code in self.widths}
        widest = max(wirings, key=lambda w: LANES.get(codes[w.width], 0))
        slot.pitch, slot.height = self.slot_defaults
        if LAYOUTS.index(self.layout) >= LAYOUTS.index(PHYSICAL_SINCE):
            slot.physical_width = codes[widest.width]
        if "physicalWidth" in entry:
            self.since(PHYSICAL_SINCE, f"{where}.physicalWidth", "Slot Physical Width")
            slot.physical_width = self.width_code(entry["physicalWidth"], f"{where}.physicalWidth")
            if LANES.get(slot.physical_width, 0) < LANES.get(codes[widest.width], 0):
                fail(f"{where}.physicalWidth", f"{entry['physicalWidth']} is narrower than the slot's "
                                               f"data bus width, {widest.width}")
        if "pitch" in entry:
            self.since(PHYSICAL_SINCE, f"{where}.pitch", "Slot Pitch")
            slot.pitch = _number(entry["pitch"], f"{where}.pitch", 0, 0xFFFF)
        if "height" in entry:
            slot.height = self.height(entry["height"], f"{where}.height")

    def slot(self, entry, where, owner, identifiers=None):
        wired = ["socket", "group", "device", "width"]
        form = ["physicalWidth", "pitch", "height"]
        by_identifier = isinstance(entry, dict) and "wiringByIdentifier" in entry
        if by_identifier and "peers" in entry:
            fail(f"{where}.peers", "a slot wired by identifier gives its peers with each wiring of "
                                   "wiringByIdentifier")
        _object(entry, where, ["slotId", "designation"] +
                (["wiringByIdentifier"] if by_identifier else wired), form + ([] if by_identifier else ["peers"]))
        slot_id = _number(entry["slotId"], f"{where}.slotId", 0, 0xFFFF)
        if self.slot_ids.setdefault(slot_id, owner) != owner:
            fail(f"{where}.slotId", f"Slot ID {slot_id} is also used by {self.slot_ids[slot_id]}")
        string_id = self.string_id(entry["designation"], f"{where}.designation")
        slot = Slot(slot_id, string_id, self.strings_text(string_id))
        if not by_identifier:
            slot.wiring = self.wiring(entry, where, slot.text)
            self.slot_form(entry, slot, where)
            return slot
        if identifiers is None:
            fail(f"{where}.wiringByIdentifier", "only a riser card's slot is wired by identifier")
        table = _object(entry["wiringByIdentifier"], f"{where}.wiringByIdentifier")
        for key, wiring in table.items():
            inner = _key(f"{where}.wiringByIdentifier", key)
            identifier = _identifier_key(key, inner, identifiers)
            slot.by_identifier[identifier] = self.wiring(_object(wiring, inner, wired, ["peers"]),
                                                         inner, slot.text)
        if slot.by_identifier:
            self.slot_form(entry, slot, where)
        return slot

    def strings_text(self, string_id):
        return self.doc["strings"]["texts"][string_id - 1]["text"]

    def read_mezzanine(self, value):
        slots = []
        for i, entry in enumerate(_list(value, "mezzanineSlots", 1, 255)):
            slot = self.slot(entry, f"mezzanineSlots[{i}]", "the mezzanine slots")
            if slot.slot_id in [other.slot_id for other in slots]:
                fail(f"mezzanineSlots[{i}].slotId", f"two mezzanine slots have Slot ID {slot.slot_id}")
            slots.append(slot)
        return slots

    def read_card_maps(self, value):
        maps = _object(value, "cardMaps")
        result = {}
        for name, entries in maps.items():
            where = _key("cardMaps", name)
            if not re.fullmatch(r"[A-Z][A-Za-z0-9]{0,60}Map", name):
                fail(where, "a card map is named like the C table it becomes: a capital, then "
                            "letters and digits, ending in Map")
            _object(entries, where)
            result[name] = {}
            for key, card in entries.items():
                identifier = _identifier_key(key, _key(where, key), 1 << MAX_PADS)
                result[name][identifier] = _text(card, _key(where, key))
        return result

    def read_positions(self, value, card_maps):
        positions, pads = [], {}
        for i, entry in enumerate(_list(value, "riserPositions", 1, MAX_RISER_POSITIONS)):
            where = f"riserPositions[{i}]"
            _object(entry, where, ["name", "title", "pads", "cardMap", "cards"], ["noCard"])
            name = _text(entry["name"], f"{where}.name", r"[a-z][a-z0-9]{0,15}",
                         "a position name (lower-case letters and digits)")
            if name in [other.name for other in positions]:
                fail(f"{where}.name", f"two riser positions are named {name}")
            if name in RESERVED_POSITION_NAMES:
                fail(f"{where}.name", f"{name} cannot name the driver's routines and members "
                                      f"(Add{name.capitalize()}Slots, RiserIds::{name}): choose another")
            title = _text(entry["title"], f"{where}.title")
            position_pads = []
            for k, pad in enumerate(_list(entry["pads"], f"{where}.pads", 1, MAX_PADS)):
                pad = self.pad(pad, f"{where}.pads[{k}]")
                if pad in pads:
                    fail(f"{where}.pads[{k}]", f"pad 0x{pad:08X} is also {pads[pad]}")
                pads[pad] = f"{where}.pads[{k}]"
                position_pads.append(pad)
            identifiers = 1 << len(position_pads)
            no_card = None
            if "noCard" in entry:
                no_card = _number(entry["noCard"], f"{where}.noCard", 0, identifiers - 1)
            card_map = entry["cardMap"]
            if card_map not in card_maps:
                fail(f"{where}.cardMap", f"{json.dumps(card_map)} is not a map of cardMaps")
            position = Position(name, title, position_pads, no_card, card_map, {}, identifiers)
            self.read_cards(entry["cards"], f"{where}.cards", position, card_maps[card_map])
            positions.append(position)
        self.check_shared_maps(positions, card_maps)
        return positions

    def pad(self, value, where):
        pad = _number(value, where, 0, 0xFFFFFFFF)
        chipset, group, number = pad >> 24, (pad >> 16) & 0xFF, pad & 0xFFFF
        if chipset != self.limits.chipset:
            fail(where, f"pad 0x{pad:08X} is not of chipset 0x{self.limits.chipset:02X} "
                        "(bits 31:24), the one hw/gpio_pads.h reads")
        if group >= len(self.limits.group_pads):
            fail(where, f"pad 0x{pad:08X}: there is no GPIO group {group} "
                        f"(hw/gpio_pads.h has groups 0 to {len(self.limits.group_pads) - 1})")
        if number >= self.limits.group_pads[group]:
            fail(where, f"pad 0x{pad:08X}: GPIO group {group} has pads 0 to "
                        f"{self.limits.group_pads[group] - 1}")
        return pad

    def read_cards(self, value, where, position, card_map):
        cards = _object(value, where)
        for identifier in range(position.identifiers):
            if identifier not in card_map and identifier != position.no_card:
                fail(_key(f"cardMaps", position.card_map),
                     f"identifier {identifier} of {position.name} names no card: map it to one, "
                     f"or make it the position's noCard")
        for identifier, card in card_map.items():
            if identifier >= position.identifiers:
                fail(_key(_key("cardMaps", position.card_map), str(identifier)),
                     f"{position.name}'s {len(position.pads)} pads give 0 to {position.identifiers - 1}")
            if card not in cards:
                fail(_key(_key("cardMaps", position.card_map), str(identifier)),
                     f"{json.dumps(card)} is not a card of {position.name}")
        counts = {}
        for card, slots in cards.items():
            card_where = _key(where, card)
            named_by = sorted(i for i, name in card_map.items() if name == card)
            if not named_by:
                fail(card_where, f"no identifier of {position.card_map} names this card")
            _list(slots, card_where, 0, MAX_CARD_SLOTS)
            if len(slots) in counts:
                fail(card_where, f"{len(slots)} slots, like {json.dumps(counts[len(slots)])}: "
                                 "a position tells its cards apart by their slot count; give one "
                                 "card's slot a wiringByIdentifier instead")
            counts[len(slots)] = card
            position.cards[card] = []
            for k, entry in enumerate(slots):
                slot = self.slot(entry, f"{card_where}[{k}]", position.name, position.identifiers)
                if slot.slot_id in [other.slot_id for other in position.cards[card]]:
                    fail(f"{card_where}[{k}].slotId",
                         f"two slots of this card have Slot ID {slot.slot_id}")
                if slot.by_identifier:
                    if len(slots) != 1:
                        fail(f"{card_where}[{k}].wiringByIdentifier",
                             "only a one-slot card's slot is wired by identifier")
                    for identifier in slot.by_identifier:
                        if identifier not in named_by:
                            fail(_key(f"{card_where}[{k}].wiringByIdentifier", str(identifier)),
                                 f"identifier {identifier} does not name this card")
                position.cards[card].append(slot)

    def check_shared_maps(self, positions, card_maps):
        for name in card_maps:
            users = [p for p in positions if p.card_map == name]
            if not users:
                fail(_key("cardMaps", name), "no riser position uses this map")
            for position in users[1:]:
                for card in set(card_maps[name].values()):
                    ours, first = len(position.cards[card]), len(users[0].cards[card])
                    if ours != first:
                        fail(_key(f"riserPositions[{positions.index(position)}].cards", card),
                             f"{ours} slots, but {users[0].name}'s card of that name has {first}: "
                             f"positions sharing {name} must agree on each card's slot count")

    def read_devices(self, value):
        devices, instances = [], {}
        locations = ["behindBridge", "behindRootPort", "onBus"]
        for i, entry in enumerate(_list(value, "onboardDevices", 1, 255)):
            where = f"onboardDevices[{i}]"
            if not isinstance(entry, dict):
                fail(where, "must be an object")
            given = [key for key in locations if key in entry]
            if len(given) != 1:
                fail(where, "must say where the device is: behindBridge, behindRootPort or onBus, "
                            "exactly one")
            _object(entry, where, ["designation", "type", "instance", given[0], "device", "function"],
                    ["probeFunction"])
            string_id = self.string_id(entry["designation"], f"{where}.designation")
            type_name = entry["type"]
            if type_name not in DEVICE_TYPES:
                fail(f"{where}.type", f"{json.dumps(type_name)} is not one of "
                                      f"{', '.join(DEVICE_TYPES)}")
            instance = _number(entry["instance"], f"{where}.instance", 0, 255)
            if (type_name, instance) in instances:
                fail(f"{where}.instance", f"{type_name} instance {instance} is also "
                                          f"{instances[(type_name, instance)]}")
            instances[(type_name, instance)] = where
            group = bridge = 0
            if given[0] == "behindBridge":
                at = _object(entry["behindBridge"], f"{where}.behindBridge", ["bus", "device"])
                bus_or_socket = _number(at["bus"], f"{where}.behindBridge.bus", 0, 255)
                bridge = _number(at["device"], f"{where}.behindBridge.device", 0, 31)
            elif given[0] == "behindRootPort":
                at = _object(entry["behindRootPort"], f"{where}.behindRootPort",
                             ["socket", "group", "device"])
                bus_or_socket, group = self.socket_group(at, f"{where}.behindRootPort")
                bridge = _number(at["device"], f"{where}.behindRootPort.device", 0, 31)
            else:
                bus_or_socket = _number(entry["onBus"], f"{where}.onBus", 0, 255)
            function = _number(entry["function"], f"{where}.function", 0, 7)
            devices.append(Device(
                string_id, self.strings_text(string_id), type_name, DEVICE_TYPES[type_name],
                instance, {"behindBridge": "bridge", "behindRootPort": "rootPort",
                           "onBus": "bus"}[given[0]],
                bus_or_socket, group, bridge, _number(entry["device"], f"{where}.device", 0, 31),
                function, _number(entry.get("probeFunction", function), f"{where}.probeFunction", 0, 7)))
        return devices


@dataclass
class Form:
    """What a slot's record of a later layout carries past the 2.6 fields, for
    one wiring of a slot: the lanes of its own root port, its width's Slot
    Information, its physical width, height and pitch, and its peers."""
    lanes: int
    slot_information: int
    physical_width: int
    height: int
    pitch: int
    peers: tuple
    slots: list = field(default_factory=list)  # designations of the slots of this form


# The driver's form and peer tables are indexed by a byte.
MAX_FORMS = 256
MAX_PEERS = 255


def slot_forms(platform):
    """The platform's forms, in the order its tables meet the slots (mezzanine
    slots, then each position's cards), and {id(wiring): form index}."""
    forms, by_key, index = [], {}, {}
    slots = platform.mezzanine + [slot for position in platform.positions
                                  for card in position.cards.values() for slot in card]
    for slot in slots:
        wirings = [slot.wiring] if slot.wiring else [slot.by_identifier[i] for i in sorted(slot.by_identifier)]
        for wiring in wirings:
            key = (wiring.lanes, platform.slot_information[wiring.width], slot.physical_width,
                   slot.height, slot.pitch,
                   tuple((peer.socket, peer.group, peer.device, peer.lanes) for peer in wiring.peers))
            if key not in by_key:
                by_key[key] = len(forms)
                forms.append(Form(*key))
            form = forms[by_key[key]]
            if slot.text not in form.slots:
                form.slots.append(slot.text)
            index[id(wiring)] = by_key[key]
    return forms, index


def _check_form_tables(platform):
    if platform.layout == "2.6":
        return
    forms, _ = slot_forms(platform)
    peers = sum(len(form.peers) for form in forms)
    if len(forms) > MAX_FORMS:
        fail("slotRecords", f"the slots take {len(forms)} forms (lanes, physical width, pitch, height "
                            f"and peers), more than the driver's table holds ({MAX_FORMS})")
    if peers > MAX_PEERS:
        fail("slotRecords", f"the slots have {peers} peer groups in all, more than the driver's table "
                            f"holds ({MAX_PEERS})")


def read_description(path, source_dir):
    """The Platform a description file holds; DescriptionError naming the
    field (or the file) when it cannot be used."""
    try:
        with open(path, encoding="utf-8") as source:
            document = json.load(source, object_pairs_hook=_no_duplicates)
    except OSError as problem:
        raise DescriptionError(f"cannot be read ({problem.strerror})")
    except (UnicodeDecodeError, json.JSONDecodeError) as problem:
        raise DescriptionError(f"not valid JSON: {problem}")
    platform = _Reader(document, Limits(source_dir)).read()
    _check_form_tables(platform)
    folder = os.path.basename(os.path.dirname(os.path.abspath(path)))
    in_platforms = os.path.basename(os.path.dirname(os.path.dirname(os.path.abspath(path))))
    if in_platforms == "platforms" and os.path.basename(path) == "platform.json" and \
            platform.name != folder:
        fail("platform", f"must be {folder}, the name of the description's folder")
    return platform
