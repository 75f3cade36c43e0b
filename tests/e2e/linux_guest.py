#!/usr/bin/env python3
"""The Linux guest of the linux/ boots: builds its initramfs from Debian's
static busybox, and reads what it printed on the serial port.

usage: linux_guest.py BUILD_DIR    (writes BUILD_DIR/guest/initramfs.cpio)

The guest's /init mounts sysfs, prints the files of /sys/firmware/dmi/tables/
hex-encoded between markers, then every PCI function and, where the kernel
gave it one, its label and index, and powers the machine off. Standard
library only: the archive is a newc cpio written here."""
import os
import stat
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import serial_report  # noqa: E402
import smbios_dump  # noqa: E402

BEGIN_MARKER = "=== SLOTINV GUEST BEGIN ==="
END_MARKER = "=== SLOTINV GUEST END ==="

INIT = f"""#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
# Kernel messages would break into the report's lines.
echo 1 > /proc/sys/kernel/printk
echo "{BEGIN_MARKER}"
for name in smbios_entry_point DMI; do
  file=/sys/firmware/dmi/tables/$name
  if [ -r "$file" ]; then
    echo "dmi-file $name"
    od -An -v -tx1 "$file" | tr -d ' ' | sed 's/^/hex /'
  else
    echo "dmi-missing $name"
  fi
done
for dev in /sys/bus/pci/devices/*; do
  address=${{dev##*/}}
  echo "pci-function $address"
  if [ -r "$dev/label" ]; then
    index=-; [ -r "$dev/index" ] && index=$(cat "$dev/index")
    acpi=-; [ -r "$dev/acpi_index" ] && acpi=$(cat "$dev/acpi_index")
    echo "pci-label $address $index $acpi $(cat "$dev/label")"
  fi
done
echo "{END_MARKER}"
poweroff -f
"""

# --- The initramfs ----------------------------------------------------------


def cpio_entry(name, mode, data=b"", rdev=(0, 0), inode=1):
    """One newc entry: header, name padded to 4 bytes, data padded to 4 bytes."""
    encoded = name.encode() + b"\0"
    fields = [inode, mode, 0, 0, 1, 0, len(data), 0, 0, rdev[0], rdev[1], len(encoded), 0]
    header = b"070701" + b"".join(f"{value:08X}".encode() for value in fields)
    pad = lambda size: b"\0" * (-size % 4)  # noqa: E731
    return header + encoded + pad(len(header) + len(encoded)) + data + pad(len(data))


def initramfs(busybox):
    entries = [("dev", stat.S_IFDIR | 0o755, b""), ("proc", stat.S_IFDIR | 0o755, b""),
               ("sys", stat.S_IFDIR | 0o755, b""), ("bin", stat.S_IFDIR | 0o755, b""),
               ("bin/busybox", stat.S_IFREG | 0o755, busybox),
               ("init", stat.S_IFREG | 0o755, INIT.encode())]
    archive = b"".join(cpio_entry(name, mode, data, inode=i + 1)
                       for i, (name, mode, data) in enumerate(entries))
    # The console node, so /init has somewhere to write before devtmpfs.
    archive += cpio_entry("dev/console", stat.S_IFCHR | 0o600, rdev=(5, 1), inode=len(entries) + 1)
    return archive + cpio_entry("TRAILER!!!", 0, inode=0)


# --- The guest's report -------------------------------------------------------


class GuestReport:
    """The DMI files, PCI functions and labels the guest printed."""

    def __init__(self, text):
        self.files = {}
        self.missing = []
        self.functions = []
        self.labels = {}  # address -> (index, acpi_index, label); "-" where absent
        self.started, self.finished, body = serial_report.marked_text(text, BEGIN_MARKER, END_MARKER)
        current = None
        for raw in body.splitlines():
            line = raw.strip("\r\n")
            tag, _, rest = line.partition(" ")
            if tag == "hex" and current is not None:
                self.files[current] += bytes.fromhex(rest.strip())
            elif tag == "dmi-file":
                current = rest.strip()
                self.files[current] = b""
            elif tag == "dmi-missing":
                self.missing.append(rest.strip())
            elif tag == "pci-function":
                self.functions.append(rest.strip())
            elif tag == "pci-label":
                address, index, acpi, label = (rest.split(" ", 3) + ["", "", ""])[:4]
                self.labels[address] = (index, acpi, label)

    def dump(self):
        """The table in dmidecode --dump-bin form, or None without both files."""
        point = self.files.get("smbios_entry_point")
        table = self.files.get("DMI")
        if not point or table is None:
            return None
        return smbios_dump.dump_bin(point, table)


def pci_address(bus, devfn, segment=0):
    return f"{segment:04x}:{bus:02x}:{devfn >> 3:02x}.{devfn & 7:x}"


def main():
    if len(sys.argv) != 2:
        print(__doc__.splitlines()[3].strip(), file=sys.stderr)
        return 2
    guest = os.path.join(sys.argv[1], "guest")
    busybox = os.path.join(guest, "busybox")
    if not os.path.exists(busybox):
        print(f"SKIP: {busybox} not there (scripts/fetch-guest.sh could not fetch it)")
        return 0
    with open(busybox, "rb") as handle:
        archive = initramfs(handle.read())
    target = os.path.join(guest, "initramfs.cpio")
    with open(target + ".new", "wb") as handle:
        handle.write(archive)
    os.replace(target + ".new", target)
    return 0


if __name__ == "__main__":
    sys.exit(main())
