#!/usr/bin/python3
"""Runs the run command's demonstration in a fresh copy of the source under a folder named in
Japanese with a space, as on a machine without a display, and listens to the WAV file it
leaves: the clicks found in the sound must be the notes the program sent, 400 ms apart at the
default 90 BPM. Needs the harness on PYTHONPATH (click_audio).

Usage: check_run_click.py SOURCE_DIR [SECONDS]
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

import click_audio

source = Path(sys.argv[1]).resolve()
seconds = int(sys.argv[2]) if len(sys.argv) > 2 else 5

with tempfile.TemporaryDirectory(prefix='metronome-run-') as temp:
    copy = Path(temp) / '練習 フォルダ' / 'metronome'
    shutil.copytree(source, copy, symlinks=True, ignore=shutil.ignore_patterns('build'))
    env = {k: v for k, v in os.environ.items()
           if k not in ('DISPLAY', 'WAYLAND_DISPLAY', 'PYTHONPATH')}
    try:
        out = subprocess.run(['bash', str(copy / 'scripts' / 'run.sh'), '--seconds',
                              str(seconds)], env=env, capture_output=True, text=True,
                             timeout=800)
        print(out.stdout[-2000:], out.stderr[-2000:], sep='\n')
        if out.returncode != 0:
            sys.exit(f'run.sh in {copy} ended with {out.returncode}')
        wav = copy / 'build' / 'run-click.wav'
        if f'run: the click it played, rendered by FluidSynth: {wav}' not in out.stdout:
            sys.exit('run.sh did not print where the click went')

        sent = [e for e in click_audio.read_log(copy / 'build' / 'run-click.log')
                if e[1] == 'DATA']
        heard = click_audio.onsets(str(wav))
    finally:
        # The copy's Wine session must not outlive it.
        session = copy / 'harness' / 'wine-session.sh'
        subprocess.run(['bash', str(session), 'shutdown'], capture_output=True,
                       env=dict(os.environ, WINEPREFIX=str(copy / 'build' / 'wine-virtual')))

gaps = [b - a for a, b in zip(heard, heard[1:])]
print(f'{len(sent)} notes sent, {len(heard)} clicks heard, gaps {gaps}')
# 2.5 beats a second; the first sounds one period after the start.
if not seconds * 2.5 - 2 <= len(heard) <= seconds * 2.5 + 1:
    sys.exit(f'{len(heard)} clicks in {seconds} s at 90 BPM')
if len(heard) != len(sent):
    sys.exit(f'{len(sent)} notes were sent but {len(heard)} clicks are heard')
# The onsets are found in 2 ms frames; Wine's timer keeps each beat within a few ms.
if abs(statistics.median(gaps) - 400) > 5 or any(abs(g - 400) > 30 for g in gaps):
    sys.exit(f'the clicks are not 400 ms apart: {gaps}')
