#!/usr/bin/env python3
"""Checks that a built kplx-loader.exe has the shape a release must have.

Usage: check_release.py KPLX-LOADER.EXE [--strip i686-w64-mingw32-strip]
       check_release.py --kplx KPLX.EXE     (the command-line loader: 32-bit console, imports)
Prints one line per check and exits non-zero listing every failure.
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree
from dataclasses import dataclass
from typing import Optional, Tuple

import pefile

# ---------------------------------------------------------------------------------------------
# What a release must contain.

LANG_ENGLISH_UK = 0x0809
MAX_STRIPPED_SIZE = 256 * 1024

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll", "advapi32.dll", "shell32.dll",
               "comctl32.dll", "ntdll.dll", "ws2_32.dll", "ole32.dll", "oleaut32.dll", "ucrtbase.dll",
               "bcrypt.dll"}
SYSTEM_DLL_PREFIXES = ("api-ms-win-",)
# Named apart so a report says why: the driver is loaded at run time, the runtimes are linked in.
FORBIDDEN_DLL_PREFIXES = ("ftd2xx", "libstdc++", "libgcc", "libwinpthread")

STRINGS = {
    110: "Error - Ack not received",
    112: "Error: Not enough memory to create ComAccess object!",
    124: "Error - Handshake not received",
    128: "Transfer Complete!",
    130: "Invalid binary file",
    138: "File loaded successfully",
    142: "Can't load program image",
    146: "About...",
    152: "Cancel",
    167: "Quorvel KPLX Meter",
    168: "Warning, can't load USB driver (ftd2xx.dll)",
    214: "USB Devices",
    216: "USB Port Error",
    218: "You must install the USB driver first!",
    220: "The device has been upgraded and is recycling. You may need to disconnect then reconnect the USB lead.",
    222: "No devices found",
    236: "Can't allocate memory",
    237: "Can't access system registry",
    238: "Transfer Error!",
}
ABSENT_STRINGS = (148, 150, 156)

# A popup is (text, [items]); a command is (text, id).
MENU_ID = 192
MENU = [
    ("&File", [("Exit", 32771)]),
    ("&Transfer", 32779),
    ("&Help", [("&About ...", 104), ("Version", 32801)]),
]

FVIRTKEY, FALT, ACCEL_LAST = 0x01, 0x10, 0x80
ACCELERATORS_ID = 192
ACCELERATORS = [(FALT, ord("?"), 104), (FALT, ord("/"), 104)]  # (flags, key, command)

WS_SYSMENU, WS_VSCROLL, WS_BORDER, DS_SETFONT = 0x00080000, 0x00200000, 0x00800000, 0x40
WS_TABSTOP = 0x00010000
LBS_NOTIFY, LBS_SORT, LBS_NOINTEGRALHEIGHT = 0x0001, 0x0002, 0x0100
BS_TYPEMASK, BS_DEFPUSHBUTTON = 0x000F, 0x0001
SS_TYPEMASK, SS_CENTER, SS_CENTERIMAGE, SS_SUNKEN = 0x001F, 0x0001, 0x0200, 0x1000
STATIC_ID = 0xFFFF  # IDC_STATIC, -1 as a WORD
CONTROL_CLASSES = {0x80: "button", 0x81: "edit", 0x82: "static", 0x83: "listbox", 0x84: "scrollbar",
                   0x85: "combobox"}


@dataclass
class Control:
    """Fields left None are not checked; `style` is (mask, value)."""
    id: Optional[int] = None
    cls: Optional[str] = None
    text: Optional[str] = None
    rect: Optional[Tuple[int, int, int, int]] = None
    style: Optional[Tuple[int, int]] = None

    def describe(self):
        shown_id = -1 if self.id == STATIC_ID else self.id
        parts = [f"id {shown_id}" if self.id is not None else None, self.cls,
                 repr(self.text) if self.text is not None else None]
        return " ".join(p for p in parts if p)


@dataclass
class Dialog:
    rect: Tuple[int, int, int, int]
    font: Tuple[int, str]
    controls: list
    forbidden_style: int = 0


DIALOGS = {
    110: Dialog(rect=(22, 17, 150, 124), font=(8, "System"), controls=[
        Control(id=1096),
        Control(cls="static", id=STATIC_ID),
        Control(id=1, cls="button", style=(BS_TYPEMASK, BS_DEFPUSHBUTTON)),
        Control(id=1093),
    ]),
    158: Dialog(rect=(0, 0, 239, 157), font=(8, "MS Sans Serif"), forbidden_style=WS_SYSMENU, controls=[
        Control(id=1, rect=(167, 134, 50, 14)),
        # OK is the template's only tab stop.
        Control(id=1089, cls="listbox", rect=(21, 17, 196, 110),
                style=(LBS_SORT | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_BORDER | WS_TABSTOP,
                       LBS_SORT | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_BORDER)),
        Control(cls="static", text="Number of devices", rect=(23, 136, 64, 10)),
        Control(id=1092, text="0", rect=(86, 136, 10, 10),
                style=(SS_TYPEMASK | SS_CENTERIMAGE | SS_SUNKEN, SS_CENTER | SS_CENTERIMAGE | SS_SUNKEN)),
    ]),
}

BITMAP_ID, BITMAP_SHAPE = 202, (256, 135, 8)    # width, height, bits per pixel
ICON_GROUP_ID, ICON_SHAPE = 135, (32, 32, 4)    # one image: width, height, bits per pixel
FILE_VERSION_FIXED, FILE_VERSION_TEXT = (1, 1, 0, 0), "1.01"
MANIFEST_ID, EXECUTION_LEVEL = 1, "asInvoker"

RT = pefile.RESOURCE_TYPE

# ---------------------------------------------------------------------------------------------
# Reading the file.


class Report:
    def __init__(self):
        self.passed = 0
        self.failures = []

    def check(self, ok, what, detail=""):
        # Details explain a failure; on a pass they would only repeat the expectation.
        line = what + (f": {detail}" if detail and not ok else "")
        print(("ok    " if ok else "FAIL  ") + line)
        if ok:
            self.passed += 1
        else:
            self.failures.append(line)
        return ok

    @staticmethod
    def note(text):
        print("      " + text)


class Image:
    def __init__(self, path):
        self.path = path
        self.pe = pefile.PE(path)
        # {type: {id: [(language, bytes)]}}
        self.resources = {}
        for type_entry in self._resource_types():
            by_id = self.resources.setdefault(self._key(type_entry), {})
            for id_entry in type_entry.directory.entries:
                for lang_entry in id_entry.directory.entries:
                    data = lang_entry.data.struct
                    by_id.setdefault(self._key(id_entry), []).append(
                        (lang_entry.id, self.pe.get_data(data.OffsetToData, data.Size)))

    def _resource_types(self):
        root = getattr(self.pe, "DIRECTORY_ENTRY_RESOURCE", None)
        return root.entries if root else []

    @staticmethod
    def _key(entry):
        return entry.id if entry.name is None else str(entry.name)

    def resource(self, rtype, rid):
        entries = self.resources.get(rtype, {}).get(rid)
        return entries[0][1] if entries else None

    def strings(self):
        """{id: text}, decoded by pefile from the string-table blocks (block id//16 + 1)."""
        found = {}
        for type_entry in self._resource_types():
            if type_entry.id == RT["RT_STRING"]:
                for block in type_entry.directory.entries:
                    found.update(getattr(block.directory, "strings", {}))
        return found


def utf16z(data, offset):
    end = offset
    while data[end:end + 2] != b"\0\0":
        end += 2
    return data[offset:end].decode("utf-16-le"), end + 2


def sz_or_ord(data, offset):
    """A resource-template field: nothing, an ordinal (0xFFFF then a WORD) or a string."""
    (first,) = struct.unpack_from("<H", data, offset)
    if first == 0x0000:
        return None, offset + 2
    if first == 0xFFFF:
        return struct.unpack_from("<H", data, offset + 2)[0], offset + 4
    return utf16z(data, offset)


def parse_menu(data):
    version, header_size = struct.unpack_from("<HH", data, 0)
    if version != 0:
        raise ValueError(f"MENUEX template (version {version}); expected MENU")
    offset = 4 + header_size

    def items(offset):
        result = []
        while True:
            (flags,) = struct.unpack_from("<H", data, offset)
            offset += 2
            if flags & 0x10:  # MF_POPUP: no id, children follow
                text, offset = utf16z(data, offset)
                children, offset = items(offset)
                result.append((text, children))
            else:
                (command,) = struct.unpack_from("<H", data, offset)
                text, offset = utf16z(data, offset + 2)
                result.append((text, command))
            if flags & 0x80:  # MF_END
                return result, offset

    return items(offset)[0]


def parse_accelerators(data):
    return [struct.unpack_from("<HHH", data, i) for i in range(0, len(data) - 7, 8)]


def parse_dialog(data):
    """A DIALOG (not DIALOGEX) template: (style, (x, y, cx, cy), font or None, controls)."""
    if struct.unpack_from("<HH", data, 0) == (1, 0xFFFF):
        raise ValueError("DIALOGEX template; expected DIALOG")
    style, _, count, x, y, cx, cy = struct.unpack_from("<IIHhhhh", data, 0)
    offset = 18
    _, offset = sz_or_ord(data, offset)  # menu
    _, offset = sz_or_ord(data, offset)  # class
    _, offset = utf16z(data, offset)     # caption
    font = None
    if style & DS_SETFONT:
        (points,) = struct.unpack_from("<H", data, offset)
        face, offset = utf16z(data, offset + 2)
        font = (points, face)
    controls = []
    for _ in range(count):
        offset = (offset + 3) & ~3
        cstyle, _, cx0, cy0, cw, ch, cid = struct.unpack_from("<IIhhhhH", data, offset)
        cls, offset = sz_or_ord(data, offset + 18)
        text, offset = sz_or_ord(data, offset)
        (extra,) = struct.unpack_from("<H", data, offset)
        offset += 2 + extra
        cls = CONTROL_CLASSES.get(cls, cls) if isinstance(cls, int) else cls.lower()
        controls.append(Control(id=cid, cls=cls, text=text, rect=(cx0, cy0, cw, ch), style=cstyle))
    return style, (x, y, cx, cy), font, controls


# ---------------------------------------------------------------------------------------------
# The checks, in the order they are printed.


def check_headers(image, report, _args):
    fh, oh = image.pe.FILE_HEADER, image.pe.OPTIONAL_HEADER
    report.check(oh.Magic == 0x10B, "PE32, not PE32+", f"optional header magic 0x{oh.Magic:x}")
    report.check(fh.Machine == 0x14C, "machine i386", f"0x{fh.Machine:x}")
    report.check(oh.Subsystem == 2, "GUI subsystem", f"subsystem {oh.Subsystem}")


def check_console_headers(image, report, _args):
    fh, oh = image.pe.FILE_HEADER, image.pe.OPTIONAL_HEADER
    report.check(oh.Magic == 0x10B, "PE32, not PE32+", f"optional header magic 0x{oh.Magic:x}")
    report.check(fh.Machine == 0x14C, "machine i386", f"0x{fh.Machine:x}")
    report.check(oh.Subsystem == 3, "console subsystem", f"subsystem {oh.Subsystem}")


def check_imports(image, report, _args):
    pe = image.pe
    names = [entry.dll.decode("ascii", "replace").lower()
             for attr in ("DIRECTORY_ENTRY_IMPORT", "DIRECTORY_ENTRY_DELAY_IMPORT")
             for entry in getattr(pe, attr, [])]
    report.note("imports: " + ", ".join(names))
    forbidden = [n for n in names if n.startswith(FORBIDDEN_DLL_PREFIXES)]
    unknown = [n for n in names if n not in SYSTEM_DLLS and not n.startswith(SYSTEM_DLL_PREFIXES)]
    report.check(not forbidden, "no driver or compiler-runtime DLL imported", ", ".join(forbidden))
    report.check(not unknown, "only Windows system DLLs imported", ", ".join(unknown))


def check_strings(image, report, _args):
    strings = image.strings()
    for sid in sorted(strings):
        report.note(f"string {sid} (block {sid // 16 + 1}, index {sid % 16}): {strings[sid]!r}")
    for sid, text in sorted(STRINGS.items()):
        got = strings.get(sid)
        report.check(got == text, f"string {sid} = {text!r}", "missing" if got is None else f"found {got!r}")
    for sid in ABSENT_STRINGS:
        report.check(sid not in strings, f"no string {sid}", f"found {strings.get(sid)!r}")


def check_menu(image, report, _args):
    data = image.resource(RT["RT_MENU"], MENU_ID)
    if not report.check(data is not None, f"menu {MENU_ID} present"):
        return
    try:
        menu = parse_menu(data)
    except (ValueError, struct.error) as error:
        report.check(False, f"menu {MENU_ID} readable", str(error))
        return
    report.check(menu == MENU, f"menu {MENU_ID} items", f"found {menu}")


def check_accelerators(image, report, _args):
    data = image.resource(RT["RT_ACCELERATOR"], ACCELERATORS_ID)
    if not report.check(data is not None, f"accelerators {ACCELERATORS_ID} present"):
        return
    table = [(flags & ~ACCEL_LAST, key, command) for flags, key, command in parse_accelerators(data)]
    report.check(table == ACCELERATORS, f"accelerators {ACCELERATORS_ID}: Alt+'?' and Alt+'/' give 104, "
                 "ASCII keys (no FVIRTKEY)",
                 "found " + ", ".join(f"flags 0x{f:x} key {chr(k)!r} cmd {c}" for f, k, c in table))


def control_mismatches(want, got):
    wrong = []
    for name in ("id", "cls", "text", "rect"):
        expected = getattr(want, name)
        if expected is not None and getattr(got, name) != expected:
            wrong.append(f"{name} {getattr(got, name)!r}, expected {expected!r}")
    if want.style is not None:
        mask, value = want.style
        if got.style & mask != value:
            wrong.append(f"style 0x{got.style:08x} & 0x{mask:x} != 0x{value:x}")
    return wrong


def find_control(want, controls):
    """By id where the table gives a real one, otherwise by class and text."""
    for index, got in enumerate(controls):
        if want.id is not None and want.id != STATIC_ID:
            if got.id == want.id:
                return index
        elif (got.cls == want.cls and (want.id is None or got.id == want.id)
              and (want.text is None or got.text == want.text)):
            return index
    return None


def check_dialogs(image, report, _args):
    for did, want in DIALOGS.items():
        data = image.resource(RT["RT_DIALOG"], did)
        if not report.check(data is not None, f"dialog {did} present"):
            continue
        try:
            style, rect, font, controls = parse_dialog(data)
        except (ValueError, struct.error) as error:
            report.check(False, f"dialog {did} readable", str(error))
            continue
        report.check(rect == want.rect, f"dialog {did} at {want.rect[:2]} size {want.rect[2]}x{want.rect[3]}",
                     f"found {rect}")
        report.check(font == want.font, f"dialog {did} font {want.font[1]!r} {want.font[0]}", f"found {font}")
        if want.forbidden_style:
            report.check(not style & want.forbidden_style, f"dialog {did} has no system menu",
                         f"style 0x{style:08x}")
        report.check(len(controls) == len(want.controls), f"dialog {did} has {len(want.controls)} controls",
                     f"found {len(controls)}")
        positions = []
        for control in want.controls:
            index = find_control(control, controls)
            if not report.check(index is not None, f"dialog {did} control {control.describe()}", "missing"):
                continue
            positions.append(index)
            wrong = control_mismatches(control, controls[index])
            report.check(not wrong, f"dialog {did} control {control.describe()} shape", "; ".join(wrong))
        report.check(positions == sorted(positions), f"dialog {did} controls in tab order",
                     f"found at positions {positions}")


def check_bitmap(image, report, _args):
    data = image.resource(RT["RT_BITMAP"], BITMAP_ID)
    if not report.check(data is not None, f"bitmap {BITMAP_ID} present"):
        return
    _, width, height, _, bits = struct.unpack_from("<IiiHH", data, 0)
    report.check((width, height, bits) == BITMAP_SHAPE,
                 f"bitmap {BITMAP_ID} is {BITMAP_SHAPE[0]}x{BITMAP_SHAPE[1]}, {BITMAP_SHAPE[2]} bpp, bottom-up",
                 f"found {width}x{height}, {bits} bpp")


def check_icon(image, report, _args):
    group = image.resource(RT["RT_GROUP_ICON"], ICON_GROUP_ID)
    if not report.check(group is not None, f"icon group {ICON_GROUP_ID} present"):
        return
    _, kind, count = struct.unpack_from("<HHH", group, 0)
    if not report.check(kind == 1 and count == 1, f"icon group {ICON_GROUP_ID} holds one icon",
                        f"type {kind}, {count} images"):
        return
    width, height, colours, _, _, bits, _, icon_id = struct.unpack_from("<BBBBHHIH", group, 6)
    width, height = width or 256, height or 256
    report.check((width, height, bits, colours) == ICON_SHAPE + (16,),
                 f"icon group {ICON_GROUP_ID} entry is 32x32, 16 colours",
                 f"found {width}x{height}, {bits} bpp, {colours} colours")
    data = image.resource(RT["RT_ICON"], icon_id)
    if not report.check(data is not None, f"icon image {icon_id} present"):
        return
    _, dib_width, dib_height, _, dib_bits = struct.unpack_from("<IiiHH", data, 0)
    # An icon's DIB height covers the colour bitmap and its mask.
    report.check((dib_width, dib_height // 2, dib_bits) == ICON_SHAPE, f"icon image {icon_id} is 32x32 at 4 bpp",
                 f"found {dib_width}x{dib_height // 2}, {dib_bits} bpp")


def check_languages(image, report, _args):
    others = [f"{pefile.RESOURCE_TYPE.get(t, t)} {rid}: 0x{lang:04x}"
              for t, by_id in image.resources.items() for rid, entries in by_id.items() for lang, _ in entries
              if lang != LANG_ENGLISH_UK]
    report.check(not others, "every resource is English (United Kingdom), 0x0809", "; ".join(others))


def check_version(image, report, _args):
    pe = image.pe
    fixed = None
    if getattr(pe, "VS_FIXEDFILEINFO", None):
        info = pe.VS_FIXEDFILEINFO[0]
        fixed = (info.FileVersionMS >> 16, info.FileVersionMS & 0xFFFF,
                 info.FileVersionLS >> 16, info.FileVersionLS & 0xFFFF)
    text = None
    for group in getattr(pe, "FileInfo", []):
        for entry in group:
            for table in getattr(entry, "StringTable", []):
                value = table.entries.get(b"FileVersion")
                text = value.decode("utf-8", "replace") if value is not None else text
    report.note(f"FileVersion: fixed {fixed}, text {text!r}")
    report.check(fixed == FILE_VERSION_FIXED or text == FILE_VERSION_TEXT,
                 f"VERSIONINFO FileVersion {FILE_VERSION_TEXT}",
                 "no VERSIONINFO" if fixed is None else f"fixed {fixed}, text {text!r}")


def check_manifest(image, report, _args):
    data = image.resource(RT["RT_MANIFEST"], MANIFEST_ID)
    if not report.check(data is not None, f"manifest {MANIFEST_ID} present"):
        return
    try:
        root = ElementTree.fromstring(data)
    except ElementTree.ParseError as error:
        report.check(False, "manifest is well-formed XML", str(error))
        return
    levels = [e.get("level") for e in root.iter() if e.tag.rsplit("}", 1)[-1] == "requestedExecutionLevel"]
    report.check(levels == [EXECUTION_LEVEL], f"manifest asks for level {EXECUTION_LEVEL!r}", f"found {levels}")


def check_stripped_size(image, report, args):
    strip = shutil.which(args.strip)
    if not report.check(strip is not None, f"strip tool {args.strip!r} found"):
        return
    with tempfile.TemporaryDirectory() as scratch:
        copy = os.path.join(scratch, "stripped.exe")
        shutil.copyfile(image.path, copy)
        run = subprocess.run([strip, copy], capture_output=True, text=True)
        if not report.check(run.returncode == 0, "strip succeeds", run.stderr.strip()):
            return
        size = os.path.getsize(copy)
    report.note(f"size {os.path.getsize(image.path)} bytes, stripped {size} bytes")
    report.check(size < MAX_STRIPPED_SIZE, "stripped size under 256 KiB", f"{size} bytes")


KPLX_CHECKS = [check_console_headers, check_imports]
CHECKS = [check_headers, check_imports, check_strings, check_menu, check_accelerators, check_dialogs,
          check_bitmap, check_icon, check_languages, check_version, check_manifest, check_stripped_size]


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("exe", help="kplx-loader.exe, 32-bit")
    parser.add_argument("--strip", default="i686-w64-mingw32-strip", help="strip tool for the copy")
    parser.add_argument("--kplx", action="store_true", help="the exe is kplx.exe: headers and imports only")
    args = parser.parse_args(argv)
    try:
        image = Image(args.exe)
    except (OSError, pefile.PEFormatError) as error:
        print(f"check_release: cannot read {args.exe}: {error}", file=sys.stderr)
        return 2
    print(f"checking {args.exe}")
    report = Report()
    for check in KPLX_CHECKS if args.kplx else CHECKS:
        check(image, report, args)
    print()
    if report.failures:
        print(f"{len(report.failures)} failures:")
        for line in report.failures:
            print("  - " + line)
    print(f"release: {report.passed} passed, {len(report.failures)} failed")
    return 1 if report.failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
