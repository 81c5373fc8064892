"""Checks zembloid.scr as a Windows loader and the display settings see it: a
32-bit GUI image that old loaders accept, importing only system DLLs, with the
ten frame bitmaps embedded in the Japanese language."""

import struct
import unittest

import pefile

import winesession

ALLOWED_IMPORTS = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "ADVAPI32.DLL", "MSVCRT.DLL"}
RT_BITMAP = 2
JAPANESE = 0x0411


class ExecutableTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(winesession.SCR)

    def test_header_is_a_32_bit_gui_image_for_version_4_loaders(self):
        header = self.pe.OPTIONAL_HEADER
        checks = [
            ("machine", self.pe.FILE_HEADER.Machine, 0x14C),
            ("subsystem", header.Subsystem, 2),
            ("os version", (header.MajorOperatingSystemVersion,
                            header.MinorOperatingSystemVersion), (4, 0)),
            ("subsystem version", (header.MajorSubsystemVersion,
                                   header.MinorSubsystemVersion), (4, 0)),
        ]
        for name, actual, expected in checks:
            with self.subTest(field=name):
                self.assertEqual(actual, expected)

    def test_imports_only_system_dlls(self):
        imported = {entry.dll.decode().upper() for entry in self.pe.DIRECTORY_ENTRY_IMPORT}
        self.assertLessEqual(imported, ALLOWED_IMPORTS)
        self.assertIn("USER32.DLL", imported)

    def test_ten_frame_bitmaps_in_japanese(self):
        bitmaps = {}
        for kind in self.pe.DIRECTORY_ENTRY_RESOURCE.entries:
            if kind.id == RT_BITMAP:
                for named in kind.directory.entries:
                    bitmaps[named.id] = named.directory.entries
        self.assertEqual(sorted(bitmaps), list(range(106, 116)))
        for number, langs in sorted(bitmaps.items()):
            with self.subTest(bitmap=number):
                self.assertEqual([lang.id for lang in langs], [JAPANESE])
                entry = langs[0].data.struct
                dib = self.pe.get_data(entry.OffsetToData, entry.Size)
                self.assertEqual(len(dib), 38448)
                size, width, height, planes, bits = struct.unpack_from("<IiiHH", dib)
                self.assertEqual((size, width, height, planes, bits), (40, 640, 480, 1, 1))
                self.assertEqual(dib[40:48], b"\x00\x00\x00\x00\xff\xff\xff\x00")


if __name__ == "__main__":
    unittest.main(verbosity=2)
