"""Reads what EDK2 firmware prints about a crash from a captured serial or
DEBUG log: the X64 CPU exception handler's dump ("!!!! X64 Exception Type
- ..."; its registers and the image it found for the faulting address) and
the DXE core's "Loading driver at ..." line for each image it loads.
Terminal escapes, CRs and text around a dump are ignored.

    read_dumps(text, log) -> [Dump]      DumpError when a dump is cut short or garbled
    load_lines(text, log) -> [LoadLine]

log names the text in messages and in what is returned. Standard library only.
"""
import re
from collections import namedtuple


class DumpError(Exception):
    """An exception dump that is truncated or malformed; the message names
    the log and the line."""


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
# GDTR and IDTR print base and limit words; the base is kept.
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
LOAD_LINE = re.compile(r"Loading driver at 0x([0-9A-Fa-f]{1,16}) EntryPoint=0x([0-9A-Fa-f]{1,16}) ?(\S*)")

# The image the handler found for the faulting address: the low 32 bits of
# the address it searched, the image's CodeView file name (None for "(No
# PDB)"), its base and entry point.
ImageLine = namedtuple("ImageLine", "ip name base entry")
# A DXE core load line: base, entry point and the module name it prints.
LoadLine = namedtuple("LoadLine", "log line base entry name")


class Dump(namedtuple("Dump", "log line vector description apic_id error_code registers image")):
    """One exception dump: where it starts, the vector and its description,
    the CPU, the error code (None for vectors without one), {register name:
    value} (CR2 included) and the ImageLine (None when the handler found no
    image)."""
    __slots__ = ()

    @property
    def searched_return_address(self):
        """Whether the handler searched for an image from the return address
        at RSP rather than from RIP: it does for an instruction-fetch page
        fault, where RIP is where the fetch failed."""
        return self.vector == PAGE_FAULT and bool(self.error_code & PAGE_FAULT_INSTRUCTION_FETCH)


def log_lines(text):
    """(line number, text) of the log's lines without terminal escapes and
    control characters; a CR within a line starts another line of the same
    number, as it does for a terminal."""
    return [(number, CONTROL_CHARACTER.sub("", part))
            for number, line in enumerate(ESCAPE_SEQUENCE.sub("", text).split("\n"), 1)
            for part in line.split("\r")]


class DumpReader:
    """Walks one dump's lines, in the order the handler prints them."""

    def __init__(self, lines, start, log):
        self.lines, self.at, self.log = lines, start, log
        self.start = lines[start][0]

    def malformed(self, problem):
        return DumpError(f"{self.log}: the exception dump on line {self.start} is malformed: {problem}")

    def next_line(self, what):
        while True:
            self.at += 1
            if self.at >= len(self.lines):
                raise DumpError(f"{self.log}: the exception dump on line {self.start} is truncated: "
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
        dump = Dump(self.log, self.start, vector, head.group(2), int(head.group(3), 16),
                    error_code, registers, self.read_image_line())
        if dump.image and not dump.searched_return_address and dump.image.ip != registers["RIP"] & 0xFFFFFFFF:
            raise self.malformed(f"its image line searched IP 0x{dump.image.ip:X}, not RIP")
        return dump

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


def read_dumps(text, log="log"):
    """Every exception dump in a log's text, in order."""
    lines = log_lines(text)
    dumps = []
    index = 0
    while index < len(lines):
        at = lines[index][1].find(DUMP_MARK)
        if at < 0:
            index += 1
            continue
        reader = DumpReader(lines, index, log)
        dumps.append(reader.read(lines[index][1][at + len(DUMP_MARK):].strip()))
        index = reader.at + 1
    return dumps


def load_lines(text, log="log"):
    """Every DXE core load line in a log's text, in order."""
    return [LoadLine(log, number, int(match.group(1), 16), int(match.group(2), 16), match.group(3))
            for number, match in ((number, LOAD_LINE.search(line)) for number, line in log_lines(text))
            if match]
