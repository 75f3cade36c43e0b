"""Writes a platform's EDK2 source module: the INF that builds its driver
from source, and the DSC and FDF lines a platform adds to build it.

The repository is the package (SlotInventoryPkg.dec at its root), so every
INF inside it reaches the driver's shared sources. A platform's module lives
in platforms/NAME/generated/ beside its tables: EDK2 puts an INF's folder on
the include path, which is how the shared sources find the tables' headers by
bare name, and the package root is on it too, for "include/...", "hw/..."
and the rest. The default platform's module is also written for the
package root (SlotInventoryDxe.inf, its lines in platform/), the one the
product's integration steps and the test command's OVMF build name.

The text depends only on the description and the repository: the package's
name, the version of the product's binary INF, and the .cpp files of the
folders the top-level CMakeLists.txt compiles into the driver.
"""
import os
import posixpath
import re
import textwrap

PACKAGE_DEC = "SlotInventoryPkg.dec"
# The one place the version is set; CMakeLists.txt reads it from here too.
VERSION_INF = "platform/SlotInventoryDxe.inf"
# What our own image build adds to the shared sources (image/firmware_file.cmake).
IMAGE_SOURCES = ["image/image_support.cpp", "image/sideband_mmio.cpp"]
CXX_OPTIONS = "image/edk2_cxx_options.gcc"
CLANG_WRAPPER = "image/edk2_clang_cxx.sh"

PROTOCOLS = ["gEfiSmbiosProtocolGuid", "gEfiHiiDatabaseProtocolGuid", "gEfiHiiStringProtocolGuid",
             "gEfiLoadedImageProtocolGuid", "gRegisterAccessProtocolGuid",
             "gEfiVariableArchProtocolGuid", "gEfiPciEnumerationCompleteProtocolGuid"]
# The terms of platform/SlotInventoryDxe.depex, in its order.
DEPEX = ["gEfiSmbiosProtocolGuid", "gEfiHiiDatabaseProtocolGuid", "gEfiHiiStringProtocolGuid",
         "gEfiVariableArchProtocolGuid", "gRegisterAccessProtocolGuid",
         "gEfiPciEnumerationCompleteProtocolGuid"]
NULL_LIBRARIES = ["DebugLib|MdePkg/Library/BaseDebugLibNull/BaseDebugLibNull.inf",
                  "PcdLib|MdePkg/Library/BasePcdLibNull/BasePcdLibNull.inf"]


class PackageError(Exception):
    pass


def _read(source_dir, name):
    try:
        with open(os.path.join(source_dir, name), encoding="utf-8") as handle:
            return handle.read()
    except OSError as problem:
        raise PackageError(f"{name} cannot be read ({problem.strerror})")


def _define(text, name, key):
    """The value of an INF's or DEC's `key = value` line."""
    found = re.search(rf"^[ \t]*{key}[ \t]*=[ \t]*(\S+)", text, re.M)
    if not found:
        raise PackageError(f"{name} sets no {key}")
    return found.group(1)


class Package:
    """What every platform's module takes from the repository."""

    def __init__(self, source_dir):
        self.name = _define(_read(source_dir, PACKAGE_DEC), PACKAGE_DEC, "PACKAGE_NAME")
        self.version = _define(_read(source_dir, VERSION_INF), VERSION_INF, "VERSION_STRING")
        cmake = _read(source_dir, "CMakeLists.txt")
        folders = re.search(r"^set\(DRIVER_DIRS ([^)]*)\)", cmake, re.M)
        if not folders:
            raise PackageError("CMakeLists.txt sets no DRIVER_DIRS")
        # In DRIVER_DIRS' order, each folder's files sorted.
        self.shared_sources = [path for folder in folders.group(1).split()
                               for path in _cpp_files(source_dir, folder)]


def _cpp_files(source_dir, folder):
    try:
        names = sorted(os.listdir(os.path.join(source_dir, folder)))
    except OSError as problem:
        raise PackageError(f"{folder}/, a folder of DRIVER_DIRS, cannot be read ({problem.strerror})")
    return [f"{folder}/{name}" for name in names if name.endswith(".cpp")]


def _file_comment(*paragraphs):
    """An EDK2 file's opening comment, each paragraph wrapped at 76 columns."""
    lines = []
    for paragraph in paragraphs:
        lines += (["#"] if lines else []) + textwrap.wrap(paragraph, 76, initial_indent="#  ",
                                                          subsequent_indent="#  ", break_on_hyphens=False)
    return "## @file\n" + "\n".join(lines) + "\n##\n\n"


def _generated(source):
    return f"Generated from {source} by tools/platform/generate.py; do not edit."


def module_folder(platform):
    """Where the platform's own module lives, from the package root."""
    return f"platforms/{platform.name}/generated"


def _from(folder, path):
    """path (from the package root) as an INF in folder names it."""
    return posixpath.relpath(path, folder or ".")


def source_inf(platform, source, package, folder, table_sources):
    """The INF of the platform's driver built from source, for an INF in
    folder (from the package root; "" for the root itself)."""
    tables = [f"{module_folder(platform)}/{name}" for name in table_sources]
    sources = "".join(f"  {_from(folder, path)}\n"
                      for path in package.shared_sources + tables + IMAGE_SOURCES)
    protocols = "".join(f"  {name.ljust(40)} ## CONSUMES\n" for name in PROTOCOLS)
    depex = "\n  AND ".join(DEPEX)
    return (
        _file_comment(f"{platform.base_name}, the {platform.name} platform's driver built from "
                      "source: rewrites the SMBIOS Type 9 (System Slots) and Type 41 (Onboard "
                      "Devices Extended Information) records once per boot. FILE_GUID, BASE_NAME "
                      "and VERSION_STRING are those of its binary module: a platform takes one or "
                      "the other.",
                      f"{_generated(source)} The version is the product's, from {VERSION_INF}.") +
        "[Defines]\n"
        "  INF_VERSION    = 0x00010017\n"
        f"  BASE_NAME      = {platform.base_name}\n"
        f"  FILE_GUID      = {platform.file_guid}\n"
        "  MODULE_TYPE    = DXE_DRIVER\n"
        f"  VERSION_STRING = {package.version}\n"
        "  ENTRY_POINT    = DriverEntry\n\n"
        "# The driver's shared sources, the platform's tables, the image's own two.\n"
        "# EDK2 puts the package root, the INF's folder and every source's folder on\n"
        "# the include path: the shared sources find \"include/...\", \"hw/...\" and the\n"
        "# tables' headers, which they include by bare name.\n"
        f"[Sources]\n{sources}\n"
        "[Packages]\n"
        "  MdePkg/MdePkg.dec\n"
        f"  {package.name}/{PACKAGE_DEC}\n\n"
        "[LibraryClasses]\n"
        "  UefiDriverEntryPoint\n\n"
        f"[Protocols]\n{protocols}\n"
        "[Guids]\n"
        f"  {'gEfiGlobalVariableGuid'.ljust(40)} ## CONSUMES ## Variable:L\"PlatformLang\"\n\n"
        "# The terms of platform/SlotInventoryDxe.depex, in the same order (why each\n"
        "# is there is said in that file); a test checks that both compile to the same bytes.\n"
        f"[Depex]\n  {depex}\n\n"
        "# SLOT_INVENTORY_EDK2 makes include/ take MdePkg's declarations. The C++-only\n"
        "# flags (language standard, no exceptions, RTTI or thread-safe statics) reach\n"
        "# only cc1plus through the specs file: given here they would reach AutoGen.c\n"
        "# too. CLANGDWARF, of the GCC family, has no specs files: its compiler is a\n"
        "# wrapper that adds them for C++ sources, and clang is told to let the specs\n"
        "# option pass unused.\n"
        "# Sections on pages of their own, whatever the platform links its drivers\n"
        "# with, so that a DXE core with image protection can protect this one (GNU\n"
        "# ld's script aligns on the common page size, 2022.11's clang script on the\n"
        "# maximum one).\n"
        "[BuildOptions]\n"
        "  GCC:*_*_*_CC_FLAGS = -DSLOT_INVENTORY_EDK2 -ffreestanding "
        f"-specs=$(MODULE_DIR)/{_from(folder, CXX_OPTIONS)}\n"
        "  GCC:*_CLANGDWARF_*_CC_FLAGS = -Wno-unused-command-line-argument\n"
        f"  GCC:*_CLANGDWARF_X64_CC_PATH = $(MODULE_DIR)/{_from(folder, CLANG_WRAPPER)}\n"
        "  GCC:*_*_*_DLINK_FLAGS = -z common-page-size=0x1000 -z max-page-size=0x1000\n")


def _inf_path(platform, package, folder):
    return posixpath.join(package.name, folder, f"{platform.base_name}.inf")


def dsc_lines(platform, source, package, folder):
    return (_file_comment(f"What a platform adds to its DSC to build {platform.base_name} from "
                          f"source, with the repository in the workspace as {package.name}/. The "
                          "null DebugLib and PcdLib keep the module's depex exactly the binary "
                          "module's: a DxePcdLib would add the PCD protocol to it.",
                          _generated(source)) +
            "[Components]\n"
            f"  {_inf_path(platform, package, folder)} {{\n"
            "    <LibraryClasses>\n" +
            "".join(f"      {line}\n" for line in NULL_LIBRARIES) +
            "  }\n")


def fdf_lines(platform, source, package, folder):
    return (_file_comment(f"What a platform adds to its FDF to carry {platform.base_name} built "
                          "from source; the platform's own [Rule.Common.DXE_DRIVER] makes its "
                          "sections.", _generated(source)) +
            "# In the volume the DXE dispatcher walks, after the platform's own SMBIOS\n"
            "# producers, so that its records are there to be replaced:\n"
            "[FV.DXEFV]\n"
            f"INF  {_inf_path(platform, package, folder)}\n")


def module_files(platform, source, package, table_sources, at_root=False):
    """{path: text} of the platform's source module: its INF and the DSC and
    FDF lines that build it, in its own folder (the names beside its tables),
    or at the package root (the INF there, the lines in platform/)."""
    folder = "" if at_root else module_folder(platform)
    lines = "platform/" if at_root else ""
    base = platform.base_name
    return {f"{base}.inf": source_inf(platform, source, package, folder, table_sources),
            f"{lines}{base}Source.dsc": dsc_lines(platform, source, package, folder),
            f"{lines}{base}Source.fdf": fdf_lines(platform, source, package, folder)}
