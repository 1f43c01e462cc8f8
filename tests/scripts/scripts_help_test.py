#!/usr/bin/env python3
"""Every script under scripts/ (but the test-internal ones) answers --help, as its first
argument, with its usage and does nothing else: run with no program on PATH, in an empty
folder, it must not even try one (bash would say "command not found"), write nothing and
end with 0. release.sh as root used to run the set-up script first."""
import os
import subprocess
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCRIPTS = os.path.join(ROOT, "scripts")
# Started by the test machinery only, never by a person.
TEST_INTERNAL = {"wine-run"}


class HelpTest(unittest.TestCase):
    def test_every_script_answers_help_and_does_nothing_else(self):
        names = sorted(set(os.listdir(SCRIPTS)) - TEST_INTERNAL)
        self.assertIn("release.sh", names)
        for name in names:
            with self.subTest(name), tempfile.TemporaryDirectory() as tmp:
                empty_path = os.path.join(tmp, "bin")
                os.mkdir(empty_path)
                work = os.path.join(tmp, "work")
                os.mkdir(work)
                r = subprocess.run(["/bin/bash", os.path.join(SCRIPTS, name), "--help"],
                                   cwd=work, capture_output=True, timeout=20,
                                   env={"PATH": empty_path, "HOME": work})
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(r.stderr, b"")
                self.assertIn(f"scripts/{name}".encode(), r.stdout)
                self.assertFalse(r.stdout.startswith(b"#"), r.stdout[:80])
                self.assertEqual(os.listdir(work), [])


if __name__ == "__main__":
    unittest.main()
