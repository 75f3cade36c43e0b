#!/usr/bin/env python3
"""Compares our declarations in include/ with EDK2's MdePkg, compiled side by side.

    compare_headers.py EDK2_DIR SOURCE_DIR WORK_DIR CXX

Reads every structure, integer constant, enumerator and GUID that include/
declares, writes two programs that print each one's facts (a structure's size
and every member's offset, a constant's value, a GUID's bytes), one built on
our headers and one on MdePkg's (GUIDs from the DECs, as EDK2's AutoGen.c
takes them), and compares what they print. A difference not listed in
DELIBERATE below fails, and so does a listed one that no longer differs.
WORK_DIR (in the build tree) holds the generated programs, which the C++
compiler CXX builds.
"""
import os
import pathlib
import re
import subprocess
import sys

# Ours only: what MdePkg has no counterpart of (the board's protocol, our
# helpers and derived sizes).
OURS_ONLY = {
    "PciConfigAddressDescriptor", "RegisterAccessProtocol",
    "EFI_ERROR_BIT", "ACPI_MCFG_ALLOCATIONS_OFFSET", "SMBIOS_21_INTERMEDIATE_LENGTH",
    "PCI_DESCRIPTOR_BUS_SHIFT", "PCI_DESCRIPTOR_DEVICE_SHIFT", "PCI_DESCRIPTOR_FUNCTION_SHIFT",
    "PCI_DESCRIPTOR_WORD2", "RECORD_BUFFER_SIZE", "RECORD_STRING_LIMIT", "RECORD_DESIGNATION_OFFSET",
    "SMBIOS_TYPE9_LENGTH", "SMBIOS_TYPE41_LENGTH", "SLOT_CHARACTERISTICS1_PROVIDES_3_3V",
    "SMBIOS_TYPE9_DATA_BUS_WIDTH_OFFSET", "SMBIOS_TYPE9_PEER_GROUPING_COUNT_OFFSET",
    "SMBIOS_TYPE9_PEER_GROUPS_OFFSET", "SMBIOS_TYPE9_PEER_GROUP_SIZE", "SMBIOS_TYPE9_LENGTH_32",
    "SMBIOS_TYPE9_LENGTH_34", "SMBIOS_TYPE9_LENGTH_35",
    "SLOT_CHARACTERISTICS2_PME_AND_SMBUS", "ONBOARD_DEVICE_ENABLED", "DEVICE_PATH_NODE_HEADER_SIZE",
    "EFI_HII_STRING_PACKAGE_FIXED_SIZE", "EFI_FILE_POSITION_END",
    "EFI_SYSTEM_TABLE_SIGNATURE", "EFI_BOOT_SERVICES_SIGNATURE", "EFI_RUNTIME_SERVICES_SIGNATURE",
}

# Our name -> MdePkg's, where they differ.
RENAMED = {
    "SMBIOS_ENTRY_POINT_21": "SMBIOS_TABLE_ENTRY_POINT",
    "SMBIOS_ENTRY_POINT_30": "SMBIOS_TABLE_3_0_ENTRY_POINT",
    "ACPI_RSDP": "EFI_ACPI_6_4_ROOT_SYSTEM_DESCRIPTION_POINTER",
    "ACPI_DESCRIPTION_HEADER": "EFI_ACPI_DESCRIPTION_HEADER",
    "ACPI_MCFG_ALLOCATION":
        "EFI_ACPI_MEMORY_MAPPED_ENHANCED_CONFIGURATION_SPACE_BASE_ADDRESS_ALLOCATION_STRUCTURE",
    "ACPI_XSDT_SIGNATURE": "EFI_ACPI_6_4_EXTENDED_SYSTEM_DESCRIPTION_TABLE_SIGNATURE",
    "ACPI_MCFG_SIGNATURE":
        "EFI_ACPI_6_4_PCI_EXPRESS_MEMORY_MAPPED_CONFIGURATION_SPACE_BASE_ADDRESS_DESCRIPTION_TABLE_SIGNATURE",
    "EFI_NATIVE_INTERFACE": "EFI_NATIVE_INTERFACE",
    "EFI_LOADED_IMAGE_PROTOCOL_REVISION": "EFI_LOADED_IMAGE_PROTOCOL_REVISION",
    "EFI_ACPI_20_TABLE_GUID": "gEfiAcpi20TableGuid",
    "SMBIOS_TABLE_GUID": "gEfiSmbiosTableGuid",
    "SMBIOS3_TABLE_GUID": "gEfiSmbios3TableGuid",
    "EFI_DEVICE_PATH_PROTOCOL_GUID": "gEfiDevicePathProtocolGuid",
    "EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID": "gEfiSimpleFileSystemProtocolGuid",
}
MEMBER_RENAMED = {
    ("SMBIOS_ENTRY_POINT_21", "EntryPointChecksum"): "EntryPointStructureChecksum",
    ("SMBIOS_ENTRY_POINT_21", "IntermediateAnchor"): "IntermediateAnchorString",
    ("SMBIOS_ENTRY_POINT_21", "NumberOfStructures"): "NumberOfSmbiosStructures",
    ("SMBIOS_ENTRY_POINT_21", "BcdRevision"): "SmbiosBcdRevision",
    ("SMBIOS_ENTRY_POINT_30", "EntryPointChecksum"): "EntryPointStructureChecksum",
}
# MdePkg declares these as bit-fields, which have no offset to compare; the
# structure's size still is.
BIT_FIELDS = {("EFI_HII_PACKAGE_HEADER", "Length"), ("EFI_HII_PACKAGE_HEADER", "Type")}

# Differences we chose, each explained beside our declaration.
DELIBERATE = {
    # include/smbios_records.h: the formatted area as of SMBIOS 2.6, which is
    # what the driver writes; MdePkg's goes on to the 3.2 peer groups.
    "SMBIOS_TABLE_TYPE9 size",
    # include/uefi_hii.h: our header stops before the language code; MdePkg's
    # counts its first byte.
    "EFI_HII_STRING_PACKAGE_HDR size",
    # include/uefi_file.h: the revision 1 members, all the test code calls;
    # MdePkg's goes on with revision 2's.
    "EFI_FILE_PROTOCOL size",
}

HEADERS_OURS = ["uefi_base.h", "uefi_system_table.h", "uefi_loaded_image.h", "uefi_hii.h",
                "uefi_console.h", "uefi_file.h", "pi_smbios.h", "smbios_records.h",
                "smbios_entry_point.h", "acpi_tables.h", "register_access.h", "guids.h"]
HEADERS_EDK2 = ["PiDxe.h", "Protocol/Smbios.h", "Protocol/HiiDatabase.h", "Protocol/HiiString.h",
                "Protocol/LoadedImage.h", "Protocol/SimpleFileSystem.h",
                "IndustryStandard/SmBios.h", "IndustryStandard/Acpi.h",
                "IndustryStandard/MemoryMappedConfigurationSpaceAccessTable.h"]

STRUCT = re.compile(r"^struct (?:__attribute__\(\(packed\)\) )?(\w+) \{\n(.*?)\n\};", re.M | re.S)
MEMBER = re.compile(r"^\s+[\w\s\*]+?\**(\w+)(?:\[[^\]]*\])?;", re.M)
CONSTANT = re.compile(r"^inline constexpr (\w+) (\w+) =", re.M)
ENUM = re.compile(r"^enum \w+ : \w+ \{\n(.*?)\n\};", re.M | re.S)
ENUMERATOR = re.compile(r"^\s+(\w+) = ", re.M)
DEC_GUID = re.compile(r"^\s*(g\w+)\s*=\s*(\{.*\})\s*$", re.M)
FILE_GUID = re.compile(r"^\s*FILE_GUID\s*=\s*(\S+)", re.M)


def fail(message):
    print(f"compare_headers.py: {message}", file=sys.stderr)
    sys.exit(1)


def our_declarations(include):
    structs, constants, guids = {}, [], []
    for name in HEADERS_OURS:
        text = (include / name).read_text()
        # Only our own declarations: what an EDK2 build takes from MdePkg instead.
        text = re.sub(r"^#if defined\(SLOT_INVENTORY_EDK2\)\n.*?^#else\n", "", text, flags=re.M | re.S)
        text = re.sub(r"//[^\n]*", "", text)
        for match in STRUCT.finditer(text):
            structs[match.group(1)] = MEMBER.findall(match.group(2))
        for kind, constant in CONSTANT.findall(text):
            (guids if kind == "EFI_GUID" else constants).append(constant)
        for match in ENUM.finditer(text):
            constants += ENUMERATOR.findall(match.group(1))
    return structs, constants, guids


def dec_guids(*decs):
    guids = {}
    for dec in decs:
        for name, value in DEC_GUID.findall(dec.read_text()):
            guids[name] = value
    return guids


def guid_initializer(text):
    """A registry-format GUID as a C initializer."""
    parts = text.split("-")
    tail = parts[3] + parts[4]
    data4 = ", ".join(f"0x{tail[i:i + 2]}" for i in range(0, 16, 2))
    return f"{{0x{parts[0]}, 0x{parts[1]}, 0x{parts[2]}, {{{data4}}}}}"


def program(headers, facts):
    # <cstdio> first: MdePkg's ProcessorBind.h makes what follows it hidden.
    lines = ["#include <cstdio>"] + [f"#include <{header}>" for header in headers]
    lines += ["static void Guid(const char *key, const void *guid) {",
              "  const unsigned char *b = static_cast<const unsigned char *>(guid);",
              "  std::printf(\"%s \", key);",
              "  for (int i = 0; i < 16; i++) std::printf(\"%02x\", b[i]);",
              "  std::printf(\"\\n\");", "}", "int main() {"]
    lines += [f"  {fact}" for fact in facts]
    lines += ["  return 0;", "}", ""]
    return "\n".join(lines)


def facts_for(structs, constants, guids, ours, guid_values):
    """The printing statements of one side; ours names ours, otherwise MdePkg's."""
    facts, keys = [], []

    def value(key, expression):
        keys.append(key)
        facts.append(f'std::printf("%s %llu\\n", "{key}", (unsigned long long)({expression}));')

    for struct, members in structs.items():
        if struct in OURS_ONLY:
            continue
        name = struct if ours else RENAMED.get(struct, struct)
        value(f"{struct} size", f"sizeof({name})")
        for member in members:
            if (struct, member) in BIT_FIELDS:
                continue
            field = member if ours else MEMBER_RENAMED.get((struct, member), member)
            value(f"{struct}.{member} offset", f"__builtin_offsetof({name}, {field})")
    for constant in constants:
        if constant in OURS_ONLY:
            continue
        value(f"{constant} value", constant if ours else RENAMED.get(constant, constant))
    for index, guid in enumerate(guids):
        keys.append(f"{guid} bytes")
        if ours:
            facts.append(f'Guid("{guid} bytes", &{guid});')
        else:
            facts.append(f"static const EFI_GUID edk2_{index} = {guid_values[guid]};")
            facts.append(f'Guid("{guid} bytes", &edk2_{index});')
    return facts, keys


def build_and_run(compiler, source, binary, includes, work, flags=()):
    source_path = work / source
    command = [compiler, "-std=c++20", "-w", *flags, "-o", str(work / binary), str(source_path)]
    command += [f"-I{include}" for include in includes]
    # The compiler's temporary files go to the work directory too.
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                            env=dict(os.environ, TMPDIR=str(work)))
    if result.returncode != 0:
        fail(f"{source_path} does not compile:\n{result.stdout[-4000:]}")
    output = subprocess.run([str(work / binary)], stdout=subprocess.PIPE, text=True, check=True).stdout
    return dict(line.rsplit(" ", 1) for line in output.splitlines())


def main():
    if len(sys.argv) != 5:
        fail("usage: compare_headers.py EDK2_DIR SOURCE_DIR WORK_DIR CXX")
    if not sys.argv[1]:
        fail("no EDK2 workspace known (scripts/fetch-edk2.sh --where names none): "
             "scripts/fetch-edk2.sh fetches one")
    edk2, source, work = (pathlib.Path(arg).resolve() for arg in sys.argv[1:4])
    compiler = sys.argv[4]
    mdepkg = edk2 / "MdePkg"
    if not (mdepkg / "Include" / "Uefi.h").is_file():
        fail(f"no MdePkg headers under '{edk2}': scripts/fetch-edk2.sh fetches the EDK2 source")
    work.mkdir(parents=True, exist_ok=True)

    structs, constants, guids = our_declarations(source / "include")
    guid_values = dec_guids(mdepkg / "MdePkg.dec", source / "SlotInventoryPkg.dec")
    inf = (source / "SlotInventoryDxe.inf").read_text()
    guid_values["SLOT_INVENTORY_DRIVER_FILE_GUID"] = guid_initializer(FILE_GUID.search(inf).group(1))
    for guid in guids:
        dec_name = RENAMED.get(guid, guid)
        if dec_name not in guid_values:
            fail(f"{guid}: no GUID named {dec_name} in MdePkg.dec or SlotInventoryPkg.dec")
        guid_values[guid] = guid_values[dec_name]

    our_facts, keys = facts_for(structs, constants, guids, True, guid_values)
    edk2_facts, _ = facts_for(structs, constants, guids, False, guid_values)
    (work / "ours.cpp").write_text(program(HEADERS_OURS, our_facts))
    (work / "edk2.cpp").write_text(program(HEADERS_EDK2, edk2_facts))
    ours = build_and_run(compiler, "ours.cpp", "ours", [source / "include"], work)
    theirs = build_and_run(compiler, "edk2.cpp", "edk2",
                           [mdepkg / "Include", mdepkg / "Include" / "X64"], work,
                           ["-fshort-wchar"])  # as EDK2 builds: its CHAR16 literals are L"".

    unexpected, deliberate = [], []
    for key in keys:
        if ours[key] != theirs[key]:
            (deliberate if key in DELIBERATE else unexpected).append(
                f"{key}: ours {ours[key]}, MdePkg {theirs[key]}")
    stale = sorted(DELIBERATE - {line.split(":")[0] for line in deliberate})
    for line in deliberate:
        print(f"deliberate: {line}")
    for line in unexpected:
        print(f"DIFFERENT: {line}")
    for key in stale:
        print(f"listed as deliberate but the same now: {key}")
    struct_count = sum(1 for struct in structs if struct not in OURS_ONLY)
    member_count = sum(1 for key in keys if key.endswith(" offset"))
    print(f"compared {len(keys)} declarations with MdePkg's: {struct_count} structures "
          f"({member_count} member offsets), {sum(1 for k in keys if k.endswith(' value'))} "
          f"constants and enumerators, {len(guids)} GUIDs; {len(deliberate)} deliberate "
          f"differences, {len(unexpected)} unexpected")
    return 1 if unexpected or stale else 0


if __name__ == "__main__":
    sys.exit(main())
