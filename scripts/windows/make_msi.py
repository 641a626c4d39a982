#!/usr/bin/env python3
"""Makes the Windows installer (an MSI) of a gathered program folder with wixl.

Everything in the folder is installed into "Program Files\\Quillmoor Firmware Updater", one
component per file, so whatever the folder holds is installed without a list kept by hand.
The window program gets a Start-menu shortcut; "Apps & features" shows the publisher, the
version and the icon, and removes it all again. The upgrade code never changes: a later
version replaces an earlier one in place, and an earlier one refuses to replace a later one.

Usage: make_msi.py FOLDER OUTPUT.msi --version 1.01 --program quillmoor-updater.exe
                   --icon PROGRAM.ico [--wxs OUTPUT.wxs]
"""
import argparse
import hashlib
import os
import re
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
    add('  <Product Id="*" Name=%s Version="%s" Manufacturer=%s Language="1033" '
        'UpgradeCode="%s">' % (quoteattr(PRODUCT), msi_version(version), quoteattr(PUBLISHER),
                               UPGRADE_CODE))
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
    add('        <Directory Id="INSTALLDIR" Name=%s>' % quoteattr(PRODUCT))

    # Sub-folders nest; each file's component sits in its folder.
    children = {"": []}
    for d in dirs:
        children.setdefault(os.path.dirname(d), []).append(d)
        children.setdefault(d, [])
    components = []

    def emit(rel, depth):
        pad = "  " * depth
        for name in [f for f in files if os.path.dirname(f) == rel]:
            comp = identifier("c", name)
            components.append(comp)
            guid = str(uuid.uuid5(COMPONENT_NAMESPACE, name.lower())).upper()
            add('%s<Component Id="%s" Guid="%s" Win64="yes">' % (pad, comp, guid))
            source = quoteattr(os.path.relpath(os.path.join(folder, name), base))
            file_id = identifier("f", name)
            add('%s  <File Id="%s" Source=%s KeyPath="yes"/>' % (pad, file_id, source))
            if name == program:
                # Not advertised: it starts the program itself, as a shortcut made by hand.
                add('%s  <Shortcut Id="StartMenuShortcut" Directory="ProgramMenuFolder" '
                    'Name=%s Description=%s Target="[#%s]" WorkingDirectory="INSTALLDIR" '
                    'Icon="program.ico" IconIndex="0"/>'
                    % (pad, quoteattr(PRODUCT), quoteattr(PRODUCT), file_id))
            add('%s</Component>' % pad)
        for sub in children.get(rel, []):
            add('%s<Directory Id="%s" Name=%s>'
                % (pad, identifier("d", sub), quoteattr(os.path.basename(sub))))
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
    print(args.output)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
