#!/usr/bin/env python3
"""Builds SlotInventoryDxe from source with EDK2's own build (X64, RELEASE),
and every other platform's source module, and checks each result: a PE32+
boot-service driver without global constructors (EDK2 runs none), its
sections page-aligned (the INF asks for it, for firmware that protects
images), its depex the same bytes as tools/firmware/make_depex.py makes of
platform/SlotInventoryDxe.depex, and its INF naming the module as its binary
INF does and listing the sources our own image build compiles for that
platform.

    build_module.py EDK2_DIR SOURCE_DIR BUILD_DIR

The default platform's module is the package root's SlotInventoryDxe.inf;
every other platform of platforms/*/platform.json has its own in
platforms/NAME/generated/, built from the DSC lines generated beside it.
One `build` per tool chain the INFs serve (GCC5, and CLANGDWARF with
Debian's clang and lld) makes every module.

The workspace goes to BUILD_DIR/edk2-module (the package is a link there
named SlotInventoryPkg, the platform DSC is written beside it); the EDK2 tree
is only read. Prints the build times and the images' sizes. Exit 1 with a
message when anything is missing or wrong.
"""
import os
import pathlib
import posixpath
import re
import shutil
import struct
import subprocess
import sys
import time
from collections import namedtuple

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from edk2_workspace import build_environment, inf_defines, link_package, make_conf  # noqa: E402

TARGET, ARCH = "RELEASE", "X64"
TOOLCHAINS = ("GCC5", "CLANGDWARF")
# Where CLANGDWARF finds clang, llvm-ar and lld: Debian's own.
CLANG_BIN = "/usr/bin/"
PACKAGE = "SlotInventoryPkg"
MODULE = "SlotInventoryDxe"
PLATFORM_DSC = "SlotInventoryPlatforms.dsc"  # in the workspace, beside the package
PAGE = 0x1000

# A platform's source module: its INF (from the package root), the binary INF
# that must name the module alike, and its base name.
Module = namedtuple("Module", "platform inf binary_inf base_name")


def fail(message):
    print(f"build_module.py: {message}", file=sys.stderr)
    sys.exit(1)


def inf_sources(path):
    """The files an INF's [Sources] section lists."""
    sources, inside = [], False
    for line in path.read_text().splitlines():
        line = line.split("#", 1)[0].strip()
        if line.startswith("["):
            inside = line.split(".")[0].rstrip("]") == "[Sources"
        elif inside and line:
            sources.append(line.split("|")[0].strip())
    return sources


def cmake_setting(source, name):
    found = re.search(rf"set\({name} ([^)]*)\)", (source / "CMakeLists.txt").read_text())
    if not found:
        fail(f"CMakeLists.txt sets no {name}")
    return found.group(1).split()


def driver_sources(source, platform):
    """What our own build compiles into a platform's image: the .cpp files of
    the folders CMakeLists.txt names in DRIVER_DIRS, the platform's generated
    tables (checked in for its module), and the image's own two."""
    folders = cmake_setting(source, "DRIVER_DIRS") + [f"platforms/{platform}/generated"]
    files = [path.relative_to(source).as_posix()
             for folder in folders for path in (source / folder).glob("*.cpp")]
    return sorted(files) + ["image/image_support.cpp", "image/sideband_mmio.cpp"]


def platform_modules(source, out):
    """The default platform's module first, then every other platform's."""
    default = cmake_setting(source, "DEFAULT_PLATFORM")[0]
    modules = [Module(default, f"{MODULE}.inf", source / "platform" / f"{MODULE}.inf", MODULE)]
    for description in sorted((source / "platforms").glob("*/platform.json")):
        platform = description.parent.name
        if platform == default:
            continue
        infs = sorted((description.parent / "generated").glob("*.inf"))
        if len(infs) != 1:
            fail(f"platforms/{platform}/generated/ holds {len(infs)} INFs, not the one "
                 "tools/platform/generate.py writes")
        inf = infs[0]
        # The build writes the platform's binary INF when it configures.
        modules.append(Module(platform, inf.relative_to(source).as_posix(),
                              out / "platforms" / platform / "host" / inf.name, inf.stem))
    return modules


def check_inf(source, module):
    """The INF names the module as its binary INF does and lists what our own
    build compiles for the platform."""
    if not module.binary_inf.is_file():
        fail(f"no {module.binary_inf}: configure the build tree first")
    source_inf = inf_defines(source / module.inf)
    binary_inf = inf_defines(module.binary_inf)
    for key in ("FILE_GUID", "BASE_NAME", "VERSION_STRING", "MODULE_TYPE"):
        if source_inf.get(key) != binary_inf.get(key):
            fail(f"{key} is '{source_inf.get(key)}' in {module.inf} but "
                 f"'{binary_inf.get(key)}' in {module.binary_inf}")
    folder = posixpath.dirname(module.inf)
    listed = [posixpath.normpath(posixpath.join(folder, path))
              for path in inf_sources(source / module.inf)]
    built = driver_sources(source, module.platform)
    if sorted(listed) != sorted(built):
        fail(f"{module.inf}'s [Sources] and our own image build differ: only in the INF "
             f"{sorted(set(listed) - set(built))}, only in ours {sorted(set(built) - set(listed))}")


def write_platform_dsc(source, workspace, modules):
    """The package's own DSC with every other platform's generated DSC lines
    included, as a platform adds them."""
    text = (source / f"{PACKAGE}.dsc").read_text()
    for module in modules[1:]:
        lines = posixpath.join(posixpath.dirname(module.inf), f"{module.base_name}Source.dsc")
        text += f"\n!include {PACKAGE}/{lines}\n"
    (workspace / PLATFORM_DSC).write_text(text)


def elf_sections(path):
    """{name: size} of a 64-bit little-endian ELF file's sections."""
    data = path.read_bytes()
    if data[:4] != b"\x7fELF" or data[4] != 2:
        fail(f"{path} is not a 64-bit ELF file")
    table, = struct.unpack_from("<Q", data, 0x28)
    entry_size, count, names_index = struct.unpack_from("<HHH", data, 0x3A)
    headers = [struct.unpack_from("<IIQQQQ", data, table + i * entry_size) for i in range(count)]
    names = headers[names_index][4]
    sections = {}
    for name, _, _, _, _, size in headers:
        end = data.index(b"\0", names + name)
        sections[data[names + name:end].decode()] = size
    return sections


def build(edk2, workspace, toolchain):
    """One `build` of the platform DSC, making every module."""
    env = build_environment(edk2, workspace)
    env.setdefault("CLANG_BIN", CLANG_BIN)
    command = ["build", "-p", PLATFORM_DSC, "-a", ARCH, "-t", toolchain, "-b", TARGET, "-n", "2"]
    started = time.monotonic()
    result = subprocess.run(command, cwd=workspace, env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True)
    elapsed = time.monotonic() - started
    log = workspace / f"build-{toolchain}.log"
    log.write_text(result.stdout)
    if result.returncode != 0:
        tail = "\n".join(result.stdout.splitlines()[-40:])
        fail(f"EDK2's build failed (whole log in {log}):\n{tail}")
    return elapsed


def check_build(workspace, toolchain, module, depex_bytes, check_pe_image, pe_image):
    """The module one tool chain built: its image and depex, and no constructors."""
    products = workspace / "Build" / PACKAGE / f"{TARGET}_{toolchain}" / ARCH
    base = module.base_name
    built = products / PACKAGE / posixpath.dirname(module.inf) / base
    image = products / f"{base}.efi"
    depex = built / "OUTPUT" / f"{base}.depex"
    for path in (image, depex):
        if not path.is_file():
            fail(f"the build left no {path}")
    # EDK2 runs no constructors: a global one would silently never run.
    linked = built / "DEBUG" / f"{base}.dll"
    constructors = [name for name, size in elf_sections(linked).items()
                    if size and name.startswith((".init_array", ".ctors", ".preinit_array"))]
    if constructors:
        fail(f"{linked} has global constructors ({', '.join(constructors)}), which EDK2 never runs")
    # Image protection refuses an image whose sections share pages.
    alignment = pe_image.read_image(str(image)).section_alignment
    if alignment != PAGE:
        fail(f"{image} has SectionAlignment {alignment:#x}, not {PAGE:#x}: "
             "the INF's DLINK_FLAGS did not reach the link")
    # GenFw names the image by an NB10 record with its build path and marks no NX compatibility.
    problems = check_pe_image.check(str(image), "efi_boot_service_driver", our_build=False)
    if problems:
        fail(f"{image}: " + "; ".join(problems))
    theirs = depex.read_bytes()
    if depex_bytes != theirs:
        fail(f"{module.inf}'s [Depex] compiles to {theirs.hex()} in EDK2 ({toolchain}), "
             f"platform/{MODULE}.depex to {depex_bytes.hex()}")
    print(f"{base}.efi ({module.platform}) built by EDK2 ({toolchain} {TARGET} {ARCH}): "
          f"{image.stat().st_size} bytes, PE32+ boot-service driver, sections page-aligned")


def main():
    if len(sys.argv) != 4:
        fail("usage: build_module.py EDK2_DIR SOURCE_DIR BUILD_DIR")
    if not sys.argv[1]:
        fail("no EDK2 workspace known (scripts/fetch-edk2.sh --where names none): "
             "scripts/fetch-edk2.sh makes one")
    edk2, source, out = (pathlib.Path(arg).resolve() for arg in sys.argv[1:])
    if not (edk2 / "BaseTools" / "BinWrappers" / "PosixLike" / "build").is_file() or \
            not (edk2 / "MdePkg" / "MdePkg.dec").is_file():
        fail(f"no EDK2 workspace with built BaseTools at '{edk2}': scripts/fetch-edk2.sh makes one")
    sys.path.insert(0, str(source / "tools" / "firmware"))
    sys.path.insert(0, str(source / "image"))
    import check_pe_image
    import make_depex
    import pe_image
    import pi_firmware

    modules = platform_modules(source, out)
    for module in modules:
        check_inf(source, module)

    workspace = out / "edk2-module"
    # From scratch each time, so no object left from an earlier run hides a failure.
    shutil.rmtree(workspace / "Build", ignore_errors=True)
    make_conf(edk2, workspace)
    link_package(workspace, PACKAGE, source)
    write_platform_dsc(source, workspace, modules)
    depex_source = source / "platform" / f"{MODULE}.depex"
    try:
        ours = make_depex.compile_depex(depex_source.read_text(), str(depex_source))
    except pi_firmware.FirmwareError as error:
        fail(str(error))
    for toolchain in TOOLCHAINS:
        elapsed = build(edk2, workspace, toolchain)
        print(f"EDK2 built {len(modules)} modules with {toolchain} in {elapsed:.1f} s")
        for module in modules:
            check_build(workspace, toolchain, module, ours, check_pe_image, pe_image)
    print(f"depex: {len(ours)} bytes, EDK2's and make_depex.py's the same")
    return 0


if __name__ == "__main__":
    sys.exit(main())
