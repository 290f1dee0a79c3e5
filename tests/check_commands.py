#!/usr/bin/python3
"""The commands a person types, as one table of cases: what is typed, what is done to it (a key,
a signal, a second command, a setting of the shell) and what must follow. Typed by relative path
in a fresh copy of the source whose path holds Japanese, spaces, a quote, a backtick, $, &, :,
parentheses, ! and %, longer than a Windows program's MAX_PATH, on a machine without a display,
with a TMPDIR and a CDPATH of the caller's and a HOME that does not exist. After every case
nothing of the command runs on, this /tmp (the machine's, as the commands see it) holds nothing
new, and HOME is still not there. Its stand-ins and HOME lie in SCRATCH, a folder of the build's.

Usage: check_commands.py --source SOURCE_DIR --scratch SCRATCH [--only WORDS]
"""
import argparse
import fcntl
import json
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

# The harness's, found from here: no folder path in PYTHONPATH, which a ':' in it would split;
# no __pycache__ left in the folder, which holds nothing but build/ new.
sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parent.parent / 'harness'))
import click_audio  # noqa: E402

parser = argparse.ArgumentParser(prog='check_commands.py', allow_abbrev=False)
parser.add_argument('--source', required=True, type=Path, help='the folder whose commands run')
parser.add_argument('--scratch', required=True, type=Path, help="a folder of the build's to use")
parser.add_argument('--own-tmp', action='store_true', help='already in a /tmp of its own')
parser.add_argument('--only', metavar='WORDS', help='plays only the rows whose name holds WORDS, '
                    'and none of the checks beside the table')
ARGS = parser.parse_args()
source = ARGS.source.resolve()
INT, QUIT, TERM, HUP, KILL = (signal.SIGINT, signal.SIGQUIT, signal.SIGTERM, signal.SIGHUP,
                              signal.SIGKILL)


def running_in(folder):
    """The processes, zombies aside, whose command line, environment or working folder names the
    folder (a Wine server is known by its WINEPREFIX): what a command left behind."""
    found = {}
    for process in Path('/proc').glob('[0-9]*'):
        try:
            line = (process / 'cmdline').read_bytes().replace(b'\0', b' ')
            seen = line + (process / 'environ').read_bytes() + os.readlink(process / 'cwd').encode()
            zombie = (process / 'stat').read_text().rsplit(')', 1)[1].split()[0] == 'Z'
        except (OSError, IndexError):
            continue
        if os.fsencode(folder) in seen and int(process.name) != os.getpid() and not zombie:
            found[int(process.name)] = line.decode(errors='replace').strip()
    return found


def first_and_steps(folder):
    """The command's process 1 and the shell running its steps, found as a user finds them: by
    the command lines ps shows."""
    found = running_in(folder).items()
    first = next(p for p, line in found if 'lib/init.sh' in line and 'unshare' not in line)
    steps = next(p for p, line in found if line.startswith('bash scripts/steps/'))
    return first, steps


def lock_frees_last(folder, pids):
    """Spins until the folder's lock is free: by then none of the command's processes pids may be
    left with files open (one gone but for its number has none)."""
    with open(folder / 'build' / 'command.lock') as lock:
        for _ in range(1000000):
            try:
                fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
                break
            except BlockingIOError:
                continue
        else:
            return ''  # still taken: what holds it is found left running
        alive = []
        for pid in pids:
            try:
                alive += [pid] if os.listdir(f'/proc/{pid}/fd') else []
            except OSError:
                pass
        fcntl.flock(lock, fcntl.LOCK_UN)
    return f'the lock was free while {alive} still ran' if alive else ''


class Case:
    """One line of the table. typed: the command's words; status: what it must end with (-9:
    killed), within 3 s of a signal; says: words its output must hold; before: what it is started
    under (env -i, unshare); env: settings the shell adds; wait_for: what it prints before the
    action; action: (WHOM, SIGNAL), WHOM 'group' (a key in the terminal), 'typed', 'first' (its
    namespace's process 1) or 'steps' (the shell running its steps), or ('second', SIGNAL|None):
    the same command typed again meanwhile, then the signal to the group; setup: done to the
    folder first; then: a check of what it left; unless: why it cannot be played here, if so."""

    def __init__(self, what, typed, status, says='', before=(), env=None, wait_for=None,
                 action=None, setup=None, then=None, folder=None, unless=''):
        self.__dict__.update({k: v for k, v in locals().items() if k != 'self'})


def x_sockets():
    """The X displays' abstract sockets, which the machine's network namespace shares."""
    return {line.split()[-1] for line in Path('/proc/net/unix').read_text().splitlines()
            if '@/tmp/.X11-unix/' in line}


machines_displays = x_sockets()  # the machine's own, there before


def act(case, run, folder, environment):
    whom, sig = case.action
    second = None
    if whom == 'outside':  # the command's display, sought from outside it
        seen = x_sockets() - machines_displays
        return f'its display is in reach from outside: {seen}' if seen else ''
    if whom == 'second':
        second = subprocess.run(['bash', *case.typed], cwd=folder, env=environment,
                                capture_output=True, text=True, timeout=60)
        if second.returncode != 1 or 'one at a time' not in second.stderr:
            return f'a second one meanwhile: {second.returncode} {second.stderr}'
        whom = 'group'
    if sig is None:
        return ''
    if whom == 'group':
        os.killpg(run.pid, sig)
        return ''
    pids = [p for p in running_in(folder) if p != run.pid]
    os.kill(run.pid if whom == 'typed' else first_and_steps(folder)[whom == 'steps'], sig)
    return lock_frees_last(folder, pids) if (whom, sig) == ('typed', KILL) else ''


def end_all(run, folder, stuck):
    stuck.append(running_in(folder))
    for pid in [run.pid, *stuck[0]]:
        try:
            os.kill(pid, KILL)
        except OSError:
            pass


def play(case, folder, env):
    folder = case.folder or folder
    if case.setup:
        case.setup(folder)
    environment = dict(env, **(case.env or {}))
    started = time.monotonic()
    run = subprocess.Popen([*case.before, 'bash', *case.typed], cwd=folder, env=environment,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                           start_new_session=True)
    said, acted, fault, late, stuck = [], None, '', None, []
    for line in iter(run.stdout.readline, b''):
        said.append(line.decode(errors='replace'))
        if case.wait_for and case.wait_for in said[-1] and acted is None:
            time.sleep(0.3)  # into the step it announced
            acted = time.monotonic()
            fault = act(case, run, folder, environment)
            if case.action[1]:  # what does not end on its signal is ended here, and said
                late = threading.Timer(10, end_all, (run, folder, stuck))
                late.start()
    status = run.wait()
    if late:
        late.cancel()
    took = time.monotonic() - (acted or started)
    # What it started ends within a second of it; the margin is for a busy machine.
    for _ in range(20):
        left = running_in(folder)
        if not left:
            break
        time.sleep(0.1)
    text = ''.join(said)
    print(f'{case.what}: {status} after {took:.1f} s')
    if status != case.status:
        fault = f'ended with {status}, not {case.status}'
    elif case.wait_for and acted is None:
        fault = f'never said "{case.wait_for}", so nothing was done to it'
    elif acted and case.action[1] and took > 3:
        fault = f'took {took:.1f} s to end'
    elif case.says not in text:
        fault = f'did not say "{case.says}"'
    elif left or stuck:
        fault = f'left running: {left or stuck[0]}'
    fault = fault or (case.then and case.then(folder)) or ''
    return fault and f'{case.what}: {fault}\n{text[-2500:]}'


def clicks_as_sent(folder):
    """The WAV the demonstration left holds the notes the program sent, where it sent them, 400 ms
    apart at 90 BPM."""
    sent = [e[0] / 1000 for e in click_audio.read_log(folder / 'build' / 'run-click.log')
            if e[1] == 'DATA']
    heard = click_audio.onsets(str(folder / 'build' / 'run-click.wav'))
    # A busy machine may hold Wine's timer back and send two notes at once: one click is heard,
    # at most one per 50 ms (click_audio.onsets). A note missing from the sound is a fault.
    apart = [t for i, t in enumerate(sent) if i == 0 or t - sent[i - 1] >= 50]
    gaps = [b - a for a, b in zip(heard, heard[1:])]
    print(f'  {len(sent)} notes sent, {len(apart)} apart, {len(heard)} clicks heard, gaps {gaps}')
    # 2.5 beats a second for 5 s, the first one period after the start; each gap heard as sent,
    # give or take the 2 ms frames onsets are found in and the renderer's drift. A busy machine
    # may hold Wine's timer back now and then: the median gap only must be 400 (the benchmark
    # measures the timing).
    if not 10 <= len(sent) <= 14 or len(heard) != len(apart) or \
            any(abs(h - (t - s)) > 10 for h, t, s in zip(gaps, apart[1:], apart)) or \
            abs(statistics.median(gaps) - 400) > 5:
        return f'{len(sent)} notes sent, {len(apart)} apart, {len(heard)} heard, gaps {gaps}'
    return ''


def built_idle(folder):
    """The run command's build has nothing left to do, in a folder whose name Ninja splits in the
    compiler's dependency lists (a quote, an ampersand, a backtick)."""
    idle = subprocess.run([folder / 'tests' / 'static-checks.sh', 'idle_build',
                           folder / 'build' / 'windows', 'metronome', 'midimap'],
                          capture_output=True, text=True)
    return idle.returncode and f'the build left work to do:\n{idle.stdout}{idle.stderr}'


def stand_in(folder, name, script):
    """A program of that name in folder, first in PATH: the settings that put it there."""
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_text('#!/bin/sh\n' + script)
    (folder / name).chmod(0o755)
    return {'PATH': f'{folder}:{os.environ["PATH"]}'}


def scripts_alone(folder):
    """folder made with a copy of the commands and nothing else."""
    shutil.copytree(source / 'scripts', folder / 'scripts')


def no_lock(folder):
    """A check that the command refused before it took the folder's lock in build/."""
    return (folder / 'build' / 'command.lock').exists() and 'it wrote build/command.lock'


def fresh_build(folder):
    """folder/build made afresh, empty."""
    shutil.rmtree(folder / 'build', ignore_errors=True)
    (folder / 'build').mkdir()
    return folder / 'build'


def noexec_folder(folder):  # a tmpfs with the scripts, mounted noexec (remounted as it needs)
    folder.mkdir()
    subprocess.run(['mount', '-t', 'tmpfs', '-o', 'noexec', 'tmpfs', folder], check=True)
    shutil.copytree(source / 'scripts', folder / 'scripts')


def noexec_below(folder):
    noexec_folder(folder.parent)
    shutil.copytree(source / 'scripts', folder / 'scripts')


def read_only_folder(folder):
    noexec_folder(folder)
    subprocess.run(['mount', '-o', 'remount,ro,exec', folder], check=True)


def fake_debian(fakes):
    """Stand-ins for making a root of the other release, and the folder on-debian.sh runs in: a
    copy of its scripts, owned by another user, whose build/ is a link and .git a file. python3
    reads the release's date from FAKE_RELEASED (empty: no network); debootstrap (FAKE_DEBOOTSTRAP
    fails, or sleeps half-made, else makes) lays down a root of dash alone, whose env, with which
    on-debian.sh enters it, says whether the folder's build/ and git directory are in view."""
    skeleton = fakes / 'skeleton'
    for folder in ('dev', 'sys', 'proc', 'tmp', 'etc/apt/apt.conf.d', 'usr/bin', 'bin'):
        (skeleton / folder).mkdir(parents=True)
    libraries = subprocess.run(['ldd', '/bin/dash'], capture_output=True, text=True).stdout
    for library in [word for word in libraries.split() if word.startswith('/')]:
        (skeleton / library[1:]).parent.mkdir(parents=True, exist_ok=True)
        shutil.copy(library, skeleton / library[1:])
    shutil.copy('/bin/dash', skeleton / 'bin' / 'sh')
    (skeleton / 'etc' / 'debian_version').write_text('stand-in\n')
    stand_in(skeleton / 'usr' / 'bin', 'env', 'while [ "$1" != bash ]; do\n'
             '    case "$1" in http_proxy=?*) proxy="${1#*=}" ;; esac && shift\ndone\n'
             'read -r machine </.metronome-build-on-machine\n'
             'folder="${2%/scripts/*}" && read -r git <"$folder/.git"\n'
             'echo "$machine" >"$folder/build/written-in-root" && [ -f "${git#gitdir: }/HEAD" ] &&\n'
             'echo "in the root: build/ and the git directory in view, proxy ${proxy:-none}"\n')
    env = stand_in(fakes / 'debian', 'python3', 'cat >/dev/null\n[ -n "$FAKE_RELEASED" ] || '
                   '{ echo "URLError: no network" >&2; exit 1; }\necho "Date: $FAKE_RELEASED"\n')
    calls = fakes / 'debian-build' / 'debootstrap-calls'
    stand_in(fakes / 'debian', 'debootstrap', f'echo "called ${{http_proxy:-}}" >>{calls}\n'
             '[ "$FAKE_DEBOOTSTRAP" != fails ] || { echo "E: stand-in" && exit 1; }\n'
             'mkdir -p "$4/etc" && [ "$FAKE_DEBOOTSTRAP" != sleeps ] || exec sleep 60\n'
             f'cp -a {skeleton}/. "$4"\n')
    folder, gits = fakes / 'debian-folder', fakes / 'debian-git'
    shutil.copytree(source / 'scripts', folder / 'scripts')
    subprocess.run(['git', 'init', '-q', f'--separate-git-dir={gits}', folder], check=True)
    (fakes / 'debian-build').mkdir()
    (folder / 'build').symlink_to(fakes / 'debian-build')
    subprocess.run(['chown', '-R', '65534:65534', folder], check=True)
    return folder, env


def root_left(release, calls):
    """A check that the root made first is still in use (it holds what only it has), stamped as
    then, with nothing half-made beside it, and debootstrap called calls times in all."""
    def check(folder):
        made = folder / 'build' / f'debian-{release}'
        called = len((made.parent / 'debootstrap-calls').read_text().splitlines())
        if not (made / 'root' / 'first').exists() or \
                'Date: one' not in (made / 'root' / '.metronome-release').read_text():
            return 'the root made first is gone'
        if called != calls:
            return f'debootstrap called {called} times in all, not {calls}'
        return ' '.join(p.name for p in made.iterdir() if p.name.startswith('root.'))
    return check


def made_for_its_owner(release):
    def check(folder):
        build = folder / 'build'
        (build / f'debian-{release}' / 'root' / 'first').touch()
        owners = {os.stat(build).st_uid, os.stat(build / 'command.lock').st_uid}
        written = build / f'debian-{release}' / 'build' / 'written-in-root'
        if not written.exists():
            return "what the command wrote in its build/ is not in the root's build/"
        if written.read_text().strip() != str(written.parent.resolve()):
            return f'the root names its build/ on the machine {written.read_text()!r}'
        if 'proxy.invalid' not in (build / 'debootstrap-calls').read_text():
            return 'debootstrap did not go through the proxy'
        return owners != {65534} and f'build/ and its lock owned by {owners}, not the folder owner'
    return check


def stamped_the_old_way(release):
    """The stamp written as apt might name the same mirror: by its scheme and with a last slash."""
    def setup(folder):
        stamp = folder / 'build' / f'debian-{release}' / 'root' / '.metronome-release'
        suite, mirror, date = stamp.read_text().split(' ', 2)
        stamp.write_text(f'{suite} http://{mirror}/ {date}')
    return setup


def cases(temp, fakes):
    """The table. Stand-ins live in fakes (main tells where)."""
    releases = dict(line.split() for line in
                    (source / 'scripts' / 'releases').read_text().splitlines())
    os_release = Path('/etc/os-release').read_text().replace('"', '')
    this = next(r for r in releases if f'VERSION_ID={r}\n' in os_release)
    other = next(r for r in releases if r != this)
    failing_wine = stand_in(fakes / 'wine', 'wine', '[ "$1" != winecfg ] || '
                            '{ echo "stand-in winecfg: cannot" >&2; exit 1; }\n'
                            f'exec {shutil.which("wine")} "$@"\n')
    no_namespace = stand_in(fakes / 'unshare', 'unshare', 'echo "unshare: unshare failed: '
                            'Operation not permitted" >&2\nexit 1\n')
    # fluidsynth missing (dpkg-query), and apt-get only logs what it is asked.
    stand_in(fakes / 'apt', 'dpkg-query', '/usr/bin/dpkg-query "$@" | grep -v "^fluidsynth "\n')
    # A step whose end takes a while: the kernel frees its 1 GB before it closes its files.
    holding = stand_in(fakes / 'holding', 'cmake', 'exec python3 -c \'import sys, time; '
                       'b = b"x" * (1 << 30); print("holding 1 GB", file=sys.stderr, flush=True); '
                       'time.sleep(60)\'\n')
    missing = stand_in(fakes / 'apt', 'apt-get', f'echo "$*" >>{fakes}/apt.log\n'
                       'case " $* " in *" install "*) sleep 4 ;; esac\n')
    # A mirror mid-sync: one list (FAKE_FAILS, its path) fails every time. The install resolves
    # as it is (FAKE_PAIRS=plain), or with the release as its target, as apt says (FAKE_PAIRS):
    # 'targeted' resolves, 'newer' finds zlib1g:i386 older than the machine's zlib1g, 'lacks'
    # finds no wine32:i386, 'downgrades' would downgrade zlib1g. apt-cache tells zlib1g:i386's
    # candidate, none where the list lacks it. apt's words as it says them.
    codename = releases[this]
    broken = 'E: Unable to correct problems, you have held broken packages.'
    apt_says = {'newer': f' libcurl4:i386 : Depends: zlib1g:i386 (>= 1:1.1.4) but it is not '
                f'installable\n{broken}', 'lacks': 'E: Unable to locate package wine32:i386',
                'downgrades': 'The following packages will be DOWNGRADED:\n  zlib1g\n0 upgraded, 0 '
                'newly installed, 1 downgraded, 0 to remove and 0 not upgraded.'}
    mid_sync = stand_in(fakes / 'mid-sync', 'apt-get', f'echo "$*" >>{fakes}/mid-sync-'
                        '$FAKE_PAIRS.log\ncase " $* " in\n*" update "*) echo "E: Failed to fetch '
                        'http://mirror.'
                        'invalid/${FAKE_FAILS:-debian-security/dists/'
                        f'{codename}-security/main/binary-i386}}/by-hash/SHA256/ab  File has '
                        'unexpected size (374820 != 376004). Mirror sync in progress?" >&2 && '
                        'exit 100 ;;\n*" -s "*" -t "*) case "$FAKE_PAIRS" in\n'
                        + ''.join(f"    {k}) echo '{v}' && [ {k} = downgrades ] || exit 100 ;;\n"
                                  for k, v in apt_says.items()) +
                        '    targeted) ;;\n    *) exit 100 ;;\n  esac ;;\n*" -s "*) [ '
                        f'"$FAKE_PAIRS" = plain ] || {{ echo "{broken}" && exit 100; }} ;;\nesac\n')
    stand_in(fakes / 'mid-sync', 'apt-cache', '[ "$FAKE_PAIRS" = lacks ] || printf "%s\\n" '
             '"zlib1g:i386:" "  Installed: (none)" "  Candidate: 1:1.0"\n')
    mid_sync['PATH'] = f'{fakes / "mid-sync"}:{missing["PATH"]}'  # dpkg-query: fluidsynth missing
    failing = 'failed to download twice (its mirror is likely being updated)'
    # The command as start.sh quotes it (printf ' %q', a space before each word), with a last
    # space added, which --for drops.
    install_for = ['scripts/install-deps.sh', '--for', 'test.sh -N ']
    not_again = (f'Nothing was installed or downgraded. Try again in an hour: bash scripts/test.sh '
                 f'-N; or run it on Debian {other}, in a root of its own, as root: bash '
                 f'scripts/on-debian.sh {other} test.sh -N')
    plain_install = '-o DPkg::Lock::Timeout=600 -q -y install --no-install-recommends '

    def installed_as(pairs, target):  # the row's own log: a row failing early leaves its own
        def check(folder):
            calls = (fakes / f'mid-sync-{pairs}.log').read_text().splitlines()
            installs = [c for c in calls if ' install ' in c and ' -s ' not in c]
            if sum(' update' in c for c in calls) != 2:
                return f'the lists not fetched twice: {calls}'
            return installs != target and f'installed as {installs}, not {target}'
        return check

    def installed_once(folder):  # the second command typed meanwhile was refused before it
        calls = (fakes / 'apt.log').read_text().splitlines()
        (fakes / 'apt.log').unlink()
        return sum(' install ' in f' {c} ' for c in calls) != 1 and f'apt-get called: {calls}'
    bullseye = fakes / 'os-release'
    bullseye.write_text('PRETTY_NAME="Debian GNU/Linux 11 (bullseye)"\nID=debian\nVERSION_ID=11\n')
    bare, plain = Path(temp) / 'bare', fakes / 'plain'
    shutil.copytree(source / 'scripts', bare / 'scripts')
    shutil.copytree(source, plain, symlinks=True, ignore=shutil.ignore_patterns('build'))
    inherited = fakes / 'inherited'  # a build made afresh, whose cache keeps what reached it
    shutil.copytree(source, inherited, symlinks=True, ignore=shutil.ignore_patterns('build'))
    test_link = fakes / 'test-link.sh'  # the test command through a link to it, from elsewhere
    not_the_lock = fakes / 'not-the-lock'
    not_the_lock.write_text('as it was\n')
    linked = Path(tempfile.mkdtemp(prefix='metronome-linked-build-', dir=temp))
    # Another user, root of a user namespace of their own as in a rootless container; the kernel
    # gives none to a process in a chroot (as on-debian.sh runs this).
    nobody = ['setpriv', '--reuid=65534', '--regid=65534', '--clear-groups']
    not_root = '' if os.getuid() == 0 else 'only root can play it'
    no_users = not_root or subprocess.run([*nobody, 'unshare', '--user', 'true'],
                                          capture_output=True).returncode and 'no user namespace'
    fuzz, idle = ['scripts/fuzz.sh', '--seconds', '600'], '#'  # libFuzzer's lines begin with #
    run, listing = ['scripts/run.sh', '--seconds', '5'], ['scripts/test.sh', '-N']
    debian, offline = fake_debian(fakes) if not not_root else (fakes, {})
    on_debian = ['scripts/on-debian.sh', other, 'fuzz.sh', '--seconds', '1']
    made = 'in the root: build/ and the git directory in view, proxy '
    apt_proxy = fakes / 'apt-proxy.conf'  # a proxy in apt's settings, none in the environment
    apt_proxy.write_text('Acquire::http::Proxy "http://apt-proxy.invalid:3142";\n')
    serves = 'the root made before serves'
    # Inside a command, whatever runs (a step's program here) writes or removes nothing but build/:
    # the kernel refuses. Each attempt that gets through is said, and fails the case.
    kept, home = fakes / 'kept', fakes / 'home'
    writes = stand_in(fakes / 'writes', 'cmake', 'for path in /etc /var/tmp "$HOME" "$PWD"; do\n'
                      '    (: >"$path/written-from-a-command") 2>/dev/null && echo "wrote in $path"'
                      ' >&2\ndone\n'
                      f'rm -rf {kept} 2>/dev/null; [ -d {kept} ] || echo "removed {kept}" >&2\n'
                      ': >build/written-from-a-command &&\n'
                      'echo "build/ written, nothing else" >&2\n')

    def nothing_written(folder):
        found = [p / 'written-from-a-command' for p in (Path('/etc'), Path('/var/tmp'), home,
                                                         folder)]
        found = [str(p) for p in found if p.exists() and not p.unlink()]
        gone = [] if (kept / 'a file').exists() else [f'{kept} removed']
        return (found or gone) and f'written from a command: {found + gone}'

    def own_home(user):
        def setup(folder):
            kept.mkdir(exist_ok=True)
            (kept / 'a file').write_text('kept\n')
            home.mkdir(exist_ok=True)
            for path in (kept, kept / 'a file', home):
                os.chown(path, user, user)
        return setup
    # A folder that is someone's own Wine prefix, given to the session as its --prefix.
    theirs = stand_in(fakes / 'session', 'cmake', 'exec bash harness/wine-session.sh --prefix '
                      '"$PWD/build/their-wine" --no-midi prepare\n')

    def their_prefix(folder):
        for name in ('dosdevices/c:', 'drive_c'):
            (folder / 'build' / 'their-wine' / name).mkdir(parents=True, exist_ok=True)
        (folder / 'build' / 'their-wine' / 'system.reg').write_text('')
        (folder / 'build' / 'their-wine' / 'drive_c' / 'precious.txt').write_text('mine\n')

    def removed_as_told(folder):
        calls = fakes / 'apt.log'
        if calls.exists():
            return f'its check installed: {calls.read_text()}'
        subprocess.run(['rm', '-rf', fakes / 'debian-build' / f'debian-{other}'], check=True)
        gone = subprocess.run([*nobody, 'find', folder, folder.joinpath('build').resolve(),
                               '-mindepth', '1', '-delete'], capture_output=True, text=True)
        return gone.returncode and f'nobody could not remove the clone: {gone.stderr}'
    return [
        Case('fuzz.sh --seconds abc', ['scripts/fuzz.sh', '--seconds', 'abc'], 2, "not 'abc'",
             folder=bare),
        Case('test.sh started by sh', ['-c', 'exec sh scripts/test.sh -N'], 2,
             'run it with bash: bash scripts/test.sh', folder=bare),
        # A number checked by ASCII digits: in a UTF-8 locale a regular expression's [0-9] takes ².
        Case('fuzz.sh --seconds ², an English locale', ['scripts/fuzz.sh', '--seconds', '²'], 2,
             "not '²'", folder=bare, env={'LC_ALL': 'en_US.UTF-8'}),
        Case('bench.sh --name ａ, an English locale', ['scripts/bench.sh', '--name', 'ａ'], 2,
             "not 'ａ'", folder=bare, env={'LC_ALL': 'en_US.UTF-8'}),
        Case('test.sh -N, a SOURCE_DATE_EPOCH that is no number', ['scripts/test.sh', '-N'], 2,
             "dates the release package in seconds since 1970, up to 4354819199 (2107), not 'x'",
             folder=bare, env={'SOURCE_DATE_EPOCH': 'x'}),
        Case('a step typed by hand', ['scripts/steps/screenshots.sh'], 2,
             'run only inside their command: bash scripts/screenshots.sh', folder=bare),
        Case('a step started by sh', ['-c', 'exec sh scripts/steps/test.sh --all'], 2,
             'scripts/steps/ run only inside their command', folder=bare),
        Case('no namespace to be had', ['scripts/fuzz.sh'], 2,
             'cannot make the process namespace', env=no_namespace, folder=bare,
             then=lambda f: os.listdir(f) != ['scripts'] and 'it wrote in the folder'),
        # The command's arguments and help answered before any root is made; none of its own.
        Case('on-debian.sh, the command\'s bad argument', ['scripts/on-debian.sh', other, 'run.sh',
             '--seconds', 'abc'], 2, "not 'abc'", folder=bare,
             then=lambda f: os.listdir(f) != ['scripts'] and 'it made a root all the same'),
        Case('on-debian.sh, the command\'s help', ['scripts/on-debian.sh', other, 'fuzz.sh', '-h'],
             0, 'A longer fuzz run', folder=bare),
        Case('on-debian.sh, this very release', ['scripts/on-debian.sh', this, 'test.sh'], 2,
             f'this machine is Debian {this} already', folder=bare),
        Case('on-debian.sh --check-only', ['scripts/on-debian.sh', '--check-only', other,
             'fuzz.sh', '--seconds', '1'], 0, folder=bare,
             then=lambda f: os.listdir(f) != ['scripts'] and 'it made a root all the same'),
        Case('install-deps.sh, its help', ['scripts/install-deps.sh', '--on-debian', '-h'], 0,
             'only what on-debian.sh needs', folder=bare),
        Case('install-deps.sh, an unknown argument', ['scripts/install-deps.sh', '--all'], 2,
             "install-deps: no option '--all'", folder=bare),
        Case('install-deps.sh --for twice', ['scripts/install-deps.sh', '--for', 'x', '--for',
             'y'], 2, 'install-deps: --for is given twice', folder=bare),
        Case('bench.sh --bogus', ['scripts/bench.sh', '--bogus'], 2, "bench: no option '--bogus'",
             folder=bare),
        # A mount in build/ stays as it is, writable, as the rest of build/.
        Case('test.sh -N, a mount in build/', listing, 1, 'build/ written, nothing else',
             folder=fakes / 'mounted', env=writes, unless=not_root,
             setup=lambda f: scripts_alone(f) or (fresh_build(f) / 'inner').mkdir() or
             subprocess.run(['mount', '-t', 'tmpfs', 'tmpfs', f / 'build' / 'inner'], check=True),
             then=lambda f: subprocess.run(['umount', f / 'build' / 'inner']).returncode and
             'build/inner could not be unmounted'),
        Case('wine-session.sh --help', ['harness/wine-session.sh', '--help'], 0,
             'The one way into Wine'),
        # The session's options, each by name: a value that is an option, an option misspelt, the
        # prefix, which must be given.
        *[Case(f'wine-session.sh {" ".join(words)}', ['harness/wine-session.sh', *words], 2, says)
          for words, says in ((['--prefix', '--wow64', 'end'], "--prefix needs a value, and "
                               "'--wow64' is an option"),
                              (['--prefix', 'p', '--wow46', 'end'], "no option '--wow46'"),
                              (['end'], '--prefix is not given'),
                              (['--prefix', 'p', '--no-midi', '--recorder', 'harness/midimap.def',
                                'end'], '--recorder puts a MIDI mapper in place and --no-midi'))],
        Case('install-deps.sh on Debian 11', ['scripts/install-deps.sh'], 2,
             ' or '.join(f'Debian {r} ({c})' for r, c in releases.items()), folder=bare,
             unless=not_root, before=[
                 'unshare', '--mount', 'sh', '-c', 'mount --bind "$0" /etc/os-release && exec "$@"',
                 str(bullseye)]),
        Case('a folder mounted noexec', ['scripts/fuzz.sh'], 2, 'mounted noexec',
             folder=Path(temp) / 'noexec', setup=noexec_folder, unless=not_root),
        Case('a folder one level below a noexec mount', ['scripts/fuzz.sh'], 2, 'mounted noexec',
             folder=Path(temp) / 'noexec-above' / 'below', setup=noexec_below, unless=not_root),
        Case('a folder mounted read-only', ['scripts/fuzz.sh'], 1, 'no build/ can be made here',
             folder=Path(temp) / 'read-only', setup=read_only_folder, unless=not_root),
        Case('env -i fuzz.sh --seconds 1', ['scripts/fuzz.sh', '--seconds', '1'], 0,
             before=['env', '-i']),
        Case('fuzz.sh, Ctrl+C', fuzz, 130, wait_for=idle, action=('group', INT)),
        Case('fuzz.sh, Ctrl+\\', fuzz, 131, wait_for=idle, action=('group', QUIT)),
        Case('fuzz.sh, SIGTERM', fuzz, 143, wait_for=idle, action=('typed', TERM)),
        Case('fuzz.sh, SIGHUP', fuzz, 129, wait_for=idle, action=('typed', HUP)),
        Case('fuzz.sh, kill -9', fuzz, -9, wait_for=idle, action=('typed', KILL)),
        Case('fuzz.sh, SIGINT to its process 1', fuzz, 130, wait_for=idle, action=('first', INT)),
        Case('fuzz.sh, SIGQUIT to its process 1', fuzz, 131, wait_for=idle,
             action=('first', QUIT)),
        Case('fuzz.sh, kill -9 of its process 1', fuzz, 137, wait_for=idle,
             action=('first', KILL)),
        Case('fuzz.sh, SIGTERM to its steps', fuzz, 143, wait_for=idle, action=('steps', TERM)),
        Case('fuzz.sh, a second one meanwhile', fuzz, 143, wait_for=idle, action=('second', TERM)),
        # The demonstration's first step makes the Wine prefix.
        Case('run.sh, Ctrl+\\ while it makes its prefix', run, 131, wait_for='demonstrating',
             action=('group', QUIT)),
        # A prefix made as another kind (64-bit here) is refused, not met with Wine's own words.
        Case('run.sh, its prefix made as another kind', run, 2, 'was made as a 64-bit prefix',
             setup=lambda f: (f / 'build' / 'wine-virtual').mkdir(parents=True, exist_ok=True) or
             (f / 'build' / 'wine-virtual' / '.metronome-made').write_text('3 win64\n'),
             then=lambda f: (f / 'build' / 'wine-virtual' / '.metronome-made').unlink()),
        Case('run.sh, a winecfg that fails', run, 1, "'wine winecfg /v win7' failed",
             env=failing_wine, then=lambda f: (f / 'build' / 'wine-virtual' / '.metronome-made')
             .exists() and 'the prefix whose set-up failed is marked made'),
        Case('run.sh after them', run, 0, 'making it afresh',
             then=lambda f: clicks_as_sent(f) or built_idle(f),
             wait_for='pressed', action=('outside', None)),
        Case('run.sh, kill -9 while it plays', run, -9, wait_for='pressed',
             action=('typed', KILL)),
        Case('test.sh -N, a filter of nothing', [*listing, '-R', 'Dailog'], 8, 'no test matches'),
        Case('test.sh -N -E [, a filter ctest cannot read', [*listing, '-E', '['], 2,
             "-E takes a regular expression ctest can read, not '[' (compile(): Unmatched []"),
        Case('test.sh -N, a step writing everywhere', listing, 0, 'build/ written, nothing else',
             env=dict(writes, HOME=str(home)), setup=own_home(0), then=nothing_written),
        Case('test.sh -N, someone\'s Wine prefix given to the session', listing, 2,
             'holds files no set-up of this session made, and stays as it is', env=theirs,
             setup=their_prefix, then=lambda f: not (f / 'build' / 'their-wine' / 'drive_c' /
                                                     'precious.txt').exists() and 'it was removed'),
        Case('bench.sh --name mine, a folder no benchmark made', ['scripts/bench.sh', '--name',
             'mine', '--seconds', '1', '90'], 2, "build/bench/mine is not a benchmark's folder, "
             'and stays as it is', setup=lambda f: (f / 'build' / 'bench' / 'mine').mkdir(
                 parents=True) or (f / 'build' / 'bench' / 'mine' / 'kept').write_text(''),
             then=lambda f: not (f / 'build' / 'bench' / 'mine' / 'kept').exists() and
             'build/bench/mine was removed'),
        Case('test.sh -N, METRONOME_CHECK_ONLY=1 inherited', listing, 0,
             'Dialog.NoNoteAfterTheStopPress', env={'METRONOME_CHECK_ONLY': '1'}),
        # What bash reads as it starts, and what the compilers and CMake read: none of it counts.
        Case('test.sh -N, bash\'s options, a limit, a function and RCFLAGS inherited', listing, 0,
             'Dialog.NoNoteAfterTheStopPress', folder=inherited,
             env={'SHELLOPTS': 'noclobber', 'BASHOPTS': 'nocasematch', 'FUNCNEST': '1',
                  'BASH_FUNC_cmake%%': '() { echo a stand-in; }', 'RCFLAGS': '-DINHERITED'},
             then=lambda f: 'INHERITED' in (f / 'build' / 'windows' / 'CMakeCache.txt').read_text()
             and 'RCFLAGS reached the build'),
        Case('test.sh -N in that clone moved since its build', listing, 0,
             'configuring it afresh here', folder=fakes / 'moved',
             setup=lambda f: shutil.move(inherited, f)),
        Case('test.sh -N through a link to it', [str(test_link), '-N'], 0,
             'Dialog.NoNoteAfterTheStopPress', setup=lambda f: test_link.unlink(missing_ok=True)
             or test_link.symlink_to(f / 'scripts' / 'test.sh')),
        Case('on-debian.sh --check-only typed in src/, a log in build/', ['-c', 'cd src && exec '
             'bash ../scripts/on-debian.sh --check-only "$0" test.sh -N --output-log '
             '../build/x.log', other], 0),
        Case('test.sh --show-only=json-v1, a filter of nothing', ['scripts/test.sh',
             '--show-only=json-v1', '-R', 'Dailog'], 8, 'no test matches'),
        # Words ctest would ignore or take otherwise, running every test or a stale one, or
        # writing outside the folder: refused before anything is written.
        # Each in a folder of its own: one that writes there cannot hide which.
        *[Case(f'test.sh {" ".join(words)}', ['scripts/test.sh', *words], 2, says,
               folder=Path(temp) / 'words' / str(row), setup=scripts_alone,
               then=lambda f: os.listdir(f) != ['scripts'] and 'it wrote in the folder')
          for row, (words, says) in enumerate((
              (['-N', '-R'], '-R needs a value'),
              (['-R', ''], '-R needs a value'),
              (['--bogus'], "no option '--bogus'"),
              (['Dialog'], "'Dialog' is not"),
              # What ctest or a lenient parse would take otherwise: -L=slow as --LE slow, -LEslow
              # as -L Eslow, an abbreviation; and --timeout, which each test's own limit overrides.
              (['-N', '-L=slow'], '-L takes its value as the next word'),
              (['-N', '-LEslow'], "'-LEslow' joins -LE and its value"),
              (['-N', '--rerun'], 'spelt in full: --rerun-failed'),
              (['-N', '-t', '5'], "no option '-t'"),
              (['-N', '--timeout', '5'], '--timeout would change nothing'),
              (['-N', '--timeout=5'], '--timeout would change nothing'),
              (['-R=Dialog'], "-R takes its value as the next word"),
              (['-R', '^BeatPeriodMs', '-E', '-N'], "-E needs a value, and '-N' is an option"),
              (['--output-log', '-N'], "--output-log needs a value, and '-N' is an option"),
              (['--output-junit', '/etc/x.xml'], '--output-junit writes a file of its own'),
              (['-N', '--output-log', '/tmp/x'], '--output-log writes a file of its own'),
              (['-N', '--output-log', '.git/config'], '--output-log writes a file of its own'),
              # A folder a command makes in build/ may lead out of it: a prefix's z: is /.
              (['-N', '--output-junit', 'build/windows/wineprefix/dosdevices/z:/var/tmp/x.xml'],
               '--output-junit writes a file of its own directly in build/'),
              (['-N', '--output-log', 'build/windows/CMakeCache.txt'],
               '--output-log writes a file of its own directly in build/'),
              (['-N', '--output-log', 'build/../.git/config'], 'writes a file of its own'),
              (['-N', '--output-log', 'build/wine-desktop'], 'its name ending .log'),
              (['-N', '--', 'Dialog'], "'Dialog' is not an option"),
              (['--repeat', 'bogus'], "--repeat takes until-fail:N"),
              (['--repeat', 'until-fail:2', '--repeat-until-fail', '3'], 'ctest takes one'),
              (['-N', '--repeat-until'], 'spelt in full: --repeat-until-fail'),
              (['-N', '-Q'], '-Q would hide the list'),
              (['-N', '--tests-regex', 'Dialog'], '--tests-regex is spelt -R here'),
              (['-R', 'A', '-R', 'B'], '-R is given twice')))],
        Case('test.sh -N, kill -9 while a step holds 1 GB', listing, -9, env=holding,
             wait_for='holding', action=('typed', KILL)),
        # As docker run starts it: it installs, holds the lock meanwhile, and lists the tests.
        Case('test.sh -N as a container\'s first process, fluidsynth missing', listing, 0,
             'Dialog.NoNoteAfterTheStopPress', env=missing, wait_for='installing fluidsynth',
             action=('second', None), before=['unshare', '--pid', '--fork', '--mount-proc'],
             unless=not_root, then=installed_once),
        Case('test.sh -N, fluidsynth missing, a list failing: the release\'s own versions',
             listing, 0, f"{codename}-security main i386 {failing}; installing Debian {this}'s "
             'own versions, which the other lists agree on',
             env=dict(mid_sync, FAKE_PAIRS='targeted'), unless=not_root,
             then=installed_as('targeted', [f'{plain_install}-t {codename} fluidsynth'])),
        Case('test.sh -N, fluidsynth missing, a list failing, the machine\'s libraries newer',
             listing, 1, f'the package list {codename}-security main i386 {failing}, and the '
             "other lists hold zlib1g:i386 1:1.0, older than this machine's zlib1g ",
             env=dict(mid_sync, FAKE_PAIRS='newer'), unless=not_root,
             then=installed_as('newer', [])),
        # The install alone, for the command named: the sentence names it as the next step.
        Case('install-deps.sh, the base i386 list failing, the whole list missing', install_for,
             1, f'the package list {codename} main i386 {failing}, and the other lists hold no '
             f'wine32:i386. {not_again}', env=dict(mid_sync, FAKE_PAIRS='lacks',
             FAKE_FAILS=f'debian/dists/{codename}/main/binary-i386'), unless=not_root,
             then=installed_as('lacks', [])),
        Case('install-deps.sh, the security amd64 list failing, the others enough', install_for,
             0, f'{codename}-security main amd64 {failing}; the other lists hold all the install '
             'needs, so it goes ahead with them', env=dict(mid_sync, FAKE_PAIRS='plain',
             FAKE_FAILS=f'debian-security/dists/{codename}-security/main/binary-amd64'),
             unless=not_root, then=installed_as('plain', [f'{plain_install}fluidsynth'])),
        Case('install-deps.sh, a list failing, the release\'s own versions a downgrade',
             install_for, 1, f"{failing}, and the other lists pair only by downgrading this "
             f"machine's zlib1g 1:", env=dict(mid_sync, FAKE_PAIRS='downgrades'), unless=not_root,
             then=installed_as('downgrades', [])),
        # Root is refused in a user's folder, build/ or not, in one sentence, writing nothing.
        Case('run.sh by root in a user\'s clone, no build/', run, 1, "this folder is nobody's, who "
             f"could not remove what root made in it: as nobody, type bash {plain}/scripts/run.sh "
             "--seconds 5", folder=plain, unless=no_users, setup=lambda f: subprocess.run(
                 ['chown', '-R', '65534:65534', f]), then=lambda f: any(
                 p.owner() == 'root' for p in f.rglob('*')) and 'root wrote in it'),
        Case('test.sh -N by a user as root of their own user namespace, fluidsynth missing',
             listing, 0, 'install-deps: installing fluidsynth', folder=plain, unless=no_users,
             before=[*nobody, 'unshare', '--user', '--map-root-user'], setup=lambda f: (
                 fakes.chmod(0o755), subprocess.run(['chown', '-R', '65534:65534', f])),
             env=dict(missing, HOME=str(plain))),
        Case('test.sh -N by the user, a step writing everywhere', listing, 0,
             'build/ written, nothing else', folder=plain, before=nobody, unless=no_users,
             env=dict(writes, HOME=str(home)), setup=own_home(65534), then=nothing_written),
        # build/ and everything in it one user's: root is refused in a user's folder, and each
        # way build/ cannot serve has its own sentence; nothing is written meanwhile.
        Case('test.sh -N by root in that user\'s clone, its build/ made', listing, 1,
             "this folder is nobody's", folder=plain, unless=no_users,
             then=lambda f: any(p.owner() == 'root' for p in f.rglob('*')) and 'root wrote in it'),
        Case('test.sh -N by the user, a file of root\'s in build/', listing, 1,
             "build/ holds command.lock, which is root's", folder=plain, before=nobody,
             env={'HOME': str(plain)}, unless=no_users,
             setup=lambda f: os.chown(f / 'build' / 'command.lock', 0, 0)),
        Case('test.sh -N by the user in root\'s build/', listing, 1, "build/ is root's, not "
             "nobody's", folder=plain, before=nobody, env={'HOME': str(plain)}, unless=no_users,
             setup=fresh_build),
        Case('test.sh -N by root in the user\'s clone, build/ root\'s', listing, 1,
             "this folder is nobody's", folder=plain, unless=no_users, then=no_lock),
        Case('test.sh -N by root in root\'s folder, build/ nobody\'s', listing, 1,
             "build/ is nobody's, not root's", folder=Path(temp) / 'roots', unless=no_users,
             setup=lambda f: scripts_alone(f) or os.chown(fresh_build(f), 65534, 65534),
             then=no_lock),
        *[Case(f'test.sh -N, {what}', listing, 1, says, folder=bare, setup=setup,
               then=lambda f: 'command.lock' in os.listdir(f) + os.listdir(f / 'scripts') and
               'it wrote through build')
          for what, says, setup in (
              ('build a link that loops', 'build is a link that loops',
               lambda f: (f / 'build').symlink_to(f / 'build')),
              ('build a link to nothing', 'which is not there',
               lambda f: (f / 'build').unlink() or (f / 'build').symlink_to(f / 'nothing')),
              ('build a link to the folder', 'inside the folder, which nothing but build/ may',
               lambda f: (f / 'build').unlink() or (f / 'build').symlink_to('.')),
              ('build a link into scripts/', 'inside the folder, which nothing but build/ may',
               lambda f: (f / 'build').unlink() or (f / 'build').symlink_to('scripts')),
              ('build a link to the folder\'s parent', 'which holds the folder, which nothing',
               lambda f: (f / 'build').unlink() or (f / 'build').symlink_to('..')),
              ('build a link to /', 'build is a link to /, which holds the folder',
               lambda f: (f / 'build').unlink() or (f / 'build').symlink_to('/')),
              ('build a file', 'build is a file, not a folder',
               lambda f: (f / 'build').unlink() or (f / 'build').write_text('')))],
        # A link in the lock's place is removed, not written through; build/ a link into /tmp.
        # The folder root's again.
        Case('test.sh -N, build/command.lock a link', listing, 0, folder=plain, setup=lambda f: (
             subprocess.run(['chown', '-R', '0:0', f]),
             fresh_build(f).joinpath('command.lock').symlink_to(not_the_lock)),
             then=lambda f: not_the_lock.read_text() != 'as it was\n' and 'it wrote through it'),
        Case('test.sh -N, build/ a link into /tmp', listing, 0, folder=plain,
             setup=lambda f: fresh_build(f).rmdir() or (f / 'build').symlink_to(linked)),
        # The other release's root made and entered by stand-ins: replaced only by a whole one.
        Case('on-debian.sh, a root made behind a proxy', on_debian, 0,
             made + 'http://proxy.invalid:3128', folder=debian, unless=not_root,
             env=dict(offline, FAKE_RELEASED='one', http_proxy='http://proxy.invalid:3128'),
             then=made_for_its_owner(other)),
        Case('on-debian.sh, the stamp naming the same mirror by its scheme and a slash; apt\'s '
             'proxy', on_debian, 0, made + 'http://apt-proxy.invalid:3142', folder=debian,
             unless=not_root, env=dict(offline, FAKE_RELEASED='one', APT_CONFIG=str(apt_proxy)),
             setup=stamped_the_old_way(other), then=lambda f: root_left(other, 1)(f) or (
                 'apt-proxy.invalid' not in (f / 'build' / f'debian-{other}' / 'root' / 'etc' /
                                             'apt' / 'apt.conf.d' / '90metronome-proxy')
                 .read_text() and "apt's proxy is not in the root's settings")),
        Case('on-debian.sh, a debootstrap that fails', on_debian, 0, serves, folder=debian,
             unless=not_root, env=dict(offline, FAKE_RELEASED='two', FAKE_DEBOOTSTRAP='fails'),
             then=root_left(other, 2)),
        Case('on-debian.sh, SIGTERM while it makes a root', on_debian, 143, folder=debian,
             unless=not_root, env=dict(offline, FAKE_RELEASED='two', FAKE_DEBOOTSTRAP='sleeps'),
             wait_for='making a root filesystem', action=('typed', TERM)),
        Case('on-debian.sh after it, no network', on_debian, 0, serves, folder=debian,
             unless=not_root, env=offline, then=root_left(other, 3)),
        # Its check of the command's arguments installs nothing; the folder's owner is told how
        # the root's files go, and removes the clone after them.
        Case('on-debian.sh install-deps.sh, fluidsynth missing', ['scripts/on-debian.sh', other,
             'install-deps.sh'], 0, f'before nobody removes this clone, as root: rm -rf {fakes}/'
             f'debian-build/debian-{other}', folder=debian, unless=not_root,
             env=dict(offline, PATH=f'{fakes / "apt"}:{offline.get("PATH", "")}'),
             setup=lambda f: fakes.chmod(0o755), then=removed_as_told),
    ]


def at_once(temp, fakes, pairs=10):
    """The same command typed twice at once in a clone without build/: one makes build/ and takes
    the lock, the other says "one at a time", whichever made build/ first."""
    env = stand_in(fakes / 'slow', 'cmake', 'sleep 2\n')
    for pair in range(pairs):
        folder = Path(temp) / 'at-once' / str(pair)
        shutil.copytree(source / 'scripts', folder / 'scripts')
        both = [subprocess.Popen(['bash', 'scripts/fuzz.sh', '--seconds', '1'], cwd=folder,
                                 env=dict(os.environ, **env), stderr=subprocess.PIPE, text=True)
                for _ in range(2)]
        said = [run.communicate(timeout=60)[1] for run in both]
        if sum('one at a time' in words for words in said) != 1:
            return f'two commands at once, pair {pair}: {said}'
    print(f'two commands at once: one at a time, {pairs} pairs of {pairs}')
    return ''


def listed_as_json(copy, env):
    """The tests listed as JSON: standard output is that alone, progress on standard error."""
    listed = subprocess.run(['bash', 'scripts/test.sh', '--show-only=json-v1', '-R',
                             'Dialog.NoNoteAfterTheStopPress'], cwd=copy, env=env,
                            capture_output=True, text=True, timeout=120)
    try:
        tests = json.loads(listed.stdout)['tests']
        names = [test['name'] for test in tests]
        fails_on = [p['value'] for t in tests for p in t.get('properties', [])
                    if p['name'] == 'FAIL_REGULAR_EXPRESSION']
    except (ValueError, KeyError, TypeError) as error:
        return f'test.sh --show-only=json-v1: {error!r}\n{listed.stdout[:500]}{listed.stderr}'
    if names != ['Dialog.NoNoteAfterTheStopPress']:
        return f'listed as JSON: {names}'
    # A Wine test fails where its program ran no test: one in #if 0 the sources still show.
    return '0 tests from 0 test suites ran' not in str(fails_on) and \
        f'a Wine test that runs no test passes: it fails only on {fails_on}'


def refused(temp):
    """A folder CMake or Ninja cannot build in: one sentence, exit 2, nothing written."""
    for character, named in ((';', "';'"), ('"', "'\"'"), ('\\', "'\\'"), ('#', "'#'"),
                             ('[', "'['"), (']', "']'"), ('<', "'<'"), ('>', "'>'"), ('|', "'|'"),
                             ('*', "'*'"), ('?', "'?'"), ('${x}', "'${'"), ('$ENV{x}', "'$ENV{'"), ('$(x)', "'$(x)'"),
                             ('\t', 'a tab'), ('\n', 'a line break')):
        folder = Path(temp) / 'refused' / f'a{character}b'
        shutil.copytree(source / 'scripts', folder / 'scripts')
        out = subprocess.run(['bash', 'scripts/fuzz.sh', '--seconds', '1'], cwd=folder,
                             capture_output=True, text=True, timeout=60)
        if out.returncode != 2 or f'holds {named}, in which' not in out.stderr or \
                os.listdir(folder) != ['scripts']:
            return f'a folder with {named}: {out.returncode} {out.stderr!r} {os.listdir(folder)}'
    return ''


def own_tmp(keep, var_tmp=None):
    """What starts a command with a /tmp of its own, keep (where it lies in /tmp) bound back into
    it from a descriptor opened before; and var_tmp, if given, bound on /var/tmp first."""
    bind = 'mount --bind "$1" /var/tmp && ' if var_tmp else ''
    return ['unshare', '--mount', 'sh', '-c', f'exec 3<"$0" && {bind}mount -t tmpfs tmpfs /tmp && '
            'case "$0" in /tmp/*) mkdir -p "$0" && mount --bind --no-canonicalize "/proc/$$/fd/3" '
            '"$0" ;; esac && shift && exec "$@" 3<&-', str(keep), str(var_tmp or '')]


def by_hand(copy, env, temp):
    """ctest typed by hand, outside any command, with a /tmp of its own where no command left its
    mark: the tests that need no Wine pass, each other fails with the sentence naming the
    command."""
    hand = subprocess.run([*(own_tmp(temp) if os.getuid() == 0 else []), 'ctest', '--preset',
                           'windows',
                           '-R', 'executable_contents|Dialog.OpensWithDefaults'], cwd=copy,
                          env=env, capture_output=True, text=True, timeout=120)
    print(f'ctest by hand: {hand.returncode}: {hand.stdout.strip().splitlines()[-1:]}')
    if hand.stdout.count(' Passed ') != 1 or 'wine-session: Wine runs only inside a command ' \
            'of this folder' not in hand.stdout:
        return f'ctest by hand:\n{hand.stdout}{hand.stderr}'
    # A filter that matches nothing, run (not listed), fails: a typo never passes.
    typo = subprocess.run(['ctest', '--preset', 'windows', '-R', 'Dailog'], cwd=copy, env=env,
                          capture_output=True, text=True, timeout=60)
    if typo.returncode != 8 or 'No tests were found' not in typo.stdout + typo.stderr:
        return f'ctest -R Dailog by hand: {typo.returncode}\n{typo.stdout}{typo.stderr}'
    return ''


def main():
    # In a /tmp of its own where it may make one (root, as in every command), the source kept in
    # view (a clone in /tmp): the Wine tests that run beside it make their sessions in the
    # command's /tmp, which it checks its own leave bare.
    # The stand-ins where the commands see them (they hide this /tmp) at a path without the
    # copy's ':', which would split PATH: the scratch folder, bound on /var/tmp in this mount
    # namespace alone, so that nothing is written in the machine's /var/tmp. A run cut short
    # leaves them in the build, removed by the next.
    if os.getuid() == 0 and not ARGS.own_tmp:
        shutil.rmtree(ARGS.scratch, ignore_errors=True)
        ARGS.scratch.mkdir(parents=True)
        os.execvp('unshare', [*own_tmp(source, ARGS.scratch), sys.executable, __file__,
                              *sys.argv[1:], '--own-tmp'])
    stand_ins = Path('/var/tmp') if ARGS.own_tmp else ARGS.scratch
    stand_ins.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory(prefix='metronome-run-') as temp:
        copy = Path(temp) / "ドラム (テスト) & it's $PATH" / "`bob`'s 100%! metronome: v2"
        while len(os.fsencode(copy)) <= 240:  # past MAX_PATH in Wine's Z: form, with build/...
            copy = copy / 'a rather long folder name'
        shutil.copytree(source, copy, symlinks=True, ignore=shutil.ignore_patterns('build'))
        # Its build/ a link to a folder elsewhere, as a user may keep it: the run command's build
        # (the resource compiler too) goes through it.
        (copy / 'build').symlink_to(Path(temp) / 'the copy\'s build', target_is_directory=True)
        (Path(temp) / 'the copy\'s build').mkdir()
        env = {k: v for k, v in os.environ.items()
               if k not in ('DISPLAY', 'WAYLAND_DISPLAY', 'PYTHONPATH')}
        env['TMPDIR'] = '/var/tmp'  # which Debian 13's Wine cannot start with
        decoy = Path(temp) / 'decoy'  # a CDPATH naming another folder with scripts/ first
        (decoy / 'scripts' / 'lib').mkdir(parents=True)
        env['CDPATH'] = f'{decoy}:.'
        fakes = Path(tempfile.mkdtemp(prefix='metronome-stand-ins-', dir=stand_ins))
        # A HOME that is not there: whatever a command writes in HOME makes it.
        home = fakes / 'a home that is not there'
        env['HOME'] = str(home)
        faults = [] if ARGS.only else [refused(temp)]
        try:
            ours, top = set(os.listdir('/tmp')), {*os.listdir(copy), 'build'}
            for case in cases(temp, fakes):
                if ARGS.only and ARGS.only not in case.what:
                    continue
                if case.unless:
                    print(f'{case.what}: left out: {case.unless}')
                    continue
                try:  # a case that cannot be set up, as an earlier one left the folder, fails
                    faults.append(play(case, copy, env))
                except (OSError, subprocess.SubprocessError) as error:
                    faults.append(f'{case.what}: {error!r}')
                new = set(os.listdir('/tmp')) - ours
                faults.append(new and f'{case.what} left in /tmp: {sorted(new)}')
                if home.exists():
                    faults.append(f'{case.what} wrote in HOME: {sorted(map(str, home.rglob("*")))}')
                    shutil.rmtree(home)
                ours |= new
                made = set(os.listdir(copy)) - top  # beside build/, nothing new in the folder
                faults.append(made and f'{case.what} left in the folder: {sorted(made)}')
            if not ARGS.only:
                faults.append(by_hand(copy, env, temp))
                faults.append(listed_as_json(copy, env))
                faults.append(at_once(temp, fakes))
        finally:
            # What a command wrote where the kernel should have refused it, whatever the row said.
            for folder in ('/etc', '/var/tmp'):
                try:
                    Path(folder, 'written-from-a-command').unlink()
                except OSError:  # not there, or read-only to this test too
                    pass
            for mounted in ('noexec', 'noexec-above', 'read-only'):
                subprocess.run(['umount', Path(temp) / mounted], capture_output=True)
            subprocess.run(['umount', fakes / 'mounted' / 'build' / 'inner'], capture_output=True)
            shutil.rmtree(fakes)
    faults = [f for f in faults if f]  # each case's fault, or '' where it held
    if faults:
        sys.exit('\n\n'.join(faults))


main()
