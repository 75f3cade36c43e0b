"""PI firmware storage layouts: volumes, firmware files and their sections.

Every layout is declared once here as a struct format with its size checked;
the tools build and walk firmware images only through these functions.
"""
import os
import struct
import tempfile
import uuid


class FirmwareError(Exception):
    """Input that is not what it claims to be; the message names what is wrong."""


# EFI_FIRMWARE_VOLUME_HEADER up to its block map
FV_HEADER = struct.Struct("<16s16sQIIHHHBB")
assert FV_HEADER.size == 56
FV_BLOCK_MAP_ENTRY = struct.Struct("<II")
FV_SIGNATURE = 0x4856465F  # "_FVH"
FVB2_ERASE_POLARITY = 0x00000800
# EFI_FIRMWARE_VOLUME_EXT_HEADER and EFI_FIRMWARE_VOLUME_EXT_ENTRY
FV_EXT_HEADER = struct.Struct("<16sI")
assert FV_EXT_HEADER.size == 20
FV_EXT_ENTRY = struct.Struct("<HH")
FV_EXT_TYPE_USED_SIZE = 0x03

# EFI_FFS_FILE_HEADER and the ExtendedSize EFI_FFS_FILE_HEADER2 appends
FILE_HEADER = struct.Struct("<16sBBBB3sB")
assert FILE_HEADER.size == 24
FILE_HEADER2_SIZE = struct.Struct("<Q")
assert FILE_HEADER.size + FILE_HEADER2_SIZE.size == 32
FILE_ALIGNMENT = 8
MAX_SMALL_SIZE = 0xFFFFFF

FFS_ATTRIB_LARGE_FILE = 0x01
FFS_ATTRIB_DATA_ALIGNMENT_2 = 0x02
FFS_ATTRIB_FIXED = 0x04
FFS_ATTRIB_DATA_ALIGNMENT = 0x38
FFS_ATTRIB_CHECKSUM = 0x40
FFS_FIXED_CHECKSUM = 0xAA

# A file's state once complete: header and data valid, as bits cleared from an
# erased (all ones) byte when the volume's erase polarity is 1.
EFI_FILE_HEADER_CONSTRUCTION = 0x01
EFI_FILE_HEADER_VALID = 0x02
EFI_FILE_DATA_VALID = 0x04
EFI_FILE_DELETED = 0x10
VALID_STATE = EFI_FILE_HEADER_CONSTRUCTION | EFI_FILE_HEADER_VALID | EFI_FILE_DATA_VALID

FILE_TYPES = {
    "raw": 0x01, "freeform": 0x02, "sec": 0x03, "pei_core": 0x04, "dxe_core": 0x05,
    "peim": 0x06, "driver": 0x07, "combined_peim_driver": 0x08, "application": 0x09,
    "mm": 0x0A, "fv_image": 0x0B, "combined_mm_dxe": 0x0C, "mm_core": 0x0D,
    "mm_standalone": 0x0E, "mm_core_standalone": 0x0F, "pad": 0xF0,
}

# Data alignment in bytes by the three DATA_ALIGNMENT bits, without and with DATA_ALIGNMENT_2
DATA_ALIGNMENTS = ((1, 16, 128, 512, 1024, 4096, 32768, 65536),
                   (1 << 17, 1 << 18, 1 << 19, 1 << 20, 1 << 21, 1 << 22, 1 << 23, 1 << 24))

# EFI_COMMON_SECTION_HEADER and EFI_COMMON_SECTION_HEADER2
SECTION_HEADER = struct.Struct("<3sB")
assert SECTION_HEADER.size == 4
SECTION_HEADER2_SIZE = struct.Struct("<I")
SECTION_ALIGNMENT = 4
SECTION_TYPES = {
    "compression": 0x01, "guid_defined": 0x02, "disposable": 0x03, "pe32": 0x10,
    "pic": 0x11, "te": 0x12, "dxe_depex": 0x13, "version": 0x14, "user_interface": 0x15,
    "compatibility16": 0x16, "fv_image": 0x17, "freeform_subtype_guid": 0x18, "raw": 0x19,
    "pei_depex": 0x1B, "mm_depex": 0x1C,
}
# EFI_GUID_DEFINED_SECTION after the common header
GUID_DEFINED_FIELDS = struct.Struct("<16sHH")
assert GUID_DEFINED_FIELDS.size == 20
EFI_GUIDED_SECTION_PROCESSING_REQUIRED = 0x01
# EFI_VERSION_SECTION's BuildNumber
VERSION_BUILD_NUMBER = struct.Struct("<H")

LZMA_CUSTOM_DECOMPRESS_GUID = "EE4E5898-3914-4259-9D6E-DC7BD79403CF"
FFS2_FILE_SYSTEM_GUID = "8C8CE578-8A3D-4F1C-9935-896185C32DD3"
FFS3_FILE_SYSTEM_GUID = "5473C07A-3DCB-4DCA-BD6F-1E9689E7349A"


def align(value, alignment):
    return (value + alignment - 1) // alignment * alignment


def guid_bytes(text):
    """A GUID in registry form (8-4-4-4-12) as EFI_GUID bytes."""
    try:
        return uuid.UUID(text.strip()).bytes_le
    except ValueError:
        raise FirmwareError(f"not a GUID: {text!r}") from None


def guid_text(raw):
    return str(uuid.UUID(bytes_le=bytes(raw))).upper()


def checksum8(data):
    """The byte that makes data's 8-bit sum zero."""
    return (-sum(data)) & 0xFF


def checksum16(data):
    words = struct.unpack(f"<{len(data) // 2}H", data)
    return (-sum(words)) & 0xFFFF


def ucs2z(text):
    return text.encode("utf-16-le") + b"\0\0"


# ---- sections ------------------------------------------------------------------------------

def section(type_name, body):
    """One section: a common header (the extended one when the size needs it) and body."""
    kind = SECTION_TYPES[type_name]
    size = SECTION_HEADER.size + len(body)
    if size < MAX_SMALL_SIZE:
        return SECTION_HEADER.pack(size.to_bytes(3, "little"), kind) + body
    size += SECTION_HEADER2_SIZE.size
    return (SECTION_HEADER.pack(b"\xff\xff\xff", kind) + SECTION_HEADER2_SIZE.pack(size) + body)


def join_sections(sections):
    """Sections back to back, each starting 4-byte aligned within the file."""
    out = bytearray()
    for item in sections:
        out += b"\0" * (align(len(out), SECTION_ALIGNMENT) - len(out))
        out += item
    return bytes(out)


def parse_sections(data, where):
    """[(type, header_size, offset, bytes)] of a run of sections; raises on a bad size."""
    sections = []
    offset = 0
    while align(offset, SECTION_ALIGNMENT) < len(data):
        offset = align(offset, SECTION_ALIGNMENT)
        if offset + SECTION_HEADER.size > len(data):
            raise FirmwareError(f"{where}: truncated section header at {offset:#x}")
        raw_size, kind = SECTION_HEADER.unpack_from(data, offset)
        size = int.from_bytes(raw_size, "little")
        header = SECTION_HEADER.size
        if size == MAX_SMALL_SIZE:
            if offset + 8 > len(data):
                raise FirmwareError(f"{where}: truncated section header at {offset:#x}")
            size = SECTION_HEADER2_SIZE.unpack_from(data, offset + 4)[0]
            header += SECTION_HEADER2_SIZE.size
        if size < header or offset + size > len(data):
            raise FirmwareError(f"{where}: section at {offset:#x} has size {size:#x} "
                                f"outside its {len(data):#x} bytes")
        sections.append((kind, header, offset, data[offset:offset + size]))
        offset += size
    return sections


def guid_defined_fields(raw_section, header_size):
    """(definition GUID text, data offset, attributes) of a GUID-defined section."""
    guid, data_offset, attributes = GUID_DEFINED_FIELDS.unpack_from(raw_section, header_size)
    return guid_text(guid), data_offset, attributes


def guid_defined_section(guid, attributes, header_extra, payload):
    """A GUID-defined section around payload, keeping any bytes between the fields and data."""
    fields_size = GUID_DEFINED_FIELDS.size + len(header_extra)
    for header_size in (SECTION_HEADER.size, SECTION_HEADER.size + SECTION_HEADER2_SIZE.size):
        data_offset = header_size + fields_size
        size = data_offset + len(payload)
        if (size < MAX_SMALL_SIZE) == (header_size == SECTION_HEADER.size):
            break
    kind = SECTION_TYPES["guid_defined"]
    if header_size == SECTION_HEADER.size:
        header = SECTION_HEADER.pack(size.to_bytes(3, "little"), kind)
    else:
        header = SECTION_HEADER.pack(b"\xff\xff\xff", kind) + SECTION_HEADER2_SIZE.pack(size)
    return (header + GUID_DEFINED_FIELDS.pack(guid_bytes(guid), data_offset, attributes)
            + header_extra + payload)


# ---- firmware files ------------------------------------------------------------------------

class FirmwareFile:
    """One file of a volume: its bytes and what its header says."""

    def __init__(self, raw, offset=0):
        self.raw = bytes(raw)
        self.offset = offset
        if len(self.raw) < FILE_HEADER.size:
            raise FirmwareError(f"file at {offset:#x}: {len(self.raw)} bytes is shorter than "
                                "a file header")
        (name, self.header_checksum, self.file_checksum, self.type, self.attributes,
         raw_size, self.state) = FILE_HEADER.unpack_from(self.raw, 0)
        self.name = guid_text(name)
        self.header_size = FILE_HEADER.size
        self.size = int.from_bytes(raw_size, "little")
        if self.attributes & FFS_ATTRIB_LARGE_FILE:
            if len(self.raw) < FILE_HEADER.size + FILE_HEADER2_SIZE.size:
                raise FirmwareError(f"file {self.name}: truncated large-file header")
            self.header_size += FILE_HEADER2_SIZE.size
            self.size = FILE_HEADER2_SIZE.unpack_from(self.raw, FILE_HEADER.size)[0]

    @property
    def data(self):
        return self.raw[self.header_size:]

    @property
    def data_alignment(self):
        bits = (self.attributes & FFS_ATTRIB_DATA_ALIGNMENT) >> 3
        return DATA_ALIGNMENTS[1 if self.attributes & FFS_ATTRIB_DATA_ALIGNMENT_2 else 0][bits]

    def sections(self):
        return parse_sections(self.data, f"file {self.name}")


def file_state_byte(state_bits, erase_polarity):
    return (~state_bits & 0xFF) if erase_polarity else state_bits


def build_file(guid, type_value, attributes, data, erase_polarity=1):
    """A complete firmware file: header checksum, file checksum (or the fixed value), state.

    attributes may carry FFS_ATTRIB_CHECKSUM and alignment bits; LARGE_FILE is decided here.
    """
    attributes &= ~FFS_ATTRIB_LARGE_FILE
    size = FILE_HEADER.size + len(data)
    extended = b""
    raw_size = size.to_bytes(3, "little") if size <= MAX_SMALL_SIZE else None
    if raw_size is None:
        size += FILE_HEADER2_SIZE.size
        attributes |= FFS_ATTRIB_LARGE_FILE
        raw_size = b"\0\0\0"
        extended = FILE_HEADER2_SIZE.pack(size)
    file_checksum = (checksum8(data) if attributes & FFS_ATTRIB_CHECKSUM
                     else FFS_FIXED_CHECKSUM)
    name = guid_bytes(guid) if isinstance(guid, str) else bytes(guid)
    # The header checksum is taken with the file checksum and the state as zero.
    provisional = FILE_HEADER.pack(name, 0, 0, type_value, attributes, raw_size, 0) + extended
    header = FILE_HEADER.pack(name, checksum8(provisional), file_checksum, type_value,
                              attributes, raw_size,
                              file_state_byte(VALID_STATE, erase_polarity)) + extended
    return header + data


def rebuild_file(old, data, erase_polarity):
    """old's name, type and attributes around new data."""
    return build_file(old.name, old.type, old.attributes, data, erase_polarity)


def pad_file(size, erase_polarity):
    """A pad file filling exactly size bytes (size >= 24) of a volume."""
    fill = b"\xff" if erase_polarity else b"\0"
    name = b"\xff" * 16
    return build_file(name, FILE_TYPES["pad"], 0, fill * (size - FILE_HEADER.size), erase_polarity)


def check_file(raw, where, erase_polarity=1):
    """Raises FirmwareError unless raw is one complete, valid firmware file."""
    try:
        item = FirmwareFile(raw)
    except FirmwareError as error:
        raise FirmwareError(f"{where}: {error}") from None
    if item.size != len(raw):
        raise FirmwareError(f"{where}: header says {item.size:#x} bytes but it holds {len(raw):#x}")
    if item.size < item.header_size:
        raise FirmwareError(f"{where}: size {item.size:#x} is smaller than its header")
    header = bytearray(raw[:item.header_size])
    header[17] = 0
    header[23] = 0
    if sum(header) & 0xFF:
        raise FirmwareError(f"{where}: bad header checksum")
    if item.attributes & FFS_ATTRIB_CHECKSUM:
        if (sum(item.data) + item.file_checksum) & 0xFF:
            raise FirmwareError(f"{where}: bad file checksum")
    elif item.file_checksum != FFS_FIXED_CHECKSUM:
        raise FirmwareError(f"{where}: no file checksum attribute but checksum "
                            f"{item.file_checksum:#04x}, not {FFS_FIXED_CHECKSUM:#04x}")
    if item.type not in FILE_TYPES.values():
        raise FirmwareError(f"{where}: unknown file type {item.type:#04x}")
    if item.state != file_state_byte(VALID_STATE, erase_polarity):
        raise FirmwareError(f"{where}: state {item.state:#04x} is not a valid, complete file")
    return item


# ---- firmware volumes ----------------------------------------------------------------------

class FirmwareVolume:
    """A parsed volume: header fields, its files and where free space starts."""

    def __init__(self, raw, where):
        self.where = where
        if len(raw) < FV_HEADER.size:
            raise FirmwareError(f"{where}: too short for a firmware volume header")
        (_, fs_guid, self.length, signature, self.attributes, self.header_length, _,
         self.ext_header_offset, _, self.revision) = FV_HEADER.unpack_from(raw, 0)
        if signature != FV_SIGNATURE:
            raise FirmwareError(f"{where}: no firmware volume signature")
        if self.length > len(raw) or self.header_length > self.length or self.length % 8:
            raise FirmwareError(f"{where}: volume length {self.length:#x} does not fit "
                                f"its {len(raw):#x} bytes")
        self.raw = bytes(raw[:self.length])
        if checksum16(self.raw[:self.header_length]):
            raise FirmwareError(f"{where}: bad volume header checksum")
        self.file_system = guid_text(fs_guid)
        if self.file_system not in (FFS2_FILE_SYSTEM_GUID, FFS3_FILE_SYSTEM_GUID):
            raise FirmwareError(f"{where}: file system {self.file_system} is not FFS2/FFS3")
        self.erase_polarity = 1 if self.attributes & FVB2_ERASE_POLARITY else 0
        self.erased = b"\xff" if self.erase_polarity else b"\0"
        self.files_start = self._files_start()
        self.files = []
        self.free_start = self._walk_files()

    def _files_start(self):
        start = self.header_length
        if self.ext_header_offset:
            size = FV_EXT_HEADER.unpack_from(self.raw, self.ext_header_offset)[1]
            start = self.ext_header_offset + size
        return align(start, FILE_ALIGNMENT)

    def _walk_files(self):
        offset = self.files_start
        while offset + FILE_HEADER.size <= self.length:
            if self.raw[offset:offset + FILE_HEADER.size] == self.erased * FILE_HEADER.size:
                break
            try:
                item = FirmwareFile(self.raw[offset:offset + FILE_HEADER.size
                                             + FILE_HEADER2_SIZE.size], offset)
            except FirmwareError as error:
                raise FirmwareError(f"{self.where}: {error}") from None
            if item.size < item.header_size or offset + item.size > self.length:
                raise FirmwareError(f"{self.where}: file at {offset:#x} has size {item.size:#x} "
                                    "outside the volume")
            self.files.append(FirmwareFile(self.raw[offset:offset + item.size], offset))
            offset = align(offset + item.size, FILE_ALIGNMENT)
        if any(byte != self.erased[0] for byte in self.raw[offset:]):
            raise FirmwareError(f"{self.where}: data after the last file at {offset:#x}")
        return min(offset, self.length)

    def live_files(self):
        """Files that count: complete, not deleted, not pad files."""
        deleted = file_state_byte(EFI_FILE_DELETED, self.erase_polarity)
        return [item for item in self.files
                if item.type != FILE_TYPES["pad"]
                and (item.state & EFI_FILE_DELETED) != (deleted & EFI_FILE_DELETED)]

    def used_size_offset(self):
        """Offset of the used-size extension entry's UsedSize, or None."""
        if not self.ext_header_offset:
            return None
        size = FV_EXT_HEADER.unpack_from(self.raw, self.ext_header_offset)[1]
        offset = self.ext_header_offset + FV_EXT_HEADER.size
        end = self.ext_header_offset + size
        while offset + FV_EXT_ENTRY.size <= end:
            entry_size, entry_type = FV_EXT_ENTRY.unpack_from(self.raw, offset)
            if entry_size < FV_EXT_ENTRY.size:
                return None
            if entry_type == FV_EXT_TYPE_USED_SIZE:
                return offset + FV_EXT_ENTRY.size
            offset += entry_size
        return None


def lay_out_files(volume, keep, placed):
    """The volume's bytes with keep (files left where they are) then placed files appended.

    keep is a prefix of the volume's files; placed are raw files laid after it in order,
    each 8-byte aligned, with a pad file before any whose data must be aligned further.
    """
    out = bytearray(volume.raw)
    offset = volume.files_start
    if keep:
        last = keep[-1]
        offset = align(last.offset + last.size, FILE_ALIGNMENT)
    out[offset:] = volume.erased * (volume.length - offset)
    for raw in placed:
        item = FirmwareFile(raw)
        if item.attributes & FFS_ATTRIB_FIXED:
            raise FirmwareError(f"{volume.where}: file {item.name} is fixed in place; "
                                "cannot move it")
        offset = _place_aligned(out, volume, offset, item)
        if offset + len(raw) > volume.length:
            raise FirmwareError(f"{volume.where}: the files do not fit: they need "
                                f"{offset + len(raw) - volume.length:#x} bytes more than the "
                                f"volume's {volume.length:#x}")
        out[offset:offset + len(raw)] = raw
        offset = align(offset + len(raw), FILE_ALIGNMENT)
    used = volume.used_size_offset()
    if used is not None:
        struct.pack_into("<I", out, used, min(offset, volume.length))
    return bytes(out), offset


def _place_aligned(out, volume, offset, item):
    """Where item goes at or after offset so its data is aligned; writes a pad file if needed."""
    alignment = max(item.data_alignment, FILE_ALIGNMENT)
    target = offset
    while (target + item.header_size) % alignment:
        target += FILE_ALIGNMENT
    if target == offset:
        return offset
    # A pad file needs at least its header's room before the file.
    while target - offset < FILE_HEADER.size:
        target += alignment
    if target > volume.length:
        raise FirmwareError(f"{volume.where}: the files do not fit")
    out[offset:target] = pad_file(target - offset, volume.erase_polarity)
    return target


def volumes_in_image(raw, where):
    """[(offset, FirmwareVolume or None)] of the volumes laid back to back from offset 0.

    A volume of another file system (a variable store) is listed as None.
    """
    volumes = []
    offset = 0
    while offset + FV_HEADER.size <= len(raw):
        fields = FV_HEADER.unpack_from(raw, offset)
        if fields[3] != FV_SIGNATURE:
            break
        length = fields[2]
        if length < FV_HEADER.size or offset + length > len(raw):
            raise FirmwareError(f"{where}: volume at {offset:#x} claims {length:#x} bytes, "
                                "beyond the image")
        is_ffs = guid_text(fields[1]) in (FFS2_FILE_SYSTEM_GUID, FFS3_FILE_SYSTEM_GUID)
        volume = FirmwareVolume(raw[offset:offset + length], f"{where} volume at {offset:#x}") \
            if is_ffs else None
        volumes.append((offset, volume))
        offset += length
    if not volumes:
        raise FirmwareError(f"{where}: not a firmware image: no firmware volume at offset 0")
    return volumes


# ---- dependency expressions ----------------------------------------------------------------

DEPEX_OPCODES = {"BEFORE": 0x00, "AFTER": 0x01, "PUSH": 0x02, "AND": 0x03, "OR": 0x04,
                 "NOT": 0x05, "TRUE": 0x06, "FALSE": 0x07, "END": 0x08, "SOR": 0x09}
DEPEX_NAMES = {value: name for name, value in DEPEX_OPCODES.items()}
GUID_OPERAND_OPCODES = ("BEFORE", "AFTER", "PUSH")


def decode_depex(data, where="depex"):
    """[(opcode name, GUID text or None)] of a binary depex; raises unless well formed."""
    ops = []
    offset = 0
    while offset < len(data):
        name = DEPEX_NAMES.get(data[offset])
        if name is None:
            raise FirmwareError(f"{where}: unknown opcode {data[offset]:#04x} at {offset}")
        offset += 1
        operand = None
        if name in GUID_OPERAND_OPCODES:
            if offset + 16 > len(data):
                raise FirmwareError(f"{where}: {name} at {offset - 1} lacks its GUID")
            operand = guid_text(data[offset:offset + 16])
            offset += 16
        ops.append((name, operand))
        if name == "END":
            break
    if not ops or ops[-1][0] != "END" or offset != len(data):
        raise FirmwareError(f"{where}: does not end with END")
    _check_depex_stack(ops, where)
    return ops


def _check_depex_stack(ops, where):
    body = ops[:-1]
    if body and body[0][0] == "SOR":
        body = body[1:]
    if body and body[0][0] in ("BEFORE", "AFTER"):
        if len(body) != 1:
            raise FirmwareError(f"{where}: {body[0][0]} must stand alone")
        return
    depth = 0
    pops = {"PUSH": -1, "TRUE": -1, "FALSE": -1, "AND": 1, "OR": 1, "NOT": 0}
    for name, _ in body:
        if name not in pops:
            raise FirmwareError(f"{where}: {name} out of place")
        depth -= pops[name]
        if depth < 1:
            raise FirmwareError(f"{where}: {name} lacks an operand")
    if depth != 1:
        raise FirmwareError(f"{where}: leaves {depth} values, not one")


# ---- output ----------------------------------------------------------------------------------

def write_atomically(path, data):
    """Writes path whole or not at all."""
    directory = os.path.dirname(os.path.abspath(path))
    handle, temporary = tempfile.mkstemp(dir=directory, prefix=".partial-")
    try:
        with os.fdopen(handle, "wb") as out:
            out.write(data)
        umask = os.umask(0)
        os.umask(umask)
        os.chmod(temporary, 0o666 & ~umask)
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise
