#!/usr/bin/env python3
"""Boots Debian's Linux kernel on the firmware carrying the driver, once per
scenario, and checks what the operating system sees.

usage: run_linux.py BUILD_DIR [--scenario NAME ...] [--verbose]

Per scenario (a board file of scenarios/, booted as the fv/ runs boot it):
QEMU starts the kernel through OVMF's kernel loader (-kernel, -initrd,
-append), the guest prints /sys/firmware/dmi/tables/ and every PCI function's
label and index on the serial port and powers off. Checks: boardsim --compare
on the table Linux exported agrees, dmidecode decodes it without a warning,
every function an enabled Type 41 record names carries its designation as
label and its instance as index, and no other function carries a label.
Prints "linux/NAME PASS" or "linux/NAME FAIL: reasons"; exits 1 when any
failed. Artifacts in BUILD_DIR/e2e/linux-NAME/: serial.log, guest-table.bin,
guest-labels.txt, dmidecode.txt, qemu-command.txt. Exits 77 (skipped, for ctest) with a SKIP line
when QEMU, OVMF or the guest is not there."""
import argparse
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import board as boards  # noqa: E402
import checks  # noqa: E402
import firmware_images  # noqa: E402
import machine  # noqa: E402
import smbios_dump  # noqa: E402
import linux_guest as guest  # noqa: E402
import run_qemu  # noqa: E402

# Between them: every onboard device answering (s1); an SMBIOS 3.0 entry
# point and every onboard device absent, so every Type 41 record disabled
# (s2); QEMU's own Type 41 record naming 00:17.0, purged, and the sSATA
# controller absent (s3); the one-socket platform's firmware and driver, its
# three onboard devices answering (p1); the four-socket platform on a machine
# derived from its description alone, a device on the root bus, one behind a
# fixed bridge and one behind a root port all answering (f1).
SCENARIOS = ["s1_cards_straps_000", "s2_window_ids", "s3_earlier_records_fr", "p1_one_socket_cards",
             "f1_four_socket_cards"]
BOOT_TIMEOUT = int(os.environ.get("LINUX_BOOT_TIMEOUT", "240"))
KERNEL_ARGUMENTS = "console=ttyS0 panic=-1 rdinit=/init"


def serial_log(work):
    return os.path.join(work, "serial.log")


def firmware(build, platform):
    """The OVMF code image to boot: the patched one with the test platform's
    driver and the platform's in its DXE volume, or LINUX_OVMF_CODE (for
    example a stock image, to try the guest alone). Raises RuntimeError when
    the patched one cannot be built."""
    return os.environ.get("LINUX_OVMF_CODE") or firmware_images.patched_firmware(build, platform)


def qemu_command(board, platform, name, work, code, nic, kernel, initrd):
    """The scenario's machine as the fv/ boots make it (the test platform's
    driver reads the scenario from fw_cfg), started with the kernel."""
    command, _ = machine.machine_command(board, platform, name, work, nic, serial_log(work), code,
                                          through_fw_cfg=True, memory=512)
    return command + ["-kernel", kernel, "-initrd", initrd, "-append", KERNEL_ARGUMENTS]


def boot(command, work):
    """Runs QEMU under the Linux boots' own time limit (a kernel boot takes
    longer than the harness's); returns (serial text, problems, seconds)."""
    return run_qemu.run_command(command, work, serial_log(work), BOOT_TIMEOUT)


# --- Checks -----------------------------------------------------------------

def driver_devices(board_path, work, boardsim):
    """The driver's Type 41 records for the board: (address, designation,
    instance, enabled) each, from boardsim's table."""
    devices = []
    for record_type, _, record in checks.simulator_records(boardsim, board_path, work):
        if record_type != 41:
            continue
        strings = smbios_dump.record_strings(record)
        designation = strings[record[4] - 1] if 1 <= record[4] <= len(strings) else ""
        segment = record[7] | record[8] << 8
        devices.append((guest.pci_address(record[9], record[10], segment), designation, record[6],
                        bool(record[5] & 0x80)))
    return devices


def check_labels(report, devices, earlier):
    """Enabled records' functions carry their label and index; nothing else does."""
    problems = []
    functions = set(report.functions)
    enabled = {address: (designation, instance)
               for address, designation, instance, on in devices if on}
    for address, (designation, instance) in sorted(enabled.items()):
        if address not in functions:
            continue  # the QEMU machine has no such function
        index, acpi, label = report.labels.get(address, ("-", "-", None))
        if label is None:
            problems.append(f"{address} has no label, the record says {designation!r} instance {instance}")
        elif label != designation or index != str(instance):
            problems.append(f"{address} has label {label!r} index {index}, the record says "
                            f"{designation!r} instance {instance}")
        if acpi != "-":
            problems.append(f"{address} is named by ACPI (acpi_index {acpi}), not by the record")
    for address, (index, _, label) in sorted(report.labels.items()):
        if address in enabled:
            continue
        source = ("a purged earlier record" if label in earlier else
                  "a disabled record" if any(a == address for a, _, _, _ in devices) else "no driver record")
        problems.append(f"{address} carries label {label!r} index {index} from {source}")
    return problems


def write_labels(report, path):
    with open(path, "w", encoding="utf-8") as handle:
        for address, (index, _, label) in sorted(report.labels.items()):
            handle.write(f"{address}\t{label}\t{index}\n")


def compare_with_simulator(boardsim, board_path, table_path, work):
    """The driver's records in the table Linux exported, judged as the
    firmware boots judge them (byte for byte and in the order the driver
    adds them); and the product's own comparison, boardsim --compare, which
    must agree."""
    with open(table_path, "rb") as handle:
        problems = checks.compare_with_simulator(smbios_dump.dump_records(handle.read()), board_path, work, boardsim)
    result = subprocess.run([boardsim, board_path, "--compare", table_path], capture_output=True,
                            text=True, timeout=60)
    if result.returncode != 0:
        lines = (result.stdout + result.stderr).strip().splitlines()
        problems.append(f"boardsim --compare exited {result.returncode}: " + "; ".join(lines[:6]))
    return problems


def run_scenario(name, build, nic, kernel, initrd, verbose):
    board_path = os.path.join(run_qemu.SCENARIO_DIR, name + ".json")
    work = os.path.join(build, "e2e", "linux-" + name)
    os.makedirs(work, exist_ok=True)
    boardsim = os.path.join(build, "tools", "boardsim")
    try:
        platform = boards.load_platform(build, boards.board_platform(boards.load_board(board_path)))
        board, board_path = machine.scenario_board(board_path, platform, work)
        command = qemu_command(board, platform, name, work, firmware(build, platform), nic, kernel, initrd)
        text, problems, elapsed = boot(command, work)
    except (boards.BoardError, KeyError, ValueError, OSError, RuntimeError,
            subprocess.SubprocessError) as error:
        return False, [f"scenario not run: {error}"], 0.0
    report = guest.GuestReport(text)
    if not report.started:
        return False, problems + ["the guest never reported (no begin marker on the serial port)"], elapsed
    if not report.finished:
        problems.append("the guest's report ends early (no end marker)")
    write_labels(report, os.path.join(work, "guest-labels.txt"))
    dump = report.dump()
    if dump is None:
        return False, problems + [f"Linux exported no SMBIOS table (missing: {report.missing})"], elapsed
    table_path = os.path.join(work, "guest-table.bin")
    with open(table_path, "wb") as handle:
        handle.write(dump)
    problems += compare_with_simulator(boardsim, board_path, table_path, work)
    problems += checks.run_dmidecode(table_path, work)
    try:
        devices = driver_devices(board_path, work, boardsim)
    except (OSError, subprocess.SubprocessError, RuntimeError) as error:
        return False, problems + [f"driver records not made: {error}"], elapsed
    problems += check_labels(report, devices, checks.earlier_strings(board))
    if verbose:
        print(f"  linux/{name}: boot {elapsed:.1f} s, artifacts in {work}")
    return not problems, problems, elapsed


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", help="CMake build directory holding tools/boardsim and guest/")
    parser.add_argument("--scenario", action="append", help="run only this scenario (repeatable)")
    parser.add_argument("--verbose", "-v", action="store_true")
    args = parser.parse_args()

    build = os.path.abspath(args.build)
    kernel = os.path.join(build, "guest", "vmlinuz")
    initrd = os.path.join(build, "guest", "initramfs.cpio")
    reason = machine.qemu_missing()
    if reason is None and not (os.path.exists(kernel) and os.path.exists(initrd)):
        reason = f"no Linux guest in {build}/guest (scripts/fetch-guest.sh could not fetch it)"
    if reason is not None:
        print(f"SKIP: Linux boots not possible: {reason}")
        return boards.EXIT_SKIPPED
    nic = machine.network_device()
    failed = 0
    for name in args.scenario or SCENARIOS:
        passed, problems, _ = run_scenario(name, build, nic, kernel, initrd, args.verbose)
        if passed:
            print(f"linux/{name} PASS")
        else:
            failed += 1
            print(f"linux/{name} FAIL: " + "; ".join(problems))
        sys.stdout.flush()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
