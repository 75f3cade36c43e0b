"""Pieces of the QEMU end-to-end run that need no QEMU: board files, the
sideband window image, the harness's serial report, SMBIOS dumps and the
checks made on them. Standard library, and the platform generator's reader."""
import json
import os
import re
import struct
import sys
from collections import namedtuple

REPOSITORY = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(REPOSITORY, "tools", "platform"))
import description  # noqa: E402

# --- Board files ----------------------------------------------------------

# What the board simulator assumes when a board file leaves a key out.
DEFAULT_PLATFORM = "two-socket-riser"
DEFAULT_PLATFORM_LANG = "en-US"
# A runner that cannot boot here (no QEMU, OVMF or guest) says so to ctest,
# which shows the test as skipped rather than passed.
EXIT_SKIPPED = 77

# PCH GPIO groups: port id, pad-ownership offset, pad-configuration offset, pads.
GPIO_GROUPS = [
    (0xAF, 0x20, 0x400, 24), (0xAF, 0x2C, 0x4C0, 24), (0xAE, 0x20, 0x400, 24),
    (0xAE, 0x2C, 0x4C0, 24), (0xAE, 0x38, 0x580, 13), (0xAF, 0x38, 0x580, 24),
    (0x11, 0x20, 0x400, 24), (0x11, 0x2C, 0x4C0, 24), (0xAC, 0x20, 0x400, 11),
    (0xAB, 0x20, 0x400, 24), (0xAB, 0x2C, 0x4C0, 11), (0x11, 0x38, 0x580, 20),
    (0xAD, 0x20, 0x400, 12),
]

SIDEBAND_BASE = 0xFD000000
# The shared-memory BAR the harness moves to this address backs the window.
WINDOW_BAR = 0xFDA00000
WINDOW_SIZE = 0x100000
WINDOW_MARKER = b"SWIN"


class BoardError(Exception):
    pass


# --- Platforms ------------------------------------------------------------

# The socket bus-number functions the test platform serves, in the order of
# its scenario keys socket0, socket1: (bus, device, function, offset).
SERVED_SOCKET_WORDS = [(0x00, 8, 2, 0xCC), (0x80, 8, 2, 0xCC)]


class Platform:
    """A scenario's platform as its build describes it in
    BUILD/platforms/NAME/host/summary.json: the driver's image and file GUID,
    its strings, sockets and strap wiring; and, from the description the
    summary names, where the driver reads the PCI bus (root ports, onboard
    devices on a bus of their own)."""

    def __init__(self, summary, build):
        self.name = summary["platform"]
        self.file_guid = summary["fileGuid"].upper()
        self.images = {kind: os.path.join(build, path) for kind, path in summary["image"].items()}
        self.image_name = os.path.basename(summary["image"]["efi"])
        self.strings = summary["strings"]
        self.designations = set(summary["designations"])
        self.package_list_length = summary["packageListLength"]
        self.sockets = summary["sockets"]
        # Each socket's scenario key (socketN): the function of the test platform serving its word.
        self.socket_keys = []
        for i, socket in enumerate(self.sockets):
            where = (socket["bus"], socket["device"], socket["function"], socket["offset"])
            if where not in SERVED_SOCKET_WORDS:
                raise BoardError(f"platform {self.name} socket {i}: its word at {where[0]:02x}:{where[1]:02x}."
                                 f"{where[2]} offset 0x{where[3]:02X} is not one the test platform serves "
                                 "(00:08.2 and 80:08.2, offset 0xCC)")
            self.socket_keys.append(SERVED_SOCKET_WORDS.index(where))
        self.positions = [(entry["name"], entry["pads"], entry["noCard"] or 0)
                          for entry in summary["riserPositions"]]
        try:
            read = description.read_description(os.path.join(REPOSITORY, summary["description"]), REPOSITORY)
        except description.DescriptionError as error:
            raise BoardError(f"platform {self.name}: {summary['description']}: {error}") from error
        slots = read.mezzanine + [slot for q in read.positions for card in q.cards.values() for slot in card]
        wirings = [w for slot in slots for w in [slot.wiring] + list(slot.by_identifier.values()) if w]
        # (socket, group, device) of every root port the driver reads behind.
        self.root_ports = {(w.socket, w.group, w.device) for w in wirings} | {
            (d.bus_or_socket, d.group, d.bridge) for d in read.devices if d.location == "rootPort"}
        # (bus, device) of the fixed bridges; (bus, device, function) the driver probes on a bus.
        self.fixed_bridges = {(d.bus_or_socket, d.bridge) for d in read.devices if d.location == "bridge"}
        self.bus_probes = [(d.bus_or_socket, d.device, d.probe_function) for d in read.devices
                           if d.location == "bus"]

    def default_straps(self):
        """What the board simulator reads when a board file gives no straps: no card anywhere."""
        return {name: no_card for name, _, no_card in self.positions}


_PLATFORMS = {}


def load_platform(build, name):
    """The Platform NAME of the build tree build (read once); BoardError
    naming the file when the build has no such platform or its summary
    cannot be read."""
    key = (os.path.abspath(build), name)
    if key not in _PLATFORMS:
        path = os.path.join(build, "platforms", name, "host", "summary.json")
        try:
            with open(path, encoding="utf-8") as handle:
                _PLATFORMS[key] = Platform(json.load(handle), build)
        except OSError as error:
            raise BoardError(f"platform {name!r}: no summary {path} ({error.strerror}): "
                             "no such platform, or the build has not run") from error
        except (ValueError, KeyError, TypeError, AttributeError) as error:
            raise BoardError(f"platform {name!r}: {path} is no platform summary ({error})") from error
    return _PLATFORMS[key]


def board_platform(board):
    """The name of the platform a board file is of."""
    name = board.get("platform", DEFAULT_PLATFORM)
    if not isinstance(name, str) or not re.fullmatch(r"[a-z0-9]+(-[a-z0-9]+)*", name):
        raise BoardError(f"platform: a platform's name, not {name!r}")
    return name


def number(value, field):
    """A board-file number: a JSON number or a "0x.." / decimal string."""
    if isinstance(value, bool):
        raise BoardError(f"{field}: must be a number")
    if isinstance(value, int):
        return value
    if isinstance(value, str):
        try:
            return int(value, 0)
        except ValueError:
            pass
    raise BoardError(f"{field}: must be a number or a \"0x..\" string, not {value!r}")


def load_board(path):
    with open(path, encoding="utf-8") as handle:
        return json.load(handle)


def board_straps(board, platform):
    straps = platform.default_straps()
    for key, value in board.get("straps", {}).items():
        if key not in straps:
            raise BoardError(f"straps.{key}: {platform.name} has no such riser position "
                             f"({', '.join(straps)})")
        straps[key] = number(value, f"straps.{key}")
    return straps


def board_platform_lang(board):
    """The PlatformLang value the board wants, None for no variable."""
    return board.get("platformLang", DEFAULT_PLATFORM_LANG)


def board_sockets(board, platform):
    """The bus-number word of each of the platform's sockets, 0 where the board file gives none."""
    sockets = board.get("sockets", [])
    return [number(sockets[i], f"sockets[{i}]") if i < len(sockets) else 0
            for i in range(len(platform.sockets))]


def pad_settings(board, platform):
    """Level and owner of every pad the board drives: straps first, then pads."""
    settings = {}
    straps = board_straps(board, platform)
    for position, pads, _ in platform.positions:
        identifier = straps[position]
        for bit, pad in enumerate(pads):
            shift = len(pads) - 1 - bit
            settings[pad] = ((identifier >> shift) & 1, 0)
    for i, entry in enumerate(board.get("pads", [])):
        pad = number(entry["pad"], f"pads[{i}].pad")
        # Left out, the level is what the straps (or an earlier entry) gave the pad.
        level = settings.get(pad, (0, 0))[0]
        settings[pad] = (number(entry.get("level", level), f"pads[{i}].level"),
                         number(entry.get("owner", 0), f"pads[{i}].owner"))
    return settings


def pad_registers(pad):
    """(ownership address, ownership shift, configuration address) of a pad."""
    group = (pad >> 16) & 0xFF
    index = pad & 0xFFFF
    if (pad >> 24) != 0x01 or group >= len(GPIO_GROUPS) or index >= GPIO_GROUPS[group][3]:
        raise BoardError(f"pad 0x{pad:08X} does not exist")
    port, ownership, configuration, _ = GPIO_GROUPS[group]
    window = SIDEBAND_BASE | (port << 16)
    return (window | ((ownership + (index // 8) * 4) & 0xFFFF), (index % 8) * 4,
            window | ((configuration + index * 8) & 0xFFFF))


def window_image(board, platform):
    """The shared memory that backs the sideband window: the marker the harness
    checks at offset 0, and the registers of every pad the board drives."""
    image = bytearray(WINDOW_SIZE)
    image[0:4] = WINDOW_MARKER

    def offset_of(address, pad):
        offset = address - WINDOW_BAR
        if not 4 <= offset <= WINDOW_SIZE - 4:
            raise BoardError(f"pad 0x{pad:08X}: register 0x{address:08X} lies outside the "
                             f"window QEMU can back (0x{WINDOW_BAR:08X}, 1 MiB)")
        return offset

    for pad, (level, owner) in sorted(pad_settings(board, platform).items()):
        ownership, shift, configuration = pad_registers(pad)
        at = offset_of(ownership, pad)
        word = struct.unpack_from("<I", image, at)[0]
        word = (word & ~(0xF << shift)) | ((owner & 0x3) << shift)
        struct.pack_into("<I", image, at, word)
        at = offset_of(configuration, pad)
        word = struct.unpack_from("<I", image, at)[0]
        struct.pack_into("<I", image, at, (word & ~0x2) | ((level & 1) << 1))
    return bytes(image)


def window_needed(board, platform):
    """An unbacked window reads 0: host-owned, low. Back it only when that is not the board."""
    explicit = board.get("qemu", {}).get("window")
    if explicit is not None:
        return bool(explicit)
    return any(level or owner for level, owner in pad_settings(board, platform).values())


def scenario_text(board, name, window_device, platform):
    """SCENARIO.TXT for the harness."""
    lines = [f"name={name}"] + [f"socket{key}=0x{word:08X}" for key, word in
                                sorted(zip(platform.socket_keys, board_sockets(board, platform)))]
    lines.append(f"driver={platform.file_guid}")
    if window_device is not None:
        lines.append(f"window=0x{window_device:02X}")
    language = board_platform_lang(board)
    lines.append("platformlang=-" if language is None else f"platformlang={language}")
    for i, record in enumerate(board.get("smbios", [])):
        record_type = number(record["type"], f"smbios[{i}].type")
        strings = record.get("strings", [])
        if any("|" in text or "\n" in text or not text for text in strings):
            raise BoardError(f"smbios[{i}].strings: the harness takes non-empty strings without '|'")
        lines.append(f"smbios={record_type}" + (":" + "|".join(strings) if strings else ""))
    if board.get("qemu", {}).get("probes"):
        lines.append("probes=1")
    return "\n".join(lines) + "\n"


# --- Boots through the firmware volume and the shell -------------------------

# How a scenario's driver reaches the firmware: loaded by the harness ("app"),
# dispatched by the DXE core from the patched firmware volume ("fv"), or loaded
# by the UEFI shell's `load` from a startup.nsh ("shell"); then the same on
# OVMF built from EDK2's source with the driver in its platform build:
# dispatched in a RELEASE ("edk2") and a DEBUG build with memory protection
# ("edk2-debug"), loaded by the DEBUG build's shell ("edk2-debug-shell"), and
# dispatched in a RELEASE build that compiles it from source ("edk2-src").
BOOT_KINDS = ("app", "fv", "shell", "edk2", "edk2-debug", "edk2-debug-shell", "edk2-src", "edk2-strict",
              "edk2-strict-shell", "gdb", "crash")
# The fw_cfg file the test platform's DXE driver reads its scenario from.
FW_CFG_SCENARIO = "opt/slotinv/scenario"
PLATFORM_FILE_GUID = "6018BF80-8B30-4353-B469-A8B389F108EE"
SHELL_DRIVER_PATH = "\\DRIVER.EFI"


def board_boots(board):
    boots = board.get("qemu", {}).get("boots", ["app"])
    if not isinstance(boots, list) or any(kind not in BOOT_KINDS for kind in boots):
        raise BoardError(f"qemu.boots: a list of {', '.join(BOOT_KINDS)}, not {boots!r}")
    return boots


def fw_cfg_option(name, path):
    """-fw_cfg value handing the file at path to the firmware under name."""
    return f"name={name},file={path.replace(',', ',,')}"


def report_only_text(board, name, platform):
    """SCENARIO.TXT for a harness that only reports what the firmware did
    with the platform's driver."""
    lines = [f"name={name}", "report=1", f"driver={platform.file_guid}"]
    if board.get("qemu", {}).get("probes"):
        lines.append("probes=1")
    return "\n".join(lines) + "\n"


def shell_startup_script():
    """startup.nsh: the shell loads the driver, then runs the harness."""
    return f"fs0:\r\nload fs0:{SHELL_DRIVER_PATH}\r\nfs0:\\HARNESS.EFI\r\n"


def earlier_record_count(board):
    """Type 9 and 41 records in the table before the driver runs: the board's
    earlier producers' and QEMU's own (-smbios), which OVMF's SMBIOS platform
    driver installs."""
    qemu = board.get("qemu", {})
    count = sum(1 for i, record in enumerate(board.get("smbios", []))
                if number(record["type"], f"smbios[{i}].type") in (9, 41))
    count += sum(1 for option in qemu.get("smbios", [])
                 if option.split(",", 1)[0] in ("type=9", "type=41"))
    return count + len(qemu.get("smbiosType9", []))


def phase_records(report, phase):
    """The "record" lines that follow "records phase=PHASE", up to the next phase."""
    found, inside = [], False
    for entry in report.entries:
        if entry["tag"] == "records":
            inside = entry["fields"].get("phase") == phase
        elif inside and entry["tag"] == "record":
            found.append(entry)
    return found


def check_earlier_present(report, board):
    """The table as the test platform left it, just before the driver may run:
    purging proves something only if every earlier record is there."""
    present = sum(1 for entry in phase_records(report, "platform")
                  if field_int(entry, "type", 0) in (9, 41))
    wanted = earlier_record_count(board)
    if present != wanted:
        return [f"{present} Type 9/41 records in the table before the driver, {wanted} expected"]
    return []


def check_origin(report, kind, platform):
    """Problems with where the firmware loaded the driver from: for "fv" the
    DXE core's firmware-file node of the driver's GUID on a firmware-volume
    handle, for "shell" the shell's file-path node on a file-system handle."""
    origins = report.all("origin")
    if kind == "fv":
        found = [entry for entry in origins if entry["fields"].get("kind") == "firmware-file"]
        if len(found) != 1:
            return [f"{len(found)} loaded images from a firmware-file node of the driver's GUID"]
        fields = found[0]["fields"]
        problems = []
        if fields.get("file", "").upper() != platform.file_guid:
            problems.append(f"driver loaded from firmware file {fields.get('file')}")
        if field_int(found[0], "fv2", 0) != 1:
            problems.append("the driver's device handle carries no firmware-volume2 protocol")
        return problems
    if any(entry["fields"].get("kind") == "firmware-file" for entry in origins):
        return ["the DXE core dispatched the driver from the volume as well"]
    found = [entry for entry in origins if entry["fields"].get("kind") == "file-path"]
    if len(found) != 1:
        return [f"{len(found)} loaded images from a file-path node ending in {SHELL_DRIVER_PATH}"]
    if field_int(found[0], "fs", 0) != 1:
        return ["the driver's device handle carries no simple file system"]
    return []


# Page attributes the memory attribute protocol reports (UEFI 2.10, 7.2).
EFI_MEMORY_XP, EFI_MEMORY_RO = 0x4000, 0x20000
PAGE_SIZE = 0x1000


def check_page_attributes(report, sections):
    """Problems with how the firmware maps the driver's pages, as the harness
    read them through the memory attribute protocol after dispatch: every
    page of code read-only and executable, every page of data not
    executable. sections: [(name, rva, size, executable)] of the image."""
    pages = report.first("image-pages")
    if pages is None or field_int(pages, "protocol", 1) != 0:
        return ["no page attributes: the firmware has no memory attribute protocol"]
    seen = {field_int(entry, "offset"): entry for entry in report.all("page")}
    problems = []
    for name, rva, size, executable in sections:
        for offset in range(rva - rva % PAGE_SIZE, rva + size, PAGE_SIZE):
            entry = seen.get(offset)
            if entry is None or field_int(entry, "status", 1) != 0:
                problems.append(f"{name} page +0x{offset:X}: no attributes")
                continue
            attributes = field_int(entry, "attributes")
            wanted = "read-only and executable" if executable else "not executable"
            if (executable and (attributes & EFI_MEMORY_XP or not attributes & EFI_MEMORY_RO)) or (
                    not executable and not attributes & EFI_MEMORY_XP):
                problems.append(f"{name} page +0x{offset:X}: attributes 0x{attributes:X}, not {wanted}")
    return problems


def raw_smbios_structure(record_type, formatted, strings, handle=0):
    """One SMBIOS structure: formatted bytes after the header, then strings."""
    body = struct.pack("<BBH", record_type, 4 + len(formatted), handle) + bytes(formatted)
    area = b"".join(text.encode("ascii") + b"\0" for text in strings)
    return body + (area + b"\0" if area else b"\0\0")


# --- A DEBUG firmware's log (I/O port 0x402) and its exception dump ------------

PCI_ENUMERATION_COMPLETE_GUID = "30CFE3E7-3DE1-4586-BE20-DEABA1B3B793"
# OVMF's SMBIOS producer, SmbiosPlatformDxe: QEMU's own records.
SMBIOS_PRODUCER_FILE_GUID = "4110465D-5FF3-4F4B-B580-24ED0D06747A"
# CPU exception handlers print on the serial port, the DXE core's asserts in its log.
EXCEPTION_MARK = "!!!! X64 Exception"
ASSERT_LINE = re.compile(r"^ASSERT[ _(].*$", re.MULTILINE)
LOADING_FILE = re.compile(r"^Loading driver ([0-9A-Fa-f-]{36})\s*$")
# The image's name comes from its CodeView entry; an image without one ends the line bare.
LOADED_AT = re.compile(r"^Loading driver at 0x([0-9A-Fa-f]+) EntryPoint=0x[0-9A-Fa-f]+ *(\S*)")
# What a DXE core that protects images says of one it cannot protect, in the
# lines after the image's load address.
UNPROTECTED_IMAGE = re.compile(r"Image Section Alignment\(0x[0-9A-Fa-f]+\) does not match Required Alignment"
                               r"|failed to create image properties record")
PLACING_NOTES = ("InstallProtocolInterface: ", "None of Tcg2Protocol/CcMeasurementProtocol is installed.")
START_FAILED = re.compile(r"^Error: Image at\s+(?:0x)?([0-9A-Fa-f]+) start failed: (.*)$")


def firmware_fault(log, serial):
    """The first assert or CPU exception a DEBUG firmware reported, or None."""
    at = serial.find(EXCEPTION_MARK)
    if at >= 0:
        return serial[at:].splitlines()[0].strip()
    match = ASSERT_LINE.search(log)
    return match.group(0).strip() if match else None


# The first CPU exception on the serial port: its type, error code, RIP, CR2
# and the base of the image the handler found; each None where the dump does not say.
Fault = namedtuple("Fault", "kind data rip cr2 base")
FAULT_FIELDS = (r"!!!! X64 Exception Type - ([0-9A-Fa-f]+)", r"ExceptionData - ([0-9A-Fa-f]+)",
                r"RIP\s+-\s+([0-9A-Fa-f]+)", r"CR2\s+-\s+([0-9A-Fa-f]+)", r"ImageBase=([0-9A-Fa-f]+)")


def exception_dump(serial):
    at = serial.find(EXCEPTION_MARK)
    dump = serial[at:] if at >= 0 else ""
    return Fault(*(int(match.group(1), 16) if match else None
                   for match in (re.search(pattern, dump) for pattern in FAULT_FIELDS)))


def loaded_images(lines):
    """[(line index, base, name)] of every image the DXE core placed."""
    return [(i, int(match.group(1), 16), match.group(2)) for i, match in
            ((i, LOADED_AT.match(line)) for i, line in enumerate(lines)) if match]


def driver_load_address(log, platform):
    """Where the DXE core placed the driver's image (the last time), or None."""
    bases = [base for _, base, name in loaded_images(log.splitlines()) if name == platform.image_name]
    return bases[-1] if bases else None


def protection_complaints(lines, index):
    """What the DXE core said about protecting the image it placed at line
    index, up to the next image it loads."""
    following = [i for i, line in enumerate(lines) if i > index and line.startswith("Loading driver")]
    end = following[0] if following else len(lines)
    return [line.strip(" !") for line in lines[index + 1:end] if UNPROTECTED_IMAGE.search(line)]


def check_dispatch(lines, platform):
    """The DXE core's order, read from its log: the driver loaded once, after
    PCI enumeration completed and after OVMF's SMBIOS producer added its
    records, and its entry point not reported as failed."""
    loads = [(i, match.group(1).upper()) for i, match in
             ((i, LOADING_FILE.match(line)) for i, line in enumerate(lines)) if match]
    ours = [i for i, guid in loads if guid == platform.file_guid]
    if len(ours) != 1:
        return [f"the DXE core loaded the driver {len(ours)} times"]
    at = ours[0]
    problems = []
    complete = [i for i, line in enumerate(lines)
                if line.upper().startswith(f"INSTALLPROTOCOLINTERFACE: {PCI_ENUMERATION_COMPLETE_GUID} ")]
    if not complete or complete[0] > at:
        problems.append("driver loaded before PCI enumeration completed")
    producer = [i for i, guid in loads if guid == SMBIOS_PRODUCER_FILE_GUID]
    following = [i for i, _ in loads if producer and i > producer[0]]
    end = following[0] if following else len(lines)
    if not producer or end > at or not any(line.startswith("SmbiosAdd: Smbios type")
                                          for line in lines[producer[0]:end]):
        problems.append("driver loaded before OVMF's SMBIOS producer added its records")
    placed = next((i for i in range(at + 1, min(at + 8, len(lines))) if LOADED_AT.match(lines[i])), None)
    if placed is None:
        return problems + ["no load address follows the driver's loading line"]
    base, name = int(LOADED_AT.match(lines[placed]).group(1), 16), LOADED_AT.match(lines[placed]).group(2)
    if name != platform.image_name:
        problems.append(f"the DXE core names the driver's image {name!r}, not {platform.image_name}")
    # Anything the DXE core says while placing the image is about the image,
    # but for the protocols it installs and, in a build with confidential-computing
    # measurement (Debian's 2025.02), its note that nothing measures images.
    problems += [f"while loading the driver: {line}" for line in lines[at + 1:placed]
                 if not line.startswith(PLACING_NOTES)]
    for match in filter(None, map(START_FAILED.match, lines)):
        if int(match.group(1), 16) == base:
            problems.append(f"the driver's entry point failed: {match.group(2).strip()}")
    return problems


def check_debug_log(log, serial, arrival, platform, protected=False):
    """Problems a DEBUG boot shows: any assert or CPU exception, the driver's
    image not named; for a driver dispatched from the volume ("fv"), the
    dispatch order and its status; on firmware that protects images
    (protected), any word that it could not protect ours."""
    if not log:
        return ["no debug log on I/O port 0x402"]
    problems = [f"assert: {match.group(0).strip()}" for match in ASSERT_LINE.finditer(log)][:3]
    if EXCEPTION_MARK in serial:
        problems.append(f"CPU exception: {firmware_fault('', serial)}")
    lines = [line.rstrip() for line in log.splitlines()]
    ours = [i for i, _, name in loaded_images(lines) if name == platform.image_name]
    if not ours:
        problems.append(f"no image named {platform.image_name} in the log")
    if protected:
        problems += [f"our image unprotected: {line}" for i in ours for line in protection_complaints(lines, i)]
    if arrival == "fv":
        problems += check_dispatch(lines, platform)
    return problems


# --- The harness's serial report -------------------------------------------

BEGIN_MARKER = "=== SLOTINV HARNESS BEGIN ==="
END_MARKER = "=== SLOTINV HARNESS END ==="
# The test platform's DXE driver reports between these.
PLATFORM_BEGIN_MARKER = "=== SLOTINV PLATFORM BEGIN ==="
PLATFORM_END_MARKER = "=== SLOTINV PLATFORM END ==="
FIELD = re.compile(r"(\S+?)=(\S*)")


def marked_text(text, begin_marker, end_marker):
    """(started, finished, body): whether the markers are there and what lies
    between them, to the end of text when the end marker is missing."""
    begin = text.find(begin_marker)
    if begin < 0:
        return False, False, ""
    body = text[begin + len(begin_marker):]
    end = body.find(end_marker)
    return True, end >= 0, body[:end] if end >= 0 else body


class Report:
    """The harness's lines: each a tag, its key=value fields and the hex
    lines that followed it."""

    def __init__(self, text, begin_marker=BEGIN_MARKER, end_marker=END_MARKER):
        self.entries = []
        self.started, self.finished, body = marked_text(text, begin_marker, end_marker)
        for raw in body.splitlines():
            line = raw.strip()
            if not line:
                continue
            if line.startswith("hex ") and self.entries:
                self.entries[-1]["hex"] += bytes.fromhex(line[4:])
                continue
            tag, _, rest = line.partition(" ")
            fields = dict(FIELD.findall(rest))
            self.entries.append({"tag": tag, "fields": fields, "hex": b""})

    def all(self, tag):
        return [entry for entry in self.entries if entry["tag"] == tag]

    def first(self, tag, **match):
        for entry in self.all(tag):
            if all(entry["fields"].get(key) == value for key, value in match.items()):
                return entry
        return None


def field_int(entry, key, default=None):
    value = entry["fields"].get(key) if entry else None
    return default if value is None else int(value, 0)


def pci_functions(report):
    """{(bus, device, function): fields} for every function the harness saw."""
    functions = {}
    for entry in report.all("pci"):
        location = (field_int(entry, "bus"), field_int(entry, "dev"), field_int(entry, "fn"))
        functions[location] = entry["fields"]
    return functions


# --- SMBIOS dumps ----------------------------------------------------------

DUMP_TABLE_OFFSET = 0x20


def checksum_fix(data, length, at):
    data[at] = 0
    data[at] = (-sum(data[:length])) & 0xFF


def dump_image(report):
    """dmidecode's binary dump form (entry point at 0, table at 0x20) of the
    table the harness printed, preferring the SMBIOS 3 entry point."""
    for kind in ("smbios3", "smbios"):
        entry = report.first(f"{kind}-entry")
        table = report.first(f"{kind}-table")
        if entry is None or table is None:
            continue
        return dump_bin(entry["hex"], table["hex"])
    return None


def dump_bin(entry_point, table):
    """dmidecode's binary dump form of an entry point ("_SM3_" or "_SM_") and
    its table: the entry point's table address rewritten to 0x20."""
    point = bytearray(entry_point)
    if point[:5] == b"_SM3_":
        struct.pack_into("<Q", point, 0x10, DUMP_TABLE_OFFSET)
        checksum_fix(point, point[6], 5)
    else:
        struct.pack_into("<I", point, 0x18, DUMP_TABLE_OFFSET)
        intermediate = bytearray(point[0x10:0x1F])
        checksum_fix(intermediate, len(intermediate), 5)
        point[0x10:0x1F] = intermediate
        checksum_fix(point, point[5], 4)
    return bytes(point).ljust(DUMP_TABLE_OFFSET, b"\0") + bytes(table)


def table_records(table):
    """[(type, handle, bytes)] of the structures in a table, up to and
    including the end-of-table structure."""
    records = []
    at = 0
    while at + 4 <= len(table):
        record_type, length, handle = struct.unpack_from("<BBH", table, at)
        if length < 4:
            break
        end = table.find(b"\0\0", at + length)
        if end < 0:
            break
        records.append((record_type, handle, bytes(table[at:end + 2])))
        at = end + 2
        if record_type == 127:
            break
    return records


def dump_records(dump):
    return table_records(dump[DUMP_TABLE_OFFSET:])


def record_strings(record):
    length = record[1]
    area = record[length:-1]
    if area == b"\0":
        return []
    return [text.decode("latin-1") for text in area[:-1].split(b"\0")]


def without_handle(record):
    return record[:2] + b"\0\0" + record[4:]


def inventory_records(records):
    return [record for record_type, _, record in records if record_type in (9, 41)]


def compare_inventory(actual, expected):
    """Problems found comparing the driver's Type 9 and 41 records from QEMU
    with the simulator's, handles aside; empty when byte-identical."""
    got = [without_handle(record) for record in inventory_records(actual)]
    want = [without_handle(record) for record in inventory_records(expected)]
    if got == want:
        return []
    if sorted(got) == sorted(want):
        return ["same Type 9/41 records as the simulator, in a different order"]
    problems = [f"{len(got)} Type 9/41 records, the simulator has {len(want)}"] if len(got) != len(want) else []
    for i, (mine, theirs) in enumerate(zip(got, want)):
        if mine != theirs:
            problems.append(f"record {i}: qemu {mine.hex()} simulator {theirs.hex()}")
    return problems


# --- The driver's HII package list ------------------------------------------

def guid_bytes(text):
    parts = text.split("-")
    return (struct.pack("<IHH", int(parts[0], 16), int(parts[1], 16), int(parts[2], 16)) +
            bytes.fromhex(parts[3] + parts[4]))


def package_strings(package):
    """The UCS-2 strings of a string package, in block order; None when the
    package holds a block this reader does not follow."""
    header_size = struct.unpack_from("<I", package, 4)[0]
    at = header_size
    strings = []
    while at < len(package):
        block = package[at]
        if block == 0x00:
            return strings
        if block != 0x14:
            return None
        end = at + 1
        while end + 1 < len(package) and package[end:end + 2] != b"\0\0":
            end += 2
        strings.append(package[at + 1:end].decode("utf-16-le"))
        at = end + 2
    return None


def check_package_list(data, platform, guid=None):
    """Problems with the exported package list; empty when it is the
    platform's driver's, named by guid (default: its file GUID)."""
    guid = guid or platform.file_guid
    if len(data) < 24:
        return ["package list shorter than its header"]
    problems = []
    if data[:16] != guid_bytes(guid):
        problems.append(f"package list GUID is not {guid}")
    length = struct.unpack_from("<I", data, 16)[0]
    if length != platform.package_list_length:
        problems.append(f"package list is {length} bytes, not {platform.package_list_length}")
    at = 20
    strings = None
    while at + 4 <= min(length, len(data)):
        package_length = int.from_bytes(data[at:at + 3], "little")
        package_type = data[at + 3]
        if package_length < 4:
            break
        if package_type == 0x04:
            strings = package_strings(data[at:at + package_length])
        at += package_length
    if strings != platform.strings:
        problems.append(f"string package holds {strings!r}")
    return problems
