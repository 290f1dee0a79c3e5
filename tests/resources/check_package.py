#!/usr/bin/python3
"""Makes the release package with CPack and checks what it holds.

Usage: check_package.py BUILD_DIR VERSION
"""
import subprocess
import sys
import zipfile
from pathlib import Path

build, version = Path(sys.argv[1]), sys.argv[2]
name = f'metronome-{version}-win32'
archive = build / f'{name}.zip'
archive.unlink(missing_ok=True)
subprocess.run(['cpack', '-G', 'ZIP', '--config', str(build / 'CPackConfig.cmake')],
               cwd=build, check=True, stdout=subprocess.DEVNULL)
with zipfile.ZipFile(archive) as z:
    names = sorted(z.namelist())
    expected = [f'{name}/README.txt', f'{name}/metronome.exe']
    if names != expected:
        sys.exit(f'{archive.name} holds {names}, expected {expected}')
    exe = z.read(f'{name}/metronome.exe')
    if exe != (build / 'metronome.exe').read_bytes():
        sys.exit('the packaged executable differs from the built one')
    readme = z.read(f'{name}/README.txt').decode('utf-8')
    if version not in readme:
        sys.exit('the read-me does not name the version')
print(f'{archive.name}: {", ".join(names)}; {archive.stat().st_size} bytes; '
      f'metronome.exe {len(exe)} bytes')
