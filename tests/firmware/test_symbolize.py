"""symbolize.py on the driver image and its symbol file from the build, with
real exception dumps of DEBUG OVMF (EDK2 2022.11; 2025.02's handler prints
the same), their addresses moved onto the image under test.

    FIRMWARE_TEST_BUILD_DIR=build python3 -m unittest discover -s tests/firmware -p test_symbolize.py
"""
import json
import os
import random
import re
import shutil
import signal
import subprocess
import tempfile
import unittest

from firmware_test_paths import IMAGE_DIR, tool
import exception_dump
import symbolize

IMAGE = os.path.join(IMAGE_DIR, "SlotInventoryDxe.efi")
SYMBOLS = os.path.join(IMAGE_DIR, "SlotInventoryDxe.debug")
BASE = 0xBF89000

# The shell loading a copy of the driver whose entry point writes through
# NULL: the serial log as captured, escapes and CRs included.
NULL_WRITE = (
    "\x1b[1m\x1b[33m\x1b[40mShell> \x1b[0m\x1b[37m\x1b[40mfs0:\r\n"
    "\x1b[1m\x1b[33m\x1b[40mFS0:\\> \x1b[0m\x1b[37m\x1b[40mload fs0:\\DRIVER.EFI\r\n"
    "!!!! X64 Exception Type - 0E(#PF - Page-Fault)  CPU Apic ID - 00000000 !!!!\r\n"
    "ExceptionData - 0000000000000002  I:0 R:0 U:0 W:1 P:0 PK:0 SS:0 SGX:0\r\n"
    "RIP  - {rip:016X}, CS  - 0000000000000038, RFLAGS - 0000000000000246\r\n"
    "RAX  - 0000000000000000, RCX - 000000000BF9CFC8, RDX - 000000000F1EC018\r\n"
    "RBX  - 0000000000000000, RSP - 000000000FA7E408, RBP - 000000000BF9EF98\r\n"
    "RSI  - 0000000000000007, RDI - 000000000BFAEE78\r\n"
    "R8   - 000000000FAA06ED, R9  - 0000000000000108, R10 - 0000000000000001\r\n"
    "R11  - 0000000000000002, R12 - 000000000BF92FE0, R13 - 0000000000000001\r\n"
    "R14  - 000000000FA7E568, R15 - 000000000C29DDEA\r\n"
    "DS   - 0000000000000030, ES  - 0000000000000030, FS  - 0000000000000030\r\n"
    "GS   - 0000000000000030, SS  - 0000000000000030\r\n"
    "CR0  - 0000000080010033, CR2 - 0000000000000000, CR3 - 000000000F401000\r\n"
    "CR4  - 0000000000000668, CR8 - 0000000000000000\r\n"
    "DR0  - 0000000000000000, DR1 - 0000000000000000, DR2 - 0000000000000000\r\n"
    "DR3  - 0000000000000000, DR6 - 00000000FFFF0FF0, DR7 - 0000000000000400\r\n"
    "GDTR - 000000000F1DB020 0000000000000057, LDTR - 0000000000000000\r\n"
    "IDTR - 000000000E038000 0000000000000FFF,   TR - 0000000000000048\r\n"
    "FXSAVE_STATE - 000000000F1DA470\r\n"
    "!!!! Find image based on IP(0x{ip:X}) {name} (ImageBase={base:016X}, "
    "EntryPoint={entry:016X}) !!!!\r\n")
# The same copy calling through NULL: the handler searches the return address at RSP.
NULL_CALL_LINES = {
    "ExceptionData": "ExceptionData - 0000000000000010  I:1 R:0 U:0 W:0 P:0 PK:0 SS:0 SGX:0\r\n",
    "RIP": "RIP  - 0000000000000000, CS  - 0000000000000038, RFLAGS - 0000000000000246\r\n",
}
# A fault control (no CodeView record) reading through NULL, in another image.
ELSEWHERE = (
    "!!!! X64 Exception Type - 0E(#PF - Page-Fault)  CPU Apic ID - 00000000 !!!!\r\n"
    "ExceptionData - 0000000000000000  I:0 R:0 U:0 W:0 P:0 PK:0 SS:0 SGX:0\r\n"
    "RIP  - 000000000BF90207, CS  - 0000000000000038, RFLAGS - 0000000000000202\r\n"
    "RAX  - 0000000000000000, RCX - 000000000BF94FC8, RDX - 000000000F1EC018\r\n"
    "RBX  - 0000000000000000, RSP - 000000000FA7E408, RBP - 000000000BF96F98\r\n"
    "RSI  - 0000000000000007, RDI - 000000000BFA6E78\r\n"
    "R8   - 000000000FAA06ED, R9  - 0000000000000108, R10 - 0000000000000001\r\n"
    "R11  - 0000000000000002, R12 - 000000000BF8AFE0, R13 - 0000000000000001\r\n"
    "R14  - 000000000FA7E568, R15 - 000000000C29DDEA\r\n"
    "DS   - 0000000000000030, ES  - 0000000000000030, FS  - 0000000000000030\r\n"
    "GS   - 0000000000000030, SS  - 0000000000000030\r\n"
    "CR0  - 0000000080010033, CR2 - 0000000000000000, CR3 - 000000000F401000\r\n"
    "CR4  - 0000000000000668, CR8 - 0000000000000000\r\n"
    "DR0  - 0000000000000000, DR1 - 0000000000000000, DR2 - 0000000000000000\r\n"
    "DR3  - 0000000000000000, DR6 - 00000000FFFF0FF0, DR7 - 0000000000000400\r\n"
    "GDTR - 000000000F1DB020 0000000000000057, LDTR - 0000000000000000\r\n"
    "IDTR - 000000000E038000 0000000000000FFF,   TR - 0000000000000048\r\n"
    "FXSAVE_STATE - 000000000F1DA470\r\n"
    "!!!! Find image based on IP(0xBF90207) (No PDB)  (ImageBase=000000000BF90000, "
    "EntryPoint=000000000BF90200) !!!!\r\n")
ELSEWHERE_R12 = 0xBF8AFE0
# An invalid opcode: no error code, and no image found for RIP.
INVALID_OPCODE = "".join(
    line for line in ELSEWHERE.replace("0E(#PF - Page-Fault)", "06(#UD - Invalid Opcode)").splitlines(True)
    if not line.startswith(("ExceptionData", "!!!! Find image"))) + "!!!! Can't find image information. !!!!\r\n"


def load_line(base, entry_rva):
    """The DXE core's DEBUG line for loading the driver at base."""
    return f"Loading driver at 0x{base:011X} EntryPoint=0x{base + entry_rva:011X} SlotInventoryDxe.efi\r\n"


class SymbolizeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = None
        if not os.path.exists(SYMBOLS):
            return
        cls.work = tempfile.mkdtemp(prefix="symbolize-test-")
        cls.driver, symbols = symbolize.read_image_and_symbols(IMAGE, SYMBOLS)
        cls.image, cls.linked_base = cls.driver.image, symbols.base
        cls.entry = cls.image.entry
        with open(SYMBOLS, "rb") as source:
            cls.symbols = source.read()

    @classmethod
    def tearDownClass(cls):
        if cls.work:
            shutil.rmtree(cls.work, ignore_errors=True)

    def setUp(self):
        if not self.work:
            self.skipTest(f"no symbol file {SYMBOLS}: the image build writes it")

    def write(self, name, data):
        path = os.path.join(self.work, name)
        with open(path, "wb") as target:
            target.write(data.encode("latin-1") if isinstance(data, str) else data)
        return path

    def null_write(self, rip_offset=2):
        rip = BASE + self.entry + rip_offset
        return NULL_WRITE.format(rip=rip, ip=rip & 0xFFFFFFFF, base=BASE, entry=BASE + self.entry,
                                 name=self.driver.codeview.name)

    def null_call(self):
        """After `call rax` at the entry point's third byte: [RSP] = entry + 4."""
        lines = self.null_write(rip_offset=4).splitlines(keepends=True)
        return "".join(next((NULL_CALL_LINES[key] for key in NULL_CALL_LINES if line.startswith(key)), line)
                       for line in lines)

    def run_tool(self, *logs, extra=(), symbols=SYMBOLS):
        done = subprocess.run(tool("symbolize.py") + [self.write(f"log{i}.txt", text) for i, text in enumerate(logs)]
                              + ["--image", IMAGE, "--symbols", symbols, *extra],
                              capture_output=True, text=True, check=False, timeout=60)
        return done.returncode, done.stdout, done.stderr

    def report(self, *logs, **options):
        return symbolize.symbolize([self.write(f"log{i}.txt", text) for i, text in enumerate(logs)],
                                   IMAGE, SYMBOLS, **options)

    def test_fault_in_the_image_names_function_and_line(self):
        status, out, err = self.run_tool(self.null_write(rip_offset=0))
        self.assertEqual((status, err), (0, ""))
        first, rip = out.splitlines()[1:3]
        self.assertEqual(first, f"SlotInventoryDxe.efi at 0x{BASE:016X}, from the dump's image line")
        self.assertRegex(rip, rf"^RIP 0x{BASE + self.entry:016X} = SlotInventoryDxe.efi\+0x{self.entry:X}  "
                              r"DriverEntry  entry/startup\.cpp:\d+$")
        # A capture with CR line ends only reads the same.
        report = self.report(self.null_write(rip_offset=0).replace("\r\n", "\r"))
        self.assertEqual(report["status"], 0)
        fault = report["dumps"][0]["fault"]
        self.assertEqual((fault["function"], fault["file"]), ("DriverEntry", "entry/startup.cpp"))
        self.assertIsInstance(fault["line"], int)

    def test_instruction_fetch_fault_names_the_caller_from_the_return_address_at_rsp(self):
        report = self.report(self.null_call())
        dump = report["dumps"][0]
        self.assertEqual((report["status"], dump["fault_register"]), (0, "[RSP]"))
        rip, returned = dump["values"][:2]
        self.assertFalse(rip["in_image"])
        self.assertEqual((returned["rva"], returned["return_address"]), (self.entry + 4, True))
        self.assertEqual(dump["fault"]["function"], "DriverEntry")

    def test_inline_chain_innermost_first_with_clean_file_names(self):
        # Find code addr2line reports as inlined, then plant it as RIP.
        text = next(item for item in self.image.sections if item.name == ".text")
        rvas = range(text.rva, text.rva + text.virtual_size, 4)
        linked = self.linked_base
        frames = symbolize.look_up("addr2line", SYMBOLS, [linked + rva for rva in rvas])
        frames = {rva: frames[linked + rva] for rva in rvas}
        rva = next((rva for rva in rvas if len(frames[rva]) > 2), None)
        self.assertIsNotNone(rva, "no code inlined twice in .text")
        status, out, _ = self.run_tool(self.null_write(rip_offset=rva - self.entry))
        self.assertEqual(status, 0)
        lines = out.splitlines()
        chain = lines[2:2 + len(frames[rva])]
        function_column = chain[0].index("  ") + 2
        shown = [symbolize.short_name(frame["function"]) for frame in frames[rva]]
        for index, (line, function) in enumerate(zip(chain, shown)):
            self.assertTrue(line[function_column:].startswith(function), line)
            if index:
                self.assertEqual(line[:function_column].strip(), "inlined in")
        self.assertNotIn("./", out)
        self.assertNotIn("/../", out)

    def test_fault_elsewhere_reports_it_and_registers_that_point_into_the_image(self):
        status, out, _ = self.run_tool(ELSEWHERE)
        self.assertEqual(status, 1)
        self.assertIn("RIP 0x000000000BF90207 is not in SlotInventoryDxe.efi; the handler found an image "
                      "without a CodeView name at 0x000000000BF90000", out)
        # The DEBUG log says where the driver was loaded: R12 then points at its entry point.
        base = ELSEWHERE_R12 - self.entry
        for logs, extra in (((ELSEWHERE, load_line(base, self.entry)), ()),
                            ((ELSEWHERE,), ("--base", f"{base:x}"))):
            status, out, _ = self.run_tool(*logs, extra=extra)
            self.assertEqual(status, 3, out)
            self.assertRegex(out, rf"\nR12 0x{ELSEWHERE_R12:016X} = SlotInventoryDxe.efi\+0x{self.entry:X}  "
                                  r"DriverEntry  entry/startup\.cpp:\d+\n")
        # Every dump is reported; the worst status wins.
        status, out, _ = self.run_tool(self.null_write() + ELSEWHERE)
        self.assertEqual((status, len(re.findall(r"^\S+log0\.txt line \d+: #PF", out, re.MULTILINE))), (1, 2))

    def test_refusals_name_the_problem(self):
        symbols = bytearray(self.symbols)
        guid_at = symbols.find(b"RSDS") + 4
        other_guid, other_age = bytearray(symbols), bytearray(symbols)
        other_guid[guid_at] ^= 0xFF
        other_age[guid_at + 16] ^= 0x01
        no_debug_directory = bytearray(symbols)
        pe = int.from_bytes(symbols[0x3C:0x40], "little")
        directory = pe + 24 + 112 + 6 * 8
        no_debug_directory[directory:directory + 8] = bytes(8)
        with open(IMAGE, "rb") as source:
            stripped = source.read()
        dump = self.null_write()
        register_lines = dump.split("\r\n")
        cases = {
            "GUID .* does not match the image's": {"symbols": other_guid},
            r"its CodeView age \d+ does not match the image's": {"symbols": other_age},
            r"is truncated: it ends \(\d+ bytes\) within the (data|name) of section": {
                "symbols": symbols[:len(symbols) // 2]},
            r"is truncated: it ends \(256 bytes\) within the": {"symbols": symbols[:0x100]},
            "not a symbol file: it has no DWARF": {"symbols": stripped},
            r"not a PE image \(no MZ header\)": {"symbols": b"ELF plain text\n"},
            "not a symbol file: it has no CodeView record": {"symbols": no_debug_directory},
            "no EDK2 exception dump": {"log": "boot log without a fault\r\n"},
            "is truncated: the log ends before its RBX line": {"log": "\r\n".join(register_lines[:6])},
            "is malformed: line 7 should be its RBX line": {
                "log": dump.replace("RBX  - 0000000000000000", "RBX  - 00000000000000")},
            "another build of the image": {"log": dump.replace(f"EntryPoint={BASE + self.entry:016X}",
                                                               f"EntryPoint={BASE + self.entry + 16:016X}")},
            "cannot read the log: No such file": {"log_path": os.path.join(self.work, "missing.log")},
            "cannot read the image": {"image": os.path.join(self.work, "missing.efi")},
            "not found: install binutils": {"addr2line": "no-such-addr2line"},
        }
        for message, case in cases.items():
            with self.subTest(message):
                log = case.get("log_path") or self.write("refused.log", case.get("log", dump))
                symbols_path = self.write("refused.debug", bytes(case["symbols"])) if "symbols" in case else SYMBOLS
                with self.assertRaisesRegex(symbolize.InputError, message):
                    symbolize.symbolize([log], case.get("image", IMAGE), symbols_path,
                                        addr2line=case.get("addr2line", "addr2line"))
        status, out, err = self.run_tool(dump, symbols=self.write("other.debug", bytes(other_guid)))
        self.assertEqual((status, out), (2, ""))
        self.assertRegex(err, r"^symbolize: symbol file .*other\.debug: its CodeView GUID [0-9A-F-]{36} does "
                              r"not match the image's [0-9A-F-]{36}")

    def test_log_reader_survives_mutated_dumps(self):
        """Truncations, byte flips, deletions and inserted noise: the reader
        either reads a dump or refuses the log, and never hangs."""
        rng = random.Random(20240613)
        seeds = [self.null_write(), self.null_call(), ELSEWHERE + load_line(BASE, self.entry)]
        noise = ["\x1b[", "\x1b[1;33m", "\r", "\n", "\x00", "!!!! X64 Exception Type - ", "0E(#PF)",
                 "!!!! Find image based on IP(0x", "(ImageBase=", "Loading driver at 0x", "FFFFFFFFFFFFFFFF",
                 "RIP  - ", ", ", "SlotInventoryDxe.pdb ", "\xff\xfe"]

        def mutate(text):
            for _ in range(rng.randint(1, 4)):
                at = rng.randrange(len(text) + 1)
                kind = rng.randrange(4)
                if kind == 0:
                    text = text[:at]
                elif kind == 1 and at < len(text):
                    text = text[:at] + chr(rng.randrange(256)) + text[at + 1:]
                elif kind == 2:
                    text = text[:at] + text[at + rng.randint(1, 40):]
                else:
                    text = text[:at] + rng.choice(noise) * rng.randint(1, 3) + text[at:]
            return text

        def hung(*_):
            raise AssertionError("the log reader took over 30 s")

        previous = signal.signal(signal.SIGALRM, hung)
        signal.alarm(30)
        outcomes = {"read": 0, "refused": 0}
        try:
            for _ in range(3000):
                text = mutate(rng.choice(seeds))
                try:
                    symbolize.plan({"fuzz.log": text}, self.driver)
                    outcomes["read"] += 1
                except symbolize.InputError:
                    outcomes["refused"] += 1
        finally:
            signal.alarm(0)
            signal.signal(signal.SIGALRM, previous)
        self.assertTrue(all(outcomes.values()), outcomes)


class ExceptionDumpTest(unittest.TestCase):
    def test_dumps_and_load_lines_read_as_fields(self):
        text = load_line(BASE, 0x240) + ELSEWHERE + INVALID_OPCODE
        fault, invalid_opcode = exception_dump.read_dumps(text, "serial.log")
        self.assertEqual((fault.log, fault.line, fault.vector, fault.error_code, fault.registers["CR2"],
                          fault.registers["R12"], fault.searched_return_address),
                         ("serial.log", 2, 0x0E, 0, 0, ELSEWHERE_R12, False))
        self.assertEqual(fault.image, exception_dump.ImageLine(0xBF90207, None, 0xBF90000, 0xBF90200))
        self.assertEqual((invalid_opcode.line, invalid_opcode.vector, invalid_opcode.error_code,
                          invalid_opcode.image), (21, 0x06, None, None))
        self.assertEqual(exception_dump.load_lines(text, "debug.log"),
                         [exception_dump.LoadLine("debug.log", 1, BASE, BASE + 0x240, "SlotInventoryDxe.efi")])


class ShortNameTest(unittest.TestCase):
    def test_short_names_drop_only_the_parameter_list(self):
        for full, short in (("DriverEntry", "DriverEntry"), ("f(int, char)", "f"),
                            ("(anonymous namespace)::Pick(unsigned char const*)", "(anonymous namespace)::Pick"),
                            ("g(void (*)(int)) const", "g"), ("S::operator()(int)", "S::operator()"),
                            ("h<int>(h<int>::T)", "h<int>")):
            self.assertEqual(symbolize.short_name(full), short)


if __name__ == "__main__":
    unittest.main()
