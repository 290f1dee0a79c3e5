#!/usr/bin/env python3
"""Writes the release package and its checksums, the same bytes from the same source.

Usage: make_package.py SOURCE_DIR OUTPUT_DIR NAME FILE...

Makes OUTPUT_DIR/NAME.zip holding each FILE as NAME/<its file name>, in the order given, and
OUTPUT_DIR/SHA256SUMS with the SHA-256 of the zip and of every .exe among the files, in the
format `sha256sum -c` reads.

Nothing in the zip depends on when, where or by whom it is built: every entry carries the time
SOURCE_DATE_EPOCH (from the environment, else the date of SOURCE_DIR's last commit), written in
UTC; every entry is stored uncompressed, with the mode 0644 and no owner or extra fields; the
entries keep the order given. Text files (.txt, LICENSE) get Windows line endings, so that any Notepad shows their lines.
"""
import hashlib
import os
import stat
import subprocess
import sys
import time
import zipfile
from pathlib import Path

ZIP_EPOCH = 315532800  # 1980-01-01, the earliest time a zip entry can hold
ZIP_END = 4354819199  # 2107-12-31 23:59:59, the latest


def source_date_epoch(source):
    value = os.environ.get('SOURCE_DATE_EPOCH')
    if value and not (value.isascii() and value.isdigit() and int(value) <= ZIP_END):
        sys.exit(f'make_package: SOURCE_DATE_EPOCH is a whole number of seconds since 1970, up '
                 f'to {ZIP_END} (2107), not {value!r}')
    if not value and (source / '.git').exists():
        # A checkout owned by another user is "dubious" to git, which then refuses to answer;
        # this one question about it is safe to ask.
        answer = subprocess.run(['git', '-c', f'safe.directory={source}', '-C', str(source), 'log',
                                 '-1', '--format=%ct'], capture_output=True, text=True)
        value = answer.stdout.strip()
        if answer.returncode != 0 or not value.isdigit():
            sys.exit(f'make_package: git could not tell the date of the last commit in {source} '
                     f'({answer.stderr.strip()}); set SOURCE_DATE_EPOCH')
    if not value:
        # A source tree without history: the earliest zip time keeps the output fixed.
        print('make_package: no git history and no SOURCE_DATE_EPOCH; entries dated 1980-01-01',
              file=sys.stderr)
    return max(int(value), ZIP_EPOCH) if value else ZIP_EPOCH


def contents(path):
    data = path.read_bytes()
    if path.suffix == '.txt' or path.name == 'LICENSE':
        data = data.replace(b'\r\n', b'\n').replace(b'\n', b'\r\n')
    return data


def write_zip(archive, name, files, epoch):
    stamp = time.gmtime(epoch)[:6]
    with zipfile.ZipFile(archive, 'w') as z:
        for path in files:
            entry = zipfile.ZipInfo(f'{name}/{path.name}', date_time=stamp)
            # Stored, not deflated: a deflated entry's bytes are whatever the zlib of the Python
            # that runs this makes of it, and 26 KB gain little from it.
            entry.compress_type = zipfile.ZIP_STORED
            # Unix mode 0644 (a plain file anyone may read), no owner: zipfile would write 0600
            # for a mode of 0, and unzip would give files only their owner can read.
            entry.create_system = 3
            entry.external_attr = (stat.S_IFREG | 0o644) << 16
            z.writestr(entry, contents(path))


def main():
    if len(sys.argv) < 5:
        sys.exit(__doc__)
    source, out, name = Path(sys.argv[1]).resolve(), Path(sys.argv[2]), sys.argv[3]
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
