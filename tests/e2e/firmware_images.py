"""The firmware a boot runs: Debian's OVMF with our firmware files inserted,
or OVMF built from EDK2's source (edk2_ovmf.py); and the UEFI Shell a
firmware image carries, which shell boots start from their volume."""
import functools
import hashlib
import os
import subprocess
import sys
from collections import namedtuple

HERE = os.path.dirname(os.path.abspath(__file__))
FIRMWARE_TOOLS = os.path.join(os.path.dirname(os.path.dirname(HERE)), "tools", "firmware")
sys.path.insert(0, FIRMWARE_TOOLS)
import board as boards  # noqa: E402
import edk2_ovmf  # noqa: E402
import ovmf_insert  # noqa: E402
import pi_firmware  # noqa: E402
from machine import OVMF_CODE, OVMF_VARS  # noqa: E402

INSERT_TOOL = os.path.join(FIRMWARE_TOOLS, "ovmf_insert.py")
# ShellPkg's UEFI Shell, as OVMF's DXE volume carries it.
SHELL_FILE_GUID = "7C04A583-9E3E-4F1C-AD65-E05268D0B4D1"


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
    "edk2-strict": FirmwareBoot("fv", "strict", True, True),
    "edk2-strict-shell": FirmwareBoot("shell", "strict-shell", True, True),
}
# Report lines and artifact folders: edk2-debug-shell/NAME reads edk2-debug/shell/NAME.
LINE_PREFIX = {"edk2-debug-shell": "edk2-debug/shell", "edk2-strict-shell": "edk2-strict/shell"}


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


# A runner asks once per boot and again for its checks; finding an EDK2 build
# in the cache hashes every input, so each answer is kept for the run.
@functools.lru_cache(maxsize=None)
def firmware_images(build, boot, platform):
    """(code, variable store, the image of the driver it dispatches: None when
    a shell loads it) of a firmware boot's OVMF, for a scenario of platform."""
    if boot.edk2_config is None:
        if boot.arrival != "fv":
            return patched_firmware(build, None), OVMF_VARS, None
        return patched_firmware(build, platform), OVMF_VARS, platform.images["efi"]
    if boot.arrival == "fv" and platform is not None and platform.name != boards.DEFAULT_PLATFORM:
        raise RuntimeError(f"the EDK2 firmware carries {boards.DEFAULT_PLATFORM}'s driver, not {platform.name}'s: "
                           "boot this platform's driver from an EDK2 kind's shell")
    try:
        made = edk2_ovmf.firmware(build, boot.edk2_config)
    except edk2_ovmf.BuildError as error:
        raise RuntimeError(str(error)) from error
    return made["code"], made["vars"], made["driver"]


def shell_image(build, code):
    """The UEFI Shell application the firmware image code carries in its DXE
    volume, written once per image into BUILD/e2e/firmware/: a shell boot
    starts it from its volume as the boot loader rather than relying on the
    firmware to fall back to it when nothing else boots, which OVMF no
    longer does (edk2-stable202505 dropped the fallback). Raises RuntimeError."""
    with open(code, "rb") as handle:
        raw = handle.read()
    out_dir = os.path.join(build, "e2e", "firmware")
    out = os.path.join(out_dir, f"Shell-{hashlib.sha256(raw).hexdigest()[:16]}.efi")
    if os.path.exists(out):
        return out
    try:
        volume = ovmf_insert.CompressedDxeVolume(raw, code).dxe_volume
        files = [item for item in volume.live_files() if item.name == SHELL_FILE_GUID]
        sections = [raw_section[header:] for item in files
                    for kind, header, _, raw_section in item.sections()
                    if kind == pi_firmware.SECTION_TYPES["pe32"]]
    except pi_firmware.FirmwareError as error:
        raise RuntimeError(f"{code}: {error}") from error
    if len(sections) != 1:
        raise RuntimeError(f"{code} carries no UEFI Shell (file {SHELL_FILE_GUID} with one PE32 section)")
    os.makedirs(out_dir, exist_ok=True)
    pi_firmware.write_atomically(out, sections[0])
    return out
