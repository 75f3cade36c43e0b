#!/usr/bin/env python3
"""Builds OVMF from Debian's EDK2 source with the inventory driver added the
way a platform adds it: the lines of platform/SlotInventoryDxe.fdf applied to
a copy of OvmfPkgX64.fdf (lines under a volume that OVMF has go in after
SmbiosPlatformDxe, sections it lacks, the file rule, are appended), the test
platform's driver added the same way from its own INF and FDF lines, and
EDK2's own build making the firmware files, volumes and flash image.

usage: edk2_ovmf.py BUILD_DIR [CONFIG ...]   (default: debug, strict)

Configurations, each on one EDK2 release (scripts/fetch-edk2.sh --release):
  release  2022.11 RELEASE, GCC5: the driver as a binary module, as Debian's
           own OVMF is built (on request only)
  debug    2022.11 DEBUG, GCC5: the same with asserts, heap guard,
           NULL-pointer detection, stack guard and freed-memory clearing
  strict   2025.02 DEBUG, GCC: debug's protection, and every DXE image
           page-aligned and protected (code read-only, data not executable),
           from the lines of platform/StrictImageProtection.dsc; the driver
           built from source (the repository as SlotInventoryPkg/, the lines
           of platform/SlotInventoryDxeSource.dsc and .fdf), so that one build
           proves both (our binary image is protected when its shell loads it)
  debug-shell, strict-shell  the debug or strict firmware itself, its copy of
           the driver's file replaced by our binary image made never to
           dispatch, for the shell's load and the fault controls (EDK2 would
           rebuild every module for a second FDF)
Each firmware is cached under ${XDG_CACHE_HOME:-~/.cache}/slotinv-edk2/firmware/
by a hash of its inputs (the EDK2 source, the flags, the images, the INFs and
sources, the DSC and FDF as edited). Each configuration keeps its own EDK2
workspace, where files whose content did not change keep their time, so a
change to the driver rebuilds only what depends on it."""
import argparse
import fcntl
import hashlib
import os
import re
import shutil
import subprocess
import sys
import time
from collections import namedtuple

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "edk2"))
from edk2_workspace import build_environment, inf_defines, link_package, make_conf  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.dirname(os.path.dirname(HERE))
CACHE = os.path.join(os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache"), "slotinv-edk2")
FETCH_SCRIPT = os.path.join(SOURCE_DIR, "scripts", "fetch-edk2.sh")
DRIVER_FDF = os.path.join(SOURCE_DIR, "platform", "SlotInventoryDxe.fdf")
SOURCE_DSC = os.path.join(SOURCE_DIR, "platform", "SlotInventoryDxeSource.dsc")
SOURCE_FDF = os.path.join(SOURCE_DIR, "platform", "SlotInventoryDxeSource.fdf")
STRICT_DSC = os.path.join(SOURCE_DIR, "platform", "StrictImageProtection.dsc")
# The repository is the driver's EDK2 package; what its module build reads.
PACKAGE_NAME = "SlotInventoryPkg"
PACKAGE_FILES = ("SlotInventoryDxe.inf", "SlotInventoryPkg.dec")
PACKAGE_DIRS = ("include", "image", "base", "hw", "smbios", "hii", "inventory", "entry", "platforms")
TEST_PLATFORM_FDF = os.path.join(SOURCE_DIR, "tests", "uefi", "test_platform", "SlotInventoryTestPlatform.fdf")
FIRMWARE_TOOLS = os.path.join(SOURCE_DIR, "tools", "firmware")
# A dependency expression the DXE core never satisfies: FALSE, END.
NEVER_DEPEX = bytes([0x07, 0x08])
PLATFORM_DSC = "OvmfPkg/OvmfPkgX64.dsc"
PLATFORM_FDF = "OvmfPkg/OvmfPkgX64.fdf"
# Where the platform's lines go in a section OVMF already has (the DXE volume, the components).
ANCHOR = "OvmfPkg/SmbiosPlatformDxe/SmbiosPlatformDxe.inf"
COPY_DIR = "SlotInvOvmf"  # the copied DSC and FDF, inside the workspace
# The EDK2 releases, each with its GCC tool chain (2025.02 deprecates GCC5
# for GCC) and its flags as Debian builds OVMF_CODE_4M.fd from it: Debian 13's
# without secure boot (2025.02 leaves the shell out of a secure-boot build).
DEBIAN_12, DEBIAN_13 = "2022.11", "2025.02"
TOOLCHAIN = {DEBIAN_12: "GCC5", DEBIAN_13: "GCC"}
BUILD_FLAGS = {DEBIAN_12: ["-a", "X64", "-DFD_SIZE_4MB", "-DSECURE_BOOT_ENABLE=TRUE"],
               DEBIAN_13: ["-a", "X64", "-DFD_SIZE_4MB"]}
# Built when no configuration is named: the test command's matrix.
DEFAULT_CONFIGS = ("debug", "strict")
# Configurations that are another's firmware with the driver's file never dispatched.
UNDISPATCHED = {"debug-shell": "debug", "strict-shell": "strict"}

# The firmware's memory protection, as a platform turns it on for a DEBUG build.
PROTECTION_PCDS = (
    # Guard pages after every page (bit 0) and pool (bit 1) allocation, the
    # pool's end flush against its guard page...
    "gEfiMdeModulePkgTokenSpaceGuid.PcdHeapGuardPropertyMask=0x03",
    # ...of boot-services data, the type the driver allocates (bit N: type N).
    "gEfiMdeModulePkgTokenSpaceGuid.PcdHeapGuardPageType=0x10",
    "gEfiMdeModulePkgTokenSpaceGuid.PcdHeapGuardPoolType=0x10",
    # Page 0 not present for the whole of DXE and the boot manager.
    "gEfiMdeModulePkgTokenSpaceGuid.PcdNullPointerDetectionPropertyMask=0x01",
    # A guard page below each processor's stack.
    "gEfiMdeModulePkgTokenSpaceGuid.PcdCpuStackGuard=TRUE",
    # Asserts on, printed and stopping the boot in a dead loop; freed memory cleared.
    "gEfiMdePkgTokenSpaceGuid.PcdDebugPropertyMask=0x2F",
)

# A binary module: its folder in the workspace (the one its FDF lines name),
# its INF and the files the INF lists, all from the build tree.
Module = namedtuple("Module", "folder inf files")
Config = namedtuple("Config", "release target fdf_fragments dsc_fragments modules source pcds")


def driver_module(build):
    image = os.path.join(build, "image")
    return Module("SlotInventory", os.path.join(image, "SlotInventoryDxe.inf"),
                  [os.path.join(image, name) for name in ("SlotInventoryDxe.efi", "SlotInventoryDxe.depex",
                                                          "SlotInventoryDxe.debug")])


def test_platform_module(build):
    uefi = os.path.join(build, "tests", "uefi")
    return Module("SlotInventoryTestPlatform", os.path.join(uefi, "SlotInventoryTestPlatform.inf"),
                  [os.path.join(uefi, name) for name in
                   ("SlotInventoryTestPlatform.efi", "SlotInventoryTestPlatform.depex")])


def configurations(build):
    platform = test_platform_module(build)
    # (release, target, FDF lines, DSC lines, binary modules, the driver's package from source, PCDs)
    fdf = [TEST_PLATFORM_FDF, DRIVER_FDF]
    binary = [platform, driver_module(build)]
    return {
        "release": Config(DEBIAN_12, "RELEASE", fdf, [], binary, False, ()),
        "debug": Config(DEBIAN_12, "DEBUG", fdf, [], binary, False, PROTECTION_PCDS),
        "strict": Config(DEBIAN_13, "DEBUG", fdf + [SOURCE_FDF], [STRICT_DSC, SOURCE_DSC], [platform], True,
                         PROTECTION_PCDS),
    }


def known_configurations(build):
    return list(configurations(build)) + list(UNDISPATCHED)


class BuildError(Exception):
    pass


# --- The platform's lines applied to OVMF's FDF -------------------------------

def fragment_sections(path):
    """{section header: [lines]} of a DSC or FDF fragment, comments and blank lines dropped."""
    sections, current = {}, None
    with open(path, encoding="utf-8") as handle:
        for line in handle:
            text = line.split("#", 1)[0].rstrip()
            if not text.strip():
                continue
            if text.startswith("["):
                current = text.strip()
                sections.setdefault(current, [])
            elif current is None:
                raise BuildError(f"{path}: a line before any section: {text.strip()}")
            else:
                sections[current].append(text)
    return sections


def section_of(fdf_lines, index):
    for line in reversed(fdf_lines[:index + 1]):
        if line.startswith("["):
            return line.strip()
    return None


def pcd_setting(line):
    """The PCD a DSC line sets (TokenSpace.Name|value), or None."""
    match = re.match(r"\s*(\w+\.\w+)\s*\|", line)
    return match.group(1) if match else None


def apply_fragment(fdf_lines, fragment, modules_present, where):
    """Applies the fragment's lines to a platform's DSC or FDF: a PCD the
    section already sets takes the fragment's value in place; other lines go
    under the section the file has, after the anchor there (PCD settings
    right after the header); a section it lacks is appended whole. FDF INF
    lines of binary modules not in this configuration are left out."""
    for header, lines in fragment.items():
        lines = [line for line in lines
                 if not line.lstrip().startswith("INF  RuleOverride = BINARY")
                 or any(folder + "/" in line for folder in modules_present)]
        if header not in (line.strip() for line in fdf_lines):
            if lines:
                fdf_lines += ["", header] + lines
            continue
        added = []
        for line in lines:
            settings = [i for i, present in enumerate(fdf_lines)
                        if pcd_setting(line) and pcd_setting(present) == pcd_setting(line)
                        and section_of(fdf_lines, i) == header]
            for i in settings:
                fdf_lines[i] = line
            if not settings:
                added.append(line)
        if not added:
            continue
        anchors = [i for i, line in enumerate(fdf_lines)
                   if ANCHOR in line and section_of(fdf_lines, i) == header]
        if not anchors and all(pcd_setting(line) for line in added):
            anchors = [i for i, line in enumerate(fdf_lines) if line.strip() == header]
        if not anchors:
            raise BuildError(f"{where}: no {ANCHOR} in {header} to add the lines after")
        at = anchors[0] + 1
        fdf_lines[at:at] = added
    return fdf_lines


def platform_fdf(edk2, config):
    with open(os.path.join(edk2, PLATFORM_FDF), encoding="utf-8") as handle:
        lines = handle.read().splitlines()
    # OVMF's FDF includes files beside it by bare name; the copy lives elsewhere.
    lines = [re.sub(r"^!include\s+([^/\s]+)$", r"!include OvmfPkg/\1", line) for line in lines]
    present = [module.folder for module in config.modules]
    for path in config.fdf_fragments:
        lines = apply_fragment(lines, fragment_sections(path), present, PLATFORM_FDF)
    return "\n".join(lines) + "\n"


def platform_dsc(edk2, config):
    with open(os.path.join(edk2, PLATFORM_DSC), encoding="utf-8") as handle:
        text = handle.read()
    text, count = re.subn(r"(FLASH_DEFINITION\s*=\s*)\S+", rf"\g<1>{COPY_DIR}/OvmfPkgX64.fdf", text)
    if count != 1:
        raise BuildError(f"{PLATFORM_DSC}: expected one FLASH_DEFINITION, found {count}")
    lines = text.splitlines()
    for path in config.dsc_fragments:
        lines = apply_fragment(lines, fragment_sections(path), [], PLATFORM_DSC)
    return "\n".join(lines) + "\n"


def package_files():
    """Every file of the driver's package that its module build reads."""
    paths = [os.path.join(SOURCE_DIR, name) for name in PACKAGE_FILES]
    for folder in PACKAGE_DIRS:
        for root, dirs, files in os.walk(os.path.join(SOURCE_DIR, folder)):
            dirs.sort()
            paths += [os.path.join(root, name) for name in sorted(files)]
    return paths


# --- The build ------------------------------------------------------------------

def edk2_workspace(release):
    """The fetched EDK2 source of release (fetching it when the cache lacks it)."""
    result = subprocess.run(["bash", FETCH_SCRIPT, "--release", release], capture_output=True, text=True)
    if result.returncode != 0:
        raise BuildError(f"no EDK2 {release} source: {result.stderr.strip() or result.stdout.strip()}")
    return result.stdout.strip().splitlines()[-1]


def build_flags(config):
    return BUILD_FLAGS[config.release] + ["-t", TOOLCHAIN[config.release]]


def input_hash(edk2, config, fdf, dsc):
    digest = hashlib.sha256()
    for text in (os.path.basename(edk2), config.target, " ".join(build_flags(config)), " ".join(config.pcds),
                 fdf, dsc):
        digest.update(text.encode() + b"\0")
    inputs = [path for module in config.modules for path in [module.inf] + module.files]
    for path in inputs + (package_files() if config.source else []):
        with open(path, "rb") as handle:
            digest.update(os.path.relpath(path, SOURCE_DIR).encode() + b"\0" + handle.read())
    return digest.hexdigest()[:16]


def write_if_changed(path, data):
    """EDK2 regenerates every module's makefile, and so recompiles everything,
    when a platform file is newer than its last build: unchanged files keep
    their time."""
    if os.path.exists(path):
        with open(path, "rb") as handle:
            if handle.read() == data:
                return
    with open(path, "wb") as handle:
        handle.write(data)


def prepare_workspace(edk2, workspace, config, fdf, dsc):
    make_conf(edk2, workspace)
    copy = os.path.join(workspace, COPY_DIR)
    os.makedirs(copy, exist_ok=True)
    for name, text in (("OvmfPkgX64.fdf", fdf), ("OvmfPkgX64.dsc", dsc)):
        write_if_changed(os.path.join(copy, name), text.encode())
    if config.source:
        link_package(workspace, PACKAGE_NAME, SOURCE_DIR)
    for module in config.modules:
        folder = os.path.join(workspace, module.folder)
        os.makedirs(folder, exist_ok=True)
        for path in [module.inf] + module.files:
            with open(path, "rb") as handle:
                write_if_changed(os.path.join(folder, os.path.basename(path)), handle.read())


def run_build(edk2, workspace, config, log_path):
    command = (["build", "-p", f"{COPY_DIR}/OvmfPkgX64.dsc", "-b", config.target, "-n", str(os.cpu_count() or 2)]
               + build_flags(config) + [option for pcd in config.pcds for option in ("--pcd", pcd)])
    env = build_environment(edk2, workspace)
    with open(log_path, "w", encoding="utf-8") as log:
        log.write(" ".join(command) + "\n")
        log.flush()
        result = subprocess.run(command, cwd=workspace, env=env,
                                stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
    shutil.rmtree(env["TMPDIR"], ignore_errors=True)
    if result.returncode != 0:
        with open(log_path, encoding="utf-8", errors="replace") as log:
            tail = "".join(log.readlines()[-15:])
        raise BuildError(f"EDK2 build failed ({result.returncode}), see {log_path}:\n{tail}")
    return os.path.join(workspace, "Build", "OvmfX64", f"{config.target}_{TOOLCHAIN[config.release]}")


def undispatched_copy(build, made):
    """The firmware of made with the driver's file replaced by one that never
    dispatches (the same image, a FALSE dependency expression): the same
    DEBUG build for boots whose driver the shell loads. Made once, beside it."""
    out = os.path.join(os.path.dirname(made["code"]), "OVMF_CODE_undispatched.fd")
    if os.path.exists(out):
        return out
    driver = driver_module(build)
    guid = inf_defines(driver.inf)["FILE_GUID"]
    depex, ffs = out + ".depex", out + ".ffs"
    with open(depex, "wb") as handle:
        handle.write(NEVER_DEPEX)
    try:
        for tool, arguments in (
                ("make_ffs.py", ["--guid", guid, "--pe32", driver.files[0], "--depex", depex, "-o", ffs]),
                ("ovmf_insert.py", [made["code"], out, ffs])):
            result = subprocess.run([sys.executable, os.path.join(FIRMWARE_TOOLS, tool)] + arguments,
                                    capture_output=True, text=True)
            if result.returncode != 0:
                raise BuildError(f"{tool} failed: {(result.stderr or result.stdout).strip()[:300]}")
    finally:
        for path in (depex, ffs):
            if os.path.exists(path):
                os.remove(path)
    return out


def firmware(build, name):
    """Builds configuration name, or finds it in the cache. Returns a dict:
    code, vars (flash images), ffs (EDK2's firmware file of each module, by
    INF base name), driver (the image of the driver the firmware dispatches:
    our binary image, or the one EDK2 built from source), log, seconds, cached."""
    if name in UNDISPATCHED:
        made = firmware(build, UNDISPATCHED[name])
        return dict(made, code=undispatched_copy(build, made), driver=None)
    config = configurations(build)[name]
    # Keyed by release too: a configuration on another release shares neither workspace nor firmware.
    key = f"{name}-{config.release}"
    missing = [path for module in config.modules for path in [module.inf] + module.files
               if not os.path.exists(path)]
    if missing:
        raise BuildError(f"build the images first; missing {', '.join(missing)}")
    edk2 = edk2_workspace(config.release)
    fdf, dsc = platform_fdf(edk2, config), platform_dsc(edk2, config)
    out = os.path.join(CACHE, "firmware", f"{key}-{input_hash(edk2, config, fdf, dsc)}")
    result = {"code": os.path.join(out, "OVMF_CODE.fd"), "vars": os.path.join(out, "OVMF_VARS.fd"),
              "log": os.path.join(out, "build.log"), "ffs": {}, "seconds": 0.0, "cached": True,
              "driver": os.path.join(out, "SlotInventoryDxe.efi") if config.source else driver_module(build).files[0]}
    for base in [os.path.splitext(os.path.basename(module.inf))[0] for module in config.modules] + (
            ["SlotInventoryDxe"] if config.source else []):
        result["ffs"][base] = os.path.join(out, f"{base}.ffs")
    # A workspace per configuration: EDK2 rebuilds every module when its DSC or FDF changes.
    workspace = os.path.join(CACHE, "workspace", key)
    os.makedirs(workspace, exist_ok=True)
    with open(os.path.join(workspace, ".lock"), "w") as lock:
        # One build per workspace at a time; a second caller then finds the cache filled.
        fcntl.flock(lock, fcntl.LOCK_EX)
        if os.path.exists(os.path.join(out, ".complete")):
            return result
        started = time.monotonic()
        partial = out + ".partial"
        shutil.rmtree(partial, ignore_errors=True)
        os.makedirs(partial)
        prepare_workspace(edk2, workspace, config, fdf, dsc)
        output = run_build(edk2, workspace, config, os.path.join(partial, "build.log"))
        for image in ("OVMF_CODE.fd", "OVMF_VARS.fd"):
            shutil.copyfile(os.path.join(output, "FV", image), os.path.join(partial, image))
        for base, path in result["ffs"].items():
            made = [os.path.join(root, entry) for root, _, entries in os.walk(os.path.join(output, "FV", "Ffs"))
                    for entry in entries if entry.endswith(".ffs") and root.endswith(base)]
            if len(made) != 1:
                raise BuildError(f"expected one firmware file of {base} in {output}/FV/Ffs, found {len(made)}")
            shutil.copyfile(made[0], os.path.join(partial, os.path.basename(path)))
        if config.source:
            shutil.copyfile(os.path.join(output, "X64", "SlotInventoryDxe.efi"),
                            os.path.join(partial, "SlotInventoryDxe.efi"))
        open(os.path.join(partial, ".complete"), "w").close()
        os.replace(partial, out)
        # Earlier firmware of this configuration, and failed attempts, are stale now.
        stale = re.compile(rf"^{re.escape(key)}-[0-9a-f]{{16}}(\.partial)?$")
        for entry in os.listdir(os.path.dirname(out)):
            if stale.match(entry) and entry != os.path.basename(out):
                shutil.rmtree(os.path.join(os.path.dirname(out), entry), ignore_errors=True)
        result.update(seconds=time.monotonic() - started, cached=False)
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", help="CMake build directory holding image/ and tests/uefi/")
    parser.add_argument("configs", nargs="*",
                        help=f"{', '.join(known_configurations('.'))} (default: {', '.join(DEFAULT_CONFIGS)})")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    known = known_configurations(build)
    unknown = [name for name in args.configs if name not in known]
    if unknown:
        print(f"edk2_ovmf.py: unknown configuration {', '.join(unknown)}; known: {', '.join(known)}",
              file=sys.stderr)
        return 2
    failed = 0
    for name in args.configs or DEFAULT_CONFIGS:
        try:
            made = firmware(build, name)
        except (BuildError, OSError) as error:
            print(f"edk2 build {name}: FAIL: {error}")
            failed += 1
            continue
        how = "cached" if made["cached"] else f"built in {made['seconds']:.0f} s"
        print(f"edk2 build {name}: {how}: {made['code']}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
