#!/usr/bin/python3
"""Builds the release package and checks what it holds and its checksums.

Usage: check_package.py BUILD_DIR VERSION
"""
import hashlib
import subprocess
import sys
import zipfile
from pathlib import Path

build, version = Path(sys.argv[1]), sys.argv[2]
name = f'metronome-{version}-win32'
archive = build / f'{name}.zip'
archive.unlink(missing_ok=True)
subprocess.run(['cmake', '--build', str(build), '--target', 'package'], check=True,
               stdout=subprocess.DEVNULL)
with zipfile.ZipFile(archive) as z:
    names = z.namelist()
    expected = [f'{name}/metronome.exe', f'{name}/README.txt', f'{name}/LICENSE']
    if names != expected:
        sys.exit(f'{archive.name} holds {names}, expected {expected}')
    exe = z.read(f'{name}/metronome.exe')
    if exe != (build / 'metronome.exe').read_bytes():
        sys.exit('the packaged executable differs from the built one')
    if version not in z.read(f'{name}/README.txt').decode('utf-8'):
        sys.exit('the read-me does not name the version')
    if not z.read(f'{name}/LICENSE').startswith(b'MIT License\r\n'):
        sys.exit('the licence is not the MIT licence with Windows line endings')
    for entry in z.infolist():
        if entry.external_attr >> 16 != 0o100644:
            sys.exit(f'{entry.filename}: mode {entry.external_attr >> 16:o}, expected 100644')
        text = z.read(entry) if not entry.filename.endswith('.exe') else b''
        if text.count(b'\n') != text.count(b'\r\n'):
            sys.exit(f'{entry.filename}: a line ends without CR LF')
sums = {line.split()[1]: line.split()[0]
        for line in (build / 'SHA256SUMS').read_text().splitlines()}
for path in (archive, build / 'metronome.exe'):
    if sums.get(path.name) != hashlib.sha256(path.read_bytes()).hexdigest():
        sys.exit(f'SHA256SUMS does not match {path.name}')
print(f'{archive.name}: {", ".join(names)}; {archive.stat().st_size} bytes; '
      f'metronome.exe {len(exe)} bytes; SHA256SUMS matches')
