"""Writes the driver's tables and the host's files for a checked Platform.

Every output is text that depends only on the description: the same
description gives the same bytes. Driver files (DRIVER_FILES) are C++ that the
driver's shared routines include or link; host files are the simulator's model
of the platform (C++ tables), a summary for test code and the binary module's
INF.
"""
import json

from description import COUNT_WORDS, LAYOUTS, MAX_RISER_POSITIONS, slot_forms

DRIVER_FILES = ["platform_layout.h", "riser_straps.h", "riser_cards.h", "riser_cards.cpp",
                "mezzanine_slot_table.h", "onboard_device_table.h", "slot_width_table.h",
                "slot_form_table.h", "socket_table.h", "driver_strings.h"]

# SlotRecordLayout's enumerators by the layouts a description names.
LAYOUT_ENUMERATORS = {layout: "SlotRecordLayout::Smbios" + layout.replace(".", "") for layout in LAYOUTS}


def camel(name):
    return name[:1].upper() + name[1:]


def upper_snake(name):
    out = ""
    for i, c in enumerate(name):
        if c.isupper() and i and (name[i - 1].islower() or name[i - 1].isdigit()):
            out += "_"
        out += c.upper()
    return out


def c_string(text):
    return json.dumps(text)  # printable ASCII: JSON's escapes are C's


def header(source, purpose):
    lines = [f"// Generated from {source}", "// by tools/platform/generate.py; do not edit."]
    lines += [f"// {line}" for line in purpose]
    return "\n".join(lines) + "\n"


def rows(entries, indent="    "):
    """Table rows of (code, comment) with the comments aligned, as a formatter
    would leave hand-written ones."""
    width = max(len(code) for code, _ in entries)
    return "".join(f"{indent}{code.ljust(width)}  // {comment}\n" if comment else f"{indent}{code}\n"
                   for code, comment in entries)


def braced(prefix, items, suffix=";", space=""):
    """PREFIX{ITEMS}SUFFIX on one line, or one item a line when that is
    longer than 100 columns."""
    line = f"{prefix}{{{space}{', '.join(items)}{space}}}{suffix}"
    if len(line) <= 100:
        return line + "\n"
    return f"{prefix}{{\n" + "".join(f"    {item},\n" for item in items) + f"}}{suffix}\n"


def width_name(name):
    return f"SlotWidth::{name.upper()}"


def shape_name(p, wiring):
    device = f"_DEV{wiring.device}" if wiring.device else ""
    form = f"_FORM{slot_forms(p)[1][id(wiring)]}" if p.layout != "2.6" else ""
    return f"SOCKET{wiring.socket}_GROUP{wiring.group}{device}_{wiring.width.upper()}{form}"


def shape_value(p, wiring):
    form = f", {{{slot_forms(p)[1][id(wiring)]}}}" if p.layout != "2.6" else ""
    return f"{{{wiring.socket}, {wiring.group}, {wiring.device}, {width_name(wiring.width)}{form}}}"


def handler_name(position, count):
    return f"{camel(position.name)}{COUNT_WORDS[count]}Slot"


def slot_table_name(position, count):
    return f"{position.name.upper()}_{COUNT_WORDS[count].upper()}_SLOT{'S' if count > 1 else ''}"


def map_values(platform, map_name):
    """The card map as the driver holds it: the slot count of the card each
    identifier the users' pads can give names, or NO_CARD."""
    cards = platform.card_maps[map_name]
    users = [p for p in platform.positions if p.card_map == map_name]
    return [str(len(users[0].cards[cards[i]])) if i in cards else "NO_CARD"
            for i in range(max(p.identifiers for p in users))]


def handler_table_size(platform):
    return max(len(slots) for p in platform.positions for slots in p.cards.values()) + 1


def string_package_size(platform):
    language = len(platform.language) + 1
    header_size = 46 + language  # EFI_HII_STRING_PACKAGE_HDR without its language, then the language
    blocks = sum(1 + (len(text) + 1) * 2 for _, text in platform.strings)
    return 4 + header_size + blocks + 1


# ---- driver files ----

def platform_layout(p, source):
    out = [header(source, [
        "What the driver's shared code knows of the platform's size and shape: counts,",
        "slot widths, the record fields every slot shares, the riser positions."])]
    out.append("#pragma once\n\n#include \"include/smbios_records.h\"\n#include \"include/uefi_base.h\"\n")
    out.append(f"// Sockets whose bus-number word the driver reads.\n"
               f"inline constexpr UINTN SOCKET_COUNT = {len(p.sockets)};\n")
    widths = ", ".join([name.upper() for name, _, _ in p.widths] + ["Unwired"])
    out.append(f"// The slot widths, then Unwired: no root port feeds the slot as far as the\n"
               f"// driver knows.\nenum class SlotWidth : UINT8 {{ {widths} }};\n")
    peers = sum(len(form.peers) for form in slot_forms(p)[0]) if p.layout != "2.6" else 0
    out.append("// The Type 9 layout of the slot records (a later one than 2.6 carries the\n"
               "// fields of inventory/slot_form.h), whether a slot is In use when only a\n"
               "// peer's root port has something behind it, and the peers of all slots.\n"
               f"inline constexpr SlotRecordLayout SLOT_RECORD_LAYOUT = {LAYOUT_ENUMERATORS[p.layout]};\n"
               f"inline constexpr bool SLOT_USAGE_FROM_PEERS = {'true' if p.usage_from_peers else 'false'};\n"
               f"inline constexpr UINTN SLOT_PEER_COUNT = {peers};\n")
    if p.layout == "2.6":
        out.append("// A slot's form: none, the 2.6 record ends at Device/Function. Index is\n"
                   "// there for the later layouts' code, which runs on no slot of this platform.\n"
                   "struct SlotForm {\n  static constexpr UINT8 Index = 0;\n};\n")
    else:
        out.append("// A slot's form: its entry of SLOT_FORMS (slot_form_table.h).\n"
                   "struct SlotForm {\n  UINT8 Index;\n};\n")
    out.append("// Type 9 fields every slot record carries.\n"
               f"inline constexpr UINT8 SLOT_LENGTH = 0x{p.slot_length:02X};\n"
               f"inline constexpr UINT8 SLOT_CHARACTERISTICS1 = 0x{p.characteristics[0]:02X};\n"
               f"inline constexpr UINT8 SLOT_CHARACTERISTICS2 = 0x{p.characteristics[1]:02X};\n")
    out.append(f"inline constexpr UINTN MEZZANINE_SLOT_COUNT = {len(p.mezzanine)};\n"
               f"inline constexpr UINTN ONBOARD_DEVICE_COUNT = {len(p.devices)};\n")
    out.append(f"// The string package: {len(p.strings)} strings in {p.language}, and the size of the\n"
               f"// package array holding it.\n"
               f"inline constexpr UINTN DRIVER_STRING_COUNT = {len(p.strings)};\n"
               f"inline constexpr UINTN DRIVER_STRING_PACKAGE_SIZE = {string_package_size(p)};\n")
    positions = [f"POSITION_{q.name.upper()}" for q in p.positions] + ["RISER_POSITION_COUNT"]
    out.append("// The riser positions, in the order the driver handles them.\n" +
               braced("enum RiserPosition : UINT8 ", positions, space=" "))
    spare = MAX_RISER_POSITIONS - len(p.positions)
    fields = rows([(f"UINT8 {q.name};", f"{len(q.pads)} pads: 0 to {q.identifiers - 1}")
                   for q in p.positions] +
                  ([(f"UINT8 reserved[{spare}];", "always 0")] if spare else []), "  ")
    out.append(f"// The identifier each position's pads give.\nstruct RiserIds {{\n{fields}}};\n"
               "static_assert(sizeof(RiserIds) == 4);\n")
    ids = ", ".join(f"Ids[POSITION_{q.name.upper()}]" for q in p.positions)
    if spare:
        ids += ", {" + ", ".join(["0"] * spare) + "}"
    out.append("constexpr RiserIds PackRiserIds(const UINT8 (&Ids)[RISER_POSITION_COUNT]) {\n"
               f"  return RiserIds{{{ids}}};\n}}\n")
    nones = [q for q in p.positions if q.no_card is not None]
    if nones:
        out.append("// The identifier of an empty position: the driver skips a position whose\n"
                   "// first reading gives it.\n" +
                   "".join(f"inline constexpr UINT8 {q.name.upper()}_ID_NONE = {q.no_card};\n"
                           for q in nones))
    out.append(f"// Riser handler tables are indexed by slot count, 0 to "
               f"{handler_table_size(p) - 1}.\n"
               f"inline constexpr UINTN RISER_HANDLER_TABLE_SIZE = {handler_table_size(p)};\n")
    return "\n".join(out)


def riser_straps(p, source):
    straps = []
    for position in p.positions:
        for k, pad in enumerate(position.pads):
            bit = len(position.pads) - 1 - k
            straps.append((f"{{{pad >> 16 & 0xFF}, 0x{pad & 0xFFFF:02X}, POSITION_{position.name.upper()}, "
                           f"{bit}}},", f"pad 0x{pad:08X}"))
    return (header(source, ["The strap wiring: every strap pad in the order the driver reads it, by GPIO",
                            "group and pad number, with the riser position and identifier bit it gives."]) +
            "#pragma once\n\n#include \"inventory/riser_ids.h\"\n\n" +
            "constexpr RiserStrap RISER_STRAPS[] = {\n" + rows(straps) + "};\n")


def riser_cards_header(p, source):
    out = [header(source, ["The riser positions' handlers, handler tables, card maps and routines;",
                           "included by inventory/riser_slots.h."]), "#pragma once\n"]
    for name in p.card_maps:
        users = ", ".join(q.name for q in p.positions if q.card_map == name)
        out.append(f"// Slot count of the card each identifier names ({users}), or NO_CARD.\n"
                   f"inline constexpr UINTN {upper_snake(name)}_SIZE = {len(map_values(p, name))};\n"
                   f"extern const UINT8 {name}[{upper_snake(name)}_SIZE];\n")
    for position in p.positions:
        counts = sorted(len(slots) for slots in position.cards.values() if slots)
        lines = "".join(f"EFI_STATUS {handler_name(position, n)}(VOID *Record, UINTN *Capacity, "
                        f"UINTN SlotIndex);\n" for n in counts)
        out.append(f"// {position.title}.\n{lines}"
                   f"extern const RiserHandlerTable {camel(position.name)}HandlerTable;\n"
                   f"void Add{camel(position.name)}Slots();\n")
    return "\n".join(out)


def riser_cards_source(p, source):
    shapes = {}
    for position in p.positions:
        for slots in position.cards.values():
            for slot in slots:
                for wiring in ([slot.wiring] if slot.wiring else slot.by_identifier.values()):
                    shapes.setdefault(shape_name(p, wiring), shape_value(p, wiring))
    out = [header(source, ["The riser positions: where every slot of every card is wired, which card",
                           "each identifier names, and the routines that add a position's slots."]),
           "#include \"inventory/riser_dispatch.h\"\n#include \"inventory/riser_ids.h\"\n",
           "namespace {\n",
           "// Wirings: socket, root-port group, root-port device, width" +
           (", form.\n" if p.layout != "2.6" else ".\n") +
           "".join(f"constexpr SlotShape {name} = {value};\n" for name, value in shapes.items())]
    for position in p.positions:
        for card, slots in position.cards.items():
            if not slots or slots[0].by_identifier:
                continue
            table = rows([(f"{{{slot.slot_id}, {slot.string_id}, {shape_name(p, slot.wiring)}}},",
                           c_string(slot.text)) for slot in slots])
            out.append(f"// {position.title}, {card}: Slot ID, string id, wiring of each slot in\n"
                       f"// slot-index order, from FIRST_RISER_SLOT_INDEX.\n"
                       f"constexpr SlotDescription {slot_table_name(position, len(slots))}[] = {{\n"
                       f"{table}}};\n")
        for card, slots in position.cards.items():
            if slots and slots[0].by_identifier:
                wiring = slots[0].by_identifier
                entries = [shape_name(p, wiring[i]) if i in wiring else "UNWIRED_SLOT"
                           for i in range(position.identifiers)]
                table = rows([(f"{entry},", f"identifier {i}") for i, entry in enumerate(entries)])
                out.append(f"// {position.title}, {card}: its wiring by identifier; an identifier it is\n"
                           f"// not wired for leaves the slot fields untouched.\n"
                           f"constexpr SlotShape {position.name.upper()}_ONE_SLOT_WIRING"
                           f"[{position.identifiers}] = {{\n{table}}};\n")
    out.append("}  // namespace\n")
    for name in p.card_maps:
        values = ", ".join(map_values(p, name))
        out.append(f"constexpr UINT8 {name}[{upper_snake(name)}_SIZE] = {{{values}}};\n")
    for position in p.positions:
        for card, slots in sorted(position.cards.items(), key=lambda item: len(item[1])):
            if not slots:
                continue
            name = handler_name(position, len(slots))
            out.append(f"EFI_STATUS {name}(VOID *Record, UINTN *Capacity, UINTN SlotIndex) {{\n"
                       "  (void)Capacity;\n")
            if slots[0].by_identifier:
                slot = slots[0]
                out[-1] += (f"  const SlotShape &wiring =\n"
                            f"      OneSlotWiring({position.name.upper()}_ONE_SLOT_WIRING, "
                            f"ReadRiserIds().{position.name});\n"
                            f"  // {c_string(slot.text)}\n"
                            f"  return DescribeOneSlotCard(Record, SlotIndex, "
                            f"{{{slot.slot_id}, {slot.string_id}, wiring}});\n}}\n")
            else:
                out[-1] += (f"  return DescribeServedSlot(Record, SlotIndex, "
                            f"{slot_table_name(position, len(slots))});\n}}\n")
    table_size = handler_table_size(p)
    for position in p.positions:
        by_count = {len(slots): handler_name(position, len(slots))
                    for slots in position.cards.values() if slots}
        entries = ["NoRiserSlot"] + [by_count.get(n, "nullptr") for n in range(1, table_size)]
        out.append(braced(f"constexpr RiserHandlerTable {camel(position.name)}HandlerTable = ", entries))
    for position in p.positions:
        out.append(f"void Add{camel(position.name)}Slots() {{\n"
                   f"  AddMappedRiserSlots(ReadRiserIds().{position.name}, {position.card_map}, "
                   f"{camel(position.name)}HandlerTable);\n}}\n")
    body = ""
    for position in p.positions:
        call = f"Add{camel(position.name)}Slots();"
        if position.no_card is None:
            body += f"  {call}\n"
        else:
            body += (f"  if (ids.{position.name} != {position.name.upper()}_ID_NONE) {{\n"
                     f"    {call}\n  }}\n")
    out.append("EFI_STATUS AddRiserSlots() {\n"
               "  // Whether a position is handled rests on this reading; each position's\n"
               "  // routine reads the identifiers again for its slot count.\n"
               f"  RiserIds ids = ReadRiserIds();\n{body}  return EFI_SUCCESS;\n}}\n")
    if all(q.no_card is None for q in p.positions):
        out[-1] = out[-1].replace("  RiserIds ids = ReadRiserIds();\n", "")
    return "\n".join(out)


def mezzanine_slot_table(p, source):
    table = rows([(f"{{{slot.slot_id}, {slot.string_id}, {shape_value(p, slot.wiring)}}},", c_string(slot.text))
                  for slot in p.mezzanine])
    form = ", form" if p.layout != "2.6" else ""
    return (header(source, ["The mezzanine slots by slot index: Slot ID, string id, and wiring (socket,",
                            f"root-port group, root-port device, width{form})."]) +
            "#pragma once\n\n#include \"inventory/slot_fill.h\"\n\n"
            f"constexpr SlotDescription MEZZANINE_SLOTS[MEZZANINE_SLOT_COUNT] = {{\n{table}}};\n")


def _device_row(device):
    location = {"bridge": "BehindFixedBridge", "rootPort": "BehindRootPort", "bus": "OnFixedBus"}
    at = f"{device.device:02X}.{device.function}"
    where = {"bridge": f"{at} behind bridge {device.bus_or_socket:02X}:{device.bridge:02X}",
             "rootPort": f"{at} behind root port {device.bridge:02X} of socket {device.bus_or_socket}, "
                         f"group {device.group}",
             "bus": f"{device.bus_or_socket:02X}:{at}"}[device.location]
    devfunc = device.device << 3 | device.function
    return (f"    // {c_string(device.text)} ({device.type_name} {device.instance}): {where}; "
            f"probe function {device.probe_function}\n"
            f"    {{{device.string_id}, 0x{device.type:02X}, DeviceLocation::{location[device.location]}, "
            f"0x{device.bus_or_socket:02X}, {device.group}, {device.bridge}, {device.probe_function}, "
            f"0x{devfunc:02X}, {device.instance}}},\n")


def onboard_device_table(p, source):
    return (header(source, ["The onboard devices by device index: string id, Device Type, location,",
                            "bus or socket, group, bridge device, probe function, Device/Function, instance."]) +
            "#pragma once\n\n#include \"inventory/onboard_devices.h\"\n\n"
            "constexpr OnboardDevice ONBOARD_DEVICES[ONBOARD_DEVICE_COUNT] = {\n" +
            "".join(_device_row(device) for device in p.devices) + "};\n")


def slot_width_table(p, source):
    table = rows([(f"{{0x{slot_type:02X}, 0x{bus_width:02X}}},", name.upper())
                  for name, slot_type, bus_width in p.widths])
    return (header(source, ["Slot Type and Data Bus Width of each slot width, indexed by SlotWidth."]) +
            "#pragma once\n\n#include \"inventory/slot_fill.h\"\n\n"
            f"constexpr WidthEncoding WIDTH_ENCODING[] = {{\n{table}}};\n")


def slot_form_table(p, source):
    if p.layout == "2.6":
        return (header(source, ["The forms of the platform's slots: none, its slot records are SMBIOS 2.6's,",
                                "which end at Device/Function."]) +
                "#pragma once\n\n#include \"inventory/slot_form.h\"\n")
    forms, _ = slot_forms(p)
    out = [header(source, [f"The forms of the platform's slots: what each slot's SMBIOS {p.layout} record carries",
                           "past the 2.6 fields, and the other root ports of its bifurcated slots."]),
           "#pragma once\n\n#include \"inventory/slot_form.h\"\n"]
    entries, peers = [], []
    for index, form in enumerate(forms):
        entries.append((f"{{{form.lanes}, {form.slot_information}, 0x{form.physical_width:02X}, "
                        f"0x{form.height:02X}, {form.pitch}, {len(peers) if form.peers else 0}, {len(form.peers)}}},",
                        f"form {index}: " + ", ".join(c_string(text) for text in form.slots[:2]) +
                        (f" and {len(form.slots) - 2} more" if len(form.slots) > 2 else "")))
        peers += [(f"{{{socket}, {group}, {device}, {lanes}}},",
                   f"form {index}: socket {socket}, group {group}, device {device}, x{lanes}")
                  for socket, group, device, lanes in form.peers]
    out.append("// Own lanes, Slot Information, Slot Physical Width, Slot Height, Slot Pitch\n"
               "// (1/100 mm), first peer in SLOT_PEERS and peer count, indexed by SlotForm.\n"
               f"constexpr SlotFormFields SLOT_FORMS[] = {{\n{rows(entries)}}};\n")
    if peers:
        out.append("// Socket, root-port group, root-port device, lanes.\n"
                   f"constexpr PeerShape SLOT_PEERS[SLOT_PEER_COUNT] = {{\n{rows(peers)}}};\n")
    return "\n".join(out)


def socket_table(p, source):
    table = rows([(f"{{0x{s.bus:02X}, {s.device}, {s.function}, 0x{s.offset:02X}}},", f"socket {i}")
                  for i, s in enumerate(p.sockets)])
    return (header(source, ["Where each socket's bus-number word lives: bus, device and function of its",
                            "configuration space, and the word's offset there. Byte k of the word is the",
                            "bus of root-port group k."]) +
            "#pragma once\n\n#include \"hw/pci_config.h\"\n#include \"platform_layout.h\"\n\n"
            f"constexpr SocketBusNumbersLocation SOCKET_BUS_NUMBERS[SOCKET_COUNT] = {{\n{table}}};\n")


def driver_strings(p, source):
    name_of_language = p.strings[p.language_name_id - 1][0]
    table = rows([(f"u{c_string(text)},", f"{i + 1}" + (", the language's display name"
                                                           if i + 1 == p.language_name_id else ""))
                  for i, (_, text) in enumerate(p.strings)])
    return (header(source, ["The string package's strings, one UCS-2 block each: block order gives",
                            "the ids, from 1."]) +
            "#pragma once\n\n#include \"include/uefi_base.h\"\n#include \"include/uefi_hii.h\"\n\n"
            f"constexpr CHAR8 PACKAGE_LANGUAGE[] = {c_string(p.language)};\n"
            f"constexpr EFI_STRING_ID LANGUAGE_NAME_ID = {p.language_name_id};  // {name_of_language}\n\n"
            f"constexpr const char16_t *DRIVER_STRINGS[] = {{\n{table}}};\n")


def driver_files(platform, source):
    """{file name: text} of the driver's generated sources."""
    makers = [platform_layout, riser_straps, riser_cards_header, riser_cards_source,
              mezzanine_slot_table, onboard_device_table, slot_width_table, slot_form_table,
              socket_table, driver_strings]
    return {name: maker(platform, source) for name, maker in zip(DRIVER_FILES, makers)}


# ---- host files ----

def guid_initializer(text):
    """An EFI_GUID's aggregate initializer from 8-4-4-4-12 hex digits."""
    digits = text.replace("-", "")
    tail = ", ".join(f"0x{digits[i:i + 2]}" for i in range(16, 32, 2))
    return f"{{0x{digits[:8]}, 0x{digits[8:12]}, 0x{digits[12:16]}, {{{tail}}}}}"


def model_slot(slot):
    """Slot ID, designation and socket of a slot, as the simulator's model
    holds it; a slot wired by identifier is placed by its lowest identifier's
    wiring."""
    wiring = slot.wiring or slot.by_identifier[min(slot.by_identifier)]
    return f"{{{slot.slot_id}, {c_string(slot.text)}, {wiring.socket}}},"


def card_ranges(p, position, names):
    """Runs of consecutive identifiers naming one card in the position's map:
    [first, last, card index in NAMES]."""
    ranges = []
    for identifier, card in sorted(p.card_maps[position.card_map].items()):
        if ranges and ranges[-1][1] == identifier - 1 and ranges[-1][2] == names.index(card):
            ranges[-1][1] = identifier
        else:
            ranges.append([identifier, identifier, names.index(card)])
    return ranges


def host_model(p, source):
    """The simulator's model of the platform, as constant tables: what the
    hardware model wires, what the firmware names the driver by, what a
    picture of the board shows; and the description's canonical text, which
    a description given to boardsim must equal."""
    out = [header(source, ["The platform as the simulator models it: each socket's bus-number word,",
                           "each riser position's strap pads, cards and card map, the mezzanine",
                           "slots, the driver's module; and the description's canonical text."]),
           "#include \"sim/platform.h\"\n\nnamespace sim {\n\nnamespace {\n"]
    out.append("// Each socket's root-port groups: the bytes of its word that name a bus.\n" +
               "".join(braced(f"constexpr uint8_t SOCKET{i}_GROUPS[] = ", [str(g) for g in s.groups])
                       for i, s in enumerate(p.sockets)))
    out.append("// Where each socket's bus-number word lives: bus, device, function, offset.\n"
               "constexpr PlatformSocket SOCKETS[] = {\n" +
               rows([(f"{{0x{s.bus:02X}, {s.device}, {s.function}, 0x{s.offset:02X}, SOCKET{i}_GROUPS}},",
                      f"socket {i}") for i, s in enumerate(p.sockets)]) + "};\n")
    out.append("// The mezzanine slots: Slot ID, designation, socket.\n"
               "constexpr PlatformSlot MEZZANINE_SLOTS[] = {\n" +
               rows([(model_slot(slot), None) for slot in p.mezzanine]) + "};\n")
    positions = []
    for position in p.positions:
        prefix = position.name.upper()
        names = sorted(position.cards)
        text = [f"// {position.title}: its strap pads, most significant first; its cards by name,\n"
                "// each slot's Slot ID, designation and socket; the card each run of\n"
                "// identifiers names (first, last, card).\n" +
                braced(f"constexpr uint32_t {prefix}_PADS[] = ", [f"0x{pad:08X}" for pad in position.pads])]
        cards = []
        for name in names:
            slots = position.cards[name]
            if slots:
                table = slot_table_name(position, len(slots))
                text.append(f"constexpr PlatformSlot {table}[] = {{\n" +
                            rows([(model_slot(slot), None) for slot in slots]) + "};\n")
                cards.append(f"{{{c_string(name)}, {table}}},")
            else:
                cards.append(f"{{{c_string(name)}, {{}}}},")
        text.append(f"constexpr PlatformCard {prefix}_CARDS[] = {{\n" +
                    rows([(card, f"card {i}") for i, card in enumerate(cards)]) + "};\n")
        ranges = card_ranges(p, position, names)
        text.append(f"constexpr PlatformCardRange {prefix}_CARD_MAP[] = {{\n" +
                    rows([(f"{{{first}, {last}, {card}}},", names[card]) for first, last, card in ranges]) +
                    "};\n")
        out.append("".join(text))
        no_card = "std::nullopt" if position.no_card is None else str(position.no_card)
        positions.append((f"{{{c_string(position.name)}, {c_string(position.title)}, {prefix}_PADS, "
                          f"{no_card}, {prefix}_CARDS, {prefix}_CARD_MAP}},", None))
    out.append("// The riser positions in the driver's order: name, title, pads, noCard,\n"
               "// cards, card map.\nconstexpr PlatformRiserPosition RISER_POSITIONS[] = {\n" +
               rows(positions) + "};\n")
    text = json.dumps(p.document, indent=1)
    lines = "\n".join(f"    {c_string(line + chr(10))}" for line in text.splitlines())
    out.append("// The description, laid out by the generator: a description given to\n"
               "// boardsim must say the same.\n"
               f"constexpr char DESCRIPTION[] =\n{lines};\n\n}}  // namespace\n")
    out.append("extern constinit const Platform kBuiltInPlatform = {\n"
               f"    .name = {c_string(p.name)},\n"
               f"    .baseName = {c_string(p.base_name)},\n"
               f"    // {p.file_guid}\n"
               f"    .fileGuid = {guid_initializer(p.file_guid)},\n"
               "    .sockets = SOCKETS,\n"
               "    .risers = RISER_POSITIONS,\n"
               "    .mezzanineSlots = MEZZANINE_SLOTS,\n"
               f"    .source = {c_string(source)},\n"
               "    .description = DESCRIPTION,\n"
               "};\n\n}  // namespace sim\n")
    return "\n".join(out)


def summary(platform, source, image_dir):
    """What test code needs to know of the platform without reading C++."""
    slots = platform.mezzanine + [slot for q in platform.positions for slots in q.cards.values()
                                  for slot in slots]
    designations = sorted({slot.string_id for slot in slots} | {d.string_id for d in platform.devices})
    image = {kind: f"{image_dir}/{platform.base_name}.{kind}" for kind in ("efi", "debug", "ffs", "depex", "inf")}
    data = {
        "platform": platform.name,
        "description": source,
        "baseName": platform.base_name,
        "fileGuid": platform.file_guid,
        "image": image,
        # Bytes the LZMA-compressed image may take in flash.
        "flashBudget": platform.flash_budget,
        "language": platform.language,
        # The package's strings in id order (from 1), the id of the language's
        # display name, and the texts records may carry.
        "strings": [text for _, text in platform.strings],
        "languageNameId": platform.language_name_id,
        "designations": [platform.strings[i - 1][1] for i in designations],
        # EFI_HII_PACKAGE_LIST_HEADER, the string package, the end package.
        "packageListLength": 20 + string_package_size(platform) - 4 + 4,
        "sockets": [{"bus": s.bus, "device": s.device, "function": s.function,
                     "offset": s.offset, "groups": s.groups} for s in platform.sockets],
        "riserPositions": [{"name": q.name, "title": q.title, "pads": q.pads,
                            "noCard": q.no_card} for q in platform.positions],
    }
    return json.dumps(data, indent=2) + "\n"


def binary_inf(platform, source, version):
    return (f"## @file\n"
            f"#  {platform.base_name}: rewrites the SMBIOS Type 9 (System Slots) and Type 41\n"
            f"#  (Onboard Devices Extended Information) records once per boot, for the\n"
            f"#  {platform.name} platform.\n#\n"
            f"#  A prebuilt binary module: the image, its compiled dependency expression and\n"
            f"#  its symbol file sit beside this file; no firmware file carries the symbol\n"
            f"#  file. Generated from {source} by\n"
            f"#  tools/platform/generate.py; do not edit.\n##\n\n"
            "[Defines]\n"
            "  INF_VERSION    = 0x00010017\n"
            f"  BASE_NAME      = {platform.base_name}\n"
            f"  FILE_GUID      = {platform.file_guid}\n"
            "  MODULE_TYPE    = DXE_DRIVER\n"
            f"  VERSION_STRING = {version}\n\n"
            "[Binaries.X64]\n"
            f"  PE32|{platform.base_name}.efi|*\n"
            f"  DXE_DEPEX|{platform.base_name}.depex|*\n"
            f"  DISPOSABLE|{platform.base_name}.debug|*\n")


def host_files(platform, source, version, image_dir):
    return {"platform_model.cpp": host_model(platform, source),
            "summary.json": summary(platform, source, image_dir),
            f"{platform.base_name}.inf": binary_inf(platform, source, version)}
