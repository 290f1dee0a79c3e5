#!/usr/bin/python3
"""The commands a person types, in a fresh copy of the source under a folder named in Japanese
with a space, a quote and a dollar sign, as on a machine without a display.

- The first run stopped with SIGTERM while it makes its Wine prefix: 143 at once. The next run
  says it makes the half-made prefix afresh; killed with SIGKILL in the middle of its
  demonstration, nothing of it runs 2 s later and nothing of it is left in /tmp.
- The run after it passes, and a user's process that names a file of the clone lives on. Its
  demonstration: the clicks in the WAV file it leaves must be the notes the program sent, 400 ms
  apart at the default 90 BPM.
- A short benchmark, whose report (under build/, docs/ untouched) must hold the program's rows.
- A run during a ctest of the clone's Windows tests: both pass, and after the ctest no Wine or
  Xvfb of the clone runs.
- A run stopped with Ctrl+C: 130 at once, no line of bash's own, nothing left running.
- Two fuzz runs at once: the second is refused plainly; SIGTERM ends the first at once, in its
  build. SIGTERM ends a long stress run at once too.

Needs the harness on PYTHONPATH (click_audio).

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
users_own = set()  # this test's stand-ins for a user's processes: nobody's to end


def command(copy, name, *args):
    return ['bash', str(copy / 'scripts' / name), *args]


def started_demonstration(copy, env):
    """A long demonstration, started as a terminal starts a command, once the program has sent
    notes. What the run prints from its demonstration on is left to read."""
    run = subprocess.Popen(command(copy, 'run.sh', '--seconds', '30'), env=env,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                           start_new_session=True)
    for line in run.stdout:
        if 'demonstrating the program' in line:
            break
    else:
        sys.exit(f'the run ended before its demonstration ({run.wait()})')
    log = copy / 'build' / 'command.tmp' / 'click.log'
    for _ in range(600):
        if log.exists() and 'DATA' in log.read_text(errors='replace'):
            return run
        time.sleep(0.1)
    sys.exit(f'the run never played ({run.poll()})')


def running_in(copy):
    """The processes whose command line, environment or working folder names the copy (a Wine
    server is known by its WINEPREFIX): what a command left behind. (A test may look so; the
    commands themselves never do.)"""
    found = []
    for process in Path('/proc').glob('[0-9]*'):
        try:
            line = (process / 'cmdline').read_bytes().replace(b'\0', b' ')
            seen = line + (process / 'environ').read_bytes() + os.readlink(process / 'cwd').encode()
        except OSError:
            continue
        pid = int(process.name)
        if os.fsencode(copy) in seen and pid != os.getpid() and pid not in users_own:
            found.append(f'{pid}: {line.decode(errors="replace").strip()}')
    return found


def expect_nothing_left(copy, after, within=1):
    time.sleep(within)
    if running_in(copy):
        sys.exit(f'left running {within} s after {after}:\n' + '\n'.join(running_in(copy)))


def in_tmp():
    """What a command could leave in /tmp: Wine's, Xvfb's and mktemp's files, the project's own."""
    names = os.listdir('/tmp')
    if os.path.isdir('/tmp/.X11-unix'):
        names += [f'.X11-unix/{n}' for n in os.listdir('/tmp/.X11-unix')]
    return {n for n in names if n.startswith(('wine', '.wine', '.X', 'tmp.', 'metronome'))}


def first_setup_interrupted(copy, env):
    """SIGTERM to the first run while it makes its Wine prefix."""
    terminated(copy, env, ['run.sh', '--seconds', '30'], 'demonstrating', after=3)


def killed_in_the_middle(copy, env):
    """SIGKILL to a run command while it plays, once the program has sent notes. The run must have
    made afresh the prefix the interrupted one left half-made."""
    tmp_before = in_tmp()
    run = started_demonstration(copy, env)
    run.send_signal(signal.SIGKILL)
    run.wait()
    said = run.stdout.read()
    run.stdout.close()
    print(f'killed the run command in the middle of its demonstration; it said:\n{said}')
    if 'making it afresh' not in said:
        sys.exit('the run after an interrupted set-up did not say it made the prefix afresh')
    expect_nothing_left(copy, 'SIGKILL to run.sh', within=2)
    if in_tmp() - tmp_before:
        sys.exit(f'left in /tmp: {in_tmp() - tmp_before}')


def run_during_ctest(copy, env):
    """A run while the clone's Windows tests run: both pass; after the ctest nothing of it runs."""
    subprocess.run(['cmake', '--build', '--preset', 'windows', '--target', 'beat_clock_tests'],
                   cwd=copy, env=env, check=True, stdout=subprocess.DEVNULL)
    tests = subprocess.Popen(['ctest', '--preset', 'windows', '-R', '^BeatClock\\.'], cwd=copy,
                             env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    seen = []
    for line in tests.stdout:
        seen.append(line)
        if 'Start' in line and 'BeatClock.' in line:
            break
    run = subprocess.run(command(copy, 'run.sh', '--seconds', '2'), env=env, capture_output=True,
                         text=True, timeout=300)
    seen += tests.stdout.readlines()
    status = tests.wait()
    print(f'run.sh during a ctest: {run.returncode}; the ctest: {status}: {seen[-3:]}')
    if run.returncode != 0 or status != 0:
        sys.exit(f'run.sh ({run.returncode}: {run.stderr}) during a ctest ({status}):\n'
                 + ''.join(seen))
    expect_nothing_left(copy, 'the ctest')


def ctrl_c(copy, env):
    """Ctrl+C in the terminal: SIGINT to the run command's whole process group."""
    run = started_demonstration(copy, env)
    os.killpg(run.pid, signal.SIGINT)
    began = time.monotonic()
    status = run.wait(timeout=60)
    took = time.monotonic() - began
    rest = run.stdout.read()
    run.stdout.close()
    print(f'Ctrl+C: exit {status} after {took:.2f} s; then it printed: {rest!r}')
    if status != 130 or took > 10:
        sys.exit(f'run.sh after Ctrl+C: exit {status} after {took:.1f} s, not 130 at once')
    if 'Terminated' in rest or 'Killed' in rest:
        sys.exit(f'run.sh printed a line of bash\'s own after Ctrl+C: {rest!r}')
    expect_nothing_left(copy, 'Ctrl+C')


def terminated(copy, env, args, wait_for, after=2):
    """SIGTERM to a command once it printed wait_for: 143 at once, nothing of it left running."""
    run = subprocess.Popen(command(copy, *args), env=env, stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, text=True)
    seen = []
    for line in run.stdout:
        seen.append(line)
        if wait_for in line:
            break
    time.sleep(after)
    run.send_signal(signal.SIGTERM)
    began = time.monotonic()
    status = run.wait(timeout=120)
    took = time.monotonic() - began
    run.stdout.close()
    print(f'{" ".join(args)}: SIGTERM after "{wait_for}": exit {status} after {took:.2f} s')
    if status != 143 or took > 10:
        sys.exit(f'{args} after SIGTERM: exit {status} after {took:.1f} s, not 143 at once; it '
                 f'printed: {"".join(seen[-10:])}')
    expect_nothing_left(copy, f'SIGTERM to {args}')


def two_fuzz_runs(copy, env):
    first = subprocess.Popen(command(copy, 'fuzz.sh', '--seconds', '600'), env=env, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
    time.sleep(3)
    second = subprocess.run(command(copy, 'fuzz.sh', '--seconds', '5'), env=env, capture_output=True,
                            text=True, timeout=60)
    print(f'a second fuzz.sh: exit {second.returncode}: {second.stderr.strip()}')
    if second.returncode != 1 or 'one at a time' not in second.stderr:
        sys.exit(f'a second fuzz.sh was not refused: {second.returncode} {second.stderr}')
    first.send_signal(signal.SIGTERM)
    began = time.monotonic()
    status = first.wait(timeout=120)
    print(f'fuzz.sh: SIGTERM in its build: exit {status} after {time.monotonic() - began:.2f} s')
    if status != 143 or time.monotonic() - began > 10:
        sys.exit(f'fuzz.sh after SIGTERM: exit {status}, not 143 at once')
    expect_nothing_left(copy, 'SIGTERM to fuzz.sh')


with tempfile.TemporaryDirectory(prefix='metronome-run-') as temp:
    copy = Path(temp) / '練習 フォルダ' / "Bob's $5 metronome"
    shutil.copytree(source, copy, symlinks=True, ignore=shutil.ignore_patterns('build'))
    env = {k: v for k, v in os.environ.items()
           if k not in ('DISPLAY', 'WAYLAND_DISPLAY', 'PYTHONPATH')}
    user = None
    try:
        first_setup_interrupted(copy, env)
        killed_in_the_middle(copy, env)
        # A user's own process that names a file of the clone: no command's to end.
        user = subprocess.Popen(['tail', '-f', str(copy / 'harness' / 'demonstration.sh')],
                                stdout=subprocess.DEVNULL)
        users_own.add(user.pid)
        out = subprocess.run(command(copy, 'run.sh', '--seconds', str(seconds)), env=env,
                             capture_output=True, text=True, timeout=800)
        print(out.stdout[-2000:], out.stderr[-2000:], sep='\n')
        if out.returncode != 0:
            sys.exit(f'run.sh in {copy}, right after a killed one, ended with {out.returncode}')
        if user.poll() is not None:
            sys.exit('the run after the killed one ended a user\'s tail -f of a clone file')
        wav = copy / 'build' / 'run-click.wav'
        if f'run: the click it played, rendered by FluidSynth: {wav}' not in out.stdout:
            sys.exit('run.sh did not print where the click went')

        sent = [e for e in click_audio.read_log(copy / 'build' / 'run-click.log')
                if e[1] == 'DATA']
        heard = click_audio.onsets(str(wav))

        bench = subprocess.run(command(copy, 'bench.sh', '--seconds', '3', '90'), env=env,
                               capture_output=True, text=True, timeout=800)
        print(bench.stdout[-1500:], bench.stderr[-1500:], sep='\n')
        if bench.returncode != 0:
            sys.exit(f'bench.sh in {copy} ended with {bench.returncode}')
        report = (copy / 'build' / 'benchmark' / 'report' / 'benchmark.md').read_text()
        if (copy / 'docs' / 'benchmark.md').read_bytes() != \
                (source / 'docs' / 'benchmark.md').read_bytes():
            sys.exit('bench.sh without --publish rewrote docs/benchmark.md')
        for row in ('| 90 (400 ms) | program |', '| 90 (400 ms) | e2e |',
                    '| 90 (400 ms) | naive |'):
            if row not in report:
                sys.exit(f'the benchmark report in {copy} lacks the row "{row}"')

        run_during_ctest(copy, env)
        ctrl_c(copy, env)
        two_fuzz_runs(copy, env)
        terminated(copy, env, ['stress.sh', '--seconds', '600'], 'Building')
    finally:
        if user is not None:
            user.kill()
            user.wait()
        # The copy's tests' session must not outlive it, should the ctest have failed.
        subprocess.run(['bash', str(copy / 'harness' / 'wine-session.sh'), '--build',
                        str(copy / 'build' / 'windows'), 'shutdown'], capture_output=True)

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
