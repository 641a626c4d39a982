#!/usr/bin/env python3
"""The Windows program's resources, read back from the built .exe: the application manifest
and what it declares, the version information Explorer shows, and the icon in the sizes
Windows asks for.

Usage: windows_resources.py PROGRAM.exe VERSION
"""
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET

ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPAT = "{urn:schemas-microsoft-com:compatibility.v1}"
WS2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
WS2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"
WINDOWS_7_TO_11 = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # 10 and 11
}
failures = []


def check(ok, what):
    print(("ok      " if ok else "FAILED  ") + what, flush=True)
    if not ok:
        failures.append(what)


def resource(exe, kind, name=None):
    args = ["wrestool", "-x", "--raw", "-t", str(kind)] + (["-n", str(name)] if name else [])
    return subprocess.run(args + [exe], check=True, capture_output=True).stdout


def listing(exe):
    return subprocess.run(["wrestool", "-l", exe], check=True, capture_output=True,
                          text=True).stdout


def text_of(root, path):
    found = root.find(path)
    return found.text.strip() if found is not None and found.text else None


def check_manifest(exe):
    # RT_MANIFEST (24) with id 1: the one Windows reads for a program.
    check("--type=24 --name=1 " in listing(exe), "one manifest, RT_MANIFEST id 1")
    data = resource(exe, 24, 1)
    try:
        root = ET.fromstring(data)
    except ET.ParseError as error:
        check(False, "the manifest is XML: %s" % error)
        return
    level = root.find(".//%strustInfo/%ssecurity/%srequestedPrivileges/%srequestedExecutionLevel"
                      % ((ASM_V3,) * 4))
    check(level is not None and level.get("level") == "asInvoker" and
          level.get("uiAccess") == "false", "runs as the invoker, never asks to be administrator")
    oses = {e.get("Id").lower() for e in
            root.findall(".//%scompatibility/%sapplication/%ssupportedOS" % ((COMPAT,) * 3))}
    check(oses == WINDOWS_7_TO_11, "supports Windows 7 to 11: %s" % sorted(oses))
    settings = ".//%sapplication/%swindowsSettings/" % (ASM_V3, ASM_V3)
    check(text_of(root, settings + WS2016 + "dpiAwareness") == "PerMonitorV2" and
          text_of(root, settings + WS2005 + "dpiAware") == "true/pm",
          "per-monitor DPI aware (v2, and per-monitor before Windows 10)")
    check(text_of(root, settings + WS2016 + "longPathAware") == "true", "long-path aware")
    controls = [e for e in root.findall(".//%sdependency/%sdependentAssembly/%sassemblyIdentity"
                                        % ((ASM_V1,) * 3))
                if e.get("name") == "Microsoft.Windows.Common-Controls"]
    check(len(controls) == 1 and controls[0].get("version") == "6.0.0.0" and
          controls[0].get("publicKeyToken") == "6595b64144ccf1df",
          "depends on the common controls 6")


def version_strings(data):
    """The StringFileInfo pairs of a VS_VERSIONINFO block."""
    pairs = {}

    def walk(offset, end, depth):
        while offset + 6 <= end:
            length, value_length, kind = struct.unpack_from("<HHH", data, offset)
            if length == 0:
                break
            key_end = offset + 6
            while data[key_end:key_end + 2] != b"\0\0":
                key_end += 2
            key = data[offset + 6:key_end].decode("utf-16-le")
            value = (key_end + 2 + 3) & ~3
            if depth == 3 and kind == 1:
                text = data[value:value + value_length * 2].decode("utf-16-le").rstrip("\0")
                pairs[key] = text
                child = value + value_length * 2
            else:
                child = value + value_length
            child = (child + 3) & ~3
            if depth < 3:
                walk(child, offset + length, depth + 1)
            offset = (offset + length + 3) & ~3

    walk(0, len(data), 0)
    return pairs


def check_version(exe, version):
    data = resource(exe, 16, 1)
    fixed = data.find(struct.pack("<I", 0xFEEF04BD))
    check(fixed >= 0, "the version resource has its fixed part")
    if fixed >= 0:
        ms, ls = struct.unpack_from("<II", data, fixed + 8)
        major, minor = (int(p) for p in version.split("."))
        check((ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF) == (major, minor, 0, 0),
              "file version %d.%d.0.0" % (major, minor))
    strings = version_strings(data)
    check(strings.get("ProductName") == "Quillmoor Firmware Updater",
          "product name: %r" % strings.get("ProductName"))
    check(strings.get("ProductVersion") == version and strings.get("FileVersion") == version,
          "version %s: %r" % (version, (strings.get("ProductVersion"), strings.get("FileVersion"))))
    check(bool(strings.get("FileDescription")),
          "description: %r" % strings.get("FileDescription"))


def check_icon(exe):
    # The group icon lists its pictures: 6-byte header, then 14 bytes per picture.
    group = resource(exe, 14)
    count = struct.unpack_from("<H", group, 4)[0] if len(group) >= 6 else 0
    sizes = set()
    for i in range(count):
        width, height = group[6 + 14 * i], group[7 + 14 * i]
        sizes.add((width or 256, height or 256))
    needed = {(s, s) for s in (16, 24, 32, 48, 256)}
    check(needed <= sizes, "the icon has 16 to 256 pixels: %s" % sorted(sizes))


def main():
    exe, version = sys.argv[1], sys.argv[2]
    check_manifest(exe)
    check_version(exe, version)
    check_icon(exe)
    print("%d check(s) failed" % len(failures) if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
