"""Checks the built Setup.exe as Windows will see it: a 32-bit GUI program for i686 that
ends before the package offset, imports only DLLs that Windows always loads from System32,
and carries its manifest and version record."""
import os
import re
import struct
import sys
import unittest

EXE = os.environ.get("OLVAN_SETUP_EXE", "Setup.exe")
LIMIT = int(os.environ.get("OLVAN_STUB_LIMIT", "530000"))
# Setup.exe's own ceiling, in bytes: no larger than the largest stub of a widespread
# installer, well below the package offset.
CEILING = 102400
# Known DLLs: Windows maps these from System32 whatever folder the program starts from.
KNOWN_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll",
              "ole32.dll", "oleaut32.dll", "msvcrt.dll", "comdlg32.dll", "shlwapi.dll",
              "imagehlp.dll", "psapi.dll", "rpcrt4.dll", "sechost.dll", "setupapi.dll",
              "ws2_32.dll", "combase.dll", "imm32.dll", "msctf.dll", "normaliz.dll",
              "nsi.dll", "wldap32.dll", "difxapi.dll", "clbcatq.dll", "gdiplus.dll",
              "shcore.dll", "coml2.dll"}


class PeImage:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        assert data[pe:pe + 4] == b"PE\0\0", "not a PE file"
        self.machine, nsec, _, _, _, optsize, self.characteristics = struct.unpack_from(
            "<HHIIIHH", data, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", data, opt)[0]
        self.subsystem = struct.unpack_from("<H", data, opt + 68)[0]
        self.dll_characteristics = struct.unpack_from("<H", data, opt + 70)[0]
        self.image_base = struct.unpack_from("<I", data, opt + 28)[0]
        ndirs = struct.unpack_from("<I", data, opt + 92)[0]
        self.dirs = [struct.unpack_from("<II", data, opt + 96 + 8 * i) for i in range(ndirs)]
        self.sections = []
        self.raw = []  # name, file offset, size in the file, characteristics
        for i in range(nsec):
            off = opt + optsize + 40 * i
            name = data[off:off + 8].rstrip(b"\0")
            vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", data, off + 8)
            flags = struct.unpack_from("<I", data, off + 36)[0]
            self.sections.append((name, va, max(vsize, rawsize), rawptr))
            self.raw.append((name, rawptr, rawsize, flags))

    def off(self, rva):
        for _, va, size, raw in self.sections:
            if va <= rva < va + size:
                return rva - va + raw
        raise ValueError(f"rva {rva:#x} outside the sections")

    def cstr(self, rva):
        o = self.off(rva)
        return self.data[o:self.data.index(b"\0", o)].decode("ascii")

    def imports(self):
        rva, size = self.dirs[1]
        names, o = [], self.off(rva)
        while True:
            ilt, _, _, name, iat = struct.unpack_from("<IIIII", self.data, o)
            if name == 0:
                return names
            names.append(self.cstr(name))
            o += 20

    def delay_imports(self):
        if len(self.dirs) <= 13 or self.dirs[13][0] == 0:
            return []
        names, o = [], self.off(self.dirs[13][0])
        while True:
            name = struct.unpack_from("<I", self.data, o + 4)[0]
            if name == 0:
                return names
            names.append(self.cstr(name))
            o += 32

    def resource_types(self):
        rva, _ = self.dirs[2]
        base = self.off(rva)
        named, ids = struct.unpack_from("<HH", self.data, base + 12)
        types = []
        for i in range(named + ids):
            ident, _ = struct.unpack_from("<II", self.data, base + 16 + 8 * i)
            types.append(ident)
        return types


class SetupImageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(EXE, "rb") as f:
            cls.data = f.read()
        cls.pe = PeImage(cls.data)

    def test_is_a_32_bit_gui_program_for_i686(self):
        self.assertEqual(self.pe.machine, 0x14C)
        self.assertEqual(self.pe.magic, 0x10B)  # PE32
        self.assertEqual(self.pe.subsystem, 2)  # Windows GUI

    def test_ends_before_the_package_offset(self):
        size = len(self.data)
        print(f"Setup.exe: {size} bytes, {LIMIT - size} to spare before {LIMIT}")
        self.assertLess(size, LIMIT)

    def test_stays_within_its_ceiling(self):
        size = len(self.data)
        print(f"Setup.exe: {size} bytes, {CEILING - size} to spare below {CEILING}")
        self.assertLessEqual(size, CEILING)

    def test_has_only_the_sections_it_needs(self):
        # setup.ld: the run-time's tables and the TLS template live in .data, no unwind
        # frames; each further section would cost at least 512 bytes.
        names = [s[0] for s in self.pe.sections]
        self.assertEqual(names, [b".text", b".data", b".rdata", b".bss", b".idata", b".rsrc",
                                 b".reloc"])

    def test_tls_template_starts_its_section(self):
        # Thread-local data is addressed from the start of the section holding the template.
        va, size = self.pe.dirs[9]
        self.assertNotEqual(size, 0)
        start = struct.unpack_from("<I", self.data, self.pe.off(va))[0]
        data = [s for s in self.pe.sections if s[0] == b".data"][0]
        self.assertEqual(start, self.pe.image_base + data[1])

    def test_imports_only_dlls_that_load_from_system32(self):
        names = [n.lower() for n in self.pe.imports() + self.pe.delay_imports()]
        print("imports:", ", ".join(names))
        self.assertIn("kernel32.dll", names)
        self.assertEqual(sorted(set(names) - KNOWN_DLLS), [])

    def test_loads_anywhere_with_non_executable_data(self):
        self.assertEqual(self.pe.dll_characteristics & 0x140, 0x140)  # DYNAMIC_BASE, NX_COMPAT
        # A random base needs the relocations too: not stripped, and a table present.
        self.assertEqual(self.pe.characteristics & 0x1, 0)
        self.assertNotEqual(self.pe.dirs[5][1], 0)

    def test_links_the_stack_protector_in(self):  # kept only when instrumented code calls it
        self.assertTrue(b"*** stack smashing detected ***" in self.data)

    def test_carries_manifest_icon_and_version(self):
        types = self.pe.resource_types()
        self.assertIn(24, types)  # RT_MANIFEST
        self.assertIn(14, types)  # RT_GROUP_ICON
        self.assertIn(16, types)  # RT_VERSION
        manifest = self.data[self.data.index(b"<assembly"):]
        manifest = manifest[:manifest.index(b"</assembly>")]
        self.assertIn(b'name="Olvan Setup"', manifest)
        self.assertIn(b'processorArchitecture="x86"', manifest)
        self.assertIn(b'level="requireAdministrator" uiAccess="false"', manifest)
        self.assertIn(b'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"', manifest)
        utf16 = lambda s: s.encode("utf-16-le")
        self.assertIn(utf16("FileDescription") + b"\0\0" + utf16("Setup Application"),
                      self.data.replace(b"\0\0\0\0", b"\0\0"))
        self.assertIn(utf16("Setup.exe"), self.data)
        # Room for the longest version olvpack stamps, 65535.65535.65535.65535 and its zero,
        # in both version strings (24 characters, the length fields counting all of them).
        for key in ("FileVersion", "ProductVersion"):
            head = struct.pack("<HHH", 6 + 2 * (len(key) + 1) + (2 if len(key) % 2 else 0) + 48,
                               24, 1) + utf16(key) + b"\0\0"
            at = self.data.index(head)
            value = self.data[at + len(head) + (len(head) % 4 and 4 - len(head) % 4):][:48]
            self.assertEqual(value, utf16("1.0.0.0") + b"\0" * 34, key)

    def test_reserves_an_empty_digest_slot_that_the_code_reads(self):
        # The slot olvpack fills: the marker, then 32 zero bytes ("not bound"), exactly once
        # among the sections' contents (olvpack finds it there), in a section the program
        # cannot write. The unpack must read it at run time: a compiler that folded the "not
        # bound" test away would leave no address of the slot in the code.
        marker = b"Olvan.pkg.sha256"
        found = []
        for name, raw, size, flags in self.pe.raw:
            at = self.data.find(marker, raw, raw + size)
            while at >= 0:
                found.append((name, at, raw + size, flags))
                at = self.data.find(marker, at + 1, raw + size)
        self.assertEqual(len(found), 1, found)
        name, at, end, flags = found[0]
        self.assertLessEqual(at + 48, end)
        self.assertEqual(self.data[at:at + 48], marker + b"\0" * 32)
        self.assertEqual(flags & 0x80000000, 0, name)  # IMAGE_SCN_MEM_WRITE
        _, va, _, raw = [s for s in self.pe.sections if s[0] == name][0]
        text = [s for s in self.pe.sections if s[0] == b".text"][0]
        code = self.data[text[3]:text[3] + text[2]]
        slot = self.pe.image_base + va + at - raw
        addresses = [struct.pack("<I", slot + i) for i in range(48)]
        self.assertTrue(any(a in code for a in addresses))

class LinkerScriptTest(unittest.TestCase):
    def test_every_discarded_function_has_its_slot_redirected(self):
        # A function left out whose symbol is not redirected still links: its table slots
        # would point into nothing instead of ending the process.
        path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "setup",
                            "setup.ld")
        with open(path) as f:
            script = f.read()
        discarded = set(re.findall(r"\*\(\.text\$(\w+)\)", script))
        redirected = set(re.findall(r"^\s*_(\w+) = ___cxa_pure_virtual;", script, re.M))
        self.assertTrue(discarded)
        self.assertEqual(discarded, redirected)


if __name__ == "__main__":
    unittest.main()
