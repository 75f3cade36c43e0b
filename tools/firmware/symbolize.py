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
import json
import os
import posixpath
import re
import shutil
import subprocess
import sys
from collections import namedtuple

import exception_dump
import pe_image as pe

EXIT_IN_IMAGE = 0
EXIT_NOT_IN_IMAGE = 1
EXIT_BAD_INPUT = 2
EXIT_REGISTERS_IN_IMAGE = 3
# Which status wins when a log holds several dumps.
STATUS_SEVERITY = {EXIT_IN_IMAGE: 0, EXIT_REGISTERS_IN_IMAGE: 1, EXIT_NOT_IN_IMAGE: 2}

ADDR2LINE_TIMEOUT_SECONDS = 60
DWARF_SECTIONS = (".debug_info", ".debug_line")
CODE_SECTION = pe.SCN_CNT_CODE | pe.SCN_MEM_EXECUTE
# The registers whose values may point into the image; CR2 is the faulting address.
POINTER_REGISTERS = ("CR2", "RAX", "RBX", "RCX", "RDX", "RSI", "RDI", "RBP", "RSP",
                     "R8", "R9", "R10", "R11", "R12", "R13", "R14", "R15")


class InputError(Exception):
    """A log, image, symbol file or tool that is not what it should be; the
    message names the file and what is wrong."""


# --- The image and its symbol file --------------------------------------------

# The image being symbolized: its file, its PE reading and its CodeView entry.
Driver = namedtuple("Driver", "path name image codeview")


def read_file(path, role):
    try:
        with open(path, "rb") as source:
            return source.read()
    except OSError as error:
        raise InputError(f"{path}: cannot read the {role}: {error.strerror}") from None


def read_pe(path, role):
    """(PeImage, CodeView entry or None) of an x64 PE32+ file."""
    try:
        image = pe.PeImage(read_file(path, role), f"{role} {path}")
        codeview = image.codeview()
    except pe.ImageError as error:
        raise InputError(str(error)) from None
    if image.machine != pe.MACHINE_AMD64:
        raise InputError(f"{role} {path} is not an x64 image (machine 0x{image.machine:04X})")
    return image, codeview


def read_image_and_symbols(image_path, symbols_path):
    """(Driver, the symbol file's PeImage), checked to be a PE32+ image and
    the unstripped image it was made from (same CodeView GUID and age, DWARF
    present)."""
    image, codeview = read_pe(image_path, "image")
    symbols, symbols_codeview = read_pe(symbols_path, "symbol file")
    if codeview is None or codeview.guid is None:
        raise InputError(f"{image_path}: the image has no CodeView RSDS record in a debug directory: "
                         "nothing ties it to a symbol file")
    if symbols_codeview is None:
        raise InputError(f"{symbols_path} is not a symbol file: it has no CodeView record in a "
                         "debug directory")
    if symbols_codeview.guid != codeview.guid:
        raise InputError(f"symbol file {symbols_path}: its CodeView GUID {guid_text(symbols_codeview)} does "
                         f"not match the image's {guid_text(codeview)} ({image_path})")
    if symbols_codeview.age != codeview.age:
        raise InputError(f"symbol file {symbols_path}: its CodeView age {symbols_codeview.age} does "
                         f"not match the image's {codeview.age} ({image_path})")
    names = {section.name for section in symbols.sections}
    missing = [name for name in DWARF_SECTIONS if name not in names]
    if missing:
        raise InputError(f"{symbols_path} is not a symbol file: it has no DWARF ({', '.join(missing)} "
                         "missing); is it the stripped image?")
    return Driver(image_path, os.path.basename(image_path), image, codeview), symbols


def guid_text(codeview):
    return str(codeview.guid).upper() if codeview.guid else "(none: an NB10 record)"


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


# --- Which addresses lie in the image ---------------------------------------------

ImagePlace = namedtuple("ImagePlace", "base source")


def fault_site(dump):
    """(label, address, is a return address) of the instruction the fault is
    blamed on: RIP, or the return address the handler searched instead."""
    if not dump.searched_return_address:
        return "RIP", dump.registers["RIP"], False
    if dump.image is None:
        return None
    # The handler prints only the low 32 bits of what it searched.
    return "[RSP]", (dump.image.base & ~0xFFFFFFFF) | dump.image.ip, True


def check_image_line(dump, driver):
    """The dump's image line, when it names this image, with its entry point
    checked; None when it names another image or none."""
    line = dump.image
    if line is None or line.name is None or not names_image(line.name, driver.codeview.name):
        return None
    if line.entry and line.entry - line.base != driver.image.entry:
        raise InputError(f"{dump.log}: the exception dump on line {dump.line} names {line.name} with its "
                         f"entry point at +0x{line.entry - line.base:X}, but {driver.path} has its entry "
                         f"point at +0x{driver.image.entry:X}: the log is from another build of the image")
    return line


def place_image(dump, driver, loads, given_base):
    """Where the image was loaded when this dump was taken, and how that is
    known; None when the logs do not say and no base was given."""
    line = check_image_line(dump, driver)
    ours = [load for load in loads if names_image(load.name, driver.codeview.name)]
    for load in ours:
        if load.entry - load.base != driver.image.entry:
            raise InputError(f"{load.log}: line {load.line} loads {load.name} with its entry point at "
                             f"+0x{load.entry - load.base:X}, but {driver.path} has its entry point at "
                             f"+0x{driver.image.entry:X}: the log is from another build of the image")
    found = (ImagePlace(line.base, "the dump's image line") if line else
             ImagePlace(ours[-1].base, f"the DXE core's load line ({ours[-1].log} line {ours[-1].line})")
             if ours else None)
    if given_base is None:
        return found
    if found and found.base != given_base:
        raise InputError(f"--base 0x{given_base:X} contradicts {found.source}, which puts "
                         f"{driver.name} at 0x{found.base:X}")
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
    if place and place.base <= value < place.base + image.size_of_image:
        rva = value - place.base
        section = image.section_at(rva)
        entry.update(in_image=True, rva=rva, section=section.name if section else "headers",
                     code=bool(section and section.characteristics & CODE_SECTION))
    return entry


def dump_report(dump, image, place):
    site = fault_site(dump)
    values = [describe_value("RIP", dump.registers["RIP"], place, image, False)]
    if site and site[0] != "RIP":
        label, value, return_address = site
        values.append(describe_value(label, value, place, image, return_address))
    for name in POINTER_REGISTERS:
        if name == "CR2" and dump.vector != exception_dump.PAGE_FAULT:
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


def plan(logs_text, driver, base=None):
    """The reports on every dump in {log name: text}, without functions and
    lines yet."""
    dumps, loads = [], []
    for log, text in logs_text.items():
        try:
            dumps += exception_dump.read_dumps(text, log)
        except exception_dump.DumpError as error:
            raise InputError(str(error)) from None
        loads += exception_dump.load_lines(text, log)
    if not dumps:
        raise InputError(f"{', '.join(logs_text)}: no EDK2 exception dump "
                         f"(\"{exception_dump.DUMP_MARK}...\") in the log")
    return [dump_report(dump, driver.image, place_image(dump, driver, loads, base)) for dump in dumps]


def symbolize(logs, image_path, symbols_path, base=None, addr2line="addr2line"):
    """The report on every exception dump in the logs (paths), as a
    JSON-ready dict: {"image", "codeview", "status", "dumps": [{"exception",
    "image_base", "status", "fault": the innermost frame of the faulting
    code ({"function", "name", "file", "line"}) or None, "values": [...]}]}.
    Raises InputError on bad input."""
    logs = [logs] if isinstance(logs, str) else list(logs)
    program = find_addr2line(addr2line)
    driver, symbols = read_image_and_symbols(image_path, symbols_path)
    reports = plan({log: read_file(log, "log").decode("latin-1") for log in logs}, driver, base)
    code = [entry for report in reports for entry in report["values"] if entry["code"]]

    def linked_address(entry):
        # A return address names the call just before it.
        return symbols.base + entry["rva"] - (1 if entry["return_address"] else 0)

    frames = look_up(program, symbols_path, [linked_address(entry) for entry in code])
    for entry in code:
        entry["frames"] = [dict(frame, name=short_name(frame["function"]))
                           for frame in frames[linked_address(entry)]]
    for report in reports:
        fault = next((entry for entry in report["values"]
                      if entry["register"] == report["fault_register"]), None)
        report["fault"] = fault["frames"][0] if fault and fault["frames"] else None
    status = max((report["status"] for report in reports), key=STATUS_SEVERITY.get)
    codeview = {"guid": guid_text(driver.codeview), "age": driver.codeview.age, "name": driver.codeview.name}
    return {"image": driver.name, "codeview": codeview, "status": status, "dumps": reports}


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
