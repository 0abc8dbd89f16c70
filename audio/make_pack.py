#!/usr/bin/env python3
"""Packs a folder of clips into the audio pack that the program unpacks at start.

    make_pack.py SOURCE_DIR OUTPUT_ZIP [--prefix Audio/]

Every entry lies under the prefix (the audio folder beside the program) and has
the UTF-8 name flag set, so the Chinese clip names survive on any system. Wav
clips are deflated; mp3 clips are stored, since they do not shrink. Entries are
sorted and, when SOURCE_DATE_EPOCH is set, stamped with it, so the same clips
give the same pack. The pack is written beside the output and renamed into
place, so a failed build never leaves a half-written pack behind.
"""

import argparse
import os
import struct
import sys
import time
import zipfile

UTF8_NAME_FLAG = 0x800
UNIX_HOST = 3
DOS_DIRECTORY = 0x10
STORED_SUFFIXES = (".mp3",)


def entry_time(path):
    """Seconds since 1970 for the entry: the fixed build epoch or the file's mtime."""
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    seconds = int(epoch) if epoch else int(os.stat(path).st_mtime)
    return max(seconds, 315532800)  # DOS times start in 1980


class Utf8ZipInfo(zipfile.ZipInfo):
    """Marks every name as UTF-8, ASCII ones included.

    zipfile sets the flag only for names that are not ASCII, and clears
    flag_bits when it starts writing an entry, so the flag is added where the
    name is encoded. pack() checks the result, in case zipfile changes.
    """

    def _encodeFilenameFlags(self):
        return self.filename.encode("utf-8"), self.flag_bits | UTF8_NAME_FLAG


def make_info(name, seconds, is_dir):
    info = Utf8ZipInfo(name, time.localtime(seconds)[:6])
    info.create_system = UNIX_HOST
    # Extended timestamp ("UT"): the modification time in UTC, exact to the second.
    info.extra = struct.pack("<HHBI", 0x5455, 5, 1, seconds)
    if is_dir:
        info.external_attr = (0o40755 << 16) | DOS_DIRECTORY
        info.compress_type = zipfile.ZIP_STORED
    else:
        info.external_attr = 0o100644 << 16
        info.compress_type = (
            zipfile.ZIP_STORED
            if name.lower().endswith(STORED_SUFFIXES)
            else zipfile.ZIP_DEFLATED
        )
    return info


def pack(source, output, prefix):
    if prefix and not prefix.endswith("/"):
        prefix += "/"
    files = []
    for root, dirs, names in os.walk(source):
        dirs.sort()
        for name in sorted(names):
            full = os.path.join(root, name)
            relative = os.path.relpath(full, source).replace(os.sep, "/")
            files.append((relative, full))
    files.sort()
    if not files:
        raise SystemExit(f"no clips in {source}")

    temporary = f"{output}.tmp{os.getpid()}"
    try:
        with zipfile.ZipFile(temporary, "w") as archive:
            if prefix:
                archive.writestr(make_info(prefix, entry_time(source), True), b"")
            for relative, full in files:
                with open(full, "rb") as f:
                    data = f.read()
                archive.writestr(
                    make_info(prefix + relative, entry_time(full), False),
                    data,
                    compresslevel=9,
                )
        with zipfile.ZipFile(temporary) as archive:
            unflagged = [
                i.filename
                for i in archive.infolist()
                if not i.flag_bits & UTF8_NAME_FLAG
            ]
            if unflagged:
                raise SystemExit(f"UTF-8 name flag missing on {unflagged[0]}")
            damaged = archive.testzip()
            if damaged:
                raise SystemExit(f"entry does not read back: {damaged}")
        os.replace(temporary, output)
    finally:
        if os.path.exists(temporary):
            os.unlink(temporary)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("source")
    parser.add_argument("output")
    parser.add_argument("--prefix", default="Audio/")
    args = parser.parse_args()
    pack(args.source, args.output, args.prefix)
    return 0


if __name__ == "__main__":
    sys.exit(main())
