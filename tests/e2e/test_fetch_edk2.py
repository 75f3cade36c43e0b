"""scripts/fetch-edk2.sh against a fake archive: apt-get and apt-cache are
stubs that serve tiny tarballs and a Sources stanza, so every refusal is
reached without network and the real cache is never touched."""
import hashlib
import io
import os
import subprocess
import tarfile
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                      "scripts", "fetch-edk2.sh")
VERSION = "2025.02-8+deb13u1"
ORIG, DEBIAN = "edk2_2025.02.orig.tar.xz", f"edk2_{VERSION}.debian.tar.xz"
STUBS = {
    "apt-get": 'case "$*" in *" source "*) cp "$FAKE_ARCHIVE"/*.tar.xz . ;; esac\n',
    "apt-cache": 'cat "$FAKE_ARCHIVE/Sources"\n',
}
# BaseTools "built" when a file appears; the makefile fails when told to.
BASETOOLS_MAKEFILE = "all:\n\ttest ! -e ../FAIL\n\ttouch built\n"
PATCH = ("--- a/README\n+++ b/README\n@@ -1 +1 @@\n-{old}\n+{new}\n")


def tarball(files, top=""):
    data = io.BytesIO()
    with tarfile.open(fileobj=data, mode="w:xz") as archive:
        for name, text in files.items():
            body = text.encode()
            info = tarfile.TarInfo(top + name)
            info.size = len(body)
            archive.addfile(info, io.BytesIO(body))
    return data.getvalue()


class FetchEdk2Test(unittest.TestCase):
    def setUp(self):
        self.temp = tempfile.TemporaryDirectory()
        self.addCleanup(self.temp.cleanup)
        self.root = self.temp.name
        self.archive = os.path.join(self.root, "archive")
        self.bin = os.path.join(self.root, "bin")
        os.makedirs(self.archive)
        os.makedirs(self.bin)
        for name, body in STUBS.items():
            path = os.path.join(self.bin, name)
            with open(path, "w") as handle:
                handle.write("#!/bin/sh\n" + body)
            os.chmod(path, 0o755)
        self.workspace = os.path.join(self.root, "slotinv-edk2", f"edk2-{VERSION}")

    def publish(self, patches, orig_files=None, served_orig=None):
        """Puts the release in the fake archive: the Sources stanza names the
        genuine tarballs' SHA-256; served_orig replaces what is downloaded."""
        orig = tarball(orig_files or {"README": "one\n", "BaseTools/GNUmakefile": BASETOOLS_MAKEFILE},
                       "edk2-2025.02/")
        debian = tarball(dict({f"debian/patches/{name}": body for name, body in patches},
                              **{"debian/patches/series": "# in order\n" + "".join(n + "\n" for n, _ in patches)}))
        stanza = f"Package: edk2\nVersion: {VERSION}\nChecksums-Sha256:\n"
        for name, data in ((ORIG, orig), (DEBIAN, debian)):
            stanza += f" {hashlib.sha256(data).hexdigest()} {len(data)} {name}\n"
        for name, data in ((ORIG, served_orig or orig), (DEBIAN, debian)):
            with open(os.path.join(self.archive, name), "wb") as handle:
                handle.write(data)
        with open(os.path.join(self.archive, "Sources"), "w") as handle:
            handle.write(stanza + "\n")

    def fetch(self, *arguments, path=None):
        env = dict(os.environ, XDG_CACHE_HOME=self.root, FAKE_ARCHIVE=self.archive,
                   PATH=path or f"{self.bin}:{os.environ['PATH']}")
        return subprocess.run(["bash", SCRIPT, *(arguments or ("--release", "2025.02"))], env=env,
                              capture_output=True, text=True)

    def assertRefused(self, result, *words):
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        for word in words:
            self.assertIn(word, result.stderr)
        self.assertFalse(os.path.exists(self.workspace))
        self.assertFalse(os.path.exists(self.workspace + ".partial"))

    def test_patches_applied_in_order_then_basetools_built_once(self):
        self.publish([("first.patch", PATCH.format(old="one", new="two")),
                      ("second.patch", PATCH.format(old="two", new="three"))])
        result = self.fetch()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.splitlines()[-1], self.workspace)
        with open(os.path.join(self.workspace, "README")) as handle:
            self.assertEqual(handle.read(), "three\n")
        self.assertTrue(os.path.exists(os.path.join(self.workspace, "BaseTools", "built")))
        # Ready: a second run neither downloads nor unpacks.
        os.remove(os.path.join(self.archive, "Sources"))
        again = self.fetch()
        self.assertEqual((again.returncode, again.stdout.strip()), (0, self.workspace), again.stderr)

    def test_tampered_tarball_refused_and_removed(self):
        self.publish([], served_orig=tarball({"README": "evil\n"}, "edk2-2025.02/"))
        result = self.fetch()
        self.assertRefused(result, ORIG, "SHA-256", "Sources index")
        self.assertFalse(os.path.exists(os.path.join(self.root, "slotinv-edk2", "download", ORIG)))

    def test_failed_download_refused(self):
        self.publish([])
        os.remove(os.path.join(self.archive, ORIG))
        self.assertRefused(self.fetch(), f"downloading {ORIG} failed", "apt-source.log")

    def test_patch_that_does_not_apply_refused(self):
        self.publish([("stale.patch", PATCH.format(old="zero", new="two"))])
        self.assertRefused(self.fetch(), "stale.patch does not apply")

    def test_basetools_failing_refused(self):
        self.publish([], {"README": "one\n", "FAIL": "", "BaseTools/GNUmakefile": BASETOOLS_MAKEFILE})
        self.assertRefused(self.fetch(), "BaseTools did not build", "basetools.log")

    def test_missing_release_and_tool_refused(self):
        self.publish([])
        self.assertRefused(self.fetch("--release", "2031.05"), "unknown release '2031.05'")
        # Every command but nasm, as a machine without it has them.
        bare = os.path.join(self.root, "bare")
        os.makedirs(bare)
        for folder in reversed(os.environ["PATH"].split(os.pathsep)):
            for name in os.listdir(folder) if os.path.isdir(folder) else ():
                if name != "nasm":
                    target = os.path.join(bare, name)
                    if os.path.lexists(target):
                        os.remove(target)
                    os.symlink(os.path.join(folder, name), target)
        self.assertRefused(self.fetch(path=f"{self.bin}:{bare}"), "nasm not found")


if __name__ == "__main__":
    unittest.main()
