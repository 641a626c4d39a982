#!/usr/bin/env python3
"""Makes a firmware update tree for a local update server.

Writes ROOT/~plinth-works/QLM/Firmware.dat (the version file) and
ROOT/~plinth-works/QLM/QLMUpdate.zip (the package with an OS image of 491516 bytes and an
external image of 98304 bytes, generated from a seed), and copies the two images to
ROOT/images/ so tests can compare what the device received.
"""
import argparse
import os
import random
import sys
import zipfile

OS_SIZE = 491516
EXT_SIZE = 98304
SERVER_DIR = os.path.join("~plinth-works", "QLM")


def image(size, seed):
    rng = random.Random(seed)
    return bytes(rng.getrandbits(8) for _ in range(size))


def write_zip(path, members):
    """A deflated ZIP at path of the members given as {name: bytes or text}, in order."""
    with zipfile.ZipFile(path, "w", compression=zipfile.ZIP_DEFLATED) as z:
        for name, data in members.items():
            z.writestr(name, data)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("root", help="folder to serve from")
    parser.add_argument("--version", default="2.17", help="version text of line 2")
    parser.add_argument("--seed", type=int, default=1, help="seed of the image contents")
    parser.add_argument("--folder", default="firmware", help="folder of the images inside the zip")
    args = parser.parse_args(argv)

    server_dir = os.path.join(args.root, SERVER_DIR)
    images_dir = os.path.join(args.root, "images")
    os.makedirs(server_dir, exist_ok=True)
    os.makedirs(images_dir, exist_ok=True)

    images = {
        "QLM_OS.bin": image(OS_SIZE, args.seed),
        "QLM_EXT.bin": image(EXT_SIZE, args.seed + 1),
    }
    for name, data in images.items():
        with open(os.path.join(images_dir, name), "wb") as f:
            f.write(data)

    package = os.path.join(server_dir, "QLMUpdate.zip")
    members = {f"{args.folder}/{name}" if args.folder else name: data
               for name, data in images.items()}
    members["readme.txt"] = "Quillmoor firmware " + args.version + "\n"
    write_zip(package, members)

    with open(os.path.join(server_dir, "Firmware.dat"), "w", newline="") as f:
        f.write("Quillmoor firmware\n" + args.version + "\n")
    print(package)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
