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
import board as boards  # noqa: E402
import boot_media  # noqa: E402
import checks  # noqa: E402
import firmware_images  # noqa: E402
import firmware_log  # noqa: E402
import gdb_session  # noqa: E402
import machine  # noqa: E402
import pe_image  # noqa: E402
import symbolize  # noqa: E402

SCENARIO_DIR = os.path.join(HERE, "scenarios")
BOOT_TIMEOUT = int(os.environ.get("QEMU_BOOT_TIMEOUT", "60"))


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
    pressed = False
    with open(os.path.join(work, "qemu-stderr.txt"), "w", encoding="utf-8") as stderr:
        process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=stderr,
                                   stdin=subprocess.DEVNULL)
        while process.poll() is None:
            # The shell's countdown before startup.nsh ends at a key press: five seconds saved.
            if not pressed and machine.SHELL_COUNTDOWN in checks.read_text(serial):
                pressed = machine.press_enter(serial)
            # A DEBUG firmware dead-loops after an exception or a failed assert.
            stopped = debug_log and firmware_log.firmware_fault(checks.read_text(debug_log), checks.read_text(serial))
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
        problems.append(f"qemu exited with {process.returncode}: {checks.read_text(stderr.name).strip()[-300:]}")
    return checks.read_text(serial), problems, time.monotonic() - started


def boot(board, platform, name, work, images, nic, extra_files=None):
    """Boots one scenario with the harness loading the platform's driver, with
    extra_files ({name: bytes}) on the volume; returns (serial text, problems,
    seconds)."""
    volume = os.path.join(work, "volume")
    shutil.rmtree(volume, ignore_errors=True)
    serial = os.path.join(work, "serial.log")
    command, text = machine.qemu_command(board, platform, work, volume, serial, nic, name)
    boot_media.build_volume(volume, images, text, platform.images["efi"], extra_files)
    return run_command(command, work, serial)


def boot_from_firmware(board, platform, name, work, images, nic, kind, extra_options=(), driver=None):
    """Boots one scenario on firmware that carries the test platform's driver,
    which reads the scenario from fw_cfg; the DXE core (fv) or the shell
    (shell) runs the platform's inventory driver, the harness only reports.
    extra_options go on QEMU's command line; driver is the image the shell
    loads instead of the platform's."""
    boot = firmware_images.FIRMWARE_BOOTS[kind]
    code, variables, _ = firmware_images.firmware_images(images.build, boot, platform)
    volume = os.path.join(work, "volume")
    shutil.rmtree(volume, ignore_errors=True)
    serial = os.path.join(work, "serial.log")
    command, _ = machine.qemu_command(board, platform, work, volume, serial, nic, name, code,
                                      through_fw_cfg=True, variables=variables)
    debug_log = os.path.join(work, "debug.log") if boot.debug else None
    if debug_log:
        command += machine.debug_log_options(debug_log)
    command += list(extra_options)
    text = boot_media.report_only_text(board, f"{kind}/{name}", platform)
    if boot.arrival == "fv":
        boot_media.build_report_volume(volume, images, text)
    else:
        boot_media.build_shell_volume(volume, images, text, driver or platform.images["efi"],
                                      firmware_images.shell_image(images.build, code))
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
    base = firmware_log.driver_load_address(checks.read_text(os.path.join(first, "debug.log")), platform)
    if base is None:
        return "", problems + [f"the first boot's log names no {platform.image_name}"], 0.0
    port = gdb_session.free_port()
    commands = os.path.join(work, "gdb-commands.txt")
    boot_media.write_text(commands, gdb_session.script(port, platform.images["debug"], base,
                                            os.path.dirname(os.path.dirname(HERE))))
    session = gdb_session.Session(port, commands, BOOT_TIMEOUT)
    session.start()
    text, problems, elapsed = boot_from_firmware(board, platform, name, work, images, nic, GDB_FIRMWARE,
                                                 gdb_session.stub_options(port))
    session.join(BOOT_TIMEOUT)
    boot_media.write_text(os.path.join(work, "gdb-output.txt"), session.output)
    problems += gdb_session.check_output(session.output)
    again = firmware_log.driver_load_address(checks.read_text(os.path.join(work, "debug.log")), platform)
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
        platform = boards.load_platform(images.build, boards.board_platform(boards.load_board(board_path)))
        board, _ = machine.scenario_board(board_path, platform, work)
        text, problems, elapsed = boot_from_firmware(board, platform, base, work, images, nic,
                                                     CRASH_FIRMWARE, driver=planted)
        report = symbolize.symbolize([os.path.join(work, "serial.log")], planted,
                                     os.path.splitext(planted)[0] + ".debug")
    except (boards.BoardError, ValueError, OSError, RuntimeError, symbolize.InputError) as error:
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
    line = f"{firmware_images.LINE_PREFIX[control.firmware].split('/')[0]}/control/{name}"
    work = os.path.join(images.build, "e2e", line)
    os.makedirs(work, exist_ok=True)
    path = os.path.join(images.test_firmware, control.image)
    try:
        code, variables, _ = firmware_images.firmware_images(
            images.build, firmware_images.FIRMWARE_BOOTS[control.firmware], None)
        volume = os.path.join(work, "volume")
        shutil.rmtree(volume, ignore_errors=True)
        boot_media.build_shell_volume(volume, images, "", path, firmware_images.shell_image(images.build, code),
                                      f"fs0:\r\nload fs0:{boot_media.SHELL_DRIVER_PATH}\r\nreset -s\r\n")
        serial, log = os.path.join(work, "serial.log"), os.path.join(work, "debug.log")
        command = ([machine.QEMU, "-m", "256", "-machine", "q35"] + machine.console_options(serial) +
                   machine.firmware_options(work, code, variables) +
                   ["-drive", f"file=fat:rw:{volume},format=raw"] + machine.debug_log_options(log))
        text, stopped, elapsed = run_command(command, work, serial, debug_log=log)
        lines = checks.read_text(log).splitlines()
        placed = [entry for entry in firmware_log.loaded_images(lines)
                  if entry[2] == os.path.splitext(control.image)[0] + ".efi"]
        image = PlacedImage(path, placed[-1][1]) if placed else None
    except (OSError, RuntimeError, pe_image.ImageError) as error:
        return line, [f"control not run: {error}"], ""
    if verbose:
        print(f"  {line}: boot {elapsed:.1f} s, artifacts in {work}")
    if image is None:
        return line, [f"the DXE core never placed {control.image}"], ""
    fault = firmware_log.exception_dump(text)
    if control.fault_at is None:
        complaints = firmware_log.protection_complaints(lines, placed[-1][0])
        problems = [f"faulted: {firmware_log.firmware_fault('', text)}"] if fault.kind is not None else []
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


def run_scenario(board_path, build, images, nic, verbose, kind="app"):
    """Boots one scenario one way; returns (line name, problems, seconds)."""
    base = os.path.splitext(os.path.basename(board_path))[0]
    name = base if kind == "app" else f"{firmware_images.LINE_PREFIX.get(kind, kind)}/{base}"
    work = os.path.join(build, "e2e", name)
    os.makedirs(work, exist_ok=True)
    try:
        platform = boards.load_platform(build, boards.board_platform(boards.load_board(board_path)))
        # A derived machine's board, as the simulator must see it, is written into work.
        board, board_path = machine.scenario_board(board_path, platform, work)
        if kind == "app":
            text, problems, elapsed = boot(board, platform, base, work, images, nic)
            problems += checks.check_app_boot(text, board, platform, board_path, work, images)
        elif kind == "gdb":
            text, problems, elapsed = boot_under_gdb(board, platform, base, work, images, nic)
            problems += checks.check_firmware_boot(text, board, platform, board_path, work, images, GDB_FIRMWARE)
        else:
            text, problems, elapsed = boot_from_firmware(board, platform, base, work, images, nic, kind)
            _, _, dispatched = firmware_images.firmware_images(build, firmware_images.FIRMWARE_BOOTS[kind], platform)
            problems += checks.check_firmware_boot(text, board, platform, board_path, work, images, kind, dispatched)
    except (boards.BoardError, KeyError, ValueError, OSError, RuntimeError, pe_image.ImageError) as error:
        return name, [f"scenario not run: {error}"], 0.0
    if verbose:
        print(f"  {name}: boot {elapsed:.1f} s, artifacts in {work}")
    return name, problems, elapsed


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", help="CMake build directory holding image/, tests/uefi/ and tools/boardsim")
    parser.add_argument("--scenario", action="append", help="run only this scenario (repeatable)")
    parser.add_argument("--kind", action="append", choices=boards.BOOT_KINDS,
                        help="run only boots of this kind (repeatable; default: every kind a scenario lists)")
    parser.add_argument("--controls", action="store_true",
                        help="also boot the fault controls on the DEBUG firmwares (edk2-debug/control/ and "
                             "edk2-strict/control/ lines; with --kind, those of the shell kinds named)")
    parser.add_argument("--verbose", "-v", action="store_true")
    args = parser.parse_args()

    reason = machine.qemu_missing()
    if reason is not None:
        print(f"SKIP: machine.QEMU end-to-end run not possible: {reason}")
        return boards.EXIT_SKIPPED
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
    nic = machine.network_device()
    failed = 0
    for path in scenarios:
        try:
            kinds = boards.board_boots(boards.load_board(path))
        except (boards.BoardError, ValueError, OSError):
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
