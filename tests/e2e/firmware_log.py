"""A DEBUG firmware's log (I/O port 0x402) and its exception dump on the
serial port: faults, where the DXE core placed images, the dispatch order and
what it said about protecting our image."""
import re
from collections import namedtuple

PCI_ENUMERATION_COMPLETE_GUID = "30CFE3E7-3DE1-4586-BE20-DEABA1B3B793"
# OVMF's SMBIOS producer, SmbiosPlatformDxe: QEMU's own records.
SMBIOS_PRODUCER_FILE_GUID = "4110465D-5FF3-4F4B-B580-24ED0D06747A"
# CPU exception handlers print on the serial port, the DXE core's asserts in its log.
EXCEPTION_MARK = "!!!! X64 Exception"
ASSERT_LINE = re.compile(r"^ASSERT[ _(].*$", re.MULTILINE)
LOADING_FILE = re.compile(r"^Loading driver ([0-9A-Fa-f-]{36})\s*$")
# The image's name comes from its CodeView entry; an image without one ends the line bare.
LOADED_AT = re.compile(r"^Loading driver at 0x([0-9A-Fa-f]+) EntryPoint=0x[0-9A-Fa-f]+ *(\S*)")
# What a DXE core that protects images says of one it cannot protect, in the
# lines after the image's load address.
UNPROTECTED_IMAGE = re.compile(r"Image Section Alignment\(0x[0-9A-Fa-f]+\) does not match Required Alignment"
                               r"|failed to create image properties record")
PLACING_NOTES = ("InstallProtocolInterface: ", "None of Tcg2Protocol/CcMeasurementProtocol is installed.")
START_FAILED = re.compile(r"^Error: Image at\s+(?:0x)?([0-9A-Fa-f]+) start failed: (.*)$")
# What OVMF's SMBIOS driver says when it refuses a record: the table would
# outgrow what its entry point can describe (a 2.x one: 65535 bytes).
REFUSED_ADD = re.compile(r"^SmbiosAdd: Total length exceeds max (?:32|64)-bit table length "
                         r"with type = (\d+) size = 0x([0-9A-Fa-f]+)")


def status_words(name):
    """A status's words as the DXE core prints them (EFI_OUT_OF_RESOURCES:
    "out of resources"), lower case."""
    return name.removeprefix("EFI_").replace("_", " ").lower()


def firmware_fault(log, serial):
    """The first assert or CPU exception a DEBUG firmware reported, or None."""
    at = serial.find(EXCEPTION_MARK)
    if at >= 0:
        return serial[at:].splitlines()[0].strip()
    match = ASSERT_LINE.search(log)
    return match.group(0).strip() if match else None


# The first CPU exception on the serial port: its type, error code, RIP, CR2
# and the base of the image the handler found; each None where the dump does not say.
Fault = namedtuple("Fault", "kind data rip cr2 base")
FAULT_FIELDS = (r"!!!! X64 Exception Type - ([0-9A-Fa-f]+)", r"ExceptionData - ([0-9A-Fa-f]+)",
                r"RIP\s+-\s+([0-9A-Fa-f]+)", r"CR2\s+-\s+([0-9A-Fa-f]+)", r"ImageBase=([0-9A-Fa-f]+)")


def exception_dump(serial):
    at = serial.find(EXCEPTION_MARK)
    dump = serial[at:] if at >= 0 else ""
    return Fault(*(int(match.group(1), 16) if match else None
                   for match in (re.search(pattern, dump) for pattern in FAULT_FIELDS)))


def loaded_images(lines):
    """[(line index, base, name)] of every image the DXE core placed."""
    return [(i, int(match.group(1), 16), match.group(2)) for i, match in
            ((i, LOADED_AT.match(line)) for i, line in enumerate(lines)) if match]


def driver_load_address(log, platform):
    """Where the DXE core placed the driver's image (the last time), or None."""
    bases = [base for _, base, name in loaded_images(log.splitlines()) if name == platform.image_name]
    return bases[-1] if bases else None


def protection_complaints(lines, index):
    """What the DXE core said about protecting the image it placed at line
    index, up to the next image it loads."""
    following = [i for i, line in enumerate(lines) if i > index and line.startswith("Loading driver")]
    end = following[0] if following else len(lines)
    return [line.strip(" !") for line in lines[index + 1:end] if UNPROTECTED_IMAGE.search(line)]


def check_dispatch(lines, platform, simulated=None):
    """The DXE core's order, read from its log: the driver loaded once, after
    PCI enumeration completed and after OVMF's SMBIOS producer added its
    records; its entry point reported as failed only as the simulator's
    (simulated, a SimulatorRun) fails, and as many of its adds refused."""
    loads = [(i, match.group(1).upper()) for i, match in
             ((i, LOADING_FILE.match(line)) for i, line in enumerate(lines)) if match]
    ours = [i for i, guid in loads if guid == platform.file_guid]
    if len(ours) != 1:
        return [f"the DXE core loaded the driver {len(ours)} times"]
    at = ours[0]
    problems = []
    complete = [i for i, line in enumerate(lines)
                if line.upper().startswith(f"INSTALLPROTOCOLINTERFACE: {PCI_ENUMERATION_COMPLETE_GUID} ")]
    if not complete or complete[0] > at:
        problems.append("driver loaded before PCI enumeration completed")
    producer = [i for i, guid in loads if guid == SMBIOS_PRODUCER_FILE_GUID]
    following = [i for i, _ in loads if producer and i > producer[0]]
    end = following[0] if following else len(lines)
    if not producer or end > at or not any(line.startswith("SmbiosAdd: Smbios type")
                                          for line in lines[producer[0]:end]):
        problems.append("driver loaded before OVMF's SMBIOS producer added its records")
    placed = next((i for i in range(at + 1, min(at + 8, len(lines))) if LOADED_AT.match(lines[i])), None)
    if placed is None:
        return problems + ["no load address follows the driver's loading line"]
    base, name = int(LOADED_AT.match(lines[placed]).group(1), 16), LOADED_AT.match(lines[placed]).group(2)
    if name != platform.image_name:
        problems.append(f"the DXE core names the driver's image {name!r}, not {platform.image_name}")
    # Anything the DXE core says while placing the image is about the image,
    # but for the protocols it installs and, in a build with confidential-computing
    # measurement (Debian's 2025.02), its note that nothing measures images.
    problems += [f"while loading the driver: {line}" for line in lines[at + 1:placed]
                 if not line.startswith(PLACING_NOTES)]
    failed = [match.group(2).strip() for match in filter(None, map(START_FAILED.match, lines))
              if int(match.group(1), 16) == base]
    expected = [simulated.status_name] if simulated and simulated.status else []
    if [status_words(text) for text in failed] != [status_words(name) for name in expected]:
        problems.append(f"the driver's entry point failed: {', '.join(failed) or 'no'}; in the simulator: "
                        f"{', '.join(expected) or 'no'}")
    following = [i for i, _ in loads if i > at]
    refused = [line for line in lines[placed:following[0] if following else len(lines)] if REFUSED_ADD.match(line)]
    if len(refused) != (simulated.refused if simulated else 0):
        problems.append(f"OVMF refused {len(refused)} of the driver's records, the simulator's table "
                        f"{simulated.refused if simulated else 0}")
    return problems


def check_debug_log(log, serial, arrival, platform, protected=False, simulated=None):
    """Problems a DEBUG boot shows: any assert or CPU exception, the driver's
    image not named; for a driver dispatched from the volume ("fv"), the
    dispatch order, its status and the adds the table refused, as in the
    simulator (simulated); on firmware that protects images (protected), any
    word that it could not protect ours."""
    if not log:
        return ["no debug log on I/O port 0x402"]
    problems = [f"assert: {match.group(0).strip()}" for match in ASSERT_LINE.finditer(log)][:3]
    if EXCEPTION_MARK in serial:
        problems.append(f"CPU exception: {firmware_fault('', serial)}")
    lines = [line.rstrip() for line in log.splitlines()]
    ours = [i for i, _, name in loaded_images(lines) if name == platform.image_name]
    if not ours:
        problems.append(f"no image named {platform.image_name} in the log")
    if protected:
        problems += [f"our image unprotected: {line}" for i in ours for line in protection_complaints(lines, i)]
    if arrival == "fv":
        problems += check_dispatch(lines, platform, simulated)
    return problems
