#!/usr/bin/python3
"""Builds the release a second time, from a copy of the source in another folder, in another
time zone, locale and umask, and checks that it is byte for byte the first build's.

Usage: check_reproducible.py SOURCE_DIR BUILD_DIR   (BUILD_DIR: the windows preset's folder)

The copy keeps the source's git history, so both builds take the same SOURCE_DATE_EPOCH.
When a file differs, names the first differing offset and the section or zip entry it is in.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

import pefile

PRODUCTS = ['metronome.exe', 'SHA256SUMS']  # and the zip, found by its name


def run(*steps, cwd=None, env=None):
    for step in steps:
        subprocess.run(step, cwd=cwd, env=env, check=True, stdout=subprocess.DEVNULL)


def pe_region(data, offset):
    pe = pefile.PE(data=data, fast_load=True)
    for section in pe.sections:
        start = section.PointerToRawData
        if start <= offset < start + section.SizeOfRawData:
            name = section.Name.rstrip(b'\0').decode()
            return f'section {name} (+{offset - start:#x})'
    if offset < pe.OPTIONAL_HEADER.SizeOfHeaders:
        for header in (pe.OPTIONAL_HEADER, pe.FILE_HEADER, pe.DOS_HEADER):
            relative = offset - header.get_file_offset()
            fields = [(where, name) for name, where in header.__field_offsets__.items()
                      if where <= relative]
            if 0 <= relative < header.sizeof() and fields:
                return f'headers, field {max(fields)[1]}'
        return 'headers'
    return 'past the last section'


def zip_region(path, offset):
    with zipfile.ZipFile(path) as z:
        entries = sorted(z.infolist(), key=lambda e: e.header_offset)
        for entry in reversed(entries):
            if offset >= entry.header_offset:
                end = entry.header_offset + 30 + len(entry.orig_filename.encode()) + \
                    len(entry.extra) + entry.compress_size
                if offset < end:
                    return f'entry {entry.filename}'
                break
    return 'central directory'


def region(path, data, offset):
    if path.suffix == '.exe':
        return pe_region(data, offset)
    if path.suffix == '.zip':
        return zip_region(path, offset)
    return f'line {data[:offset].count(10) + 1}'


def compare(first, second):
    a, b = first.read_bytes(), second.read_bytes()
    if a == b:
        return None
    offset = next((i for i, (x, y) in enumerate(zip(a, b)) if x != y), min(len(a), len(b)))
    return (f'{first.name}: {len(a)} and {len(b)} bytes, first difference at offset '
            f'{offset:#x}, in {region(first, a, offset)}')


def main():
    source, build = Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve()
    run(['cmake', '--build', str(build), '--target', 'package'])
    names = PRODUCTS + [p.name for p in build.glob('metronome-*-win32.zip')]
    with tempfile.TemporaryDirectory(prefix='metronome-rebuild-') as temp:
        copy = Path(temp) / 'elsewhere' / 'metronome'
        shutil.copytree(source, copy, symlinks=True,
                        ignore=shutil.ignore_patterns('build'))
        env = dict(os.environ, TZ='Pacific/Kiritimati', LANG='ja_JP.UTF-8', LC_ALL='C.UTF-8')
        old_mask = os.umask(0o077)
        try:
            # The README's commands for the release.
            run(['cmake', '--preset', 'windows'],
                ['cmake', '--build', '--preset', 'windows', '--target', 'package'],
                cwd=copy, env=env)
        finally:
            os.umask(old_mask)
        problems = [p for p in (compare(build / n, copy / 'build' / 'windows' / n)
                                for n in names) if p]
    if problems:
        sys.exit('the second build differs:\n  ' + '\n  '.join(problems))
    print(f'rebuilt elsewhere: {", ".join(names)} byte for byte the same')


if __name__ == '__main__':
    main()
