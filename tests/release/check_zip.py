#!/usr/bin/env python3
"""check_zip.py ZIP ARCH: the Windows release zip holds what a user needs and nothing of the tests.

Its one top folder kplx-VERSION-windows-ARCH has kplx.exe and kplx-loader.exe for ARCH, the
README, the man page as text and the libraries' notices; kplx.exe knows no simulator backend.
"""
import os
import re
import sys
import zipfile

MACHINE = {"x86": 0x14C, "x64": 0x8664}


def pe_machine(data):
    offset = int.from_bytes(data[0x3C:0x40], "little")
    if data[:2] != b"MZ" or data[offset:offset + 4] != b"PE\0\0":
        return None
    return int.from_bytes(data[offset + 4:offset + 6], "little")


def main():
    path, arch = sys.argv[1], sys.argv[2]
    failures = []
    top = re.sub(r"\.zip$", "", os.path.basename(path))
    if not re.fullmatch(r"kplx-\d+\.\d+\.\d+-windows-" + arch, top):
        failures.append("the zip's name is not kplx-VERSION-windows-%s.zip: %s" % (arch, top))
    with zipfile.ZipFile(path) as z:
        names = sorted(z.namelist())
        want = sorted(top + "/" + f for f in ("kplx.exe", "kplx-loader.exe", "README.md", "kplx.txt", "NOTICES.txt"))
        if names != want:
            failures.append("contents %s, expected %s" % (names, want))
        for exe in ("kplx.exe", "kplx-loader.exe"):
            name = top + "/" + exe
            if name in names and pe_machine(z.read(name)) != MACHINE[arch]:
                failures.append("%s is not a %s program" % (exe, arch))
        kplx = z.read(top + "/kplx.exe") if top + "/kplx.exe" in names else b""
        for text in (b"KPLX_SIM_CONFIG", b"the simulator's configuration"):
            if text in kplx:
                failures.append("kplx.exe carries the simulator backend (%r)" % text.decode())
        notices = z.read(top + "/NOTICES.txt").decode("utf-8", "replace") if top + "/NOTICES.txt" in names else ""
        for library in ("CLI11", "nlohmann", "mingw-w64", "GCC"):
            if library not in notices:
                failures.append("NOTICES.txt lacks %s" % library)
        manual = z.read(top + "/kplx.txt").decode("ascii", "replace") if top + "/kplx.txt" in names else ""
        if "SYNOPSIS" not in manual or "\r\n" not in manual:
            failures.append("kplx.txt is not the man page as Windows text")
    for f in failures:
        print("FAIL:", f)
    print("%s: %s" % (path, "FAIL" if failures else "PASS"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
