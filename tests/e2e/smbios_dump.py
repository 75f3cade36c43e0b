"""SMBIOS tables as the harness and Linux export them, dmidecode's dump form,
the driver's records in them and the one comparison of ours with the
simulator's; the driver's HII package list."""
import struct

DUMP_TABLE_OFFSET = 0x20


def checksum_fix(data, length, at):
    data[at] = 0
    data[at] = (-sum(data[:length])) & 0xFF


def dump_image(report):
    """dmidecode's binary dump form (entry point at 0, table at 0x20) of the
    table the harness printed, preferring the SMBIOS 3 entry point."""
    for kind in ("smbios3", "smbios"):
        entry = report.first(f"{kind}-entry")
        table = report.first(f"{kind}-table")
        if entry is None or table is None:
            continue
        return dump_bin(entry["hex"], table["hex"])
    return None


def dump_bin(entry_point, table):
    """dmidecode's binary dump form of an entry point ("_SM3_" or "_SM_") and
    its table: the entry point's table address rewritten to 0x20."""
    point = bytearray(entry_point)
    if point[:5] == b"_SM3_":
        struct.pack_into("<Q", point, 0x10, DUMP_TABLE_OFFSET)
        checksum_fix(point, point[6], 5)
    else:
        struct.pack_into("<I", point, 0x18, DUMP_TABLE_OFFSET)
        intermediate = bytearray(point[0x10:0x1F])
        checksum_fix(intermediate, len(intermediate), 5)
        point[0x10:0x1F] = intermediate
        checksum_fix(point, point[5], 4)
    return bytes(point).ljust(DUMP_TABLE_OFFSET, b"\0") + bytes(table)


def table_records(table):
    """[(type, handle, bytes)] of the structures in a table, up to and
    including the end-of-table structure."""
    records = []
    at = 0
    while at + 4 <= len(table):
        record_type, length, handle = struct.unpack_from("<BBH", table, at)
        if length < 4:
            break
        end = table.find(b"\0\0", at + length)
        if end < 0:
            break
        records.append((record_type, handle, bytes(table[at:end + 2])))
        at = end + 2
        if record_type == 127:
            break
    return records


def dump_records(dump):
    return table_records(dump[DUMP_TABLE_OFFSET:])


def record_strings(record):
    length = record[1]
    area = record[length:-1]
    if area == b"\0":
        return []
    return [text.decode("latin-1") for text in area[:-1].split(b"\0")]


def without_handle(record):
    return record[:2] + b"\0\0" + record[4:]


def inventory_records(records):
    return [record for record_type, _, record in records if record_type in (9, 41)]


def compare_inventory(actual, expected):
    """Problems found comparing the driver's Type 9 and 41 records from QEMU
    with the simulator's, handles aside; empty when byte-identical."""
    got = [without_handle(record) for record in inventory_records(actual)]
    want = [without_handle(record) for record in inventory_records(expected)]
    if got == want:
        return []
    if sorted(got) == sorted(want):
        return ["same Type 9/41 records as the simulator, in a different order"]
    problems = [f"{len(got)} Type 9/41 records, the simulator has {len(want)}"] if len(got) != len(want) else []
    for i, (mine, theirs) in enumerate(zip(got, want)):
        if mine != theirs:
            problems.append(f"record {i}: qemu {mine.hex()} simulator {theirs.hex()}")
    return problems


def raw_smbios_structure(record_type, formatted, strings, handle=0):
    """One SMBIOS structure: formatted bytes after the header, then strings."""
    body = struct.pack("<BBH", record_type, 4 + len(formatted), handle) + bytes(formatted)
    area = b"".join(text.encode("ascii") + b"\0" for text in strings)
    return body + (area + b"\0" if area else b"\0\0")


# --- The driver's HII package list ------------------------------------------

def guid_bytes(text):
    parts = text.split("-")
    return (struct.pack("<IHH", int(parts[0], 16), int(parts[1], 16), int(parts[2], 16)) +
            bytes.fromhex(parts[3] + parts[4]))


def package_strings(package):
    """The UCS-2 strings of a string package, in block order; None when the
    package holds a block this reader does not follow."""
    header_size = struct.unpack_from("<I", package, 4)[0]
    at = header_size
    strings = []
    while at < len(package):
        block = package[at]
        if block == 0x00:
            return strings
        if block != 0x14:
            return None
        end = at + 1
        while end + 1 < len(package) and package[end:end + 2] != b"\0\0":
            end += 2
        strings.append(package[at + 1:end].decode("utf-16-le"))
        at = end + 2
    return None


def package_list_bytes(platform):
    """The package list the platform's driver registers: its header under the
    driver's file GUID, one string package (one UCS-2 block per string, in id
    order) and the end package. The floor driver registers the same."""
    language = platform.language.encode("ascii") + b"\0"
    header_size = 46 + len(language)
    blocks = b"".join(b"\x14" + text.encode("utf-16-le") + b"\0\0" for text in platform.strings) + b"\0"
    package_length = header_size + len(blocks)
    package = (package_length.to_bytes(3, "little") + b"\x04" + struct.pack("<II", header_size, header_size) +
               b"\0" * 32 + struct.pack("<H", platform.language_name_id) + language + blocks)
    end = struct.pack("<I", 4)[:3] + b"\xDF"
    length = 20 + len(package) + len(end)
    return guid_bytes(platform.file_guid) + struct.pack("<I", length) + package + end
