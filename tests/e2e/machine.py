"""The QEMU machine of a scenario: q35 with the scenario's devices (its own,
or derived from its platform's description), its -smbios records, the shared
memory backing the PCH sideband window, the firmware's flash drives and the
console."""
import hashlib
import json
import os
import shutil
import socket
import subprocess

import board as boards
import boot_media
import derived_machine
import smbios_dump

QEMU = os.environ.get("QEMU", "qemu-system-x86_64")
OVMF_CODE = os.environ.get("OVMF_CODE", "/usr/share/OVMF/OVMF_CODE_4M.fd")
OVMF_VARS = os.environ.get("OVMF_VARS", "/usr/share/OVMF/OVMF_VARS_4M.fd")
# OVMF adds QEMU's structures under their own handles and drops one whose handle
# is taken, so raw records count up from a handle QEMU never gives its own.
RAW_TYPE9_HANDLE = 0x9000
# The records that fill the table: OEM strings (Type 11), under handles of their
# own, strings as long as every SMBIOS version allows, at most 255 to a record.
RAW_FILL_HANDLE = 0xA000
FILL_TYPE, FILL_STRING, FILL_STRINGS = 11, 64, 255
# A record's bytes besides its strings: header, string count, the area's final NUL.
FILL_OVERHEAD = 4 + 1 + 1
FILL_RECORD_MAX = FILL_OVERHEAD + FILL_STRINGS * (FILL_STRING + 1)


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


def fill_structures(total):
    """Raw OEM-strings structures of total bytes in all: an earlier producer's
    records that leave the table the room a scenario chooses."""
    total = boards.number(total, "qemu.smbiosFill")
    if total < FILL_OVERHEAD + 2:
        raise boards.BoardError(f"qemu.smbiosFill: {total} bytes cannot hold a record "
                                f"({FILL_OVERHEAD + 2} at least)")
    count = -(-total // FILL_RECORD_MAX)
    structures = b""
    for i in range(count):
        size = total // count + (1 if i < total % count else 0)
        area = size - FILL_OVERHEAD  # each string's characters and its NUL
        strings = -(-area // (FILL_STRING + 1))
        lengths = [FILL_STRING] * strings
        lengths[-1] = area - strings - FILL_STRING * (strings - 1)
        if lengths[-1] == 0:  # no string may be empty
            lengths[-2:] = [FILL_STRING - 1, 1]
        texts = [f"filler {i}.{n} ".ljust(length, "-")[:length] for n, length in enumerate(lengths)]
        structures += smbios_dump.raw_smbios_structure(FILL_TYPE, bytes([strings]), texts, RAW_FILL_HANDLE + i)
    assert len(structures) == total
    return structures


def smbios_options(qemu, work):
    """-smbios options: QEMU's own records, raw Type 9 structures and the
    records that fill the table, each through a file."""
    options = []
    for value in qemu.get("smbios", []):
        options += ["-smbios", value]
    if "smbiosFill" in qemu:
        path = os.path.join(work, "fill.bin")
        with open(path, "wb") as handle:
            handle.write(fill_structures(qemu["smbiosFill"]))
        options += ["-smbios", f"file={path}"]
    slots = qemu.get("smbiosType9", [])
    if slots:
        path = os.path.join(work, "type9.bin")
        with open(path, "wb") as handle:
            for i, designation in enumerate(slots):
                # Slot fields after the designation: PCIe x8, 8x, available, long, id 0x63.
                formatted = bytes([1, 0xB5, 0x0B, 3, 4, 0x63, 0, 0x04, 0, 0, 0, 0, 0])
                handle.write(smbios_dump.raw_smbios_structure(9, formatted, [designation],
                                                      RAW_TYPE9_HANDLE + i))
        options += ["-smbios", f"file={path}"]
    return options


def scenario_board(board_path, platform, work):
    """(board, path) of a scenario: for a machine derived from the
    description, the board as the simulator must see it (sockets, root
    ports and their secondary buses, the functions that answer), written to
    work/board.json for boardsim; else the board file as it is."""
    board = boards.load_board(board_path)
    made = derived_machine.machine_of(board, platform)
    if made.board is board:
        return board, board_path
    path = os.path.join(work, "board.json")
    with open(path, "w", encoding="utf-8") as handle:
        json.dump(made.board, handle, indent=1)
    return made.board, path


def scenario_options(board, platform, name, work, nic, through_fw_cfg=False):
    """(QEMU options, scenario text) that make a scenario's machine of its
    platform: machine type, devices, -smbios records, the shared memory
    backing the sideband window; with through_fw_cfg also the scenario text
    as the fw_cfg file the test platform's DXE driver reads. board is the
    board as scenario_board gives it. Files go into work. Memory, firmware,
    disks, serial port (or -kernel/-initrd) are the caller's."""
    qemu = board.get("qemu", {})
    made = derived_machine.machine_of(board, platform)
    options = ["-machine", qemu.get("machine", "q35")]
    window_device = None
    if boards.window_needed(board, platform):
        window_path = os.path.join(work, "sideband.bin")
        boards.write_window(window_path, board, platform)
        window_device = made.window_device
        options += ["-object", f"memory-backend-file,id=sidebandwin,share=on,mem-path={window_path},"
                    f"size={boards.WINDOW_SIZE}",
                    "-device", f"ivshmem-plain,memdev=sidebandwin,bus=pcie.0,addr=0x{window_device:x}"]
    for device in made.devices:
        options += ["-device", device.replace("{nic}", nic)]
    options += smbios_options(qemu, work)
    text = boot_media.scenario_text(board, name, window_device, platform)
    if through_fw_cfg:
        path = os.path.join(work, "fw_cfg-scenario.txt")
        boot_media.write_text(path, text)
        options += ["-fw_cfg", boot_media.fw_cfg_option(boot_media.FW_CFG_SCENARIO, path)]
    return options, text


def firmware_options(work, code=OVMF_CODE, variables=OVMF_VARS):
    """Flash drives: the code image (read-only) and a fresh copy of the variable store."""
    vars_copy = os.path.join(work, "vars.fd")
    shutil.copyfile(variables, vars_copy)
    return ["-drive", f"if=pflash,format=raw,unit=0,readonly=on,file={code}",
            "-drive", f"if=pflash,format=raw,unit=1,file={vars_copy}"]


def monitor_socket(serial):
    """The abstract socket name of the QEMU monitor of the boot whose console
    goes to serial: no file to clean up, and short whatever the build tree's path."""
    digest = hashlib.sha1(os.path.abspath(serial).encode()).hexdigest()[:12]
    return f"slotinv-{os.getpid()}-{digest}"


def console_options(serial):
    """The serial port logged to serial, and a monitor on a socket through
    which press_enter types at the firmware's keyboard."""
    return ["-nodefaults", "-nographic", "-serial", f"file:{serial}", "-no-reboot",
            "-chardev", f"socket,id=monitor,path={monitor_socket(serial)},abstract=on,server=on,wait=off",
            "-mon", "chardev=monitor,mode=readline"]


# The UEFI Shell's countdown before its startup.nsh: five seconds, or any key.
SHELL_COUNTDOWN = "or any other key to continue"


def press_enter(serial):
    """Presses Enter on the machine's keyboard (PS/2, which OVMF's console
    reads), through its monitor; False when the monitor cannot be reached."""
    try:
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as monitor:
            monitor.settimeout(5)
            monitor.connect("\0" + monitor_socket(serial))
            monitor.sendall(b"sendkey ret\n")
            # Hanging up before the monitor has run the command can lose it:
            # wait for its next prompt, after the command's echo.
            seen = b""
            while seen.count(b"(qemu)") < 2:
                data = monitor.recv(4096)
                if not data:
                    return False
                seen += data
        return True
    except OSError:
        return False


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
