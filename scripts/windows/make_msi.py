#!/usr/bin/env python3
"""Makes the Windows installer (an MSI) of a gathered program folder with wixl.

Everything in the folder is installed into "Program Files\\Quillmoor Firmware Updater", one
component per file, so whatever the folder holds is installed without a list kept by hand.
The window program gets a Start-menu shortcut; "Apps & features" shows the publisher, the
version and the icon, and removes it all again. The upgrade code never changes: a later
version replaces an earlier one in place, and an earlier one refuses to replace a later one.
The product code follows from the version, so that a rebuild of one version is the same
product to Windows Installer, not a second one beside it.

Beyond what wixl writes, the tables are made as Windows Installer's validation expects them:
every name that is no valid short (8.3) name carries a unique short one as well, and files
with version information (the programs, the Qt libraries) carry their version and language
in the File table, so that file replacement follows the versioning rules.

Usage: make_msi.py FOLDER OUTPUT.msi --version 1.01 --program quillmoor-updater.exe
                   --icon PROGRAM.ico [--wxs OUTPUT.wxs]
"""
import argparse
import hashlib
import os
import re
import struct
import subprocess
import sys
import tempfile
import uuid
from xml.sax.saxutils import quoteattr

PRODUCT = "Quillmoor Firmware Updater"
PUBLISHER = "Quillmoor"
# Fixed for the product's whole life: Windows Installer knows the versions by it.
UPGRADE_CODE = "8C6D3F2A-51E4-4B7C-9A0E-3D27B5F1C604"
# Component GUIDs follow from the file's place in the folder, so that each file keeps its
# component from one version to the next.
COMPONENT_NAMESPACE = uuid.UUID("0B7E4A19-6C32-4F8D-A5B1-92D4E7C3F058")
# Product codes follow from the version (wixl has no upgrade within one version).
PRODUCT_NAMESPACE = uuid.UUID("5E2C9B41-7D08-4A63-B1F5-C86A3E07D912")
# What a short name may not hold, besides spaces and a second dot.
SHORT_NAME_FORBIDDEN = set('\\?|><:/*"+,;=[]')


def msi_version(version):
    """The product's version as Windows Installer takes it: up to three numbers; 1.01 is
    shown as it is and compared as 1.1."""
    parts = version.split(".")
    if not 1 <= len(parts) <= 3 or not all(p.isdigit() for p in parts):
        raise ValueError("not a version: " + version)
    numbers = [int(p) for p in parts] + [0] * (3 - len(parts))
    if numbers[0] > 255 or numbers[1] > 255 or numbers[2] > 65535:
        raise ValueError("version out of Windows Installer's range: " + version)
    return version


def product_code(version):
    """The product code of a version: the same for every build of it, and for every spelling
    Windows Installer compares as equal (1.01 and 1.1)."""
    numbers = [int(p) for p in msi_version(version).split(".")]
    numbers += [0] * (3 - len(numbers))
    name = "%s %d.%d.%d" % (PRODUCT, *numbers)
    return str(uuid.uuid5(PRODUCT_NAMESPACE, name)).upper()


def is_short_name(name):
    """True for a valid 8.3 name: up to eight characters, a dot and up to three more."""
    if not name or name in (".", "..") or " " in name or SHORT_NAME_FORBIDDEN & set(name):
        return False
    stem, dot, ext = name.partition(".")
    return 1 <= len(stem) <= 8 and len(ext) <= 3 and "." not in ext and not (dot and not ext)


def short_names(names, first=()):
    """{name: value for a name column}: a valid short name stands alone, any other gets a
    short name of its own in front, "QUILLM~1.EXE|quillmoor-updater.exe", unique among all the
    names of the folder in either form, as Windows makes them. The names in first pick first."""
    def clean(text):
        return "".join(c for c in text.upper() if c not in SHORT_NAME_FORBIDDEN and c not in " .")

    taken = {n.upper() for n in names if is_short_name(n)}
    result = {}
    for name in sorted(names, key=lambda n: (n not in first, n.upper())):
        if is_short_name(name):
            result[name] = name
            continue
        stem, _, ext = name.rpartition(".") if "." in name.lstrip(".") else (name, "", "")
        stem, ext = clean(stem) or "_", clean(ext)[:3]
        for n in range(1, 1000000):
            tail = "~%d" % n
            candidate = stem[:8 - len(tail)] + tail + ("." + ext if ext else "")
            if candidate not in taken:
                break
        taken.add(candidate)
        result[name] = "%s|%s" % (candidate, name)
    return result


def version_resource(path):
    """The file version ("6.4.2.0") and languages ("1033") of a Windows program or library,
    from its version resource; None when it has none."""
    with open(path, "rb") as f:
        data = f.read()
    try:
        return _version_resource(data)
    except (struct.error, IndexError, ValueError):
        return None


def _version_resource(data):
    if data[:2] != b"MZ":
        return None
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        return None
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (112 if magic == 0x20B else 96)
    resource_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
    if not resource_rva:
        return None
    table = []
    for i in range(sections):
        size, rva, raw_size, raw = struct.unpack_from("<4xIIII", data, optional + optional_size +
                                                      40 * i + 4)
        table.append((rva, max(size, raw_size), raw))

    def offset(rva):
        for start, size, raw in table:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError("address outside the sections")

    base = offset(resource_rva)

    def entries(directory):
        named, ids = struct.unpack_from("<12xHH", data, base + directory)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, base + directory + 16 + 8 * i)
            yield name, target

    def first_leaf(target):
        while target & 0x80000000:
            target = next(entries(target & 0x7FFFFFFF))[1]
        rva, size = struct.unpack_from("<II", data, base + target)
        return data[offset(rva):offset(rva) + size]

    RT_VERSION = 16
    found = [t for name, t in entries(0) if name == RT_VERSION]
    if not found:
        return None
    block = first_leaf(found[0])
    return _version_block(block)


def _version_block(block):
    """VS_VERSIONINFO: the fixed part's file version and the translations' languages."""
    def parse(at):
        length, value_length, kind = struct.unpack_from("<HHH", block, at)
        end = block.index(b"\0\0", at + 6)
        while (end - at - 6) % 2:
            end = block.index(b"\0\0", end + 1)
        key = block[at + 6:end].decode("utf-16-le")
        value_at = (end + 2 + 3) & ~3
        value_size = value_length * (2 if kind == 1 else 1)
        children, child = [], (value_at + value_size + 3) & ~3
        while child < at + length:
            sub = parse(child)
            children.append(sub)
            child = (child + sub[3] + 3) & ~3
        return key, block[value_at:value_at + value_size], children, length

    key, value, children, _ = parse(0)
    if key != "VS_VERSION_INFO" or len(value) < 52:
        return None
    signature, _, ms, ls = struct.unpack_from("<IIII", value)
    if signature != 0xFEEF04BD:
        return None
    version = "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    languages = []
    for name, _, entries, _ in children:
        if name == "VarFileInfo":
            for var, data, _, _ in entries:
                if var == "Translation":
                    languages += [struct.unpack_from("<H", data, i)[0]
                                  for i in range(0, len(data) - 3, 4)]
    return version, ",".join(str(n) for n in dict.fromkeys(languages)) or "0"


def identifier(prefix, relpath):
    """An identifier for the MSI's tables, readable and unique for the path."""
    digest = hashlib.sha1(relpath.lower().encode()).hexdigest()[:10]
    stem = re.sub(r"[^A-Za-z0-9_.]", "_", relpath)[-40:]
    return "%s_%s_%s" % (prefix, digest, stem)


def scan(folder):
    """The folder's sub-folders and files, relative and with forward slashes, sorted."""
    dirs, files = [], []
    for root, subdirs, names in os.walk(folder):
        subdirs.sort()
        rel = os.path.relpath(root, folder).replace(os.sep, "/")
        if rel != ".":
            dirs.append(rel)
        for name in sorted(names):
            path = os.path.join(root, name)
            if os.path.islink(path) or not os.path.isfile(path):
                raise ValueError("not a regular file: " + path)
            files.append(name if rel == "." else rel + "/" + name)
    return dirs, files


def wxs(folder, version, program, icon, base):
    """The WiX source; its file names are relative to base, where wixl looks for them."""
    dirs, files = scan(folder)
    if program not in files:
        raise ValueError("the folder holds no %s" % program)
    lines = []
    add = lines.append
    add('<?xml version="1.0" encoding="utf-8"?>')
    add('<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">')
    add('  <Product Id="%s" Name=%s Version="%s" Manufacturer=%s Language="1033" '
        'UpgradeCode="%s">' % (product_code(version), quoteattr(PRODUCT), msi_version(version),
                               quoteattr(PUBLISHER), UPGRADE_CODE))
    add('    <Package InstallerVersion="500" Compressed="yes" InstallScope="perMachine" '
        'Description=%s Comments=%s/>'
        % (quoteattr("%s %s" % (PRODUCT, version)),
           quoteattr("Brings the firmware of a Quillmoor GPS device up to date")))
    add('    <Media Id="1" Cabinet="program.cab" EmbedCab="yes"/>')
    add('    <MajorUpgrade DowngradeErrorMessage=%s/>' % quoteattr(
        "A later version of %s is already installed. To go back to this one, remove the "
        "later version first." % PRODUCT))
    add('    <Icon Id="program.ico" SourceFile=%s/>' % quoteattr(os.path.relpath(icon, base)))
    add('    <Property Id="ARPPRODUCTICON" Value="program.ico"/>')
    add('    <Property Id="ARPNOMODIFY" Value="1"/>')
    add('    <Property Id="ARPNOREPAIR" Value="1"/>')
    add('    <Directory Id="TARGETDIR" Name="SourceDir">')
    add('      <Directory Id="ProgramFiles64Folder">')
    add('        <Directory Id="INSTALLDIR" Name=%s>' % quoteattr(short_names([PRODUCT])[PRODUCT]))

    # Sub-folders nest; each file's component sits in its folder.
    children = {"": []}
    for d in dirs:
        children.setdefault(os.path.dirname(d), []).append(d)
        children.setdefault(d, [])
    components = []

    def emit(rel, depth):
        pad = "  " * depth
        here = [f for f in files if os.path.dirname(f) == rel] + children.get(rel, [])
        names = short_names([os.path.basename(p) for p in here], first=[program])
        for name in [f for f in files if os.path.dirname(f) == rel]:
            comp = identifier("c", name)
            components.append(comp)
            guid = str(uuid.uuid5(COMPONENT_NAMESPACE, name.lower())).upper()
            add('%s<Component Id="%s" Guid="%s" Win64="yes">' % (pad, comp, guid))
            source = quoteattr(os.path.relpath(os.path.join(folder, name), base))
            file_id = identifier("f", name)
            add('%s  <File Id="%s" Name=%s Source=%s KeyPath="yes"/>'
                % (pad, file_id, quoteattr(names[os.path.basename(name)]), source))
            if name == program:
                # Not advertised: it starts the program itself, as a shortcut made by hand.
                # Its key path is the program, not a registry key under HKCU as validation's
                # ICE43 asks of shortcuts in the Start menu: that rule is for installations
                # into one user's profile. This one is per machine (ALLUSERS=1), its Start menu
                # the one of all users, and a key under HKCU would exist for the installing
                # user only: the component would count as broken for every other user.
                add('%s  <Shortcut Id="StartMenuShortcut" Directory="ProgramMenuFolder" '
                    'Name=%s Description=%s Target="[#%s]" WorkingDirectory="INSTALLDIR" '
                    'Icon="program.ico" IconIndex="0"/>'
                    % (pad, quoteattr(short_names([PRODUCT])[PRODUCT]), quoteattr(PRODUCT),
                       file_id))
            add('%s</Component>' % pad)
        for sub in children.get(rel, []):
            add('%s<Directory Id="%s" Name=%s>'
                % (pad, identifier("d", sub), quoteattr(names[os.path.basename(sub)])))
            emit(sub, depth + 1)
            add('%s</Directory>' % pad)

    emit("", 5)
    add('        </Directory>')
    add('      </Directory>')
    add('      <Directory Id="ProgramMenuFolder"/>')
    add('    </Directory>')
    add('    <Feature Id="Complete" Title=%s Level="1">' % quoteattr(PRODUCT))
    for comp in components:
        add('      <ComponentRef Id="%s"/>' % comp)
    add('    </Feature>')
    add('  </Product>')
    add('</Wix>')
    return "\n".join(lines) + "\n"


def msi_rows(msi, table):
    """A table's header lines (names, types, keys) and rows, as msiinfo exports them."""
    text = subprocess.run(["msiinfo", "export", msi, table], check=True, capture_output=True,
                          text=True).stdout
    lines = text.rstrip("\n").split("\n")
    return lines[:3], [line.split("\t") for line in lines[3:]]


def set_file_versions(msi, folder, work):
    """Puts the version and language of each file that has version information into the File
    table, which wixl leaves empty; such files are compared by version, so the hash that wixl
    made of them goes (Windows Installer keeps hashes for unversioned files only)."""
    _, files = scan(folder)
    versions = {}
    for name in files:
        found = version_resource(os.path.join(folder, name))
        if found:
            versions[identifier("f", name)] = found
    header, rows = msi_rows(msi, "File")
    columns = header[0].split("\t")
    key, version, language = (columns.index(c) for c in ("File", "Version", "Language"))
    for row in rows:
        if row[key] in versions:
            row[version], row[language] = versions[row[key]]
    tables = {"File": (header, rows)}
    header, rows = msi_rows(msi, "MsiFileHash")
    key = header[0].split("\t").index("File_")
    tables["MsiFileHash"] = (header, [row for row in rows if row[key] not in versions])
    imports = []
    for table, (header, rows) in tables.items():
        path = os.path.join(work, table + ".idt")
        with open(path, "w", encoding="utf-8", newline="\r\n") as f:
            f.write("\n".join(header + ["\t".join(row) for row in rows]) + "\n")
        imports += ["-i", path]
    subprocess.run(["msibuild", msi] + imports, check=True)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("folder")
    parser.add_argument("output")
    parser.add_argument("--version", required=True)
    parser.add_argument("--program", required=True)
    parser.add_argument("--icon", required=True)
    parser.add_argument("--wxs", help="keep the generated WiX source here")
    args = parser.parse_args(argv)
    with tempfile.TemporaryDirectory() as work:
        wxs_path = os.path.abspath(args.wxs or os.path.join(work, "product.wxs"))
        try:
            source = wxs(args.folder, args.version, args.program, args.icon,
                         os.path.dirname(wxs_path))
        except ValueError as error:
            sys.exit("make_msi.py: %s" % error)
        with open(wxs_path, "w", encoding="utf-8") as f:
            f.write(source)
        if os.path.exists(args.output):
            os.remove(args.output)
        subprocess.run(["wixl", "-a", "x64", "-o", args.output, wxs_path], check=True)
        set_file_versions(args.output, args.folder, work)
    print(args.output)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
