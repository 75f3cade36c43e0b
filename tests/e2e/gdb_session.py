"""The README's debugging recipe, followed as a test (gdb/ lines): QEMU's gdb
stub, the driver's load address from the DEBUG log of an earlier boot of the
same machine, add-symbol-file with the image's symbol file, breakpoints on
the entry point and on the slot-filling routine, backtraces with our names,
files and lines, a step into a routine and a local printed, then the boot
carries on to its end. Standard library only; the gdb is Debian's."""
import re
import socket
import subprocess
import threading
import time

GDB = "gdb"
# Where our frames must show up, by the symbol file's relative file names.
ENTRY_FRAME = re.compile(r"^#0\s+DriverEntry \(.*\) at entry/startup\.cpp:\d+$", re.MULTILINE)
FILL_FRAMES = (re.compile(r"^#0\s+FillSlot \(.*\) at inventory/slot_fill\.cpp:\d+$", re.MULTILINE),
               re.compile(r"^#\d+\s+(?:0x[0-9a-f]+ in )?DriverEntry \(.*\) at entry/startup\.cpp:\d+$",
                          re.MULTILINE))
# `step` from the entry point's first line lands in the routine it calls.
STEPPED_IN = re.compile(r"^CaptureFirmwareServices \(.*\) at entry/startup\.cpp:\d+$", re.MULTILINE)
# `print *slot` in FillSlot: the local pointing at the record, seen as the
# Type 9 record the mezzanine builder prepared.
PRINTED = re.compile(r"^\$1 = \{Hdr = \{Type = 9 .*SlotDesignation = 1\b", re.MULTILINE)
RUN_TO_END = "[Inferior 1 (process 1) exited normally]"


def script(port, symbols, base, source):
    """gdb's commands: the recipe, in batch."""
    return "\n".join([
        "set pagination off",
        "set confirm off",
        f"target remote 127.0.0.1:{port}",
        f"add-symbol-file {symbols} -o 0x{base:X}",
        f"directory {source}",
        "break DriverEntry",
        "break FillSlot",
        "continue",
        "bt",
        "step",
        "continue",
        "bt",
        "print *slot",
        "delete",
        "continue",
    ]) + "\n"


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def stub_options(port):
    """QEMU waits, paused at reset, for gdb on the port."""
    return ["-gdb", f"tcp:127.0.0.1:{port}", "-S"]


class Session(threading.Thread):
    """gdb in batch beside a QEMU the caller runs: it connects once the stub
    listens and keeps everything gdb printed in output."""

    def __init__(self, port, commands_path, timeout):
        super().__init__(daemon=True)
        self.port, self.commands_path, self.timeout = port, commands_path, timeout
        self.output = ""

    def run(self):
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                break
            except OSError:
                time.sleep(0.1)
        try:
            result = subprocess.run([GDB, "-nx", "-batch", "-x", self.commands_path], capture_output=True,
                                    text=True, timeout=self.timeout, stdin=subprocess.DEVNULL)
            self.output = result.stdout + result.stderr
        except (OSError, subprocess.TimeoutExpired) as error:
            self.output = f"gdb did not finish: {error}"


def check_output(text):
    """Problems with what gdb printed; empty when every step of the recipe showed."""
    problems = []
    if "Breakpoint 1, DriverEntry (" not in text or not ENTRY_FRAME.search(text):
        problems.append("the entry-point breakpoint was not hit with DriverEntry at entry/startup.cpp")
    if not STEPPED_IN.search(text):
        problems.append("step from the entry point did not enter CaptureFirmwareServices")
    if "Breakpoint 2, FillSlot (" not in text:
        problems.append("the FillSlot breakpoint was not hit")
    elif not all(pattern.search(text) for pattern in FILL_FRAMES):
        problems.append("bt in FillSlot does not run from FillSlot (inventory/slot_fill.cpp) to "
                        "DriverEntry (entry/startup.cpp)")
    if not PRINTED.search(text):
        problems.append("print *slot did not show the prepared Type 9 record")
    if RUN_TO_END not in text:
        problems.append("the boot did not run to its end under gdb")
    return problems
