#!/usr/bin/env python3
"""Size and start-up cost of the driver image in real firmware.

usage: report.py BUILD_DIR [--scenario NAME] [--from-log SERIAL_LOG]

Prints the size of BUILD_DIR/uefi/SlotInventoryDxe.efi, and the time stamp
counter ticks the driver spent in StartImage beside those of an empty
boot-service driver started the same way in the same boot, with their
ratio. The ticks come from one QEMU boot of a scenario (default the first
scenario file), or from the serial log of an earlier run_qemu.py boot."""
import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_lib as lib  # noqa: E402
import run_qemu  # noqa: E402


def boot_log(build, scenario):
    images = run_qemu.Images(build)
    missing = images.missing()
    if missing:
        raise SystemExit(f"ERROR: build the UEFI images first; missing {', '.join(missing)}")
    names = sorted(entry for entry in os.listdir(run_qemu.SCENARIO_DIR) if entry.endswith(".json"))
    chosen = f"{scenario}.json" if scenario else names[0]
    path = os.path.join(run_qemu.SCENARIO_DIR, chosen)
    work = os.path.join(build, "e2e", "report")
    os.makedirs(work, exist_ok=True)
    text, problems, _ = run_qemu.boot(lib.load_board(path), os.path.splitext(chosen)[0], work,
                                      images, run_qemu.network_device())
    for problem in problems:
        print(f"warning: {problem}")
    return text


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build")
    parser.add_argument("--scenario", help="scenario file name without .json")
    parser.add_argument("--from-log", help="serial log of an earlier boot instead of booting")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    driver = os.path.join(build, "uefi", "SlotInventoryDxe.efi")
    if not os.path.exists(driver):
        print(f"ERROR: {driver} not built")
        return 2
    print(f"driver image: {driver}")
    print(f"driver image size: {os.path.getsize(driver)} bytes")
    if args.from_log:
        with open(args.from_log, encoding="latin-1") as handle:
            text = handle.read()
    else:
        reason = run_qemu.qemu_missing()
        if reason is not None:
            print(f"SKIP: start-up ticks need QEMU: {reason}")
            return 0
        text = boot_log(build, args.scenario)
    report = lib.Report(text)
    driver_run = report.first("image", label="driver")
    empty_run = report.first("image", label="empty")
    if driver_run is None or empty_run is None:
        print("ERROR: the boot did not report both image runs")
        return 1
    driver_ticks = lib.field_int(driver_run, "ticks")
    empty_ticks = lib.field_int(empty_run, "ticks")
    print(f"driver StartImage status: {driver_run['fields'].get('start')}")
    print(f"StartImage ticks: driver {driver_ticks}, empty driver {empty_ticks}")
    if empty_ticks:
        print(f"ratio driver/empty: {driver_ticks / empty_ticks:.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
