#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into tests/fuzz/corpus/<target>/.

Each seed is a small hand-made input in the layout the target's header comment
describes: the cases the driver meets on real boards and the edges of its
input checks. Run it again after changing a layout; it replaces the seeds it
writes and leaves any other file (for example a reproducer of a finding) alone.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(bytes(data))


def ucs2(text):
    return b"".join(struct.pack("<H", ord(c)) for c in text)


# ---- record_strings: flags, number, [fill], length, characters, record ----

def type9(strings=(), designation=1):
    header = bytes([9, 0x11, 0xFE, 0xFF, designation, 0xB5, 0x0B, 3, 4, 1, 0, 4, 5, 0, 0, 0x17, 0])
    return header + area(strings)


def type41(strings=()):
    return bytes([41, 0x0B, 0xFE, 0xFF, 1, 0x89, 3, 0, 0, 0, 0xB8]) + area(strings)


def area(strings):
    if not strings:
        return b"\0\0"
    return b"".join(s.encode("latin-1") + b"\0" for s in strings) + b"\0"


def replace(flags, number, text, record, fill=None, wide=None):
    data = bytes([flags])
    data += struct.pack("<Q", number) if flags & 0x01 else bytes([number])
    if flags & 0x02:
        data += bytes([fill])
    chars = wide if wide is not None else ucs2(text)
    data += bytes([len(chars) // 2]) + chars + record
    return data


def record_strings_seeds():
    t = "record_strings"
    write(t, "empty-area", replace(0, 1, "Riser 1, slot 1", type9()))
    write(t, "same-length", replace(0, 1, "Riser 1, slot 2", type9(["Riser 1, slot 1"])))
    write(t, "grow", replace(0, 1, "Riser 1, slot 1", type9(["MEZZANINE 0"])))
    write(t, "shrink-type41", replace(0, 1, "Aspeed Video", type41(["PCH Integrated SATA Controller"])))
    write(t, "second-of-two", replace(0, 2, "longer second", type9(["one", "two"])))
    write(t, "first-of-two", replace(0, 1, "x", type9(["one", "two"])))
    write(t, "append", replace(0, 2, "new", type9(["one"])))
    write(t, "append-to-empty", replace(0, 2, "new", type9()))
    write(t, "beyond", replace(0, 3, "new", type9(["one"])))
    write(t, "number-zero", replace(0, 0, "zero", type9(["one"])))
    write(t, "huge-number", replace(0x01, 2**64 - 1, "x", type9(["one"])))
    write(t, "empty-string", replace(0, 1, "", type9(["one"])))
    write(t, "empty-over-empty", replace(0, 1, "", type9()))
    write(t, "wide-chars", replace(0, 1, "", type9(["abc"]), wide=ucs2("A\u0141B") + b"\x00\x01C\x00"))
    write(t, "63-in-record", replace(0, 1, "y", type9(["x" * 63])))
    write(t, "64-in-record", replace(0, 1, "y", type9(["x" * 64])))
    write(t, "new-63", replace(0, 1, "n" * 63, type9()))
    write(t, "new-64", replace(0, 1, "n" * 64, type9()))
    write(t, "new-70", replace(0, 1, "n" * 70, type9()))
    write(t, "leading-empty-string", replace(0, 2, "abcd", type9()[:17] + b"\0abc\0\0"))
    write(t, "unterminated", replace(0x02, 1, "abc", type9()[:17] + b"A" * 40, fill=0x41))
    write(t, "nearly-full", replace(0, 12, "grow", type9(["s" * 60] * 11)))
    write(t, "ascii-fails", replace(0x04, 1, "Riser 1, slot 1", type9()))
    write(t, "scratch-fails", replace(0x08, 1, "Riser 1, slot 1", type9()))
    write(t, "short-header", replace(0, 1, "abc", bytes([9, 2, 0, 0, 0, 0])))


# ---- pick_best_language: flags, then NUL-separated supported and candidates ----

def pick(flags, supported, *candidates):
    return bytes([flags]) + b"\0".join(s.encode() for s in (supported,) + candidates)


def pick_best_language_seeds():
    t = "pick_best_language"
    write(t, "fr", pick(0, "en-US;fr-FR;de", "fr"))
    write(t, "de-DE", pick(0, "en-US;fr-FR;de", "de-DE"))
    write(t, "zh-Hant-TW", pick(0, "en-US;fr-FR;de", "zh-Hant-TW", "de"))
    write(t, "fr-CA-list", pick(0, "en-US;fr-FR;de", "fr-CA;en-US"))
    write(t, "eng", pick(0, "eng;en-US", "en"))
    write(t, "dash-first", pick(0, "en-US", "-en", "en"))
    write(t, "separators", pick(0, ";;en-US;;fr-FR;de;", "", ";en-US", "en-US"))
    write(t, "case", pick(0, "en-US", "EN-US", "en-GB"))
    write(t, "driver", pick(0, "en-US", "", "en-US", "en-US"))
    write(t, "null-candidate", pick(0x12, "en-US;fr-FR", "fr"))
    write(t, "allocation-fails", pick(0x01, "en-US", "en-US"))
    write(t, "nothing", pick(0, ""))


# ---- lookup_driver_string: flags, ordinal, id, PlatformLang bytes ----

def lookup(flags, ordinal, string_id, lang):
    return bytes([flags, ordinal]) + struct.pack("<H", string_id) + lang


def lookup_driver_string_seeds():
    t = "lookup_driver_string"
    write(t, "en-US", lookup(0, 0, 4, b"en-US\0"))
    write(t, "absent", lookup(0x01, 0, 2, b""))
    write(t, "en", lookup(0, 0, 12, b"en\0"))
    write(t, "en-GB", lookup(0, 0, 16, b"en-GB\0"))
    write(t, "fr-FR-without-nul", lookup(0, 0, 15, b"fr-FR"))
    write(t, "case", lookup(0, 0, 5, b"EN-US\0"))
    write(t, "garbage", lookup(0, 0, 13, bytes(range(1, 40))))
    write(t, "id-0", lookup(0, 0, 0, b"en-US\0"))
    write(t, "id-17", lookup(0, 0, 17, b"en-US\0"))
    write(t, "english", lookup(0, 0, 1, b"en-US\0"))
    write(t, "alloc-2", lookup(0x02, 1, 4, b"en-US\0"))
    write(t, "alloc-from-3", lookup(0x12, 2, 4, b"en-US\0"))
    write(t, "getvariable", lookup(0x04, 1, 4, b"en-US\0"))
    write(t, "getlanguages-2", lookup(0x06, 1, 4, b"en-US\0"))
    write(t, "getstring-2", lookup(0x08, 1, 4, b"en-US\0"))


# ---- register_string_packages: flags, per array mode, claimed, content ----

def driver_string_package():
    texts = ["English", "MEZZANINE 0", "MEZZANINE 1"]
    texts += ["Riser %d, slot %d" % (r, s) for r, s in
              [(1, 1), (1, 2), (1, 3), (2, 1), (2, 2), (2, 3), (3, 1), (3, 2)]]
    texts += ["Aspeed Video", "Intel I350", "Intel I350", "PCH Integrated SATA Controller",
              "PCH Integrated sSATA Controller"]
    blocks = b"".join(b"\x14" + ucs2(text) + b"\0\0" for text in texts) + b"\0"
    header = struct.pack("<II", 52, 52) + b"\0" * 32 + struct.pack("<H", 1) + b"en-US\0"
    package = header + blocks
    length = len(package) + 4
    assert length == 585
    return struct.pack("<I", length | 0x04 << 24)[:3] + b"\x04" + package


def array(mode, claimed, content, wide=False):
    data = bytes([mode])
    data += struct.pack("<I", claimed) if wide else struct.pack("<H", claimed)
    return data + struct.pack("<H", len(content)) + content


def register(flags, arrays):
    return bytes([flags | len(arrays) << 4]) + b"".join(arrays)


def register_string_packages_seeds():
    t = "register_string_packages"
    package = driver_string_package()
    write(t, "driver", register(0, [array(1, 0, package)]))
    write(t, "two-arrays", register(0, [array(1, 0, package[:585]), array(1, 0, b"\x08\0\0\x07abcd")]))
    write(t, "empty-array", register(0, [array(0, 4, b"")]))
    write(t, "short-field", register(0, [array(0, 3, b"")]))
    write(t, "claims-more", register(0, [array(0, 600, package[:100])]))
    write(t, "no-arrays", register(0, []))
    write(t, "no-database", register(0x01, [array(1, 0, package)]))
    write(t, "allocation-fails", register(0x02, [array(1, 0, package)]))
    write(t, "database-fails", register(0x04, [array(1, 0, package)]))
    write(t, "overflow", register(0x08, [array(0, 0x7FFFFFF0, b"", True),
                                         array(0, 0x7FFFFFF0, b"", True)]))
    write(t, "overflow-one", register(0x08, [array(0, 0x7FFFFFFF, b"", True)]))


# ---- whole_driver: see the layout in whole_driver_fuzzer.cpp ----

DEFAULT_BRIDGES = [(0x02, 0, 0x03), (0x17, 0, 0x18), (0x3A, 1, 0x3B), (0x3A, 2, 0x3C),
                   (0x5D, 0, 0x5E), (0x5D, 2, 0x5F), (0x85, 0, 0x86), (0xAE, 0, 0xB0),
                   (0xAE, 2, 0xAF), (0xD7, 0, 0xD8), (0xD7, 2, 0xD9)]
DEFAULT_DEVICES = [(0x03, 0, 0), (0x3B, 0, 0), (0x3B, 0, 1), (0, 0x17, 0), (0, 0x11, 5),
                   (0x3C, 0, 0), (0x18, 0, 0), (0xB0, 0, 0), (0xD8, 0, 0)]
DEFAULT_RECORDS = [(0, ["Board Vendor", "1.0.4", "10/02/2026"]), (1, ["Board Vendor", "Two-socket"])]
SERVICES = ["AllocatePool", "HandleProtocol", "GetVariable", "LocateProtocol:Smbios",
            "LocateProtocol:HiiString", "LocateProtocol:HiiDatabase",
            "LocateProtocol:RegisterAccess", "NewPackageList", "GetLanguages", "GetString",
            "Smbios.Add", "Smbios.Remove", "Smbios.GetNext", "RegisterAccess.ConfigSpaceAddress",
            "Smbios.GetNext:record"]


def board(flags=0, fail_allocation=0, risers=(5, 3, 1), sockets=(0x5D3A1700, 0xD7AE8580),
          lang_mode=3, lang=b"", pads=(), bridges=DEFAULT_BRIDGES, devices=DEFAULT_DEVICES,
          records=DEFAULT_RECORDS, faults=()):
    data = bytes([flags, fail_allocation, risers[0] | risers[1] << 3 | risers[2] << 6])
    data += struct.pack("<II", *sockets)
    data += bytes([lang_mode, len(lang)]) + lang
    data += bytes([len(pads)])
    for pad, level, owner in pads:
        data += bytes([pad, level | owner << 1])
    data += bytes([len(bridges)])
    for bus, device, secondary in bridges:
        data += bytes([0, bus, device, secondary])
    data += bytes([len(devices)])
    for bus, device, function in devices:
        data += bytes([0, bus, device, function])
    data += bytes([len(records)])
    for record_type, strings in records:
        data += bytes([record_type, len(strings)])
        for text in strings:
            data += bytes([len(text) - 1]) + text.encode()
    data += bytes([len(faults)])
    for name, ordinal, onward, status in faults:
        data += bytes([SERVICES.index(name), ordinal - 1, int(onward) | status << 1])
    return data


def whole_driver_seeds():
    t = "whole_driver"
    earlier = DEFAULT_RECORDS + [(9, ["PCIE1"]), (41, ["Onboard LAN"]), (9, ["PCIE2"]),
                                 (17, ["DIMM A1"]), (9, ["PCIE3"])]
    write(t, "default", board())
    write(t, "no-risers", board(risers=(7, 7, 3)))
    write(t, "earlier-records", board(records=earlier[:5]))
    write(t, "three-slot-cards", board(risers=(3, 3, 2)))
    write(t, "one-slot-cards", board(risers=(0, 6, 2)))
    write(t, "no-slot-cards", board(risers=(2, 2, 0)))
    write(t, "pads-owned-elsewhere", board(pads=[(0, 1, 1), (3, 1, 2), (6, 0, 3)]))
    write(t, "empty-board", board(sockets=(0, 0), bridges=[], devices=[], records=[]))
    write(t, "no-register-access", board(flags=0x08))
    write(t, "no-address", board(flags=0x40))
    write(t, "no-strings", board(flags=0x02 | 0x04))
    write(t, "no-smbios", board(flags=0x01, records=earlier[:4]))
    write(t, "lang-without-nul", board(lang_mode=2, lang=b"fr-FR"))
    write(t, "lang-absent", board(lang_mode=0))
    write(t, "fourth-allocation-fails", board(flags=0x80, fail_allocation=3))
    write(t, "allocations-run-out", board(faults=[("AllocatePool", 20, True, 1)]))
    write(t, "add-fails", board(records=earlier[:4], faults=[("Smbios.Add", 3, False, 0)]))
    write(t, "remove-fails", board(records=earlier[:5], faults=[("Smbios.Remove", 2, False, 0)]))
    write(t, "table-full", board(records=earlier[:4], faults=[("Smbios.Add", 9, True, 1)]))
    write(t, "getnext-fails-after-records", board(records=earlier[:5],
                                                  faults=[("Smbios.GetNext:record", 2, True, 0)]))
    write(t, "getstring-fails", board(faults=[("GetString", 6, False, 0)]))
    write(t, "load-fails", board(faults=[("HandleProtocol", 1, False, 3)]))
    write(t, "getnext-never-ends", board(flags=0x20, fail_allocation=0xA0, records=earlier[:3]))


# ---- board_file: board files at the edges of the reader's checks; the
# shipped boards and scenarios are seeds of their own, read in place ----

def board_file_seeds():
    t = "board_file"
    write(t, "pad-without-level", b'{"pads": [{"pad": "0x0102000F", "owner": 1}, {"pad": 16}]}')
    write(t, "hex-limits", b'{"sockets": ["0xFFFFFFFF", "0x100000000"], "straps": {"riser3": "0x3"}}')
    write(t, "negative-and-huge", b'{"bridges": [{"bus": -1, "device": 1e3, "secondary": 18446744073709551616}]}')
    write(t, "record-strings", b'{"smbios": [{"type": 9, "strings": ["", "x"]}, {"type": 41}, {"type": 127}]}')
    write(t, "faults", b'{"faults": {"failAllocation": 0, "noHiiString": 1}}')
    write(t, "table-faults", b'{"faults": {"addFails": 0, "addFailsFrom": "0x3", "removeFails": -1, '
                             b'"getNextFailsAfter": 0}}')
    write(t, "unknown-nested-key", b'{"straps": {"riser4": 1}, "qemu": {"anything": [1]}}')
    write(t, "lang-null", b'{"platformLang": null, "name": "x\\u0000y"}')
    write(t, "not-an-object", b'[{"name": "x"}]')
    write(t, "deep", b"[" * 64 + b"]" * 64)
    write(t, "number-overflow", b'{"sockets": [1e400, 0]}')
    write(t, "empty-key", b'{"": {"riser3": 1}}')


# ---- table_dump: a dmidecode --dump-bin file ----

def checksummed(data, at, length):
    data[at] = (-sum(data[:length])) & 0xFF
    return data


def dump3(table, maximum=None):
    point = bytearray(b"_SM3_" + bytes([0, 0x18, 3, 0, 0, 1, 0]) + struct.pack("<IQ", maximum or len(table), 0x20))
    return bytes(checksummed(point, 5, 0x18)).ljust(0x20, b"\0") + table


def dump2(table, count):
    intermediate = bytearray(b"_DMI_" + bytes([0]) + struct.pack("<HIH", len(table), 0x20, count) + bytes([0x28]))
    point = bytearray(b"_SM_" + bytes([0, 0x1F, 2, 8, 0, 0]) + bytes(6)) + checksummed(intermediate, 5, 15)
    return bytes(checksummed(point, 4, 0x1F)).ljust(0x20, b"\0") + table


def table_dump_seeds():
    # Beside these, real dumps copied in by hand: boardsim --dump of the
    # default board, and linux/ boots' guest-table.bin (stock OVMF; s2, s3).
    t = "table_dump"
    end = bytes([127, 4, 0xFF, 0xFE, 0, 0])
    records = type9(["MEZZANINE 0"]) + type9(["Riser 1, slot 1"]) + type41(["Aspeed Video"]) + end
    write(t, "smbios3", dump3(records))
    write(t, "smbios3-larger-maximum", dump3(records, 0x1000))
    write(t, "smbios2", dump2(records, 4))
    write(t, "smbios2-count-short", dump2(records, 2))
    write(t, "smbios3-no-end", dump3(records[:-len(end)]))
    write(t, "smbios2-cut", dump2(records, 4)[:-9])
    write(t, "type41-short", dump3(bytes([41, 7, 1, 0, 1, 0x85, 1]) + area(["x"]) + end))
    write(t, "bad-string-number", dump3(type9(["only"], designation=3) + end))


if __name__ == "__main__":
    record_strings_seeds()
    pick_best_language_seeds()
    lookup_driver_string_seeds()
    register_string_packages_seeds()
    whole_driver_seeds()
    board_file_seeds()
    table_dump_seeds()
