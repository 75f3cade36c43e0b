#!/usr/bin/env python3
"""Size and start-up cost of the driver image in real firmware.

usage: report.py BUILD_DIR [--scenario NAME] [--boots N] [--from-log SERIAL_LOG]

Prints the size of BUILD_DIR/image/SlotInventoryDxe.efi and, from one QEMU
boot of a scenario (default the product board's first) or the serial log of an
earlier boot, the time stamp counter ticks each image spent in StartImage:
the driver, the floor driver (only the firmware work any implementation must
do: the same package list registered, the same records removed and added,
their bytes precomputed by the board simulator) and an empty driver, the
ratios, and for the driver and the floor the count and ticks of every
firmware service they called, with the driver's own ticks (the rest).
With --boots N it boots N times, prints the spread of the ratio and the
figures of the boot with the median ratio."""
import argparse
import os
import struct
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import board as boards  # noqa: E402
import checks  # noqa: E402
import machine  # noqa: E402
import serial_report  # noqa: E402
import smbios_dump  # noqa: E402
import run_qemu  # noqa: E402

SLOTS = 9
DEVICES = 41
UNASSIGNED_HANDLE = 0xFFFE


def floor_file(records):
    """FLOOR.BIN from the simulator's table: the count of Type 9 and of Type 41
    records, then those records in the order the driver adds them, each with
    the unassigned handle the driver hands the firmware."""
    slots = [record for kind, _, record in records if kind == SLOTS]
    devices = [record for kind, _, record in records if kind == DEVICES]
    body = b"".join(record[:2] + struct.pack("<H", UNASSIGNED_HANDLE) + record[4:]
                    for record in slots + devices)
    return struct.pack("<HH", len(slots), len(devices)) + body


# Names of the firmware calls in boardsim's trace, as the harness names them.
TRACE_NAMES = {
    "AllocatePool": "AllocatePool", "FreePool": "FreePool", "HandleProtocol": "HandleProtocol",
    "LocateProtocol": "LocateProtocol", "GetVariable": "GetVariable",
    "Smbios.Add": "SmbiosAdd", "Smbios.Remove": "SmbiosRemove", "Smbios.GetNext": "SmbiosGetNext",
    "HiiDatabase.NewPackageList": "HiiNewPackageList", "HiiString.GetString": "HiiGetString",
    "HiiString.GetLanguages": "HiiGetLanguages",
    "RegisterAccess.ConfigSpaceAddress": "ConfigSpaceAddress",
}


def simulated_calls(trace):
    """{service: count} of the firmware calls in boardsim's --trace output."""
    counts = {}
    for line in trace.splitlines():
        name = TRACE_NAMES.get(line.strip().split("(")[0].split(" ")[0])
        if name:
            counts[name] = counts.get(name, 0) + 1
    return counts


def simulated_records(images, board_path, work):
    try:
        return checks.simulator_records(images.boardsim, board_path, work)
    except RuntimeError as error:
        raise SystemExit(f"ERROR: {error} on {board_path}") from None


def simulator_trace(images, board_path):
    result = subprocess.run([images.boardsim, board_path, "--trace"], capture_output=True,
                            text=True, timeout=60)
    return result.stdout if result.returncode == 0 else ""


def boot_log(build, scenario):
    images = run_qemu.Images(build)
    missing = images.missing() + [path for path in (images.floor, images.boardsim)
                                  if not os.path.exists(path)]
    if missing:
        raise SystemExit(f"ERROR: build the UEFI images and boardsim first; missing {', '.join(missing)}")
    names = sorted(entry for entry in os.listdir(run_qemu.SCENARIO_DIR) if entry.endswith(".json"))
    # By default the first scenario of the product's board.
    chosen = f"{scenario}.json" if scenario else next(
        name for name in names if boards.board_platform(boards.load_board(os.path.join(run_qemu.SCENARIO_DIR, name)))
        == boards.DEFAULT_PLATFORM)
    work = os.path.join(build, "e2e", "report")
    os.makedirs(work, exist_ok=True)
    path = os.path.join(run_qemu.SCENARIO_DIR, chosen)
    platform = boards.load_platform(build, boards.board_platform(boards.load_board(path)))
    board, path = machine.scenario_board(path, platform, work)
    expected = simulated_records(images, path, work)
    with open(images.floor, "rb") as handle:
        extra = {"FLOOR.EFI": handle.read(), "FLOOR.BIN": floor_file(expected),
                 "FLOOR.HII": smbios_dump.package_list_bytes(platform)}
    print(f"boot: scenario {os.path.splitext(chosen)[0]}")
    text, problems, _ = run_qemu.boot(board, platform, os.path.splitext(chosen)[0], work, images,
                                      machine.network_device(), extra)
    report = serial_report.Report(text)
    dump = smbios_dump.dump_image(report)
    # The floor's run is undone before the driver's: the driver's records must
    # still be the simulator's.
    problems += (["no SMBIOS table in the report"] if dump is None else
                 smbios_dump.compare_inventory(smbios_dump.dump_records(dump), expected))
    for problem in problems:
        print(f"warning: {problem}")
    return text, simulated_calls(simulator_trace(images, path))


def service_use(report, label):
    """[(name, count, ticks)] of the services the image called."""
    return [(entry["fields"]["name"], serial_report.field_int(entry, "count"), serial_report.field_int(entry, "ticks"))
            for entry in report.all("service") if entry["fields"].get("label") == label]


def print_services(label, ticks, services, simulated=None):
    """simulated: {service: count} the simulator's run of the board makes, shown
    beside the counts (table walks differ where QEMU adds records of its own)."""
    used = [service for service in services if service[1]]
    service_ticks = sum(service[2] for service in used)
    heading = ", boardsim's count" if simulated else ""
    print(f"{label} firmware services (count, ticks, share of its StartImage ticks{heading}):")
    for name, count, spent in sorted(used, key=lambda service: -service[2]):
        beside = f" {simulated.get(name, 0):6}" if simulated else ""
        print(f"  {name:<20} {count:6} {spent:12} {100 * spent / ticks:5.1f}%{beside}")
    print(f"  {'all services':<20} {sum(service[1] for service in used):6} {service_ticks:12} "
          f"{100 * service_ticks / ticks:5.1f}%")
    print(f"{label} own ticks (StartImage minus services): {ticks - service_ticks}")


def image_ticks(report):
    """{label: StartImage ticks} of the images the boot ran."""
    runs = {label: report.first("image", label=label) for label in ("driver", "floor", "empty")}
    return {label: serial_report.field_int(run, "ticks") for label, run in runs.items() if run is not None}


def print_boot(report, ticks, simulated=None):
    print(f"driver StartImage status: {report.first('image', label='driver')['fields'].get('start')}")
    print(f"StartImage ticks: driver {ticks['driver']}, floor {ticks.get('floor', 'not run')}, "
          f"empty driver {ticks['empty']}")
    if ticks.get("floor"):
        floor = report.first("floor")
        if floor is not None:
            print(f"floor: register status {floor['fields'].get('register')}, "
                  f"removed {serial_report.field_int(floor, 'removed')}, added {serial_report.field_int(floor, 'added')}")
        print(f"ratio driver/floor: {ticks['driver'] / ticks['floor']:.2f}")
    if ticks["empty"]:
        print(f"ratio driver/empty: {ticks['driver'] / ticks['empty']:.2f}")
    for label in ("driver", "floor"):
        if ticks.get(label):
            print_services(label, ticks[label], service_use(report, label),
                           simulated if label == "driver" else None)


def median_boot(boots):
    """The boot whose driver/floor ratio is the median, and a line giving the
    spread over all of them: a loaded host preempts QEMU at random."""
    ordered = sorted(boots, key=lambda boot: boot[1]["driver"] / boot[1].get("floor", 1))
    ratios = [ticks["driver"] / ticks["floor"] for _, ticks in ordered if ticks.get("floor")]
    spread = (f"ratio driver/floor over {len(ordered)} boots: min {min(ratios):.2f}, "
              f"median {ratios[len(ratios) // 2]:.2f}, max {max(ratios):.2f}" if ratios else None)
    return ordered[len(ordered) // 2], spread


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build")
    parser.add_argument("--scenario", help="scenario file name without .json")
    parser.add_argument("--from-log", help="serial log of an earlier boot instead of booting")
    parser.add_argument("--boots", type=int, default=1,
                        help="boot this many times and show the boot with the median ratio")
    args = parser.parse_args()
    if args.boots < 1:
        parser.error("--boots must be at least 1")
    build = os.path.abspath(args.build)
    driver = os.path.join(build, "image", "SlotInventoryDxe.efi")
    if not os.path.exists(driver):
        print(f"ERROR: {driver} not built")
        return 2
    print(f"driver image: {driver}")
    print(f"driver image size: {os.path.getsize(driver)} bytes")
    simulated = None
    if args.from_log:
        with open(args.from_log, encoding="latin-1") as handle:
            texts = [handle.read()]
    else:
        reason = machine.qemu_missing()
        if reason is not None:
            print(f"SKIP: start-up ticks need QEMU: {reason}")
            return 0
        logs = [boot_log(build, args.scenario) for _ in range(args.boots)]
        texts = [text for text, _ in logs]
        simulated = logs[0][1]
    boots = []
    for text in texts:
        report = serial_report.Report(text)
        ticks = image_ticks(report)
        if "driver" not in ticks or "empty" not in ticks:
            print("ERROR: a boot did not report both the driver's and the empty driver's run")
            return 1
        boots.append((report, ticks))
    (report, ticks), spread = median_boot(boots)
    if spread and len(boots) > 1:
        print(spread)
    print_boot(report, ticks, simulated)
    return 0


if __name__ == "__main__":
    sys.exit(main())
