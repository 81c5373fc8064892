"""Reads the compiled resources back out of zembloid.scr and compares the dialog
templates, strings, icon and version block with what the program must carry."""

import os
import struct
import unittest

import pefile

import winesession

JAPANESE = 0x0411

WS_POPUP = 0x80000000
WS_CHILD = 0x40000000
WS_VISIBLE = 0x10000000
WS_CAPTION = 0x00C00000
WS_SYSMENU = 0x00080000
WS_GROUP = 0x00020000
WS_TABSTOP = 0x00010000
DS_MODALFRAME = 0x80
DS_SETFONT = 0x40
BS_PUSHBUTTON = 0
BS_GROUPBOX = 7
SBS_HORZ = 0
SS_LEFT = 0
SS_CENTER = 1
SS_ICON = 3
CONTROL = WS_CHILD | WS_VISIBLE

# Predefined window classes as a template names them by atom.
CLASS_ATOMS = {0x80: "Button", 0x81: "Edit", 0x82: "Static", 0x83: "ListBox",
               0x84: "ScrollBar", 0x85: "ComboBox"}

# Marks a control whose text is free.
ANY_TEXT = object()

FONT = (9, "ＭＳ Ｐゴシック")

CONFIGURE = {
    "style": WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT,
    "exstyle": 0, "rect": (0, 0, 130, 127), "menu": None, "class": None,
    "title": "ＺＥＭＢＬＯＩＤ", "font": FONT,
    "controls": [
        ("Button", 65535, "速度", BS_GROUPBOX | CONTROL, (12, 12, 98, 52)),
        ("ScrollBar", 3019, None, SBS_HORZ | CONTROL, (16, 44, 89, 11)),
        ("Static", 103, "速い", SS_LEFT | CONTROL | WS_GROUP, (18, 32, 20, 9)),
        ("Static", 104, "遅い", SS_LEFT | CONTROL | WS_GROUP, (87, 32, 20, 9)),
        ("Button", 3029, "OK", BS_PUSHBUTTON | CONTROL | WS_TABSTOP, (12, 96, 48, 15)),
        ("Button", 3030, "キャンセル", BS_PUSHBUTTON | CONTROL | WS_TABSTOP, (68, 96, 48, 15)),
        ("Button", 3031, "バージョン情報", BS_PUSHBUTTON | CONTROL | WS_TABSTOP, (28, 72, 68, 15)),
    ],
}

ABOUT = {
    "style": WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT,
    "exstyle": 0, "rect": (40, 40, 203, 75), "menu": None, "class": None,
    "title": "ＺＥＭＢＬＯＩＤのバージョン情報", "font": FONT,
    "controls": [
        ("Static", 65535, "SCRN", SS_ICON | CONTROL, (16, 13, 18, 20)),
        ("Static", 65535, "ＺＥＭＢＬＯＩＤ", SS_CENTER | CONTROL | WS_GROUP, (48, 4, 134, 8)),
        ("Static", 65535, "Ver. 0.1", SS_CENTER | CONTROL | WS_GROUP, (44, 16, 140, 8)),
        # The fourth line's text is free; only its place and styles are fixed.
        ("Static", 65535, ANY_TEXT, SS_CENTER | CONTROL | WS_GROUP, (44, 28, 137, 8)),
        ("Button", 1, "ＯＫ", BS_PUSHBUTTON | CONTROL | WS_TABSTOP, (56, 48, 40, 14)),
    ],
}

STRINGS = {100: "ZEMBLOID", 1001: "control.ini", 1007: "ZEMBLOID"}

VERSION_STRINGS = {
    "FileVersion": "0, 1, 0, 0",
    "ProductVersion": "0, 1, 0, 0",
    "InternalName": "zembloid",
    "OriginalFilename": "zembloid.scr",
    "FileDescription": "ZEMBLOID",
    "ProductName": "ZEMBLOID",
}

STANDARD_PALETTE = [
    (0, 0, 0), (0x80, 0, 0), (0, 0x80, 0), (0x80, 0x80, 0), (0, 0, 0x80), (0x80, 0, 0x80),
    (0, 0x80, 0x80), (0xC0, 0xC0, 0xC0), (0x80, 0x80, 0x80), (0xFF, 0, 0), (0, 0xFF, 0),
    (0xFF, 0xFF, 0), (0, 0, 0xFF), (0xFF, 0, 0xFF), (0, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF)]


class Reader:
    """Little-endian fields of a resource, read in order, with dword alignment."""

    def __init__(self, data):
        self.data = data
        self.pos = 0

    def unpack(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.pos)
        self.pos += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def text(self):
        end = self.pos
        while self.data[end:end + 2] != b"\0\0":
            end += 2
        value = self.data[self.pos:end].decode("utf-16-le")
        self.pos = end + 2
        return value

    def name_or_ordinal(self):
        first = struct.unpack_from("<H", self.data, self.pos)[0]
        if first == 0:
            self.pos += 2
            return None
        if first == 0xFFFF:
            self.pos += 2
            return self.unpack("H")
        return self.text()

    def align(self):
        self.pos = (self.pos + 3) & ~3


def parse_dialog(data):
    r = Reader(data)
    style, exstyle, count, x, y, cx, cy = r.unpack("IIHhhhh")
    self_ = {"style": style, "exstyle": exstyle, "rect": (x, y, cx, cy)}
    self_["menu"] = r.name_or_ordinal()
    self_["class"] = r.name_or_ordinal()
    self_["title"] = r.text()
    self_["font"] = None
    if style & DS_SETFONT:
        size = r.unpack("H")
        self_["font"] = (size, r.text())
    controls = []
    for _ in range(count):
        r.align()
        style, exstyle, x, y, cx, cy, ident = r.unpack("IIhhhhH")
        cls = r.name_or_ordinal()
        cls = CLASS_ATOMS.get(cls, cls) if isinstance(cls, int) else cls
        title = r.name_or_ordinal()
        extra = r.unpack("H")
        r.pos += extra
        controls.append({"class": cls, "id": ident, "text": title, "style": style,
                         "exstyle": exstyle, "rect": (x, y, cx, cy)})
    self_["controls"] = controls
    self_["trailing"] = data[r.pos:].rstrip(b"\0")
    return self_


class ResourceTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(winesession.SCR)
        cls.pe.parse_data_directories()
        cls.entries = {}
        for kind in cls.pe.DIRECTORY_ENTRY_RESOURCE.entries:
            type_key = str(kind.name) if kind.name is not None else kind.id
            for named in kind.directory.entries:
                name_key = str(named.name) if named.name is not None else named.id
                for lang in named.directory.entries:
                    cls.entries.setdefault((type_key, name_key), []).append(lang)

    def resource(self, kind, name):
        langs = self.entries.get((kind, name))
        self.assertIsNotNone(langs, "resource %r of type %r is missing" % (name, kind))
        self.assertEqual([l.id for l in langs], [JAPANESE],
                         "resource %r of type %r: languages" % (name, kind))
        entry = langs[0].data.struct
        return self.pe.get_data(entry.OffsetToData, entry.Size)

    def test_every_resource_is_japanese(self):
        for key, langs in self.entries.items():
            with self.subTest(resource=key):
                self.assertEqual([l.id for l in langs], [JAPANESE])

    def check_dialog(self, name, expected):
        dialog = parse_dialog(self.resource(pefile.RESOURCE_TYPE["RT_DIALOG"], name))
        self.assertNotEqual(dialog["style"] >> 16, 0xFFFF, "extended template")
        for field in ("style", "exstyle", "rect", "menu", "class", "title", "font"):
            with self.subTest(dialog=name, field=field):
                self.assertEqual(dialog[field], expected[field])
        self.assertEqual(len(dialog["controls"]), len(expected["controls"]))
        for number, (actual, (cls, ident, text, style, rect)) in enumerate(
                zip(dialog["controls"], expected["controls"]), 1):
            with self.subTest(dialog=name, control=number):
                self.assertEqual(actual["class"], cls)
                self.assertEqual(actual["id"], ident)
                if text is not ANY_TEXT:
                    self.assertEqual(actual["text"], text)
                self.assertEqual(hex(actual["style"]), hex(style))
                self.assertEqual(actual["exstyle"], 0)
                self.assertEqual(actual["rect"], rect)
        self.assertEqual(dialog["trailing"], b"")
        return dialog

    def test_configure_dialog(self):
        dialog = self.check_dialog(2003, CONFIGURE)
        ids = [c["id"] for c in dialog["controls"]]
        self.assertNotIn(1, ids)
        self.assertNotIn(2, ids)

    def test_about_dialog(self):
        self.check_dialog("ABOUT", ABOUT)

    def test_only_two_dialogs(self):
        dialogs = sorted(str(name) for kind, name in self.entries
                         if kind == pefile.RESOURCE_TYPE["RT_DIALOG"])
        self.assertEqual(dialogs, ["2003", "ABOUT"])

    def test_string_table(self):
        found = {}
        for kind, block in self.entries:
            if kind != pefile.RESOURCE_TYPE["RT_STRING"]:
                continue
            r = Reader(self.resource(kind, block))
            for index in range(16):
                length = r.unpack("H")
                if length:
                    found[(block - 1) * 16 + index] = r.data[r.pos:r.pos + 2 * length].decode(
                        "utf-16-le")
                    r.pos += 2 * length
        self.assertEqual(found, STRINGS)

    def icon_image(self):
        group = Reader(self.resource(pefile.RESOURCE_TYPE["RT_GROUP_ICON"], "SCRN"))
        reserved, kind, count = group.unpack("HHH")
        self.assertEqual((reserved, kind, count), (0, 1, 1))
        width, height, colours, _, planes, bits, size, ident = group.unpack("BBBBHHIH")
        self.assertEqual((width, height, colours, planes, bits), (32, 32, 16, 1, 4))
        data = self.resource(pefile.RESOURCE_TYPE["RT_ICON"], ident)
        self.assertEqual(len(data), size)
        return data

    def test_icon_is_the_only_one_and_named(self):
        groups = [name for kind, name in self.entries
                  if kind == pefile.RESOURCE_TYPE["RT_GROUP_ICON"]]
        icons = [name for kind, name in self.entries if kind == pefile.RESOURCE_TYPE["RT_ICON"]]
        self.assertEqual(groups, ["SCRN"])
        self.assertEqual(len(icons), 1)
        self.assertNotIn(100, icons)

    def test_icon_shows_a_dotted_black_screen(self):
        data = self.icon_image()
        r = Reader(data)
        header = r.unpack("IiiHHIIiiII")
        self.assertEqual(header[:6], (40, 32, 64, 1, 4, 0))
        palette = [struct.unpack_from("<BBBB", data, 40 + 4 * i) for i in range(16)]
        self.assertEqual([(red, green, blue) for blue, green, red, _ in palette],
                         STANDARD_PALETTE)
        bits = data[40 + 64:40 + 64 + 32 * 16]
        # Rows are stored bottom row first.
        pixels = [[(bits[(31 - y) * 16 + x // 2] >> (0 if x % 2 else 4)) & 15
                   for x in range(32)] for y in range(32)]
        screen = [pixels[y][x] for y in range(8, 18) for x in range(8, 24)]
        self.assertTrue(set(screen) <= {0, 15}, "the screen holds only black and white")
        self.assertGreater(screen.count(0), 3 * screen.count(15), "the screen is mostly black")
        isolated = [(y, x) for y in range(5, 19) for x in range(5, 27)
                    if pixels[y][x] == 15 and all(pixels[y + dy][x + dx] == 0 for dy, dx in
                                                  ((0, 1), (0, -1), (1, 0), (-1, 0)))]
        self.assertGreaterEqual(len(isolated), 15, "white dots on the screen")

    def test_version_block(self):
        raw = self.resource(pefile.RESOURCE_TYPE["RT_VERSION"], 1)
        self.assertTrue(raw)
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS), (0x00000001, 0))
        self.assertEqual((fixed.ProductVersionMS, fixed.ProductVersionLS), (0x00000001, 0))
        self.assertEqual((fixed.FileFlagsMask, fixed.FileFlags), (0x3F, 0))
        self.assertEqual((fixed.FileOS, fixed.FileType, fixed.FileSubtype), (0x40004, 1, 0))
        tables = {}
        translations = []
        for info in self.pe.FileInfo[0]:
            if info.Key == b"StringFileInfo":
                for table in info.StringTable:
                    tables[table.LangID.decode()] = {
                        k.decode(): v.decode() for k, v in table.entries.items()}
            if info.Key == b"VarFileInfo":
                for var in info.Var:
                    translations.append(var.entry)
        self.assertEqual(list(tables), ["041104b0"])
        strings = tables["041104b0"]
        for key, value in VERSION_STRINGS.items():
            with self.subTest(field=key):
                self.assertEqual(strings.get(key), value)
        for key in ("CompanyName", "LegalCopyright", "Comments"):
            with self.subTest(field=key):
                self.assertTrue(strings.get(key))
        self.assertEqual(translations, [{b"Translation": "0x0411 0x04b0"}])


if __name__ == "__main__":
    unittest.main(verbosity=2)
