#!/usr/bin/python3
"""Runs the run command's demonstration in a fresh copy of the source under a folder named in
Japanese with a space, as on a machine without a display, and listens to the WAV file it
leaves: the clicks found in the sound must be the notes the program sent, 400 ms apart at the
default 90 BPM. Before that, a run killed hard in the middle of its demonstration: the run after
it must still succeed, with only its own notes. After it, a short benchmark in the same folder,
whose report must hold the program's rows. Needs the harness on PYTHONPATH (click_audio).

Usage: check_run_click.py SOURCE_DIR [SECONDS]
"""
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import click_audio

source = Path(sys.argv[1]).resolve()
seconds = int(sys.argv[2]) if len(sys.argv) > 2 else 5


def killed_in_the_middle(copy, env):
    """Starts a long demonstration and kills the run command with SIGKILL once it plays."""
    run = subprocess.Popen(['bash', str(copy / 'scripts' / 'run.sh'), '--seconds', '30'],
                           env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    for line in run.stdout:
        if 'demonstrating the program' in line:
            break
    else:
        sys.exit(f'the run to be killed ended first ({run.wait()})')
    time.sleep(8)  # the program is up and clicking
    run.send_signal(signal.SIGKILL)
    run.wait()
    run.stdout.close()
    print('killed the run command in the middle of its demonstration')


with tempfile.TemporaryDirectory(prefix='metronome-run-') as temp:
    copy = Path(temp) / '練習 フォルダ' / 'metronome'
    shutil.copytree(source, copy, symlinks=True, ignore=shutil.ignore_patterns('build'))
    env = {k: v for k, v in os.environ.items()
           if k not in ('DISPLAY', 'WAYLAND_DISPLAY', 'PYTHONPATH')}
    try:
        killed_in_the_middle(copy, env)
        out = subprocess.run(['bash', str(copy / 'scripts' / 'run.sh'), '--seconds',
                              str(seconds)], env=env, capture_output=True, text=True,
                             timeout=800)
        print(out.stdout[-2000:], out.stderr[-2000:], sep='\n')
        if out.returncode != 0:
            sys.exit(f'run.sh in {copy}, right after a killed one, ended with {out.returncode}')
        wav = copy / 'build' / 'run-click.wav'
        if f'run: the click it played, rendered by FluidSynth: {wav}' not in out.stdout:
            sys.exit('run.sh did not print where the click went')

        sent = [e for e in click_audio.read_log(copy / 'build' / 'run-click.log')
                if e[1] == 'DATA']
        heard = click_audio.onsets(str(wav))

        bench = subprocess.run(['bash', str(copy / 'scripts' / 'bench.sh'), '3', '90'], env=env,
                               capture_output=True, text=True, timeout=800)
        print(bench.stdout[-1500:], bench.stderr[-1500:], sep='\n')
        if bench.returncode != 0:
            sys.exit(f'bench.sh in {copy} ended with {bench.returncode}')
        report = (copy / 'build' / 'benchmark' / 'report' / 'benchmark.md').read_text()
        if (copy / 'docs' / 'benchmark.md').read_bytes() != (source / 'docs' / 'benchmark.md').read_bytes():
            sys.exit('bench.sh without --publish rewrote docs/benchmark.md')
        for row in ('| 90 (400 ms) | program |', '| 90 (400 ms) | e2e |',
                    '| 90 (400 ms) | naive |'):
            if row not in report:
                sys.exit(f'the benchmark report in {copy} lacks the row "{row}"')
    finally:
        # The copy's Wine sessions must not outlive it.
        session = copy / 'harness' / 'wine-session.sh'
        subprocess.run(['bash', str(session), 'shutdown'], capture_output=True,
                       env=dict(os.environ, WINEPREFIX=str(copy / 'build' / 'wine-virtual')))
        subprocess.run(['bash', str(session), '--build', str(copy / 'build' / 'windows'),
                        'shutdown'], capture_output=True, env=dict(os.environ))

gaps = [b - a for a, b in zip(heard, heard[1:])]
print(f'{len(sent)} notes sent, {len(heard)} clicks heard, gaps {gaps}')
# 2.5 beats a second; the first sounds one period after the start. More would be another
# program's notes.
if not seconds * 2.5 - 2 <= len(sent) <= seconds * 2.5 + 1:
    sys.exit(f'{len(sent)} notes recorded in a {seconds} s run at 90 BPM')
if not seconds * 2.5 - 2 <= len(heard) <= seconds * 2.5 + 1:
    sys.exit(f'{len(heard)} clicks in {seconds} s at 90 BPM')
if len(heard) != len(sent):
    sys.exit(f'{len(sent)} notes were sent but {len(heard)} clicks are heard')
# The onsets are found in 2 ms frames; Wine's timer keeps each beat within a few ms.
if abs(statistics.median(gaps) - 400) > 5 or any(abs(g - 400) > 30 for g in gaps):
    sys.exit(f'the clicks are not 400 ms apart: {gaps}')
