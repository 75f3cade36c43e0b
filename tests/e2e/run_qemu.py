#!/usr/bin/env python3
"""Runs the slot inventory driver in real UEFI firmware (QEMU q35 with OVMF)
for each scenario board file and checks what it leaves behind.

usage: run_qemu.py BUILD_DIR [--scenario NAME ...] [--verbose]

Per scenario: build a FAT boot volume (harness as BOOTX64.EFI, the driver,
an empty driver, SCENARIO.TXT), boot QEMU with the scenario's devices, read
the harness's serial report, then check the driver's status, the topology
against the board file, the HII package list, dmidecode's view of the table,
that no earlier Type 9/41 record survived, and that the driver's Type 9/41
records are byte-identical with the board simulator's for the same board
file. Prints "NAME PASS" or "NAME FAIL: reasons"; exits 1 when any failed.
Exits 0 with a SKIP line when QEMU or OVMF is not installed."""
import argparse
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_lib as lib  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
SCENARIO_DIR = os.path.join(HERE, "scenarios")
QEMU = os.environ.get("QEMU", "qemu-system-x86_64")
OVMF_CODE = os.environ.get("OVMF_CODE", "/usr/share/OVMF/OVMF_CODE_4M.fd")
OVMF_VARS = os.environ.get("OVMF_VARS", "/usr/share/OVMF/OVMF_VARS_4M.fd")
BOOT_TIMEOUT = int(os.environ.get("QEMU_BOOT_TIMEOUT", "60"))
WINDOW_DEVICE = 0x10  # bus-0 slot of the shared-memory device backing the sideband window
DMIDECODE_COMPLAINTS = ("<OUT OF SPEC>", "<BAD INDEX>", "<TRUNCATED>", "Invalid", "Wrong",
                        "Unknown", "Bad ", "truncated")


def qemu_missing():
    """Why QEMU cannot run here, or None."""
    if shutil.which(QEMU) is None:
        return f"{QEMU} not found"
    for path in (OVMF_CODE, OVMF_VARS):
        if not os.path.exists(path):
            return f"{path} not found"
    return None


def network_device():
    """igb models the board's I350; older QEMU lacks it, e1000e stands in."""
    try:
        listing = subprocess.run([QEMU, "-device", "help"], capture_output=True, text=True,
                                 timeout=30).stdout
    except (OSError, subprocess.TimeoutExpired):
        listing = ""
    return "igb" if '"igb"' in listing else "e1000e"


class Images:
    def __init__(self, build):
        uefi = os.path.join(build, "uefi")
        self.harness = os.path.join(uefi, "SlotInventoryHarness.efi")
        self.driver = os.path.join(uefi, "SlotInventoryDxe.efi")
        self.empty = os.path.join(uefi, "EmptyDriver.efi")
        self.floor = os.path.join(uefi, "FloorDriver.efi")
        self.boardsim = os.path.join(build, "tools", "boardsim")

    def missing(self):
        return [path for path in (self.harness, self.driver, self.empty) if not os.path.exists(path)]


def build_volume(volume, images, scenario_text, extra_files=None):
    boot = os.path.join(volume, "EFI", "BOOT")
    os.makedirs(boot, exist_ok=True)
    shutil.copyfile(images.harness, os.path.join(boot, "BOOTX64.EFI"))
    shutil.copyfile(images.driver, os.path.join(volume, "DRIVER.EFI"))
    shutil.copyfile(images.empty, os.path.join(volume, "EMPTY.EFI"))
    with open(os.path.join(volume, "SCENARIO.TXT"), "w", encoding="ascii") as handle:
        handle.write(scenario_text)
    for name, data in (extra_files or {}).items():
        with open(os.path.join(volume, name), "wb") as handle:
            handle.write(data)


def smbios_options(qemu, work):
    """-smbios options: QEMU's own records, and raw Type 9 structures through a file."""
    options = []
    for value in qemu.get("smbios", []):
        options += ["-smbios", value]
    slots = qemu.get("smbiosType9", [])
    if slots:
        path = os.path.join(work, "type9.bin")
        with open(path, "wb") as handle:
            for designation in slots:
                # Slot fields after the designation: PCIe x8, 8x, available, long, id 0x63.
                formatted = bytes([1, 0xB5, 0x0B, 3, 4, 0x63, 0, 0x04, 0, 0, 0, 0, 0])
                handle.write(lib.raw_smbios_structure(9, formatted, [designation]))
        options += ["-smbios", f"file={path}"]
    return options


def qemu_command(board, work, volume, serial, window_path, nic):
    qemu = board.get("qemu", {})
    vars_copy = os.path.join(work, "vars.fd")
    shutil.copyfile(OVMF_VARS, vars_copy)
    command = [
        QEMU, "-machine", qemu.get("machine", "q35"), "-m", "256", "-nodefaults",
        "-nographic", "-monitor", "none", "-serial", f"file:{serial}", "-no-reboot",
        "-drive", f"if=pflash,format=raw,unit=0,readonly=on,file={OVMF_CODE}",
        "-drive", f"if=pflash,format=raw,unit=1,file={vars_copy}",
        "-drive", f"file=fat:rw:{volume},format=raw",
    ]
    if window_path is not None:
        command += ["-object", f"memory-backend-file,id=sidebandwin,share=on,mem-path={window_path},"
                    f"size={lib.WINDOW_SIZE}",
                    "-device", f"ivshmem-plain,memdev=sidebandwin,bus=pcie.0,addr=0x{WINDOW_DEVICE:x}"]
    for device in qemu.get("devices", []):
        command += ["-device", device.replace("{nic}", nic)]
    return command + smbios_options(qemu, work)


def boot(board, name, work, images, nic, extra_files=None):
    """Boots one scenario, with extra_files ({name: bytes}) on the volume;
    returns (serial text, problems, seconds)."""
    volume = os.path.join(work, "volume")
    shutil.rmtree(volume, ignore_errors=True)
    window_path = None
    window_device = None
    if lib.window_needed(board):
        window_path = os.path.join(work, "sideband.bin")
        with open(window_path, "wb") as handle:
            handle.write(lib.window_image(board))
        window_device = WINDOW_DEVICE
    build_volume(volume, images, lib.scenario_text(board, name, window_device), extra_files)
    serial = os.path.join(work, "serial.log")
    if os.path.exists(serial):
        os.remove(serial)
    command = qemu_command(board, work, volume, serial, window_path, nic)
    with open(os.path.join(work, "qemu-command.txt"), "w", encoding="utf-8") as handle:
        handle.write(" ".join(command) + "\n")
    problems = []
    started = time.monotonic()
    try:
        result = subprocess.run(command, capture_output=True, text=True, timeout=BOOT_TIMEOUT,
                                stdin=subprocess.DEVNULL)
        if result.returncode != 0:
            problems.append(f"qemu exited with {result.returncode}: {result.stderr.strip()[-300:]}")
        with open(os.path.join(work, "qemu-stderr.txt"), "w", encoding="utf-8") as handle:
            handle.write(result.stderr)
    except subprocess.TimeoutExpired:
        problems.append(f"qemu did not power off within {BOOT_TIMEOUT} s")
    elapsed = time.monotonic() - started
    text = ""
    if os.path.exists(serial):
        with open(serial, encoding="latin-1") as handle:
            text = handle.read()
    return text, problems, elapsed


# --- Checks -----------------------------------------------------------------

def check_setup(report, board, window_wanted):
    problems = []
    if not report.started:
        return ["harness never started (no begin marker on the serial port)"]
    if not report.finished:
        problems.append("harness report ends early (no end marker)")
    scenario = report.first("scenario")
    if lib.field_int(report.first("scenario-file"), "status", 1) != 0:
        problems.append("harness could not read SCENARIO.TXT")
    elif lib.field_int(scenario, "rejected", 0) != 0:
        problems.append("harness rejected lines of SCENARIO.TXT")
    if lib.field_int(report.first("register-access"), "status", 1) != 0:
        problems.append("register-access protocol not installed")
    if window_wanted:
        window = report.first("window")
        if window is None or window["fields"].get("result") != "backed":
            problems.append(f"sideband window not backed: {window['fields'] if window else 'no report'}")
    language = lib.board_platform_lang(board)
    now = report.first("platformlang-now")
    if language is None and lib.field_int(now, "status", 0) == 0:
        problems.append("PlatformLang still present after deleting it")
    if language is not None and (now is None or now["fields"].get("value") != language):
        problems.append(f"PlatformLang is not {language!r}: {now['fields'] if now else 'no report'}")
    for entry in report.all("earlier"):
        if lib.field_int(entry, "status", 1) != 0:
            problems.append(f"earlier record not added: {entry['fields']}")
    return problems


def check_driver(report, board):
    problems = []
    expected = lib.number(board.get("qemu", {}).get("expect", {}).get("status", 0), "qemu.expect.status")
    driver = report.first("image", label="driver")
    if driver is None:
        return ["no driver image report"]
    if lib.field_int(driver, "load", 1) != 0:
        problems.append(f"LoadImage failed: {driver['fields'].get('load')}")
    elif lib.field_int(driver, "start", 1) != expected:
        problems.append(f"driver returned {driver['fields'].get('start')}, expected 0x{expected:016X}")
    if driver["fields"].get("filepath", "").upper() != f"04/06/{lib.DRIVER_FILE_GUID}":
        problems.append(f"loaded image file path is {driver['fields'].get('filepath')}")
    return problems


def check_topology(report, board):
    """The board file must describe what OVMF actually built."""
    seen = lib.pci_functions(report)
    problems = []
    for i, bridge in enumerate(board.get("bridges", [])):
        location = (lib.number(bridge["bus"], "bus"), lib.number(bridge["device"], "device"), 0)
        secondary = lib.number(bridge["secondary"], "secondary")
        fields = seen.get(location)
        if fields is None or "secondary" not in fields:
            problems.append(f"bridges[{i}] {location[0]:02x}:{location[1]:02x}.0 is no bridge under QEMU")
        elif int(fields["secondary"], 0) != secondary:
            problems.append(f"bridges[{i}] {location[0]:02x}:{location[1]:02x}.0 has secondary bus "
                            f"{fields['secondary']} under QEMU, the board file says 0x{secondary:02x}")
    for i, device in enumerate(board.get("devices", [])):
        location = tuple(lib.number(device[key], key) for key in ("bus", "device", "function"))
        if location not in seen:
            problems.append(f"devices[{i}] {location[0]:02x}:{location[1]:02x}.{location[2]} "
                            "does not answer under QEMU")
    listed = {(lib.number(d["bus"], "bus"), lib.number(d["device"], "device"),
               lib.number(d["function"], "function")) for d in board.get("devices", [])}
    bridges = {(lib.number(b["bus"], "bus"), lib.number(b["device"], "device"), 0)
               for b in board.get("bridges", [])}
    # Where the driver reads: the onboard SATA functions, behind every root port,
    # and the root ports of the socket groups (devices 0 to 2) and of the video.
    probed = [(0, 0x17, 0), (0, 0x11, 5)]
    probed += [(lib.number(b["secondary"], "secondary"), 0, 0) for b in board.get("bridges", [])]
    for location in probed:
        if location in seen and location not in listed and location not in bridges:
            problems.append(f"{location[0]:02x}:{location[1]:02x}.{location[2]} answers under QEMU "
                            "but the board file does not list it")
    root_buses = {2} | {(word >> (8 * k)) & 0xFF for word in lib.board_sockets(board) for k in (1, 2, 3)}
    for location, fields in sorted(seen.items()):
        bus, device, function = location
        if ("secondary" in fields and bus in root_buses and device <= 2 and function == 0
                and location not in bridges):
            problems.append(f"root port {bus:02x}:{device:02x}.0 exists under QEMU "
                            "but the board file does not list it")
    return problems


def check_package_list(report):
    lists = report.all("hii")
    registered = [entry for entry in lists if entry["hex"]]
    if not registered:
        return ["no package list with the driver's GUID in the HII database"]
    if len(registered) > 1:
        return [f"{len(registered)} package lists with the driver's GUID"]
    return lib.check_package_list(registered[0]["hex"])


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


def check_no_earlier_records(records, board):
    problems = []
    earlier = earlier_strings(board)
    driver = set(lib.DRIVER_STRINGS[1:])
    for record in lib.inventory_records(records):
        strings = lib.record_strings(record)
        left = [text for text in strings if text in earlier]
        if left:
            problems.append(f"earlier Type {record[0]} record survived: {left}")
        elif any(text not in driver for text in strings):
            problems.append(f"Type {record[0]} record with foreign strings {strings}")
    return problems


def compare_with_simulator(records, board_path, work, images):
    if not os.path.exists(images.boardsim):
        return [f"comparison not made: board simulator {images.boardsim} not built"]
    dump = os.path.join(work, "boardsim.dump")
    result = subprocess.run([images.boardsim, board_path, "--dump", dump], capture_output=True,
                            text=True, timeout=60)
    if result.returncode != 0 or not os.path.exists(dump):
        return [f"boardsim failed ({result.returncode}): {(result.stderr or result.stdout).strip()[:200]}"]
    with open(dump, "rb") as handle:
        expected = lib.dump_records(handle.read())
    return lib.compare_inventory(records, expected)


def run_scenario(board_path, build, images, nic, verbose):
    name = os.path.splitext(os.path.basename(board_path))[0]
    work = os.path.join(build, "e2e", name)
    os.makedirs(work, exist_ok=True)
    try:
        board = lib.load_board(board_path)
        window_wanted = lib.window_needed(board)
        text, problems, elapsed = boot(board, name, work, images, nic)
    except (lib.BoardError, KeyError, ValueError, OSError) as error:
        return name, [f"scenario not run: {error}"], 0.0
    report = lib.Report(text)
    problems += check_setup(report, board, window_wanted)
    if report.started:
        problems += check_driver(report, board)
        problems += check_topology(report, board)
        problems += check_package_list(report)
        dump = lib.dump_image(report)
        if dump is None:
            problems.append("no SMBIOS table in the report")
        else:
            dump_path = os.path.join(work, "smbios.dump")
            with open(dump_path, "wb") as handle:
                handle.write(dump)
            records = lib.dump_records(dump)
            problems += run_dmidecode(dump_path, work)
            problems += check_no_earlier_records(records, board)
            problems += compare_with_simulator(records, board_path, work, images)
    if verbose:
        print(f"  {name}: boot {elapsed:.1f} s, artifacts in {work}")
    return name, problems, elapsed


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", help="CMake build directory holding uefi/*.efi and tools/boardsim")
    parser.add_argument("--scenario", action="append", help="run only this scenario (repeatable)")
    parser.add_argument("--verbose", "-v", action="store_true")
    args = parser.parse_args()

    reason = qemu_missing()
    if reason is not None:
        print(f"SKIP: QEMU end-to-end run not possible: {reason}")
        return 0
    build = os.path.abspath(args.build)
    images = Images(build)
    missing = images.missing()
    if missing:
        print(f"ERROR: build the UEFI images first; missing {', '.join(missing)}")
        return 2
    scenarios = sorted(os.path.join(SCENARIO_DIR, entry) for entry in os.listdir(SCENARIO_DIR)
                       if entry.endswith(".json"))
    if args.scenario:
        scenarios = [path for path in scenarios
                     if os.path.splitext(os.path.basename(path))[0] in args.scenario]
    nic = network_device()
    failed = 0
    for path in scenarios:
        name, problems, _ = run_scenario(path, build, images, nic, args.verbose)
        if problems:
            failed += 1
            print(f"{name} FAIL: " + "; ".join(problems))
        else:
            print(f"{name} PASS")
        sys.stdout.flush()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
