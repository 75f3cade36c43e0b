"""A skipped test must never read as a pass: run_unittests.py turns skips into
ctest's skip code, skipped_runs.py fails the test command on them unless
ALLOW_SKIP=1."""
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SKIPPED_RUNS = os.path.join(HERE, "..", "scripts", "skipped_runs.py")
RUN_UNITTESTS = os.path.join(HERE, "run_unittests.py")

JUNIT = """<?xml version="1.0" encoding="UTF-8"?>
<testsuite tests="3" skipped="2">
  <testcase name="unit_ok" status="run"><system-out>ok</system-out></testcase>
  <testcase name="qemu_run" status="notrun"><skipped message="SKIP_RETURN_CODE=77"/>
    <system-out>SKIP: QEMU end-to-end run not possible: /x not found
</system-out></testcase>
  <testcase name="Suite.Dump" status="notrun"><skipped message="Regular Expression Skip"/>
    <system-out>t.cpp:9: Skipped
dmidecode is not installed
[  SKIPPED ] Suite.Dump</system-out></testcase>
</testsuite>
"""


class SkipRefusalTest(unittest.TestCase):
    def setUp(self):
        scratch = tempfile.TemporaryDirectory()
        self.addCleanup(scratch.cleanup)
        self.dir = scratch.name

    def run_script(self, *command, allow=None):
        env = dict(os.environ, PYTHONDONTWRITEBYTECODE="1")
        env.pop("ALLOW_SKIP", None)
        if allow is not None:
            env["ALLOW_SKIP"] = allow
        return subprocess.run([sys.executable, *command], capture_output=True, text=True, env=env)

    def write(self, name, text):
        path = os.path.join(self.dir, name)
        with open(path, "w", encoding="utf-8") as handle:
            handle.write(text)
        return path

    def test_skips_fail_the_command_unless_allowed_and_are_named_with_reasons(self):
        results = self.write("ctest-results.xml", JUNIT)
        for allow, code in ((None, 1), ("0", 1), ("1", 0)):
            with self.subTest(allow=allow):
                result = self.run_script(SKIPPED_RUNS, results, allow=allow)
                self.assertEqual(result.returncode, code, result.stdout)
                self.assertIn("qemu_run: QEMU end-to-end run not possible: /x not found", result.stdout)
                self.assertIn("Suite.Dump: dmidecode is not installed", result.stdout)
                self.assertNotIn("unit_ok", result.stdout)
        clean = self.write("clean.xml", '<testsuite><testcase name="a" status="run"/></testsuite>')
        self.assertEqual(self.run_script(SKIPPED_RUNS, clean).returncode, 0)
        for bad in (self.write("bad.xml", "<testsuite>"), os.path.join(self.dir, "absent.xml")):
            result = self.run_script(SKIPPED_RUNS, bad, allow="1")
            self.assertEqual(result.returncode, 2)
            self.assertIn("cannot read test results", result.stderr)

    def test_a_python_skip_is_ctest_skip_code_and_a_failure_still_fails(self):
        suite = ("import unittest\nclass T(unittest.TestCase):\n"
                 "    def test_ok(self): pass\n"
                 "    @unittest.skip('no tool here')\n    def test_tool(self): pass\n")
        self.write("test_s.py", suite)
        result = self.run_script(RUN_UNITTESTS, self.dir, "test_s.py")
        self.assertEqual(result.returncode, 77)
        self.assertIn("SKIP: no tool here (test_s.T.test_tool)", result.stdout)
        self.write("test_f.py", suite + "    def test_bad(self): self.fail()\n")
        self.assertEqual(self.run_script(RUN_UNITTESTS, self.dir, "test_f.py").returncode, 1)


if __name__ == "__main__":
    unittest.main()
