#!/bin/sh
# Writes a small seed corpus of real archives into the folder given ($1).
set -e
out=$(realpath -m "$1")
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir -p pkg/images
head -c 3000 /dev/urandom > pkg/images/os.bin
yes quillmoor | head -c 5000 > pkg/images/ext.bin
printf 'hello\n' > pkg/readme.txt
zip -q -r "$out/folder.zip" pkg
zip -q -0 "$out/stored.zip" pkg/readme.txt pkg/images/ext.bin
zip -q -P pw "$out/encrypted.zip" pkg/readme.txt pkg/images/ext.bin
echo "package comment" | zip -q -z "$out/comment.zip" pkg/readme.txt
python3 - "$out/python.zip" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    z.writestr(zipfile.ZipInfo("a/same.bin"), b"first" * 50)
    z.writestr("b/same.bin", b"second" * 50, compress_type=zipfile.ZIP_DEFLATED)
    z.writestr("../escape.bin", b"x")
    z.writestr("dir/", b"")
PY
