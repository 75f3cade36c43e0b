"""What the firmware boots from: the scenario text the harness and the test
platform's driver read, the FAT volumes of each kind of boot, the shell's
startup script."""
import os
import shutil

import board as boards

# The fw_cfg file the test platform's DXE driver reads its scenario from.
FW_CFG_SCENARIO = "opt/slotinv/scenario"
SHELL_DRIVER_PATH = "\\DRIVER.EFI"


def scenario_text(board, name, window_device, platform):
    """SCENARIO.TXT for the harness, and the fw_cfg file of the test
    platform's driver: everything of the board that the test firmware, which
    has no board built in, provides."""
    lines = [f"name={name}"]
    for socket, word in zip(platform.sockets, boards.board_sockets(board, platform)):
        lines.append(f"socket=0x{socket['bus']:02X},{socket['device']},{socket['function']},"
                     f"0x{socket['offset']:02X},0x{word:08X}")
    lines.append(f"driver={platform.file_guid}")
    if window_device is not None:
        lines.append(f"window=0x{window_device:02X}")
        lines += [f"sideband=0x{address:08X}" for address in boards.strap_registers(platform)]
    language = boards.board_platform_lang(board)
    lines.append("platformlang=-" if language is None else f"platformlang={language}")
    for i, record in enumerate(board.get("smbios", [])):
        record_type = boards.number(record["type"], f"smbios[{i}].type")
        strings = record.get("strings", [])
        if any("|" in text or "\n" in text or not text for text in strings):
            raise boards.BoardError(f"smbios[{i}].strings: the harness takes non-empty strings without '|'")
        lines.append(f"smbios={record_type}" + (":" + "|".join(strings) if strings else ""))
    if board.get("qemu", {}).get("probes"):
        lines.append("probes=1")
    return "\n".join(lines) + "\n"


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


def build_volume(volume, images, scenario_text, driver, extra_files=None):
    """The boot volume of an app/ boot: the harness as boot option, the
    driver, the empty driver, extra_files ({name: bytes})."""
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


def build_shell_volume(volume, images, scenario_text, driver, shell, script=None):
    """The firmware's own UEFI Shell (shell: its image) as the boot loader,
    its startup.nsh beside it, which the shell runs: load the driver, then
    run the harness (or script)."""
    boot = os.path.join(volume, "EFI", "BOOT")
    os.makedirs(boot, exist_ok=True)
    shutil.copyfile(shell, os.path.join(boot, "BOOTX64.EFI"))
    shutil.copyfile(images.harness, os.path.join(volume, "HARNESS.EFI"))
    shutil.copyfile(driver, os.path.join(volume, "DRIVER.EFI"))
    write_text(os.path.join(volume, "SCENARIO.TXT"), scenario_text)
    write_text(os.path.join(boot, "startup.nsh"), script or shell_startup_script())


def write_text(path, text):
    with open(path, "w", encoding="ascii", newline="") as handle:
        handle.write(text)
