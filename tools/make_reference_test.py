#!/usr/bin/env python3
"""The reference's checks catch what they are for: on a copy of the public headers, a removed
comment, a signature changed without regenerating and a header that does not parse each fail
with the culprit named; an internal header installed beside the public ones fails the install
check. Usage: make_reference_test.py SOURCE_DIR"""
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest

SRC = pathlib.Path(sys.argv.pop(1) if len(sys.argv) > 1 else ".").resolve()
TOOL = SRC / "tools" / "make-reference.py"
INSTALL_CHECK = SRC / "tools" / "check-installed-headers.sh"


def run(*args, cwd=None):
    return subprocess.run([*args], capture_output=True, text=True, timeout=60, cwd=cwd)


class Reference(unittest.TestCase):
    def setUp(self):
        self.tmp = pathlib.Path(tempfile.mkdtemp())
        self.addCleanup(shutil.rmtree, self.tmp)
        shutil.copytree(SRC / "kastrel", self.tmp / "kastrel",
                        ignore=shutil.ignore_patterns("*.cpp", "testing"))
        self.assertEqual(run(sys.executable, TOOL, self.tmp, self.tmp / "docs/reference").returncode, 0)

    def edit(self, rel, old, new):
        path = self.tmp / rel
        text = path.read_text()
        self.assertIn(old, text)
        path.write_text(text.replace(old, new, 1))

    def test_each_planted_fault_fails_with_its_culprit_named(self):
        for mode in ("--check", "--undocumented"):
            self.assertEqual(run(sys.executable, TOOL, mode, self.tmp).returncode, 0, mode)
        # A call whose comment is gone.
        self.edit("kastrel/math/math.h", "// Floating value to int32 the way every engine conversion rounds: to nearest\n"
                  "// with halves to even. NaN and values outside the int32 range give INT32_MIN.\n", "")
        r = run(sys.executable, TOOL, "--undocumented", self.tmp)
        self.assertEqual(r.returncode, 1)
        self.assertIn("kastrel/math/math.h:", r.stderr)
        self.assertIn("ROUNDTOINT (function)", r.stderr)
        # A signature changed, the pages not regenerated: the header's page and the cheatsheet.
        self.edit("kastrel/graphics/shapes.h", "int32_t X1", "int32_t XSTART")
        r = run(sys.executable, TOOL, "--check", self.tmp)
        self.assertEqual(r.returncode, 1)
        self.assertIn("docs/reference/graphics-shapes.md: out of date", r.stderr)
        self.assertIn("docs/reference/cheatsheet.md: out of date", r.stderr)
        self.assertNotIn("engine-screens.md", r.stderr)
        # A header that never closes its namespace: named, no traceback, nothing written.
        self.edit("kastrel/engine/regions.h", "}  // namespace", "")
        r = run(sys.executable, TOOL, self.tmp, self.tmp / "out")
        self.assertEqual(r.returncode, 1)
        self.assertIn("kastrel/engine/regions.h", r.stderr)
        self.assertNotIn("Traceback", r.stderr)
        self.assertFalse((self.tmp / "out").exists())

    def test_an_internal_header_installed_as_public_is_named(self):
        if shutil.which("cmake") is None:
            self.skipTest("cmake is not installed")
        build = self.tmp / "build"
        build.mkdir()
        (build / "CMakeCache.txt").write_text("")

        def install(*headers):
            # An install script as CMake writes one: the headers copied into the prefix.
            rules = "".join(f'file(INSTALL "{self.tmp / h}" DESTINATION '
                            f'"${{CMAKE_INSTALL_PREFIX}}/include/{pathlib.PurePosixPath(h).parent}")\n'
                            for h in headers)
            (build / "cmake_install.cmake").write_text(rules)
            return run("bash", INSTALL_CHECK, build)

        umbrella = (self.tmp / "kastrel/kastrel.h").read_text()
        public = ["kastrel/kastrel.h", "kastrel/boolean.h"] + \
            [line.split('"')[1] for line in umbrella.splitlines() if line.startswith('#include "')]
        (self.tmp / "kastrel/graphics/detail").mkdir(exist_ok=True)
        (self.tmp / "kastrel/graphics/detail/rows.h").write_text("#pragma once\n")
        (self.tmp / "kastrel/graphics/rows_inner.h").write_text("#pragma once\n")
        r = install(*public, "kastrel/graphics/detail/rows.h")
        self.assertEqual(r.returncode, 0, r.stderr)
        r = install(*public, "kastrel/graphics/detail/rows.h", "kastrel/graphics/rows_inner.h")
        self.assertEqual(r.returncode, 1)
        self.assertIn("include/kastrel/graphics/rows_inner.h", r.stderr)
        self.assertNotIn("detail/rows.h", r.stderr)
        r = install(*public[:-1])  # a header kastrel.h includes is missing
        self.assertEqual(r.returncode, 1)
        self.assertIn(f"kastrel.h includes {public[-1]}, which is not installed", r.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
