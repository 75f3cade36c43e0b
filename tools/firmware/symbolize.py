#!/usr/bin/env python3
"""Names the function and source line of an EDK2 CPU exception dump's
addresses that fall inside SlotInventoryDxe.efi.

    symbolize.py LOG [LOG ...] --image SlotInventoryDxe.efi --symbols SlotInventoryDxe.debug
                 [--base ADDRESS] [--json] [--addr2line PROGRAM]

LOG is a captured serial console or DEBUG log (several may be given, e.g.
QEMU's serial file and its -debugcon file) holding a dump that begins
"!!!! X64 Exception Type - ..."; escape sequences, CRs and text around the
dump are ignored. The image's load address is the ImageBase of the dump's
"Find image based on IP" line when that line names this image (its CodeView
file name, and the entry point at the same offset), else the last DXE core
"Loading driver at ..." line for it in any LOG, else --base. The symbol file
is the image before its DWARF sections were stripped; it must carry the
image's CodeView GUID and age. addr2line (binutils) turns addresses into
functions, inline chains and file:line.

For RIP, or for an instruction-fetch page fault the return address at RSP
that the handler searched instead, and for each register (and CR2) that
points into the image, it prints what lies there. EDK2's handler prints no
stack contents, so callers beyond those are not known.

Exit status: 0 the fault is in the image; 3 the fault is elsewhere but
registers point into the image (printed); 1 nothing of the dump is in the
image; 2 bad input (the message names it; nothing is printed on stdout).
With several dumps every one is printed and the worst status (1, 3, 0 in
that order) is returned. --json prints the same as one JSON object, the
form symbolize() returns for Python callers.
"""
import argparse
import collections
import json
import os
import posixpath
import re
import shutil
import struct
import subprocess
import sys
import uuid

EXIT_IN_IMAGE = 0
EXIT_NOT_IN_IMAGE = 1
EXIT_BAD_INPUT = 2
EXIT_REGISTERS_IN_IMAGE = 3
# Which status wins when a log holds several dumps.
STATUS_SEVERITY = {EXIT_IN_IMAGE: 0, EXIT_REGISTERS_IN_IMAGE: 1, EXIT_NOT_IN_IMAGE: 2}

ADDR2LINE_TIMEOUT_SECONDS = 60


class InputError(Exception):
    """A log, image, symbol file or tool that is not what it should be; the
    message names the file and what is wrong."""


# --- PE32+ images and their CodeView record -----------------------------------

IMAGE_FILE_MACHINE_AMD64 = 0x8664
PE32_PLUS_MAGIC = 0x20B
DOS_MAGIC = b"MZ"
DOS_PE_OFFSET = struct.Struct("<I")  # e_lfanew, at 0x3C
DOS_PE_OFFSET_AT = 0x3C
# Signature, then IMAGE_FILE_HEADER
PE_HEADER = struct.Struct("<4sHHIIIHH")
assert PE_HEADER.size == 24
PeHeader = collections.namedtuple("PeHeader", "signature machine sections time_stamp "
                                  "symbol_table symbols optional_size characteristics")
# IMAGE_OPTIONAL_HEADER64 up to its data directories
OPTIONAL_HEADER64 = struct.Struct("<HBBIIIIIQIIHHHHHHIIIIHHQQQQII")
assert OPTIONAL_HEADER64.size == 112
OptionalHeader = collections.namedtuple("OptionalHeader", "magic linker_major linker_minor "
                                        "code_size data_size bss_size entry code_base image_base "
                                        "section_alignment file_alignment os_major os_minor "
                                        "image_major image_minor subsystem_major subsystem_minor "
                                        "win32_version image_size headers_size checksum subsystem "
                                        "dll_characteristics stack_reserve stack_commit "
                                        "heap_reserve heap_commit loader_flags directories")
DATA_DIRECTORY = struct.Struct("<II")  # RVA, size
DIRECTORY_DEBUG = 6
# IMAGE_SECTION_HEADER
SECTION_HEADER = struct.Struct("<8sIIIIIIHHI")
assert SECTION_HEADER.size == 40
SectionHeader = collections.namedtuple("SectionHeader", "name virtual_size rva raw_size "
                                       "raw_offset relocations line_numbers relocation_count "
                                       "line_number_count characteristics")
SCN_CNT_CODE = 0x20
SCN_MEM_EXECUTE = 0x20000000
COFF_SYMBOL_SIZE = 18  # the string table of long section names follows the symbols
# IMAGE_DEBUG_DIRECTORY
DEBUG_DIRECTORY_ENTRY = struct.Struct("<IIHHIIII")
assert DEBUG_DIRECTORY_ENTRY.size == 28
DebugEntry = collections.namedtuple("DebugEntry", "characteristics time_stamp major minor "
                                    "type data_size data_rva data_offset")
IMAGE_DEBUG_TYPE_CODEVIEW = 2
# The CodeView record: "RSDS", the GUID, the age, then a NUL-terminated file name.
CODEVIEW_RSDS = struct.Struct("<4s16sI")
assert CODEVIEW_RSDS.size == 24
RSDS_SIGNATURE = b"RSDS"
DWARF_SECTIONS = (".debug_info", ".debug_line")

Section = collections.namedtuple("Section", "name rva size code")
CodeView = collections.namedtuple("CodeView", "guid age name")


class PeImage:
    """What the tool needs of a PE32+ image: its size once loaded, entry
    point, sections and CodeView record (None when it has none)."""

    def __init__(self, path, role):
        self.path = path
        try:
            with open(path, "rb") as source:
                self.data = source.read()
        except OSError as error:
            raise InputError(f"{path}: cannot read the {role}: {error.strerror}") from None
        self.where = f"{path}: {role}"
        self._read_headers()
        self.codeview = self._read_codeview()

    def _unpack(self, layout, offset, what):
        if offset < 0 or offset + layout.size > len(self.data):
            raise InputError(f"{self.where} is truncated: it ends ({len(self.data)} bytes) within {what}")
        return layout.unpack_from(self.data, offset)

    def _read_headers(self):
        if self.data[:2] != DOS_MAGIC:
            raise InputError(f"{self.where} is not a PE image: no MZ header")
        (pe_offset,) = self._unpack(DOS_PE_OFFSET, DOS_PE_OFFSET_AT, "the DOS header")
        header = PeHeader(*self._unpack(PE_HEADER, pe_offset, "the PE header"))
        if header.signature != b"PE\0\0":
            raise InputError(f"{self.where} is not a PE image: no PE signature at 0x{pe_offset:X}")
        if header.machine != IMAGE_FILE_MACHINE_AMD64:
            raise InputError(f"{self.where} is not an x64 image (machine 0x{header.machine:04X})")
        optional_at = pe_offset + PE_HEADER.size
        optional = OptionalHeader(*self._unpack(OPTIONAL_HEADER64, optional_at, "the optional header"))
        if optional.magic != PE32_PLUS_MAGIC:
            raise InputError(f"{self.where} is not PE32+ (optional header magic 0x{optional.magic:X})")
        if header.optional_size < OPTIONAL_HEADER64.size + optional.directories * DATA_DIRECTORY.size:
            raise InputError(f"{self.where}: its optional header is shorter than its "
                             f"{optional.directories} data directories")
        self.entry = optional.entry
        self.preferred_base = optional.image_base
        self.size = optional.image_size
        self.debug_directory = (0, 0)
        if optional.directories > DIRECTORY_DEBUG:
            self.debug_directory = self._unpack(
                DATA_DIRECTORY, optional_at + OPTIONAL_HEADER64.size + DIRECTORY_DEBUG * DATA_DIRECTORY.size,
                "the data directories")
        table = optional_at + header.optional_size
        self.section_headers = [SectionHeader(*self._unpack(SECTION_HEADER, table + index * SECTION_HEADER.size,
                                                            "the section table"))
                                for index in range(header.sections)]
        for item in self.section_headers:
            if item.raw_size and item.raw_offset + item.raw_size > len(self.data):
                raise InputError(f"{self.where} is truncated: it ends ({len(self.data)} bytes) within the "
                                 f"data of section {self._section_name(item.name, header)}")
        self.sections = [Section(self._section_name(item.name, header), item.rva,
                                 max(item.virtual_size, item.raw_size),
                                 bool(item.characteristics & (SCN_CNT_CODE | SCN_MEM_EXECUTE)))
                         for item in self.section_headers]

    def _section_name(self, raw, header):
        name = raw.rstrip(b"\0").decode("latin-1")
        if not name.startswith("/") or not name[1:].isdigit():
            return name
        # A long name ("/4"): an offset into the string table after the symbols.
        start = header.symbol_table + header.symbols * COFF_SYMBOL_SIZE + int(name[1:])
        end = self.data.find(b"\0", start)
        if not header.symbol_table:
            raise InputError(f"{self.where}: section name {name} refers to a string table it does not have")
        if start >= len(self.data) or end < 0:
            raise InputError(f"{self.where} is truncated: it ends ({len(self.data)} bytes) within the name "
                             f"of section {name}")
        return self.data[start:end].decode("latin-1")

    def _file_offset(self, rva, size, what):
        for item in self.section_headers:
            if item.rva <= rva and rva + size <= item.rva + item.raw_size:
                offset = item.raw_offset + rva - item.rva
                if offset + size <= len(self.data):
                    return offset
        raise InputError(f"{self.where}: {what} (RVA 0x{rva:X}, {size} bytes) lies in no section's "
                         "data in the file")

    def _read_codeview(self):
        rva, size = self.debug_directory
        if not rva or not size:
            return None
        start = self._file_offset(rva, size, "its debug directory")
        for index in range(size // DEBUG_DIRECTORY_ENTRY.size):
            entry = DebugEntry(*self._unpack(DEBUG_DIRECTORY_ENTRY, start + index * DEBUG_DIRECTORY_ENTRY.size,
                                             "the debug directory"))
            if entry.type != IMAGE_DEBUG_TYPE_CODEVIEW:
                continue
            offset = entry.data_offset or self._file_offset(entry.data_rva, entry.data_size,
                                                             "its CodeView record")
            record = self.data[offset:offset + entry.data_size]
            if len(record) != entry.data_size or len(record) <= CODEVIEW_RSDS.size:
                raise InputError(f"{self.where} is truncated: it ends ({len(self.data)} bytes) within "
                                 "its CodeView record")
            signature, guid, age = CODEVIEW_RSDS.unpack_from(record)
            name_end = record.find(b"\0", CODEVIEW_RSDS.size)
            if signature != RSDS_SIGNATURE or name_end < 0:
                raise InputError(f"{self.where}: its CodeView record is not an RSDS record with a "
                                 "NUL-terminated file name")
            return CodeView(str(uuid.UUID(bytes_le=guid)).upper(), age,
                            record[CODEVIEW_RSDS.size:name_end].decode("latin-1"))
        return None

    def section_at(self, rva):
        return next((item for item in self.sections if item.rva <= rva < item.rva + item.size), None)


def read_image_and_symbols(image_path, symbols_path):
    """Both files, checked to be a PE32+ image and the unstripped image it
    was made from (same CodeView GUID and age, DWARF present)."""
    image = PeImage(image_path, "image")
    symbols = PeImage(symbols_path, "symbol file")
    if image.codeview is None:
        raise InputError(f"{image_path}: the image has no CodeView record in a debug directory: "
                         "nothing ties it to a symbol file")
    if symbols.codeview is None:
        raise InputError(f"{symbols_path} is not a symbol file: it has no CodeView record in a "
                         "debug directory")
    if symbols.codeview.guid != image.codeview.guid:
        raise InputError(f"symbol file {symbols_path}: its CodeView GUID {symbols.codeview.guid} does "
                         f"not match the image's {image.codeview.guid} ({image_path})")
    if symbols.codeview.age != image.codeview.age:
        raise InputError(f"symbol file {symbols_path}: its CodeView age {symbols.codeview.age} does "
                         f"not match the image's {image.codeview.age} ({image_path})")
    names = {item.name for item in symbols.sections}
    missing = [name for name in DWARF_SECTIONS if name not in names]
    if missing:
        raise InputError(f"{symbols_path} is not a symbol file: it has no DWARF ({', '.join(missing)} "
                         "missing); is it the stripped image?")
    return image, symbols


def dxe_core_name(codeview_name):
    """The module name the DXE core prints for a CodeView file name: the
    last path component up to its first dot, then ".efi"."""
    base = re.split(r"[\\/]", codeview_name)[-1]
    return base.split(".", 1)[0] + ".efi"


def names_image(printed, codeview_name):
    """Whether a name a log prints (a raw CodeView path, or the DXE core's
    module name) is the image's."""
    base = re.split(r"[\\/]", printed)[-1]
    return bool(printed) and (printed == codeview_name or base == re.split(r"[\\/]", codeview_name)[-1]
                        or base == dxe_core_name(codeview_name))


# --- Logs and the exception dumps in them ---------------------------------------

# CSI sequences (colours, cursor moves) and the two-byte escapes of a terminal.
ESCAPE_SEQUENCE = re.compile(r"\x1b(?:\[[0-?]*[ -/]*[@-~]|[ -/]*[0-~])?")
CONTROL_CHARACTER = re.compile(r"[\x00-\x08\x0a-\x1f\x7f]")

DUMP_MARK = "!!!! X64 Exception Type - "
EXCEPTION_LINE = re.compile(r"([0-9A-Fa-f]{2,8})\(([^()]*)\)\s+CPU Apic ID - ([0-9A-Fa-f]{8}) !!!!\s*")
EXCEPTION_DATA_LINE = re.compile(
    r"ExceptionData - ([0-9A-Fa-f]{16})(?:  I:[01] R:[01] U:[01] W:[01] P:[01] PK:[01] SS:[01] SGX:[01])?")
# Vectors for which the processor pushes an error code and the handler prints it.
ERROR_CODE_VECTORS = frozenset(vector for vector in range(32) if 0x20227D00 & (1 << vector))
PAGE_FAULT = 0x0E
PAGE_FAULT_INSTRUCTION_FETCH = 0x10
# The handler's register lines, in its order.
REGISTER_LINES = (
    ("RIP", "CS", "RFLAGS"), ("RAX", "RCX", "RDX"), ("RBX", "RSP", "RBP"), ("RSI", "RDI"),
    ("R8", "R9", "R10"), ("R11", "R12", "R13"), ("R14", "R15"), ("DS", "ES", "FS"), ("GS", "SS"),
    ("CR0", "CR2", "CR3"), ("CR4", "CR8"), ("DR0", "DR1", "DR2"), ("DR3", "DR6", "DR7"),
    ("GDTR", "LDTR"), ("IDTR", "TR"), ("FXSAVE_STATE",),
)
# GDTR and IDTR print base and limit words.
TWO_WORD_REGISTERS = ("GDTR", "IDTR")


def register_line_pattern(names):
    fields = (rf"{name}\s*-\s*([0-9A-Fa-f]{{16}})" + (r" [0-9A-Fa-f]{16}" if name in TWO_WORD_REGISTERS else "")
              for name in names)
    return re.compile(r",\s*".join(fields))


REGISTER_PATTERNS = tuple((names, register_line_pattern(names)) for names in REGISTER_LINES)
IMAGE_MARK = "!!!! Find image based on IP(0x"
IMAGE_LINE = re.compile(r"([0-9A-Fa-f]{1,16})\) (.*?) ?\(ImageBase=([0-9A-Fa-f]{16}), "
                        r"EntryPoint=([0-9A-Fa-f]{16})\) !!!!\s*")
NO_IMAGE_LINE = "!!!! Can't find image information. !!!!"
NO_PDB = "(No PDB)"
# The DXE core's DEBUG line for each image it loads.
LOAD_LINE = re.compile(r"Loading driver at 0x([0-9A-Fa-f]{1,16}) EntryPoint=0x([0-9A-Fa-f]{1,16}) ?(\S*)")
# The registers whose values may point into the image; CR2 is the faulting address.
POINTER_REGISTERS = ("CR2", "RAX", "RBX", "RCX", "RDX", "RSI", "RDI", "RBP", "RSP",
                     "R8", "R9", "R10", "R11", "R12", "R13", "R14", "R15")

ImageLine = collections.namedtuple("ImageLine", "ip name base entry")
Dump = collections.namedtuple("Dump", "log line vector description apic_id error_code registers image")
LoadLine = collections.namedtuple("LoadLine", "log line base entry name")


def log_lines(text):
    """(line number, text) of the log's lines without terminal escapes and
    control characters; a CR within a line starts another line of the same
    number, as it does for a terminal."""
    return [(number, CONTROL_CHARACTER.sub("", part))
            for number, line in enumerate(ESCAPE_SEQUENCE.sub("", text).split("\n"), 1)
            for part in line.split("\r")]


def read_log(path):
    try:
        with open(path, "rb") as source:
            return source.read().decode("latin-1")
    except OSError as error:
        raise InputError(f"{path}: cannot read the log: {error.strerror}") from None


class DumpReader:
    """Walks one dump's lines, in the order the handler prints them."""

    def __init__(self, lines, start, log):
        self.lines, self.at, self.log = lines, start, log
        self.start = lines[start][0]

    def malformed(self, problem):
        return InputError(f"{self.log}: the exception dump on line {self.start} is malformed: {problem}")

    def next_line(self, what):
        while True:
            self.at += 1
            if self.at >= len(self.lines):
                raise InputError(f"{self.log}: the exception dump on line {self.start} is truncated: "
                                 f"the log ends before its {what}")
            line = self.lines[self.at][1].strip()
            if line:
                return line

    def expect(self, pattern, what):
        line = self.next_line(what)
        match = pattern.fullmatch(line)
        if not match:
            raise self.malformed(f"line {self.lines[self.at][0]} should be its {what} but reads {line[:80]!r}")
        return match

    def read(self, rest):
        head = EXCEPTION_LINE.fullmatch(rest)
        if not head:
            raise self.malformed(f"its first line reads {rest[:80]!r}")
        vector = int(head.group(1), 16)
        error_code = None
        if vector in ERROR_CODE_VECTORS:
            error_code = int(self.expect(EXCEPTION_DATA_LINE, "ExceptionData line").group(1), 16)
        registers = {}
        for names, pattern in REGISTER_PATTERNS:
            match = self.expect(pattern, f"{names[0]} line")
            registers.update(zip(names, (int(value, 16) for value in match.groups())))
        image = self.read_image_line()
        if image and not searched_return_address(vector, error_code) and image.ip != registers["RIP"] & 0xFFFFFFFF:
            raise self.malformed(f"its image line searched IP 0x{image.ip:X}, not RIP")
        return Dump(self.log, self.start, vector, head.group(2), int(head.group(3), 16),
                    error_code, registers, image)

    def read_image_line(self):
        line = self.next_line("image line")
        if line == NO_IMAGE_LINE:
            return None
        match = IMAGE_LINE.fullmatch(line[len(IMAGE_MARK):]) if line.startswith(IMAGE_MARK) else None
        if not match:
            raise self.malformed(f"line {self.lines[self.at][0]} should be its image line "
                                 f"(\"{IMAGE_MARK}...\") but reads {line[:80]!r}")
        name = match.group(2).strip()
        return ImageLine(int(match.group(1), 16), None if name in ("", NO_PDB) else name,
                         int(match.group(3), 16), int(match.group(4), 16))


def read_dumps(text, log):
    """Every exception dump in a log's text, and every DXE core load line."""
    lines = log_lines(text)
    dumps, loads = [], []
    index = 0
    while index < len(lines):
        number, line = lines[index]
        at = line.find(DUMP_MARK)
        if at >= 0:
            reader = DumpReader(lines, index, log)
            dumps.append(reader.read(line[at + len(DUMP_MARK):].strip()))
            index = reader.at + 1
            continue
        load = LOAD_LINE.search(line)
        if load:
            loads.append(LoadLine(log, number, int(load.group(1), 16), int(load.group(2), 16),
                                  load.group(3)))
        index += 1
    return dumps, loads


# --- Which addresses lie in the image ---------------------------------------------

ImagePlace = collections.namedtuple("ImagePlace", "base source")


def searched_return_address(vector, error_code):
    """Whether the handler searched for an image from the return address at
    RSP rather than from RIP: it does for an instruction-fetch page fault,
    where RIP is where the fetch failed."""
    return vector == PAGE_FAULT and bool(error_code & PAGE_FAULT_INSTRUCTION_FETCH)


def fault_site(dump):
    """(label, address, is a return address) of the instruction the fault is
    blamed on: RIP, or the return address the handler searched instead."""
    if not searched_return_address(dump.vector, dump.error_code):
        return "RIP", dump.registers["RIP"], False
    if dump.image is None:
        return None
    # The handler prints only the low 32 bits of what it searched.
    return "[RSP]", (dump.image.base & ~0xFFFFFFFF) | dump.image.ip, True


def check_image_line(dump, image):
    """The dump's image line, when it names this image, with its entry point
    checked; None when it names another image or none."""
    line = dump.image
    if line is None or line.name is None or not names_image(line.name, image.codeview.name):
        return None
    if line.entry and line.entry - line.base != image.entry:
        raise InputError(f"{dump.log}: the exception dump on line {dump.line} names {line.name} with its "
                         f"entry point at +0x{line.entry - line.base:X}, but {image.path} has its entry "
                         f"point at +0x{image.entry:X}: the log is from another build of the image")
    return line


def place_image(dump, image, loads, given_base):
    """Where the image was loaded when this dump was taken, and how that is
    known; None when the logs do not say and no base was given."""
    line = check_image_line(dump, image)
    ours = [load for load in loads if names_image(load.name, image.codeview.name)]
    for load in ours:
        if load.entry - load.base != image.entry:
            raise InputError(f"{load.log}: line {load.line} loads {load.name} with its entry point at "
                             f"+0x{load.entry - load.base:X}, but {image.path} has its entry point at "
                             f"+0x{image.entry:X}: the log is from another build of the image")
    found = (ImagePlace(line.base, "the dump's image line") if line else
             ImagePlace(ours[-1].base, f"the DXE core's load line ({ours[-1].log} line {ours[-1].line})")
             if ours else None)
    if given_base is None:
        return found
    if found and found.base != given_base:
        raise InputError(f"--base 0x{given_base:X} contradicts {found.source}, which puts "
                         f"{os.path.basename(image.path)} at 0x{found.base:X}")
    return found or ImagePlace(given_base, "--base")


# --- Addresses to functions and lines (binutils' addr2line) -------------------------

LOCATION = re.compile(r"(.*):(\d+|\?)(?: \(discriminator \d+\))?")
ADDRESS_LINE = re.compile(r"0x([0-9a-fA-F]+)")


def find_addr2line(program):
    found = shutil.which(program)
    if not found:
        raise InputError(f"{program} not found: install binutils (it provides addr2line), "
                         "or name the program with --addr2line")
    return found


def source_file(path):
    """A file name as addr2line prints it, without the build's "./" and
    "dir/../" detours."""
    if path.startswith("./") or (not path.startswith("/") and "/../" in path):
        normal = posixpath.normpath(path)
        if not normal.startswith(".."):
            return normal
    return path


def parse_frame(function, location):
    match = LOCATION.fullmatch(location)
    file, line = (match.group(1), match.group(2)) if match else (location, "?")
    return {"function": None if function == "??" else function,
            "file": None if file in ("??", "") else source_file(file),
            "line": int(line) if line.isdigit() and line != "0" else None}


def look_up(addr2line, symbols_path, addresses):
    """{address: [frames, innermost first]} for the addresses (as the
    symbol file links them)."""
    wanted = sorted(set(addresses))
    if not wanted:
        return {}
    command = [addr2line, "-a", "-f", "-i", "-C", "-e", symbols_path] + [f"0x{value:x}" for value in wanted]
    try:
        done = subprocess.run(command, capture_output=True, text=True, errors="replace",
                              timeout=ADDR2LINE_TIMEOUT_SECONDS, check=False)
    except (OSError, subprocess.TimeoutExpired) as error:
        raise InputError(f"{addr2line} could not be run: {error}") from None
    if done.returncode != 0:
        raise InputError(f"{addr2line} failed on {symbols_path}: {done.stderr.strip()[:300]}")
    frames, current = {}, None
    lines = done.stdout.splitlines()
    index = 0
    while index < len(lines):
        address = ADDRESS_LINE.fullmatch(lines[index])
        if address:
            current = frames.setdefault(int(address.group(1), 16), [])
            index += 1
        elif current is not None and index + 1 < len(lines):
            current.append(parse_frame(lines[index], lines[index + 1]))
            index += 2
        else:
            raise InputError(f"{addr2line} answered in a form this tool does not read: {lines[index][:80]!r}")
    missing = [value for value in wanted if value not in frames]
    if missing:
        raise InputError(f"{addr2line} gave no answer for 0x{missing[0]:x}")
    return frames


def short_name(function):
    """A demangled name without its parameter list: "f(int, char)" -> "f"."""
    if not function:
        return function
    text = function[:-len(" const")] if function.endswith(" const") else function
    if not text.endswith(")"):
        return text
    depth = 0
    for index in range(len(text) - 1, -1, -1):
        depth += {")": 1, "(": -1}.get(text[index], 0)
        if depth == 0:
            return text[:index] if index else text
    return text


# --- The report ----------------------------------------------------------------------

def describe_value(label, value, place, image, return_address):
    entry = {"register": label, "value": value, "in_image": False, "rva": None, "section": None,
             "code": False, "return_address": return_address, "frames": []}
    if place and place.base <= value < place.base + image.size:
        rva = value - place.base
        section = image.section_at(rva)
        entry.update(in_image=True, rva=rva, section=section.name if section else "headers",
                     code=bool(section and section.code))
    return entry


def dump_report(dump, image, place):
    site = fault_site(dump)
    values = [describe_value("RIP", dump.registers["RIP"], place, image, False)]
    if site and site[0] != "RIP":
        label, value, return_address = site
        values.append(describe_value(label, value, place, image, return_address))
    for name in POINTER_REGISTERS:
        if name == "CR2" and dump.vector != PAGE_FAULT:
            continue
        entry = describe_value(name, dump.registers[name], place, image, False)
        if entry["in_image"]:
            values.append(entry)
    fault = next((entry for entry in values if site and entry["register"] == site[0]), None)
    if fault and fault["in_image"]:
        status = EXIT_IN_IMAGE
    elif any(entry["in_image"] for entry in values):
        status = EXIT_REGISTERS_IN_IMAGE
    else:
        status = EXIT_NOT_IN_IMAGE
    return {
        "log": dump.log, "line": dump.line,
        "exception": {"vector": dump.vector, "description": dump.description,
                      "apic_id": dump.apic_id, "error_code": dump.error_code},
        "found_image": None if dump.image is None else {
            "name": dump.image.name, "base": dump.image.base, "entry_point": dump.image.entry},
        "image_base": place.base if place else None,
        "image_base_from": place.source if place else None,
        "status": status,
        "fault_register": site[0] if site else None,
        "fault": None,
        "values": values,
    }


def plan(logs_text, image, base=None):
    """The reports on every dump in {log name: text}, without functions and
    lines yet."""
    dumps, loads = [], []
    for log, text in logs_text.items():
        found, loaded = read_dumps(text, log)
        dumps += found
        loads += loaded
    if not dumps:
        raise InputError(f"{', '.join(logs_text)}: no EDK2 exception dump (\"{DUMP_MARK}...\") in the log")
    return [dump_report(dump, image, place_image(dump, image, loads, base)) for dump in dumps]


def symbolize(logs, image_path, symbols_path, base=None, addr2line="addr2line"):
    """The report on every exception dump in the logs (paths), as a
    JSON-ready dict: {"image", "codeview", "status", "dumps": [{"exception",
    "image_base", "status", "fault": the innermost frame of the faulting
    code ({"function", "name", "file", "line"}) or None, "values": [...]}]}.
    Raises InputError on bad input."""
    logs = [logs] if isinstance(logs, str) else list(logs)
    program = find_addr2line(addr2line)
    image, symbols = read_image_and_symbols(image_path, symbols_path)
    reports = plan({log: read_log(log) for log in logs}, image, base)
    code = [entry for report in reports for entry in report["values"] if entry["code"]]

    def linked_address(entry):
        # A return address names the call just before it.
        return symbols.preferred_base + entry["rva"] - (1 if entry["return_address"] else 0)

    frames = look_up(program, symbols_path, [linked_address(entry) for entry in code])
    for entry in code:
        entry["frames"] = [dict(frame, name=short_name(frame["function"]))
                           for frame in frames[linked_address(entry)]]
    for report in reports:
        fault = next((entry for entry in report["values"]
                      if entry["register"] == report["fault_register"]), None)
        report["fault"] = fault["frames"][0] if fault and fault["frames"] else None
    status = max((report["status"] for report in reports), key=STATUS_SEVERITY.get)
    return {"image": os.path.basename(image_path), "codeview": image.codeview._asdict(),
            "status": status, "dumps": reports}


# --- Printing ---------------------------------------------------------------------------

def shown_function(frame):
    """The function as the text report shows it: its name, "(...)" for a
    parameter list."""
    function, name = frame["function"], frame["name"]
    if function is None:
        return "??"
    if name == function:
        return function
    return name + ("()" if function[len(name):].startswith("()") else "(...)")


def shown_location(frame):
    if frame["file"] is None:
        return "(no line information)"
    return f"{frame['file']}:{frame['line'] if frame['line'] is not None else '?'}"


def value_lines(entry, image_name):
    head = f"{entry['register']} 0x{entry['value']:016X} = {image_name}+0x{entry['rva']:X}  "
    if not entry["code"]:
        return [f"{head}in {entry['section']}"]
    if not entry["frames"] or entry["frames"][0]["function"] is None:
        return [f"{head}no function known here"]
    first, *callers = entry["frames"]
    lines = [f"{head}{shown_function(first)}  {shown_location(first)}"]
    indent = " " * max(len(head) - len("inlined in "), 0)
    lines += [f"{indent}inlined in {shown_function(frame)}  {shown_location(frame)}" for frame in callers]
    return lines


def where_found(report):
    found = report["found_image"]
    if found is None:
        return "the handler found no image there"
    return (f"the handler found {found['name'] or 'an image without a CodeView name'} "
            f"at 0x{found['base']:016X}")


def dump_text(report, image_name):
    exception = report["exception"]
    lines = [f"{report['log']} line {report['line']}: {exception['description']} "
             f"(vector 0x{exception['vector']:02X}) on CPU {exception['apic_id']:08X}"
             + (f", error code 0x{exception['error_code']:X}" if exception["error_code"] is not None else "")]
    if report["image_base"] is None:
        lines.append(f"where {image_name} was loaded is not known: the dump's image line is about another "
                     f"image and no log has the DXE core's \"Loading driver at ... {image_name}\" line "
                     "(give that DEBUG log too, or --base)")
    else:
        lines.append(f"{image_name} at 0x{report['image_base']:016X}, from {report['image_base_from']}")
    for entry in report["values"]:
        if entry["in_image"]:
            lines += value_lines(entry, image_name)
        elif entry["register"] == "RIP" and report["fault_register"] == "RIP":
            lines.append(f"RIP 0x{entry['value']:016X} is not in {image_name}; {where_found(report)}")
        elif entry["register"] == "RIP":
            lines.append(f"RIP 0x{entry['value']:016X} (an instruction fetch failed there; the handler "
                         "searched the return address at RSP)")
        else:
            lines.append(f"{entry['register']} 0x{entry['value']:016X} is not in {image_name}; "
                         f"{where_found(report)}")
    verdict = {EXIT_IN_IMAGE: f"the fault is in {image_name}" if report["fault_register"] == "RIP" else
               f"the faulting call was made from {image_name}",
               EXIT_REGISTERS_IN_IMAGE: f"the fault is not in {image_name}, but registers point into it",
               EXIT_NOT_IN_IMAGE: f"nothing of this dump is in {image_name}"}
    lines.append(verdict[report["status"]])
    return lines


def report_text(report):
    blocks = ["\n".join(dump_text(dump, report["image"])) for dump in report["dumps"]]
    return "\n\n".join(blocks) + "\n"


def parse_address(text):
    try:
        value = int(text[2:] if text.lower().startswith("0x") else text, 16)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a hexadecimal address: {text!r}") from None
    if not 0 <= value < 1 << 64:
        raise argparse.ArgumentTypeError(f"not a 64-bit address: {text!r}")
    return value


def main(argv=None):
    parser = argparse.ArgumentParser(description=re.sub(r"\n\n    symbolize.py .*?\n\n", "\n\n", __doc__, flags=re.S),
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("logs", nargs="+", metavar="LOG", help="serial console or DEBUG log")
    parser.add_argument("--image", required=True, help="the driver image (SlotInventoryDxe.efi)")
    parser.add_argument("--symbols", required=True,
                        help="its symbol file, the image with DWARF (SlotInventoryDxe.debug)")
    parser.add_argument("--base", type=parse_address,
                        help="where the image was loaded (hex), for logs that do not say")
    parser.add_argument("--json", action="store_true", help="print the report as one JSON object")
    parser.add_argument("--addr2line", default="addr2line", help="the addr2line program (default: %(default)s)")
    args = parser.parse_args(argv)
    try:
        report = symbolize(args.logs, args.image, args.symbols, args.base, args.addr2line)
    except InputError as error:
        print(f"symbolize: {error}", file=sys.stderr)
        return EXIT_BAD_INPUT
    sys.stdout.write(json.dumps(report, indent=1) + "\n" if args.json else report_text(report))
    return report["status"]


if __name__ == "__main__":
    sys.exit(main())
