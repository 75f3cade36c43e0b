#!/usr/bin/env python3
"""Names every test that ctest skipped, with its reason, from the JUnit files
`ctest --output-junit` wrote. A skipped run proved nothing, so this exits 1
when any test was skipped, unless ALLOW_SKIP=1 asks for skips; 2 when a file
cannot be read.

usage: skipped_runs.py JUNIT_XML..."""
import os
import sys
import xml.etree.ElementTree as ET


def reason(case):
    """The runners' SKIP lines, GoogleTest's message after "Skipped", or ctest's."""
    lines = (case.findtext("system-out") or "").splitlines()
    found = [line[len("SKIP:"):].strip() for line in lines if line.startswith("SKIP:")]
    found += [after.strip() for line, after in zip(lines, lines[1:])
              if line.endswith(": Skipped") and after.strip()]
    if found:
        return "; ".join(found)
    skipped = case.find("skipped")
    return skipped.get("message", "no reason given") if skipped is not None else "no reason given"


def skipped_runs(path):
    """[(test name, reason)] of the tests skipped in one JUnit file; raises
    OSError or ET.ParseError."""
    root = ET.parse(path).getroot()
    if root.tag not in ("testsuite", "testsuites"):
        raise ET.ParseError(f"not a JUnit file (root element <{root.tag}>)")
    return [(case.get("name", "?"), reason(case)) for case in root.iter("testcase")
            if case.get("status") == "notrun" or case.find("skipped") is not None]


def main(argv):
    if len(argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    skipped = []
    for path in argv[1:]:
        try:
            tree = os.path.basename(os.path.dirname(os.path.abspath(path)))
            skipped += [(f"{tree}/{name}", why) for name, why in skipped_runs(path)]
        except (OSError, ET.ParseError) as error:
            print(f"ERROR: cannot read test results {path}: {error}", file=sys.stderr)
            return 2
    if not skipped:
        return 0
    allowed = os.environ.get("ALLOW_SKIP") == "1"
    if allowed:
        print(f"{len(skipped)} test(s) skipped (ALLOW_SKIP=1):")
    else:
        print(f"FAIL: {len(skipped)} test(s) skipped; a skipped run proves nothing "
              "(ALLOW_SKIP=1 accepts skips):")
    for name, why in skipped:
        print(f"  {name}: {why}")
    return 0 if allowed else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
