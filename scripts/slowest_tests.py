#!/usr/bin/env python3
"""Prints the slowest tests of the JUnit files `ctest --output-junit` wrote,
with their times, so that a slow test command shows where its time went.

usage: slowest_tests.py JUNIT_XML... [--count N]"""
import os
import sys
import xml.etree.ElementTree as ET


def main(argv):
    count = 12
    if "--count" in argv:
        at = argv.index("--count")
        count = int(argv[at + 1])
        del argv[at:at + 2]
    timed = []
    for path in argv[1:]:
        tree = os.path.basename(os.path.dirname(os.path.abspath(path)))
        try:
            root = ET.parse(path).getroot()
        except (OSError, ET.ParseError) as error:
            print(f"  cannot read {path}: {error}")
            continue
        timed += [(float(case.get("time", 0)), f"{tree}/{case.get('name', '?')}") for case in root.iter("testcase")]
    print(f"  slowest tests (of {len(timed)}):")
    for seconds, name in sorted(timed, reverse=True)[:count]:
        print(f"    {name:<80} {seconds:7.1f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
