"""Board files and platforms, as the QEMU runners read them: a scenario's
board file (what is fitted, what the runner boots) and its platform, from the
summary its build writes and the description the generator's own reader
reads. Standard library, and that reader."""
import json
import os
import re
import struct
import sys

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

# The PCH sideband window (hw/gpio_pads.h): port p's registers at base | p << 16.
# The harness backs all of it with the shared memory, marker at offset 0.
SIDEBAND_BASE = 0xFD000000
WINDOW_SIZE = 0x1000000
WINDOW_MARKER = b"SWIN"
# The PCH GPIO groups as the driver's own header lists them: sideband port,
# pad count, pad-ownership offset, pad-configuration offset.
GPIO_GROUPS = description.Limits(REPOSITORY).gpio_groups


class BoardError(Exception):
    pass


# --- Platforms ------------------------------------------------------------

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
        self.language = summary["language"]
        self.language_name_id = summary["languageNameId"]
        self.designations = set(summary["designations"])
        self.package_list_length = summary["packageListLength"]
        # Where each socket's bus-number word is read, which the test platform serves.
        self.sockets = summary["sockets"]
        self.positions = [(entry["name"], entry["pads"], entry["noCard"] or 0)
                          for entry in summary["riserPositions"]]
        try:
            read = description.read_description(os.path.join(REPOSITORY, summary["description"]), REPOSITORY)
        except description.DescriptionError as error:
            raise BoardError(f"platform {self.name}: {summary['description']}: {error}") from error
        self.described = read
        slots = read.mezzanine + [slot for q in read.positions for card in q.cards.values() for slot in card]
        wirings = [w for slot in slots for w in [slot.wiring] + list(slot.by_identifier.values()) if w]
        # (socket, group, device) of every root port the driver reads behind, slots' peers included.
        self.root_ports = {(w.socket, w.group, w.device) for w in wirings} | {
            (peer.socket, peer.group, peer.device) for w in wirings for peer in w.peers} | {
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
    if (pad >> 24) != 0x01 or group >= len(GPIO_GROUPS) or index >= GPIO_GROUPS[group][1]:
        raise BoardError(f"pad 0x{pad:08X} does not exist")
    port, _, ownership, configuration = GPIO_GROUPS[group]
    window = SIDEBAND_BASE | (port << 16)
    return (window | ((ownership + (index // 8) * 4) & 0xFFFF), (index % 8) * 4,
            window | ((configuration + index * 8) & 0xFFFF))


def strap_registers(platform):
    """The sideband registers behind the platform's strap pads, in address order."""
    return sorted({address for _, pads, _ in platform.positions for pad in pads
                   for address in pad_registers(pad)[0::2]})


def window_words(board, platform):
    """{offset: word} of the shared memory that backs the sideband window: the
    marker the harness checks at offset 0, and the registers of every pad the
    board drives. Every other word reads 0: host-owned, low."""
    words = {0: struct.unpack("<I", WINDOW_MARKER)[0]}
    for pad, (level, owner) in sorted(pad_settings(board, platform).items()):
        ownership, shift, configuration = pad_registers(pad)
        ownership, configuration = ownership - SIDEBAND_BASE, configuration - SIDEBAND_BASE
        word = words.get(ownership, 0)
        words[ownership] = (word & ~(0xF << shift)) | ((owner & 0x3) << shift)
        word = words.get(configuration, 0)
        words[configuration] = (word & ~0x2) | ((level & 1) << 1)
    return words


def write_window(path, board, platform):
    """The window's shared memory as a file QEMU maps: sparse but for the words set."""
    with open(path, "wb") as handle:
        handle.truncate(WINDOW_SIZE)
        for offset, word in sorted(window_words(board, platform).items()):
            handle.seek(offset)
            handle.write(struct.pack("<I", word))


def window_needed(board, platform):
    """An unbacked window reads 0: host-owned, low. Back it only when that is not the board."""
    explicit = board.get("qemu", {}).get("window")
    if explicit is not None:
        return bool(explicit)
    return any(level or owner for level, owner in pad_settings(board, platform).values())


# --- Boots through the firmware volume and the shell -------------------------

# How a scenario's driver reaches the firmware: loaded by the harness ("app"),
# dispatched by the DXE core from the patched firmware volume ("fv"), or loaded
# by the UEFI shell's `load` from a startup.nsh ("shell"); then the same on
# OVMF built from EDK2's source with the driver in its platform build:
# dispatched in a RELEASE ("edk2") and a DEBUG build with memory protection
# ("edk2-debug"), loaded by the DEBUG build's shell ("edk2-debug-shell"), and
# dispatched, built from source, by 2025.02 with every image protected
# ("edk2-strict"), or loaded as our binary image by its shell ("edk2-strict-shell").
BOOT_KINDS = ("app", "fv", "shell", "edk2", "edk2-debug", "edk2-debug-shell", "edk2-strict",
              "edk2-strict-shell", "gdb", "crash")


def board_boots(board):
    boots = board.get("qemu", {}).get("boots", ["app"])
    if not isinstance(boots, list) or any(kind not in BOOT_KINDS for kind in boots):
        raise BoardError(f"qemu.boots: a list of {', '.join(BOOT_KINDS)}, not {boots!r}")
    return boots


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
