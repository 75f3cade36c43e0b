#!/usr/bin/env python3
"""Runs one folder's Python unit tests for ctest. Exits 1 when any failed;
77, ctest's skip code here, when any was skipped (a SKIP line per reason),
so a skipped test never reads as a pass; 0 otherwise.

usage: run_unittests.py FOLDER PATTERN"""
import os
import sys
import unittest

EXIT_SKIPPED = 77


def main(argv):
    if len(argv) != 3 or not os.path.isdir(argv[1]):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    folder, pattern = argv[1:]
    suite = unittest.defaultTestLoader.discover(folder, pattern=pattern, top_level_dir=folder)
    result = unittest.TextTestRunner().run(suite)
    if not result.wasSuccessful():
        return 1
    if result.testsRun == 0:
        print(f"ERROR: no tests matching {pattern} in {folder}")
        return 1
    by_reason = {}
    for test, why in result.skipped:
        by_reason.setdefault(why, []).append(test.id())
    for why, tests in by_reason.items():
        shown = tests[0] if len(tests) == 1 else f"{len(tests)} tests in {tests[0].rsplit('.', 1)[0]}"
        print(f"SKIP: {why} ({shown})")
    return EXIT_SKIPPED if result.skipped else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
