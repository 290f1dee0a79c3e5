#!/usr/bin/env python3
"""Writes the release package and its checksums, the same bytes from the same source.

Usage: make_package.py SOURCE_DIR OUTPUT_DIR NAME FILE...

Makes OUTPUT_DIR/NAME.zip holding each FILE as NAME/<its file name>, in the order given, and
OUTPUT_DIR/SHA256SUMS with the SHA-256 of the zip and of every .exe among the files, in the
format `sha256sum -c` reads.

Nothing in the zip depends on when, where or by whom it is built: every entry carries the time
SOURCE_DATE_EPOCH (from the environment, else the date of SOURCE_DIR's last commit), written in
UTC; no owner, permissions or extra fields are stored; the entries keep the order given.
"""
import hashlib
import os
import subprocess
import sys
import time
import zipfile
from pathlib import Path

ZIP_EPOCH = 315532800  # 1980-01-01, the earliest time a zip entry can hold


def source_date_epoch(source):
    value = os.environ.get('SOURCE_DATE_EPOCH')
    if not value:
        try:
            value = subprocess.run(['git', '-C', str(source), 'log', '-1', '--format=%ct'],
                                   check=True, capture_output=True, text=True).stdout.strip()
        except (OSError, subprocess.CalledProcessError):
            value = ''
    # Without a commit (a bare source tree) the earliest zip time keeps the output fixed.
    return max(int(value), ZIP_EPOCH) if value else ZIP_EPOCH


def write_zip(archive, name, files, epoch):
    stamp = time.gmtime(epoch)[:6]
    with zipfile.ZipFile(archive, 'w') as z:
        for path in files:
            entry = zipfile.ZipInfo(f'{name}/{path.name}', date_time=stamp)
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.create_system = 0  # MS-DOS: no Unix owner or mode
            entry.external_attr = 0
            z.writestr(entry, path.read_bytes(), compresslevel=9)


def main():
    if len(sys.argv) < 5:
        sys.exit(__doc__)
    source, out, name = Path(sys.argv[1]), Path(sys.argv[2]), sys.argv[3]
    files = [Path(f) for f in sys.argv[4:]]
    archive = out / f'{name}.zip'
    temporary = archive.with_suffix('.zip.part')
    epoch = source_date_epoch(source)
    write_zip(temporary, name, files, epoch)
    temporary.replace(archive)
    summed = [archive] + [f for f in files if f.suffix == '.exe']
    lines = [f'{hashlib.sha256(f.read_bytes()).hexdigest()}  {f.name}\n' for f in summed]
    (out / 'SHA256SUMS').write_text(''.join(lines), encoding='ascii')
    dated = time.strftime('%Y-%m-%d %H:%M:%S UTC', time.gmtime(epoch))
    print(f'{archive.name}: {archive.stat().st_size} bytes, entries dated {dated}; '
          'SHA256SUMS written')


if __name__ == '__main__':
    main()
