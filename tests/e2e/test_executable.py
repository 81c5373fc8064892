"""Checks zembloid.scr as a Windows loader and the display settings see it: a
GUI image that old loaders accept, importing only functions that Windows 95's
system DLLs export, declaring itself DPI-aware, stripped and without a time
stamp, with the ten frame bitmaps embedded in the Japanese language."""

import os
import struct
import unittest
import xml.etree.ElementTree as ElementTree

import pefile

import winesession

# Per build: the machine, the optional-header kind (PE32 or PE32+) and the
# subsystem version (4.0 for Windows 95 and NT 4; an x64 loader wants 5.2).
MACHINE, SUBSYSTEM_VERSION = {"win32": ((0x14C, 0x10B), (4, 0)),
                              "win64": ((0x8664, 0x20B), (5, 2))}[winesession.ARCH]

# Every function the saver imports, each exported by the Windows 95 version
# of its DLL. A new import goes here only once it is known to be there.
WIN95_EXPORTS = {
    "KERNEL32.DLL": {
        "ExitProcess", "FindResourceA", "FreeLibrary", "GetCommandLineA", "GetModuleHandleA",
        "GetPrivateProfileIntA", "GetProcAddress", "GetSystemDirectoryA", "GetTickCount",
        "GetVersionExA", "LoadLibraryA", "LoadResource", "LocalAlloc", "LocalFree", "LockResource",
        "RtlUnwind", "Sleep", "UnhandledExceptionFilter", "WritePrivateProfileStringA"},
    "USER32.DLL": {
        "CharNextA", "CreateWindowExA", "DefWindowProcA", "DestroyWindow", "DialogBoxParamA",
        "DispatchMessageA", "EndDialog", "FillRect", "FindWindowA", "GetClientRect",
        "GetCursorPos", "GetDC", "GetDlgItem", "GetForegroundWindow", "GetMessageA", "GetParent",
        "GetSystemMetrics", "GetWindowRect", "IsWindow", "KillTimer", "LoadIconA", "LoadStringA",
        "MessageBoxA", "PeekMessageA", "PostMessageA", "PostQuitMessage", "RegisterClassA", "ReleaseDC",
        "SendMessageA", "SetCursor", "SetForegroundWindow", "SetScrollPos", "SetScrollRange",
        "SetTimer", "SetWindowPos", "SystemParametersInfoA", "TranslateMessage", "wsprintfA"},
    "GDI32.DLL": {
        "BitBlt", "CreateCompatibleDC", "CreateDIBSection", "CreatePalette", "DeleteDC",
        "DeleteObject", "GetDeviceCaps", "GetStockObject", "RealizePalette", "SelectObject",
        "SelectPalette", "SetStretchBltMode", "StretchDIBits"},
    "ADVAPI32.DLL": {"RegCloseKey", "RegOpenKeyA", "RegQueryValueExA"},
}
# Functions of later Windows versions that a C run-time's start-up pulls in.
LATE_FUNCTIONS = {
    "IsDebuggerPresent", "GetTickCount64", "AddVectoredExceptionHandler",
    "InitializeCriticalSectionAndSpinCount", "GetSystemTimePreciseAsFileTime",
    "SetProcessDPIAware", "FlsAlloc", "InitializeSListHead", "EncodePointer", "DecodePointer",
}

RT_BITMAP = 2
RT_MANIFEST = 24
JAPANESE = 0x0411
SETTINGS_2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"


class ExecutableTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(winesession.SCR)

    def resource(self, kind, number):
        for entry in self.pe.DIRECTORY_ENTRY_RESOURCE.entries:
            if entry.id == kind:
                for named in entry.directory.entries:
                    if named.id == number:
                        data = named.directory.entries[0].data.struct
                        return self.pe.get_data(data.OffsetToData, data.Size)
        return None

    def test_header_is_a_gui_image_for_version_4_loaders(self):
        header = self.pe.OPTIONAL_HEADER
        checks = [
            ("machine, kind", (self.pe.FILE_HEADER.Machine, header.Magic), MACHINE),
            ("subsystem", header.Subsystem, 2),
            ("os version", (header.MajorOperatingSystemVersion,
                            header.MinorOperatingSystemVersion), (4, 0)),
            ("subsystem version", (header.MajorSubsystemVersion,
                                   header.MinorSubsystemVersion), SUBSYSTEM_VERSION),
        ]
        for name, actual, expected in checks:
            with self.subTest(field=name):
                self.assertEqual(actual, expected)

    def test_imports_only_what_windows_95_exports(self):
        imported = {}
        for entry in self.pe.DIRECTORY_ENTRY_IMPORT:
            names = {i.name.decode() if i.name else "#%d" % i.ordinal for i in entry.imports}
            imported.setdefault(entry.dll.decode().upper(), set()).update(names)
        self.assertEqual(set(imported), set(WIN95_EXPORTS))
        for dll, names in sorted(imported.items()):
            with self.subTest(dll=dll):
                self.assertFalse(names & LATE_FUNCTIONS)
                self.assertLessEqual(names, WIN95_EXPORTS[dll])

    def test_manifest_declares_dpi_awareness_and_no_execution_level(self):
        manifest = self.resource(RT_MANIFEST, 1)
        self.assertIsNotNone(manifest, "no manifest with id 1")
        root = ElementTree.fromstring(manifest)
        aware = [e.text.strip() for e in root.iter(SETTINGS_2005 + "dpiAware")]
        self.assertEqual(aware, ["true/pm"])
        tags = [e.tag.split("}")[-1] for e in root.iter()]
        self.assertNotIn("trustInfo", tags)
        self.assertNotIn("requestedExecutionLevel", tags)

    def test_stripped_without_time_stamp_or_build_paths(self):
        header = self.pe.FILE_HEADER
        self.assertEqual(header.TimeDateStamp, 0)
        self.assertEqual((header.PointerToSymbolTable, header.NumberOfSymbols), (0, 0))
        sections = [s.Name.rstrip(b"\0").decode() for s in self.pe.sections]
        self.assertFalse([n for n in sections if n.startswith((".debug", "/"))], sections)
        with open(winesession.SCR, "rb") as f:
            data = f.read()
        for folder in {winesession.SOURCE_DIR, winesession.BUILD_DIR}:
            self.assertNotIn(os.path.abspath(folder).encode(), data)

    def test_no_constructors_to_run(self):
        # Nothing runs before the entry, so a global that needs a constructor
        # would never be set up. The linker gathers constructors (and their
        # destructors) into two lists at the end of .text, each between a word
        # of all ones and a zero word; both must be empty. An .init_array
        # would be a section of its own, its name cut to eight characters.
        word = 8 if self.pe.OPTIONAL_HEADER.Magic == 0x20B else 4
        names = [s.Name.rstrip(b"\0").decode() for s in self.pe.sections]
        self.assertFalse([n for n in names if n.startswith((".ctors", ".init_ar"))], names)
        text = next(s for s in self.pe.sections if s.Name.rstrip(b"\0") == b".text")
        code = text.get_data()[:text.Misc_VirtualSize]
        empty_list = b"\xff" * word + b"\0" * word
        self.assertEqual(code[-4 * word:].hex(), (empty_list * 2).hex())

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
