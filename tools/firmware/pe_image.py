"""PE32+ layouts as UEFI images carry them: the headers, the section table
and the CodeView entry of the debug directory that names an image and ties
it to its symbol file. Declared once here; the image tools and the crash
symbolizer read images only through this module. Standard library only."""
import struct
import uuid
from collections import namedtuple


class ImageError(Exception):
    """Input that is not the image it should be; the message names what is wrong."""


DOS_MAGIC = b"MZ"
DOS_LFANEW_OFFSET = 0x3C
PE_SIGNATURE = b"PE\0\0"
# IMAGE_FILE_HEADER
COFF_HEADER = struct.Struct("<HHIIIHH")
assert COFF_HEADER.size == 20
# IMAGE_OPTIONAL_HEADER64 up to NumberOfRvaAndSizes
OPTIONAL_HEADER64 = struct.Struct("<HBBIIIIIQIIHHHHHHIIIIHHQQQQII")
assert OPTIONAL_HEADER64.size == 112
PE32_PLUS_MAGIC = 0x20B
DATA_DIRECTORY = struct.Struct("<II")
# A COFF symbol table entry; the string table of long section names follows the table.
COFF_SYMBOL_SIZE = 18
# IMAGE_SECTION_HEADER
SECTION_HEADER = struct.Struct("<8sIIIIIIHHI")
assert SECTION_HEADER.size == 40
# IMAGE_DEBUG_DIRECTORY, and the RSDS record of a CodeView entry up to its file name
DEBUG_DIRECTORY = struct.Struct("<IIHHIIII")
assert DEBUG_DIRECTORY.size == 28
CODEVIEW_RSDS = struct.Struct("<4s16sI")
assert CODEVIEW_RSDS.size == 24
# The older NB10 record EDK2's GenFw writes: signature, offset, time stamp, age.
CODEVIEW_NB10 = struct.Struct("<4sIII")
assert CODEVIEW_NB10.size == 16

MACHINE_AMD64 = 0x8664
FILE_RELOCS_STRIPPED = 0x0001
DIRECTORY_IMPORT = 1
DIRECTORY_BASERELOC = 5
DIRECTORY_DEBUG = 6
DEBUG_TYPE_CODEVIEW = 2
RSDS_SIGNATURE = b"RSDS"
NB10_SIGNATURE = b"NB10"
DLLCHARACTERISTICS_NX_COMPAT = 0x0100

SCN_CNT_CODE = 0x00000020
SCN_MEM_EXECUTE = 0x20000000
SCN_MEM_READ = 0x40000000
SCN_MEM_WRITE = 0x80000000

Section = namedtuple("Section", "name rva virtual_size raw_offset raw_size characteristics")
# guid_offset: where the GUID sits in the file, for tools that stamp it; an
# NB10 record has neither (None).
CodeView = namedtuple("CodeView", "guid age name guid_offset")


class PeImage:
    """The parts of a PE32+ image that loaders and debuggers read."""

    def __init__(self, data, where="image"):
        self.data = bytes(data)
        self.where = where
        if len(data) < DOS_LFANEW_OFFSET + 4 or data[:2] != DOS_MAGIC:
            raise ImageError(f"{where}: not a PE image (no MZ header)")
        pe = struct.unpack_from("<I", data, DOS_LFANEW_OFFSET)[0]
        optional = pe + 4 + COFF_HEADER.size
        if data[pe:pe + 4] != PE_SIGNATURE:
            raise ImageError(f"{where}: not a PE image (no PE signature at {pe:#x})")
        if len(data) < optional + OPTIONAL_HEADER64.size:
            raise self.truncated("the optional header")
        (self.machine, section_count, _, self.symbol_table, self.symbol_count, optional_size,
         self.coff_characteristics) = COFF_HEADER.unpack_from(data, pe + 4)
        fields = OPTIONAL_HEADER64.unpack_from(data, optional)
        self.magic = fields[0]
        if self.magic != PE32_PLUS_MAGIC:
            raise ImageError(f"{where}: optional header magic {self.magic:#x}, not PE32+")
        self.entry = fields[6]
        self.base = fields[8]
        self.section_alignment, self.file_alignment = fields[9], fields[10]
        self.size_of_image, self.size_of_headers = fields[18], fields[19]
        self.subsystem, self.dll_characteristics = fields[21], fields[22]
        directory_count = fields[28]
        self.directories = []
        for index in range(directory_count):
            at = optional + OPTIONAL_HEADER64.size + index * DATA_DIRECTORY.size
            if at + DATA_DIRECTORY.size > optional + optional_size:
                break
            if at + DATA_DIRECTORY.size > len(data):
                raise self.truncated("the data directories")
            self.directories.append(DATA_DIRECTORY.unpack_from(data, at))
        table = optional + optional_size
        if table + section_count * SECTION_HEADER.size > len(data):
            raise ImageError(f"{where}: section table runs past the end of the file")
        self.sections = []
        for index in range(section_count):
            (raw_name, virtual_size, rva, raw_size, raw_offset, _, _, _, _,
             characteristics) = SECTION_HEADER.unpack_from(data, table + index * SECTION_HEADER.size)
            self.sections.append(Section(self.section_name(raw_name), rva, virtual_size, raw_offset,
                                         raw_size, characteristics))
        for section in self.sections:
            if section.raw_size and section.raw_offset + section.raw_size > len(data):
                raise self.truncated(f"the data of section {section.name}")

    def truncated(self, what):
        return ImageError(f"{self.where} is truncated: it ends ({len(self.data)} bytes) within {what}")

    def section_name(self, raw):
        """A long name ("/4") lives in the COFF string table, as lld-link writes
        DWARF sections' names; short names stand in the header."""
        name = raw.rstrip(b"\0").decode("latin-1")
        if name.startswith("/") and name[1:].isdigit() and self.symbol_table:
            start = self.symbol_table + COFF_SYMBOL_SIZE * self.symbol_count + int(name[1:])
            end = self.data.find(b"\0", start)
            if start >= len(self.data) or end < 0:
                raise self.truncated(f"the name of section {name}")
            if end > start:
                return self.data[start:end].decode("latin-1")
        return name

    def directory(self, index):
        """(rva, size) of a data directory, (0, 0) when the image has none."""
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def file_offset(self, rva, size=1):
        """Where the bytes at rva lie in the file; ImageError when no section holds them."""
        for section in self.sections:
            if section.rva <= rva and rva + size <= section.rva + min(section.raw_size, max(section.virtual_size, 1)):
                return section.raw_offset + rva - section.rva
        if rva + size <= self.size_of_headers:
            return rva
        raise ImageError(f"{self.where}: RVA {rva:#x} lies in no section's file data")

    def section_at(self, rva):
        """The section whose memory holds rva, or None."""
        for section in self.sections:
            if section.rva <= rva < section.rva + max(section.virtual_size, section.raw_size):
                return section
        return None

    def codeview(self):
        """The image's CodeView entry (RSDS, or GenFw's NB10), or None when it has none."""
        rva, size = self.directory(DIRECTORY_DEBUG)
        if size == 0:
            return None
        for index in range(size // DEBUG_DIRECTORY.size):
            at = self.file_offset(rva + index * DEBUG_DIRECTORY.size, DEBUG_DIRECTORY.size)
            _, _, _, _, kind, length, _, pointer = DEBUG_DIRECTORY.unpack_from(self.data, at)
            if kind != DEBUG_TYPE_CODEVIEW:
                continue
            if pointer + length > len(self.data):
                raise ImageError(f"{self.where}: CodeView entry runs past the end of the file")
            signature = self.data[pointer:pointer + 4]
            if signature == RSDS_SIGNATURE and length >= CODEVIEW_RSDS.size + 1:
                _, guid, age = CODEVIEW_RSDS.unpack_from(self.data, pointer)
                name = self.data[pointer + CODEVIEW_RSDS.size:pointer + length].split(b"\0", 1)[0]
                return CodeView(uuid.UUID(bytes_le=guid), age, name.decode("latin-1"), pointer + 4)
            if signature == NB10_SIGNATURE and length >= CODEVIEW_NB10.size + 1:
                _, _, _, age = CODEVIEW_NB10.unpack_from(self.data, pointer)
                name = self.data[pointer + CODEVIEW_NB10.size:pointer + length].split(b"\0", 1)[0]
                return CodeView(None, age, name.decode("latin-1"), None)
            raise ImageError(f"{self.where}: CodeView entry is neither an RSDS nor an NB10 record, "
                             f"or shorter than its record")
        return None


def read_image(path):
    """The PeImage of a file; ImageError when it cannot be read or is no image."""
    try:
        with open(path, "rb") as handle:
            return PeImage(handle.read(), path)
    except OSError as error:
        raise ImageError(f"{path}: {error.strerror}") from error
