#!/usr/bin/env python3
"""tools/docs/reference.py catches drift between the guide and the sources: each case
changes a copy of the tree the way a developer might and expects the check to name
the page that no longer agrees."""
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest

IDL = "src/registration/corvane.idl"
ROOT = pathlib.Path(__file__).resolve().parents[2]
TOOL = ROOT / "tools/docs/reference.py"
SOURCES = ["src/registration/corvane.idl", "src/control/corvane.cpp", "src/control/corvane.h",
           "src/control/errors.h", "src/transport/socket_errors.h"]


class ReferenceCheck(unittest.TestCase):
    def setUp(self):
        self.tree = pathlib.Path(tempfile.mkdtemp())
        self.addCleanup(shutil.rmtree, self.tree)
        for source in SOURCES:
            (self.tree / source).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy(ROOT / source, self.tree / source)
        shutil.copytree(ROOT / "docs", self.tree / "docs", ignore=shutil.ignore_patterns("pictures"))
        shutil.copytree(ROOT / "examples", self.tree / "examples")  # the guide links them

    def run_tool(self, action="check"):
        done = subprocess.run([sys.executable, TOOL, action, "--root", self.tree], capture_output=True, text=True)
        return done.returncode, done.stdout

    def edit(self, path, old, new):
        file = self.tree / path
        text = file.read_text()
        self.assertIn(old, text)
        file.write_text(text.replace(old, new, 1))

    def assert_fails(self, *naming):
        status, out = self.run_tool()
        self.assertEqual(status, 1, out)
        for text in naming:
            self.assertIn(text, out)

    def test_the_guide_agrees_with_the_sources(self):
        status, out = self.run_tool()
        self.assertEqual(status, 0, out)
        self.assertIn("the guide agrees", out)

    def test_a_changed_parameter_type_or_help_string_is_caught(self):
        self.edit(IDL, "ErrString([in, out] short* n", "ErrString([in, out] long* n")
        self.edit(IDL, '"Sends the message through the SMTP server"', '"Sends a message"')
        self.assert_fails("Corvane/ErrString.md: the idl block", "Corvane/ErrString.md: the vb signature",
                          "Corvane/Send.md: the idl block")

    def test_a_by_reference_parameter_needs_its_section(self):
        self.edit(IDL, "HRESULT SocketRead([out, retval] BSTR* result)",
                  "HRESULT SocketRead([in, out] short* wait, [out, retval] BSTR* result)")
        self.assert_fails('Corvane/SocketRead.md: no section "## By reference"')

    def test_a_new_member_and_a_removed_one_are_caught(self):
        self.edit(IDL, "[id(0x60030007)] HRESULT Clear();", "[id(0x60030007)] HRESULT Clear();\n    [id(0x6003000c)] HRESULT Reset();")
        self.edit(IDL, "[propget, id(0x68030043)] HRESULT MimeNotification([out, retval] BSTR* result);", "")
        self.edit(IDL, "[propput, id(0x68030043)] HRESULT MimeNotification([in] BSTR value);", "")
        self.assert_fails("MIME/Reset.md: missing", "Corvane/MimeNotification.md: MimeNotification is no member")

    def test_a_new_error_number_is_caught(self):
        self.edit("src/transport/socket_errors.h", "inline constexpr int16_t kTlsFailure = 12157;",
                  "inline constexpr int16_t kTlsFailure = 12157;\ninline constexpr int16_t kTlsRevoked = 12170;")
        self.edit("src/control/errors.h", "InvalidPropertyValue = 380,", "InvalidPropertyValue = 380,\n  Permission = 70,")
        self.assert_fails('no row "| 12170 |" under "## Socket and TLS errors"',
                          'no row "| 70 |" under "## Automation errors"')

    def test_a_link_to_a_moved_page_or_a_renamed_heading_is_caught(self):
        (self.tree / "docs/howto/raw-socket.md").rename(self.tree / "docs/howto/socket.md")
        self.edit("docs/howto/tls.md", "## Trusting a private certificate authority", "## Trusting an authority")
        self.assert_fails("docs/reference/Corvane/SocketRead.md: link ../../howto/raw-socket.md: no such file",
                          "docs/errors.md: link howto/tls.md#trusting-a-private-certificate-authority: no such heading")

    def test_sync_rewrites_signatures_and_makes_skeletons_that_still_fail(self):
        self.edit(IDL, "ErrString([in, out] short* n", "ErrString([in, out] long* n")
        self.edit(IDL, "[id(0x60030007)] HRESULT Clear();", "[id(0x60030007)] HRESULT Clear();\n    [id(0x6003000c)] HRESULT Reset();")
        self.assertEqual(self.run_tool("sync")[0], 0)
        self.assertIn("Function ErrString(ByRef n As Long) As String", (self.tree / "docs/reference/Corvane/ErrString.md").read_text())
        status, out = self.run_tool()
        self.assertEqual(status, 1)
        self.assertNotIn("ErrString", out)
        self.assertIn("MIME/Reset.md: still says TODO", out)

if __name__ == "__main__":
    unittest.main()
