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
Exits 77 (skipped, for ctest) with a SKIP line when QEMU or OVMF is not installed."""
import argparse
import os
import shutil
import subprocess
import sys
import time
from collections import namedtuple

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(os.path.dirname(os.path.dirname(HERE)), "tools", "firmware")]
import e2e_lib as lib  # noqa: E402
import edk2_ovmf  # noqa: E402
import gdb_session  # noqa: E402
import pe_image  # noqa: E402
import symbolize  # noqa: E402

SCENARIO_DIR = os.path.join(HERE, "scenarios")
QEMU = os.environ.get("QEMU", "qemu-system-x86_64")
OVMF_CODE = os.environ.get("OVMF_CODE", "/usr/share/OVMF/OVMF_CODE_4M.fd")
OVMF_VARS = os.environ.get("OVMF_VARS", "/usr/share/OVMF/OVMF_VARS_4M.fd")
INSERT_TOOL = os.path.join(os.path.dirname(os.path.dirname(HERE)), "tools", "firmware", "ovmf_insert.py")
BOOT_TIMEOUT = int(os.environ.get("QEMU_BOOT_TIMEOUT", "60"))
WINDOW_DEVICE = 0x10  # bus-0 slot of the shared-memory device backing the sideband window
# OVMF adds QEMU's structures under their own handles and drops one whose handle
# is taken, so raw records count up from a handle QEMU never gives its own.
RAW_TYPE9_HANDLE = 0x9000
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
        test_firmware = os.path.join(build, "tests", "uefi")
        self.harness = os.path.join(test_firmware, "SlotInventoryHarness.efi")
        self.empty = os.path.join(test_firmware, "EmptyDriver.efi")
        self.floor = os.path.join(test_firmware, "FloorDriver.efi")
        self.test_firmware = test_firmware
        self.boardsim = os.path.join(build, "tools", "boardsim")
        self.build = build

    def missing(self):
        return [path for path in (self.harness, self.empty) if not os.path.exists(path)]


# The boots on firmware that carries the test platform's driver: how the
# driver reaches the firmware ("fv": the DXE core dispatches it from the
# volume; "shell": the shell's load), which OVMF (None: Debian's image with
# the firmware files inserted; else an edk2_ovmf.py configuration), whether
# it is a DEBUG build whose log is kept and checked, and whether it protects
# images (code read-only, data not executable), which its log and the
# harness's view of our pages must show.
FirmwareBoot = namedtuple("FirmwareBoot", "arrival edk2_config debug protected")
FIRMWARE_BOOTS = {
    "fv": FirmwareBoot("fv", None, False, False),
    "shell": FirmwareBoot("shell", None, False, False),
    "edk2": FirmwareBoot("fv", "release", False, False),
    "edk2-debug": FirmwareBoot("fv", "debug", True, False),
    "edk2-debug-shell": FirmwareBoot("shell", "debug-shell", True, False),
    "edk2-src": FirmwareBoot("fv", "source", False, False),
    "edk2-strict": FirmwareBoot("fv", "strict", True, True),
    "edk2-strict-shell": FirmwareBoot("shell", "strict-shell", True, True),
}
# Report lines and artifact folders: edk2-debug-shell/NAME reads edk2-debug/shell/NAME.
LINE_PREFIX = {"edk2-debug-shell": "edk2-debug/shell", "edk2-strict-shell": "edk2-strict/shell"}
# Test drivers that each commit one fault the firmware's memory protection
# must catch, loaded by the shell of a DEBUG build (edk2-debug-shell: heap
# guard and NULL detection; edk2-strict-shell: images and data protected
# too): the image, the firmware, and where the page fault must be (a test of
# its CR2, the dump and the control's image as placed), or None for the
# control that must be left unprotected, as the firmware says it is.
FaultControl = namedtuple("FaultControl", "image firmware fault_at expected")
# Error-code bits of a page fault: a write, an instruction fetch.
PF_WRITE, PF_FETCH = 0x02, 0x10
FAULT_CONTROLS = {
    "pool_overflow": FaultControl("PoolOverflowControl.efi", "edk2-debug-shell",
                                  lambda cr2, fault, image: cr2 % 4096 == 0, "the first byte of a guard page"),
    "null_read": FaultControl("NullReadControl.efi", "edk2-debug-shell",
                              lambda cr2, fault, image: cr2 == 0, "address 0"),
    "code_write": FaultControl("CodeWriteControl.efi", "edk2-strict-shell",
                               lambda cr2, fault, image: fault.data & PF_WRITE and image.in_code(cr2),
                               "a write into the control's own code"),
    "pool_execute": FaultControl("PoolExecuteControl.efi", "edk2-strict-shell",
                                 lambda cr2, fault, image: fault.data & PF_FETCH and cr2 == fault.rip
                                 and not image.holds(cr2), "an instruction fetch from pool memory"),
    "code_write_unaligned": FaultControl("CodeWriteUnalignedControl.efi", "edk2-strict-shell", None,
                                         "no fault: an image on 64-byte sections cannot be protected"),
}
PAGE_FAULT = 0x0E


def build_volume(volume, images, scenario_text, driver, extra_files=None):
    build_report_volume(volume, images, scenario_text)
    shutil.copyfile(driver, os.path.join(volume, "DRIVER.EFI"))
    shutil.copyfile(images.empty, os.path.join(volume, "EMPTY.EFI"))
    for name, data in (extra_files or {}).items():
        with open(os.path.join(volume, name), "wb") as handle:
            handle.write(data)


def build_report_volume(volume, images, scenario_text):
    """The boot volume of an fv/ boot: the harness as boot option, no driver."""
    boot = os.path.join(volume, "EFI", "BOOT")
    os.makedirs(boot, exist_ok=True)
    shutil.copyfile(images.harness, os.path.join(boot, "BOOTX64.EFI"))
    write_text(os.path.join(volume, "SCENARIO.TXT"), scenario_text)


def build_shell_volume(volume, images, scenario_text, driver, script=None):
    """No default boot loader, so OVMF falls through to its built-in shell,
    which runs startup.nsh: load the driver, then run the harness."""
    os.makedirs(volume, exist_ok=True)
    shutil.copyfile(images.harness, os.path.join(volume, "HARNESS.EFI"))
    shutil.copyfile(driver, os.path.join(volume, "DRIVER.EFI"))
    write_text(os.path.join(volume, "SCENARIO.TXT"), scenario_text)
    write_text(os.path.join(volume, "startup.nsh"), script or lib.shell_startup_script())


def write_text(path, text):
    with open(path, "w", encoding="ascii", newline="") as handle:
        handle.write(text)


def smbios_options(qemu, work):
    """-smbios options: QEMU's own records, and raw Type 9 structures through a file."""
    options = []
    for value in qemu.get("smbios", []):
        options += ["-smbios", value]
    slots = qemu.get("smbiosType9", [])
    if slots:
        path = os.path.join(work, "type9.bin")
        with open(path, "wb") as handle:
            for i, designation in enumerate(slots):
                # Slot fields after the designation: PCIe x8, 8x, available, long, id 0x63.
                formatted = bytes([1, 0xB5, 0x0B, 3, 4, 0x63, 0, 0x04, 0, 0, 0, 0, 0])
                handle.write(lib.raw_smbios_structure(9, formatted, [designation],
                                                      RAW_TYPE9_HANDLE + i))
        options += ["-smbios", f"file={path}"]
    return options


def scenario_options(board, platform, name, work, nic, through_fw_cfg=False):
    """(QEMU options, scenario text) that make a scenario's machine of its
    platform: machine type, devices, -smbios records, the shared memory
    backing the sideband window; with through_fw_cfg also the scenario text
    as the fw_cfg file the test platform's DXE driver reads. Files go into
    work. Memory, firmware, disks, serial port (or -kernel/-initrd) are the
    caller's."""
    qemu = board.get("qemu", {})
    options = ["-machine", qemu.get("machine", "q35")]
    window_device = None
    if lib.window_needed(board, platform):
        window_path = os.path.join(work, "sideband.bin")
        with open(window_path, "wb") as handle:
            handle.write(lib.window_image(board, platform))
        window_device = WINDOW_DEVICE
        options += ["-object", f"memory-backend-file,id=sidebandwin,share=on,mem-path={window_path},"
                    f"size={lib.WINDOW_SIZE}",
                    "-device", f"ivshmem-plain,memdev=sidebandwin,bus=pcie.0,addr=0x{WINDOW_DEVICE:x}"]
    for device in qemu.get("devices", []):
        options += ["-device", device.replace("{nic}", nic)]
    options += smbios_options(qemu, work)
    text = lib.scenario_text(board, name, window_device, platform)
    if through_fw_cfg:
        path = os.path.join(work, "fw_cfg-scenario.txt")
        write_text(path, text)
        options += ["-fw_cfg", lib.fw_cfg_option(lib.FW_CFG_SCENARIO, path)]
    return options, text


def firmware_options(work, code=OVMF_CODE, variables=OVMF_VARS):
    """Flash drives: the code image (read-only) and a fresh copy of the variable store."""
    vars_copy = os.path.join(work, "vars.fd")
    shutil.copyfile(variables, vars_copy)
    return ["-drive", f"if=pflash,format=raw,unit=0,readonly=on,file={code}",
            "-drive", f"if=pflash,format=raw,unit=1,file={vars_copy}"]


def console_options(serial):
    return ["-nodefaults", "-nographic", "-monitor", "none", "-serial", f"file:{serial}", "-no-reboot"]


def patched_firmware(build, platform=None):
    """OVMF's code image with the test platform's DXE driver and, given a
    platform, that platform's inventory driver inserted into its DXE volume,
    built into BUILD/e2e/firmware/ with the product's ovmf_insert.py once per
    build (again only when an input is newer). Returns its path; raises
    RuntimeError."""
    files = [os.path.join(build, "tests", "uefi", "SlotInventoryTestPlatform.ffs")]
    if platform is not None:
        files.append(platform.images["ffs"])
    missing = [path for path in files if not os.path.exists(path)]
    if missing:
        raise RuntimeError(f"build the firmware files first; missing {', '.join(missing)}")
    out_dir = os.path.join(build, "e2e", "firmware")
    os.makedirs(out_dir, exist_ok=True)
    out = os.path.join(out_dir, f"OVMF_CODE_fv-{platform.name}.fd" if platform else "OVMF_CODE_platform.fd")
    inputs = files + [OVMF_CODE, INSERT_TOOL]
    if os.path.exists(out) and all(os.path.getmtime(out) >= os.path.getmtime(p) for p in inputs):
        return out
    # The tool writes its output whole or not at all.
    result = subprocess.run([sys.executable, INSERT_TOOL, OVMF_CODE, out] + files,
                            capture_output=True, text=True, timeout=300)
    if result.returncode != 0 or not os.path.exists(out):
        raise RuntimeError(f"ovmf_insert.py failed ({result.returncode}): "
                           f"{(result.stderr or result.stdout).strip()[:300]}")
    return out


def machine_command(board, platform, name, work, nic, serial, code=OVMF_CODE, through_fw_cfg=False,
                    memory=256, variables=OVMF_VARS):
    """(command, scenario text): the scenario's machine on the code image with
    its serial port to serial; the caller adds what it boots from."""
    options, text = scenario_options(board, platform, name, work, nic, through_fw_cfg)
    return ([QEMU, "-m", str(memory)] + options + console_options(serial) +
            firmware_options(work, code, variables)), text


def qemu_command(board, platform, work, volume, serial, nic, name="", code=OVMF_CODE, through_fw_cfg=False,
                 variables=OVMF_VARS):
    """(command, scenario text) of one boot from a FAT directory."""
    command, text = machine_command(board, platform, name, work, nic, serial, code, through_fw_cfg,
                                    variables=variables)
    return command + ["-drive", f"file=fat:rw:{volume},format=raw"], text


def debug_log_options(log):
    """A DEBUG OVMF writes its log to I/O port 0x402."""
    return ["-debugcon", f"file:{log}", "-global", "isa-debugcon.iobase=0x402"]


def read_text(path):
    if not os.path.exists(path):
        return ""
    with open(path, encoding="latin-1") as handle:
        return handle.read()


def run_command(command, work, serial, timeout=BOOT_TIMEOUT, debug_log=None):
    """Runs one boot within timeout seconds; returns (serial text, problems,
    seconds). With debug_log (a DEBUG firmware's log) the boot is stopped as
    soon as the firmware stops itself on an exception or assert."""
    for path in (serial, debug_log):
        if path and os.path.exists(path):
            os.remove(path)
    with open(os.path.join(work, "qemu-command.txt"), "w", encoding="utf-8") as handle:
        handle.write(" ".join(command) + "\n")
    problems = []
    started = time.monotonic()
    with open(os.path.join(work, "qemu-stderr.txt"), "w", encoding="utf-8") as stderr:
        process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=stderr,
                                   stdin=subprocess.DEVNULL)
        while process.poll() is None:
            # A DEBUG firmware dead-loops after an exception or a failed assert.
            stopped = debug_log and lib.firmware_fault(read_text(debug_log), read_text(serial))
            if stopped or time.monotonic() - started > timeout:
                if stopped:
                    time.sleep(1)  # the rest of the exception dump
                process.kill()
                process.wait()
                problems.append(f"firmware stopped: {stopped}" if stopped else
                                f"qemu did not power off within {timeout} s")
                break
            time.sleep(0.25)
    if process.returncode not in (0, -9) or (process.returncode == -9 and not problems):
        problems.append(f"qemu exited with {process.returncode}: {read_text(stderr.name).strip()[-300:]}")
    return read_text(serial), problems, time.monotonic() - started


def boot(board, platform, name, work, images, nic, extra_files=None):
    """Boots one scenario with the harness loading the platform's driver, with
    extra_files ({name: bytes}) on the volume; returns (serial text, problems,
    seconds)."""
    volume = os.path.join(work, "volume")
    shutil.rmtree(volume, ignore_errors=True)
    serial = os.path.join(work, "serial.log")
    command, text = qemu_command(board, platform, work, volume, serial, nic, name)
    build_volume(volume, images, text, platform.images["efi"], extra_files)
    return run_command(command, work, serial)


def firmware_images(build, boot, platform):
    """(code, variable store) of a firmware boot's OVMF, for a scenario of platform."""
    if boot.edk2_config is None:
        return patched_firmware(build, platform if boot.arrival == "fv" else None), OVMF_VARS
    if boot.arrival == "fv" and platform is not None and platform.name != lib.DEFAULT_PLATFORM:
        raise RuntimeError(f"the EDK2 firmware carries {lib.DEFAULT_PLATFORM}'s driver, not {platform.name}'s: "
                           "boot this platform's driver from an EDK2 kind's shell")
    try:
        made = edk2_ovmf.firmware(build, boot.edk2_config)
    except edk2_ovmf.BuildError as error:
        raise RuntimeError(str(error)) from error
    return made["code"], made["vars"]


def boot_from_firmware(board, platform, name, work, images, nic, kind, extra_options=(), driver=None):
    """Boots one scenario on firmware that carries the test platform's driver,
    which reads the scenario from fw_cfg; the DXE core (fv) or the shell
    (shell) runs the platform's inventory driver, the harness only reports.
    extra_options go on QEMU's command line; driver is the image the shell
    loads instead of the platform's."""
    boot = FIRMWARE_BOOTS[kind]
    code, variables = firmware_images(images.build, boot, platform)
    volume = os.path.join(work, "volume")
    shutil.rmtree(volume, ignore_errors=True)
    serial = os.path.join(work, "serial.log")
    command, _ = qemu_command(board, platform, work, volume, serial, nic, name, code, through_fw_cfg=True,
                              variables=variables)
    debug_log = os.path.join(work, "debug.log") if boot.debug else None
    if debug_log:
        command += debug_log_options(debug_log)
    command += list(extra_options)
    text = lib.report_only_text(board, f"{kind}/{name}", platform)
    if boot.arrival == "fv":
        build_report_volume(volume, images, text)
    else:
        build_shell_volume(volume, images, text, driver or platform.images["efi"])
    return run_command(command, work, serial, debug_log=debug_log)


# The firmware gdb boots debug: the DEBUG build, the driver dispatched from its volume.
GDB_FIRMWARE = "edk2-debug"


def boot_under_gdb(board, platform, name, work, images, nic):
    """The README's debugging recipe: one boot of the DEBUG firmware gives the
    driver's load address in its log; a second boot of the same machine
    waits for gdb, which sets breakpoints from the symbol file at that
    address and follows the recipe while the boot runs to its end. Returns
    the second boot's (serial text, problems, seconds)."""
    first = os.path.join(work, "first-boot")
    os.makedirs(first, exist_ok=True)
    _, problems, _ = boot_from_firmware(board, platform, name, first, images, nic, GDB_FIRMWARE)
    base = lib.driver_load_address(read_text(os.path.join(first, "debug.log")), platform)
    if base is None:
        return "", problems + [f"the first boot's log names no {platform.image_name}"], 0.0
    port = gdb_session.free_port()
    commands = os.path.join(work, "gdb-commands.txt")
    write_text(commands, gdb_session.script(port, platform.images["debug"], base,
                                            os.path.dirname(os.path.dirname(HERE))))
    session = gdb_session.Session(port, commands, BOOT_TIMEOUT)
    session.start()
    text, problems, elapsed = boot_from_firmware(board, platform, name, work, images, nic, GDB_FIRMWARE,
                                                 gdb_session.stub_options(port))
    session.join(BOOT_TIMEOUT)
    write_text(os.path.join(work, "gdb-output.txt"), session.output)
    problems += gdb_session.check_output(session.output)
    again = lib.driver_load_address(read_text(os.path.join(work, "debug.log")), platform)
    if again != base:
        problems.append(f"the driver was placed at {again and hex(again)} under gdb, at 0x{base:X} before: "
                        "the breakpoints' addresses do not hold")
    return text, problems, elapsed


# The driver with a NULL write planted in its sideband seam (test firmware),
# loaded by the DEBUG firmware's shell on a scenario's machine: the crash an
# engineer would capture, and the routine and line the symbolized dump must name.
CRASH_FIRMWARE = "edk2-debug-shell"
PLANTED_IMAGE = "PlantedFaultDriver.efi"
PLANTED_ROUTINE = "ReadSidebandRegister32"
PLANTED_SOURCE = "tests/uefi/fault_controls/sideband_null_write.cpp"
PLANTED_LINE_MARK = "(PlantedNullAddress) ="


def run_crash(board_path, images, nic, verbose):
    """Boots the planted driver and symbolizes the exception dump the boot
    captured with the planted image's symbol file, as the README tells an
    engineer to. Returns (line name, problems, what the report named)."""
    base = os.path.splitext(os.path.basename(board_path))[0]
    line = f"crash/{base}"
    work = os.path.join(images.build, "e2e", line)
    os.makedirs(work, exist_ok=True)
    planted = os.path.join(images.test_firmware, PLANTED_IMAGE)
    try:
        board = lib.load_board(board_path)
        platform = lib.load_platform(images.build, lib.board_platform(board))
        text, problems, elapsed = boot_from_firmware(board, platform, base, work, images, nic,
                                                     CRASH_FIRMWARE, driver=planted)
        report = symbolize.symbolize([os.path.join(work, "serial.log")], planted,
                                     os.path.splitext(planted)[0] + ".debug")
    except (lib.BoardError, ValueError, OSError, RuntimeError, symbolize.InputError) as error:
        return line, [f"crash not symbolized: {error}"], ""
    if verbose:
        print(f"  {line}: boot {elapsed:.1f} s, artifacts in {work}")
    fault = report["dumps"][0]["fault"] if report["dumps"] else None
    if fault is None:
        return line, ["the dump names no function of the planted driver"], ""
    named = f"{fault['name']} ({fault['file']}:{fault['line']})"
    with open(os.path.join(os.path.dirname(os.path.dirname(HERE)), PLANTED_SOURCE), encoding="utf-8") as source:
        planted_line = next(i for i, text in enumerate(source, 1) if PLANTED_LINE_MARK in text)
    expected = f"{PLANTED_ROUTINE} ({PLANTED_SOURCE}:{planted_line})"
    problems = [problem for problem in problems if not problem.startswith("firmware stopped")]
    if named != expected:
        problems.append(f"the report names {named}, not {expected}")
    return line, problems, named


class PlacedImage:
    """A control's image where the DXE core placed it: its sections from the file."""

    def __init__(self, path, base):
        self.image, self.base = pe_image.read_image(path), base

    def holds(self, address):
        return self.base <= address < self.base + self.image.size_of_image

    def in_code(self, address):
        section = self.image.section_at(address - self.base) if self.holds(address) else None
        return section is not None and section.characteristics & pe_image.SCN_MEM_EXECUTE


def run_fault_control(name, images, verbose):
    """Boots a DEBUG firmware whose shell loads one fault control; the boot
    must stop on a page fault in the control's image where its fault must
    be, or, for the control that cannot be protected, go on, with the
    firmware saying so. Returns (line name, problems, what was caught)."""
    control = FAULT_CONTROLS[name]
    line = f"{LINE_PREFIX[control.firmware].split('/')[0]}/control/{name}"
    work = os.path.join(images.build, "e2e", line)
    os.makedirs(work, exist_ok=True)
    path = os.path.join(images.test_firmware, control.image)
    try:
        code, variables = firmware_images(images.build, FIRMWARE_BOOTS[control.firmware], None)
        volume = os.path.join(work, "volume")
        shutil.rmtree(volume, ignore_errors=True)
        build_shell_volume(volume, images, "", path, f"fs0:\r\nload fs0:{lib.SHELL_DRIVER_PATH}\r\nreset -s\r\n")
        serial, log = os.path.join(work, "serial.log"), os.path.join(work, "debug.log")
        command = ([QEMU, "-m", "256", "-machine", "q35"] + console_options(serial) +
                   firmware_options(work, code, variables) +
                   ["-drive", f"file=fat:rw:{volume},format=raw"] + debug_log_options(log))
        text, stopped, elapsed = run_command(command, work, serial, debug_log=log)
        lines = read_text(log).splitlines()
        placed = [entry for entry in lib.loaded_images(lines) if entry[2] == os.path.splitext(control.image)[0] + ".efi"]
        image = PlacedImage(path, placed[-1][1]) if placed else None
    except (OSError, RuntimeError, pe_image.ImageError) as error:
        return line, [f"control not run: {error}"], ""
    if verbose:
        print(f"  {line}: boot {elapsed:.1f} s, artifacts in {work}")
    if image is None:
        return line, [f"the DXE core never placed {control.image}"], ""
    fault = lib.exception_dump(text)
    if control.fault_at is None:
        complaints = lib.protection_complaints(lines, placed[-1][0])
        problems = [f"faulted: {lib.firmware_fault('', text)}"] if fault.kind is not None else []
        problems += [] if complaints else ["the firmware did not say it could not protect the image"]
        problems += stopped
        return line, problems, f"unprotected: {complaints[0] if complaints else ''}"
    if fault.kind is None:
        return line, ["not caught: the fault passed without an exception"], ""
    problems = []
    if fault.kind != PAGE_FAULT:
        problems.append(f"exception type 0x{fault.kind:02X}, not a page fault")
    if fault.cr2 is None or fault.data is None or not control.fault_at(fault.cr2, fault, image):
        problems.append(f"page fault at {fault.cr2 if fault.cr2 is None else hex(fault.cr2)} "
                        f"(error code {fault.data}), not {control.expected}")
    if fault.base != image.base:
        problems.append("the fault is not in the control's image")
    return line, problems, f"page fault at 0x{fault.cr2 or 0:X}: {control.expected}"


# --- Checks -----------------------------------------------------------------

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
    if lib.field_int(report.first("scenario-file"), "status", 1) != 0:
        problems.append(f"{who} could not read its scenario")
    elif lib.field_int(scenario, "rejected", 0) != 0:
        problems.append(f"{who} rejected lines of its scenario")
    if lib.field_int(report.first("register-access"), "status", 1) != 0:
        problems.append("register-access protocol not installed")
    if lib.window_needed(board, platform):
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


def check_driver(report, board, platform):
    problems = []
    expected = lib.number(board.get("qemu", {}).get("expect", {}).get("status", 0), "qemu.expect.status")
    driver = report.first("image", label="driver")
    if driver is None:
        return ["no driver image report"]
    if lib.field_int(driver, "load", 1) != 0:
        problems.append(f"LoadImage failed: {driver['fields'].get('load')}")
    elif lib.field_int(driver, "start", 1) != expected:
        problems.append(f"driver returned {driver['fields'].get('start')}, expected 0x{expected:016X}")
    if driver["fields"].get("filepath", "").upper() != f"04/06/{platform.file_guid}":
        problems.append(f"loaded image file path is {driver['fields'].get('filepath')}")
    return problems


def check_topology(report, board, platform):
    """The board file must describe what OVMF actually built, where the platform's driver reads."""
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
    # Where the driver reads: the onboard devices on a bus of their own, behind
    # every root port, and the root ports of the socket groups and fixed bridges.
    probed = list(platform.bus_probes)
    probed += [(lib.number(b["secondary"], "secondary"), 0, 0) for b in board.get("bridges", [])]
    for location in probed:
        if location in seen and location not in listed and location not in bridges:
            problems.append(f"{location[0]:02x}:{location[1]:02x}.{location[2]} answers under QEMU "
                            "but the board file does not list it")
    sockets = lib.board_sockets(board, platform)
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
    return lib.check_package_list(registered[0]["hex"], platform, guid)


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
    for record in lib.inventory_records(records):
        strings = lib.record_strings(record)
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
        return lib.dump_records(handle.read())


def compare_with_simulator(records, board_path, work, images):
    if not os.path.exists(images.boardsim):
        return [f"comparison not made: board simulator {images.boardsim} not built"]
    try:
        expected = simulator_records(images.boardsim, board_path, work)
    except RuntimeError as error:
        return [str(error)]
    return lib.compare_inventory(records, expected)


def check_records(report, board, platform, board_path, work, images):
    """The published table: dmidecode's view, no earlier Type 9/41, the simulator's records."""
    dump = lib.dump_image(report)
    if dump is None:
        return ["no SMBIOS table in the report"]
    dump_path = os.path.join(work, "smbios.dump")
    with open(dump_path, "wb") as handle:
        handle.write(dump)
    records = lib.dump_records(dump)
    return (run_dmidecode(dump_path, work) + check_no_earlier_records(records, board, platform) +
            compare_with_simulator(records, board_path, work, images))


def check_app_boot(text, board, platform, board_path, work, images):
    report = lib.Report(text)
    problems = check_setup(report, board, platform)
    if report.started:
        problems += check_driver(report, board, platform)
        problems += check_topology(report, board, platform)
        problems += lib.check_earlier_present(report, board)
        problems += check_package_list(report, platform)
        problems += check_records(report, board, platform, board_path, work, images)
    return problems


def check_firmware_boot(text, board, platform, board_path, work, images, kind):
    """Boots on firmware with the test platform's driver: its set-up, then the
    harness's report; on a DEBUG firmware also its log."""
    boot = FIRMWARE_BOOTS[kind]
    setup = lib.Report(text, lib.PLATFORM_BEGIN_MARKER, lib.PLATFORM_END_MARKER)
    problems = check_setup(setup, board, platform, "test platform driver")
    if setup.started:
        problems += check_topology(setup, board, platform)
        problems += lib.check_earlier_present(setup, board)
    report = lib.Report(text)
    problems += check_started(report, "harness")
    if report.started:
        problems += lib.check_origin(report, boot.arrival, platform)
        origin = report.first("origin")
        guid = platform.file_guid
        if boot.arrival == "shell" and origin is not None:
            guid = origin["fields"].get("package-list", guid)
        problems += check_package_list(report, platform, guid)
        problems += check_records(report, board, platform, board_path, work, images)
        if boot.protected:
            problems += lib.check_page_attributes(report, image_sections(platform.images["efi"]))
    if boot.debug:
        problems += lib.check_debug_log(read_text(os.path.join(work, "debug.log")), text, boot.arrival,
                                        platform, boot.protected)
    return problems


def image_sections(path):
    """[(name, rva, size, executable)] of the sections an image occupies in memory."""
    image = pe_image.read_image(path)
    return [(section.name, section.rva, max(section.virtual_size, section.raw_size),
             bool(section.characteristics & pe_image.SCN_MEM_EXECUTE))
            for section in image.sections if max(section.virtual_size, section.raw_size)]


def run_scenario(board_path, build, images, nic, verbose, kind="app"):
    """Boots one scenario one way; returns (line name, problems, seconds)."""
    base = os.path.splitext(os.path.basename(board_path))[0]
    name = base if kind == "app" else f"{LINE_PREFIX.get(kind, kind)}/{base}"
    work = os.path.join(build, "e2e", name)
    os.makedirs(work, exist_ok=True)
    try:
        board = lib.load_board(board_path)
        platform = lib.load_platform(build, lib.board_platform(board))
        if kind == "app":
            text, problems, elapsed = boot(board, platform, base, work, images, nic)
            problems += check_app_boot(text, board, platform, board_path, work, images)
        elif kind == "gdb":
            text, problems, elapsed = boot_under_gdb(board, platform, base, work, images, nic)
            problems += check_firmware_boot(text, board, platform, board_path, work, images, GDB_FIRMWARE)
        else:
            text, problems, elapsed = boot_from_firmware(board, platform, base, work, images, nic, kind)
            problems += check_firmware_boot(text, board, platform, board_path, work, images, kind)
    except (lib.BoardError, KeyError, ValueError, OSError, RuntimeError, pe_image.ImageError) as error:
        return name, [f"scenario not run: {error}"], 0.0
    if verbose:
        print(f"  {name}: boot {elapsed:.1f} s, artifacts in {work}")
    return name, problems, elapsed


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", help="CMake build directory holding image/, tests/uefi/ and tools/boardsim")
    parser.add_argument("--scenario", action="append", help="run only this scenario (repeatable)")
    parser.add_argument("--kind", action="append", choices=lib.BOOT_KINDS,
                        help="run only boots of this kind (repeatable; default: every kind a scenario lists)")
    parser.add_argument("--controls", action="store_true",
                        help="also boot the fault controls on the DEBUG firmwares (edk2-debug/control/ and "
                             "edk2-strict/control/ lines; with --kind, those of the shell kinds named)")
    parser.add_argument("--verbose", "-v", action="store_true")
    args = parser.parse_args()

    reason = qemu_missing()
    if reason is not None:
        print(f"SKIP: QEMU end-to-end run not possible: {reason}")
        return lib.EXIT_SKIPPED
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
        try:
            kinds = lib.board_boots(lib.load_board(path))
        except (lib.BoardError, ValueError, OSError):
            kinds = ["app"]  # run_scenario reports what is wrong with the file
        for kind in kinds:
            if args.kind and kind not in args.kind:
                continue
            if kind == "crash":
                name, problems, named = run_crash(path, images, nic, args.verbose)
                failed += report_line(name, problems, f"PASS: {named}")
                continue
            name, problems, _ = run_scenario(path, build, images, nic, args.verbose, kind)
            failed += report_line(name, problems)
    if args.controls:
        for control, plan in FAULT_CONTROLS.items():
            if args.kind and plan.firmware not in args.kind:
                continue
            name, problems, caught = run_fault_control(control, images, args.verbose)
            failed += report_line(name, problems, f"PASS: caught: {caught}")
    return 1 if failed else 0


def report_line(name, problems, passed="PASS"):
    """Prints a boot's line; returns 1 when it failed."""
    print(f"{name} FAIL: " + "; ".join(problems) if problems else f"{name} {passed}")
    sys.stdout.flush()
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
