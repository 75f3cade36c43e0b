"""What the runners check of a boot: the harness's and the test platform's
reports, the table the firmware published, the package list, the firmware's
own log."""
import json
import os
import shutil
import struct
import subprocess
from collections import namedtuple

import board as boards
import boot_media
import firmware_images
import firmware_log
import pe_image
import serial_report
import smbios_dump

DMIDECODE_COMPLAINTS = ("<OUT OF SPEC>", "<BAD INDEX>", "<TRUNCATED>", "Invalid", "Wrong",
                        "Unknown", "Bad ", "truncated")


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
                  if serial_report.field_int(entry, "type", 0) in (9, 41))
    wanted = boards.earlier_record_count(board)
    if present != wanted:
        return [f"{present} Type 9/41 records in the table before the driver, {wanted} expected"]
    return []


def check_origin(report, kind, platform, entry_failed=False):
    """Problems with where the firmware loaded the driver from: for "fv" the
    DXE core's firmware-file node of the driver's GUID on a firmware-volume
    handle, for "shell" the shell's file-path node on a file-system handle.
    A driver whose entry point failed (entry_failed) is unloaded by what
    started it: no image of it may be left."""
    origins = report.all("origin")
    if entry_failed:
        return [f"the driver's image is still loaded ({len(origins)}), yet its entry point fails in the simulator"
                ] if origins else []
    if kind == "fv":
        found = [entry for entry in origins if entry["fields"].get("kind") == "firmware-file"]
        if len(found) != 1:
            return [f"{len(found)} loaded images from a firmware-file node of the driver's GUID"]
        fields = found[0]["fields"]
        problems = []
        if fields.get("file", "").upper() != platform.file_guid:
            problems.append(f"driver loaded from firmware file {fields.get('file')}")
        if serial_report.field_int(found[0], "fv2", 0) != 1:
            problems.append("the driver's device handle carries no firmware-volume2 protocol")
        return problems
    if any(entry["fields"].get("kind") == "firmware-file" for entry in origins):
        return ["the DXE core dispatched the driver from the volume as well"]
    found = [entry for entry in origins if entry["fields"].get("kind") == "file-path"]
    if len(found) != 1:
        return [f"{len(found)} loaded images from a file-path node ending in {boot_media.SHELL_DRIVER_PATH}"]
    if serial_report.field_int(found[0], "fs", 0) != 1:
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
    if pages is None or serial_report.field_int(pages, "protocol", 1) != 0:
        return ["no page attributes: the firmware has no memory attribute protocol"]
    seen = {serial_report.field_int(entry, "offset"): entry for entry in report.all("page")}
    problems = []
    for name, rva, size, executable in sections:
        for offset in range(rva - rva % PAGE_SIZE, rva + size, PAGE_SIZE):
            entry = seen.get(offset)
            if entry is None or serial_report.field_int(entry, "status", 1) != 0:
                problems.append(f"{name} page +0x{offset:X}: no attributes")
                continue
            attributes = serial_report.field_int(entry, "attributes")
            wanted = "read-only and executable" if executable else "not executable"
            if (executable and (attributes & EFI_MEMORY_XP or not attributes & EFI_MEMORY_RO)) or (
                    not executable and not attributes & EFI_MEMORY_XP):
                problems.append(f"{name} page +0x{offset:X}: attributes 0x{attributes:X}, not {wanted}")
    return problems


def check_package_list_bytes(data, platform, guid=None):
    """Problems with the exported package list; empty when it is the
    platform's driver's, named by guid (default: its file GUID)."""
    guid = guid or platform.file_guid
    if len(data) < 24:
        return ["package list shorter than its header"]
    problems = []
    if data[:16] != smbios_dump.guid_bytes(guid):
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
            strings = smbios_dump.package_strings(data[at:at + package_length])
        at += package_length
    if strings != platform.strings:
        problems.append(f"string package holds {strings!r}")
    return problems


def check_started(report, who):
    if not report.started:
        return [f"{who} never started (no begin marker on the serial port)"]
    if not report.finished:
        return [f"{who} report ends early (no end marker)"]
    return []


def check_setup(report, board, platform, who="harness"):
    problems = check_started(report, who)
    if not report.started:
        return problems
    scenario = report.first("scenario")
    if serial_report.field_int(report.first("scenario-file"), "status", 1) != 0:
        problems.append(f"{who} could not read its scenario")
    elif serial_report.field_int(scenario, "rejected", 0) != 0:
        problems.append(f"{who} rejected lines of its scenario")
    if serial_report.field_int(report.first("register-access"), "status", 1) != 0:
        problems.append("register-access protocol not installed")
    if boards.window_needed(board, platform):
        window = report.first("window")
        if window is None or window["fields"].get("result") != "backed":
            problems.append(f"sideband window not backed: {window['fields'] if window else 'no report'}")
    language = boards.board_platform_lang(board)
    now = report.first("platformlang-now")
    if language is None and serial_report.field_int(now, "status", 0) == 0:
        problems.append("PlatformLang still present after deleting it")
    if language is not None and (now is None or now["fields"].get("value") != language):
        problems.append(f"PlatformLang is not {language!r}: {now['fields'] if now else 'no report'}")
    for entry in report.all("earlier"):
        if serial_report.field_int(entry, "status", 1) != 0:
            problems.append(f"earlier record not added: {entry['fields']}")
    return problems


def check_driver(report, platform, simulated):
    """The harness's load and start of the driver: its entry point returns what
    the simulator's driver returns on the same board (simulated, a SimulatorRun)."""
    problems = []
    driver = report.first("image", label="driver")
    if driver is None:
        return ["no driver image report"]
    if serial_report.field_int(driver, "load", 1) != 0:
        problems.append(f"LoadImage failed: {driver['fields'].get('load')}")
    elif serial_report.field_int(driver, "start", 1) != simulated.status:
        problems.append(f"driver returned {driver['fields'].get('start')}, the simulator's "
                        f"{simulated.status_name} (0x{simulated.status:016X})")
    if driver["fields"].get("filepath", "").upper() != f"04/06/{platform.file_guid}":
        problems.append(f"loaded image file path is {driver['fields'].get('filepath')}")
    return problems


def check_topology(report, board, platform):
    """The board file must describe what OVMF actually built, where the platform's driver reads."""
    seen = serial_report.pci_functions(report)
    problems = []
    for i, bridge in enumerate(board.get("bridges", [])):
        location = (boards.number(bridge["bus"], "bus"), boards.number(bridge["device"], "device"), 0)
        secondary = boards.number(bridge["secondary"], "secondary")
        fields = seen.get(location)
        if fields is None or "secondary" not in fields:
            problems.append(f"bridges[{i}] {location[0]:02x}:{location[1]:02x}.0 is no bridge under QEMU")
        elif int(fields["secondary"], 0) != secondary:
            problems.append(f"bridges[{i}] {location[0]:02x}:{location[1]:02x}.0 has secondary bus "
                            f"{fields['secondary']} under QEMU, the board file says 0x{secondary:02x}")
    for i, device in enumerate(board.get("devices", [])):
        location = tuple(boards.number(device[key], key) for key in ("bus", "device", "function"))
        if location not in seen:
            problems.append(f"devices[{i}] {location[0]:02x}:{location[1]:02x}.{location[2]} "
                            "does not answer under QEMU")
    listed = {(boards.number(d["bus"], "bus"), boards.number(d["device"], "device"),
               boards.number(d["function"], "function")) for d in board.get("devices", [])}
    bridges = {(boards.number(b["bus"], "bus"), boards.number(b["device"], "device"), 0)
               for b in board.get("bridges", [])}
    # Where the driver reads: the onboard devices on a bus of their own, behind
    # every root port, and the root ports of the socket groups and fixed bridges.
    probed = list(platform.bus_probes)
    probed += [(boards.number(b["secondary"], "secondary"), 0, 0) for b in board.get("bridges", [])]
    for location in probed:
        if location in seen and location not in listed and location not in bridges:
            problems.append(f"{location[0]:02x}:{location[1]:02x}.{location[2]} answers under QEMU "
                            "but the board file does not list it")
    sockets = boards.board_sockets(board, platform)
    root_ports = platform.fixed_bridges | {((sockets[socket] >> (8 * group)) & 0xFF, device)
                                           for socket, group, device in platform.root_ports}
    for location, fields in sorted(seen.items()):
        bus, device, function = location
        if ("secondary" in fields and (bus, device) in root_ports and function == 0
                and location not in bridges):
            problems.append(f"root port {bus:02x}:{device:02x}.0 exists under QEMU "
                            "but the board file does not list it")
    return problems


def check_package_list(report, platform, guid=None):
    guid = guid or platform.file_guid
    lists = report.all("hii")
    registered = [entry for entry in lists if entry["hex"]]
    if not registered:
        return [f"no package list named {guid} in the HII database"]
    if len(registered) > 1:
        return [f"{len(registered)} package lists named {guid}"]
    return check_package_list_bytes(registered[0]["hex"], platform, guid)


def run_dmidecode(dump_path, work):
    problems = []
    if shutil.which("dmidecode") is None:
        return ["dmidecode not installed"]
    whole = subprocess.run(["dmidecode", "--from-dump", dump_path], capture_output=True, text=True)
    typed = subprocess.run(["dmidecode", "--from-dump", dump_path, "-t", "9,41"],
                           capture_output=True, text=True)
    with open(os.path.join(work, "dmidecode.txt"), "w", encoding="utf-8") as handle:
        handle.write(whole.stdout + whole.stderr)
    for result in (whole, typed):
        if result.returncode != 0:
            problems.append(f"dmidecode exited with {result.returncode}")
        if result.stderr.strip():
            problems.append(f"dmidecode warned: {result.stderr.strip()[:200]}")
    for line in typed.stdout.splitlines():
        if any(word in line for word in DMIDECODE_COMPLAINTS):
            problems.append(f"dmidecode: {line.strip()}")
    return problems


def earlier_strings(board):
    texts = set()
    for record in board.get("smbios", []):
        texts.update(record.get("strings", []))
    qemu = board.get("qemu", {})
    texts.update(qemu.get("smbiosType9", []))
    for option in qemu.get("smbios", []):
        for part in option.split(","):
            if part.startswith("designation="):
                texts.add(part.split("=", 1)[1])
    return texts


def check_no_earlier_records(records, board, platform):
    problems = []
    earlier = earlier_strings(board)
    driver = platform.designations
    for record in smbios_dump.inventory_records(records):
        strings = smbios_dump.record_strings(record)
        left = [text for text in strings if text in earlier]
        if left:
            problems.append(f"earlier Type {record[0]} record survived: {left}")
        elif any(text not in driver for text in strings):
            problems.append(f"Type {record[0]} record with foreign strings {strings}")
    return problems


def simulator_records(boardsim, board_path, work):
    """The board simulator's table for the board file as dump_records gives
    it, dumped to work/boardsim.dump. Raises RuntimeError when boardsim fails."""
    dump = os.path.join(work, "boardsim.dump")
    result = subprocess.run([boardsim, board_path, "--dump", dump], capture_output=True,
                            text=True, timeout=60)
    if result.returncode != 0 or not os.path.exists(dump):
        raise RuntimeError(f"boardsim failed ({result.returncode}): "
                           f"{(result.stderr or result.stdout).strip()[:200]}")
    with open(dump, "rb") as handle:
        return smbios_dump.dump_records(handle.read())


# What the board simulator's driver did on a board: its entry point's status
# (code and name) and how many of its records the table refused.
SimulatorRun = namedtuple("SimulatorRun", "status status_name refused")


def simulator_run(boardsim, board_path):
    """The SimulatorRun of boardsim's run of the board file. Raises RuntimeError when boardsim fails."""
    result = subprocess.run([boardsim, board_path, "--json"], capture_output=True, text=True, timeout=60)
    try:
        run = json.loads(result.stdout) if result.returncode == 0 else None
        return SimulatorRun(run["statusCode"], run["status"], run["refusedAdds"])
    except (ValueError, TypeError, KeyError) as error:
        raise RuntimeError(f"boardsim failed ({result.returncode}): "
                           f"{(result.stderr or result.stdout).strip()[:200] or error}") from error


def compare_with_simulator(records, board_path, work, boardsim):
    """The one comparison of every boot, firmware or Linux: the driver's Type
    9 and 41 records byte for byte as the simulator writes them for the
    board, in the order the driver adds them, handles aside."""
    if not os.path.exists(boardsim):
        return [f"comparison not made: board simulator {boardsim} not built"]
    try:
        expected = simulator_records(boardsim, board_path, work)
    except RuntimeError as error:
        return [str(error)]
    return smbios_dump.compare_inventory(records, expected)


def check_records(report, board, platform, board_path, work, images):
    """The published table: dmidecode's view, no earlier Type 9/41, the simulator's records."""
    dump = smbios_dump.dump_image(report)
    if dump is None:
        return ["no SMBIOS table in the report"]
    dump_path = os.path.join(work, "smbios.dump")
    with open(dump_path, "wb") as handle:
        handle.write(dump)
    records = smbios_dump.dump_records(dump)
    return (run_dmidecode(dump_path, work) + check_no_earlier_records(records, board, platform) +
            compare_with_simulator(records, board_path, work, images.boardsim))


def check_app_boot(text, board, platform, board_path, work, images):
    report = serial_report.Report(text)
    problems = check_setup(report, board, platform)
    if report.started:
        problems += check_driver(report, platform, simulator_run(images.boardsim, board_path))
        problems += check_topology(report, board, platform)
        problems += check_earlier_present(report, board)
        problems += check_package_list(report, platform)
        problems += check_records(report, board, platform, board_path, work, images)
    return problems


def check_firmware_boot(text, board, platform, board_path, work, images, kind, dispatched=None):
    """Boots on firmware with the test platform's driver: its set-up, then the
    harness's report; on a DEBUG firmware also its log. dispatched: the image
    of the driver the firmware dispatches (our binary, or one EDK2 built from
    source), whose pages a protecting firmware must map; for a shell's load,
    the platform's image."""
    boot = firmware_images.FIRMWARE_BOOTS[kind]
    simulated = simulator_run(images.boardsim, board_path)
    setup = serial_report.Report(text, serial_report.PLATFORM_BEGIN_MARKER, serial_report.PLATFORM_END_MARKER)
    problems = check_setup(setup, board, platform, "test platform driver")
    if setup.started:
        problems += check_topology(setup, board, platform)
        problems += check_earlier_present(setup, board)
    report = serial_report.Report(text)
    problems += check_started(report, "harness")
    if report.started:
        problems += check_origin(report, boot.arrival, platform, simulated.status != 0)
        origin = report.first("origin")
        guid = platform.file_guid
        if boot.arrival == "shell" and origin is not None:
            guid = origin["fields"].get("package-list", guid)
        problems += check_package_list(report, platform, guid)
        problems += check_records(report, board, platform, board_path, work, images)
        if boot.protected:
            problems += check_page_attributes(report, image_sections(dispatched or platform.images["efi"]))
    if boot.debug:
        problems += firmware_log.check_debug_log(read_text(os.path.join(work, "debug.log")), text, boot.arrival,
                                                 platform, boot.protected, simulated)
    return problems


def image_sections(path):
    """[(name, rva, size, executable)] of the sections an image occupies in memory."""
    image = pe_image.read_image(path)
    return [(section.name, section.rva, max(section.virtual_size, section.raw_size),
             bool(section.characteristics & pe_image.SCN_MEM_EXECUTE))
            for section in image.sections if max(section.virtual_size, section.raw_size)]


def read_text(path):
    """A log's text, empty when the boot left none."""
    if not os.path.exists(path):
        return ""
    with open(path, encoding="latin-1") as handle:
        return handle.read()
