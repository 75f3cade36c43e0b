"""The harness's and the test platform's reports on the serial port: tagged
lines of key=value fields, hex lines after some."""
import re

BEGIN_MARKER = "=== SLOTINV HARNESS BEGIN ==="
END_MARKER = "=== SLOTINV HARNESS END ==="
# The test platform's DXE driver reports between these.
PLATFORM_BEGIN_MARKER = "=== SLOTINV PLATFORM BEGIN ==="
PLATFORM_END_MARKER = "=== SLOTINV PLATFORM END ==="
FIELD = re.compile(r"(\S+?)=(\S*)")


def marked_text(text, begin_marker, end_marker):
    """(started, finished, body): whether the markers are there and what lies
    between them, to the end of text when the end marker is missing."""
    begin = text.find(begin_marker)
    if begin < 0:
        return False, False, ""
    body = text[begin + len(begin_marker):]
    end = body.find(end_marker)
    return True, end >= 0, body[:end] if end >= 0 else body


class Report:
    """The harness's lines: each a tag, its key=value fields and the hex
    lines that followed it."""

    def __init__(self, text, begin_marker=BEGIN_MARKER, end_marker=END_MARKER):
        self.entries = []
        self.started, self.finished, body = marked_text(text, begin_marker, end_marker)
        for raw in body.splitlines():
            line = raw.strip()
            if not line:
                continue
            if line.startswith("hex ") and self.entries:
                self.entries[-1]["hex"] += bytes.fromhex(line[4:])
                continue
            tag, _, rest = line.partition(" ")
            fields = dict(FIELD.findall(rest))
            self.entries.append({"tag": tag, "fields": fields, "hex": b""})

    def all(self, tag):
        return [entry for entry in self.entries if entry["tag"] == tag]

    def first(self, tag, **match):
        for entry in self.all(tag):
            if all(entry["fields"].get(key) == value for key, value in match.items()):
                return entry
        return None


def field_int(entry, key, default=None):
    value = entry["fields"].get(key) if entry else None
    return default if value is None else int(value, 0)


def pci_functions(report):
    """{(bus, device, function): fields} for every function the harness saw."""
    functions = {}
    for entry in report.all("pci"):
        location = (field_int(entry, "bus"), field_int(entry, "dev"), field_int(entry, "fn"))
        functions[location] = entry["fields"]
    return functions
