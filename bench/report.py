#!/usr/bin/python3
"""Turns the recorded runs into the timing report: <name>.md with the figures and
their ratios to the native ticker that ran in the same seconds, the quiet and loaded figures side
by side, PNG plots made with gnuplot, and a listening sample.

Usage: report.py --recorded FOLDER --seconds N [--name NAME] [--report-dir DIR] TEMPO...
FOLDER holds a folder per pass: quiet/, and loaded/ when the machine was kept busy. NAME (default
"benchmark") names the report and prefixes its plots. DIR is the folder the report goes to, its
plots and recordings in media/ below it (default: docs/).
"""
import argparse
import os
import statistics
import shutil
import subprocess
import sys
import datetime
import platform

# The harness's, found from here: no folder path in PYTHONPATH, which a ':' in it would split.
sys.dont_write_bytecode = True  # no __pycache__ left in the folder
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'harness'))
import click_audio  # noqa: E402

parser = argparse.ArgumentParser(prog='report.py', allow_abbrev=False)
parser.add_argument('--recorded', required=True, help='the recorded passes: quiet/, loaded/')
parser.add_argument('--seconds', required=True, type=int, help='the length of each series')
parser.add_argument('--name', default='benchmark', help='names the report and its plots')
parser.add_argument('--report-dir', default=os.path.join(
    os.path.dirname(os.path.abspath(__file__)), '..', 'docs'), help='where the report goes')
parser.add_argument('tempi', nargs='+', type=int, metavar='TEMPO')
ARGS = parser.parse_args()
DOCS = ARGS.report_dir
MEDIA = os.path.join(DOCS, 'media')  # plots and recordings, apart from the writing
NAME = ARGS.name


def fail(message):
    sys.exit(f'report: {message}')


def read_log(out, name, pass_='quiet'):
    """A series' log. A series that ran must have left one with notes in it: without, the
    report would quietly leave the series out."""
    path = os.path.join(out, pass_, name)
    if not os.path.exists(path):
        fail(f'{path} is missing: the series did not record (see the benchmark\'s output)')
    events = click_audio.read_log(path)
    if not any(kind == 'DATA' for _, kind, _ in events):
        fail(f'{path} holds no note: the series did not record')
    return events


def notes_of(events):
    return [us for us, kind, _ in events if kind == 'DATA']


def percentile(values, p):
    ordered = sorted(values)
    if not ordered:
        return float('nan')
    k = (len(ordered) - 1) * p / 100.0
    lo, hi = int(k), min(int(k) + 1, len(ordered) - 1)
    return ordered[lo] + (ordered[hi] - ordered[lo]) * (k - lo)


def figures(events, period_ms):
    """Inter-onset errors and drift, in milliseconds."""
    notes = notes_of(events)
    period = period_ms * 1000.0
    errors = [(b - a - period) / 1000.0 for a, b in zip(notes, notes[1:])]
    drift = [(t - (notes[0] + n * period)) / 1000.0 for n, t in enumerate(notes)]
    opens = [us for us, kind, _ in events if kind == 'OPEN']
    first = (notes[0] - opens[0]) / 1000.0 if notes and opens else float('nan')
    absolute = [abs(e) for e in errors]
    return {
        'ticks': len(notes),
        'errors': errors,
        'drift': drift,
        'median': percentile(absolute, 50),
        'p99': percentile(absolute, 99),
        'max': max(absolute) if absolute else float('nan'),
        'drift_max': max(abs(d) for d in drift) if drift else float('nan'),
        'drift_end': drift[-1] if drift else float('nan'),
        'first': first,
    }


def ratio(a, b):
    return f'{a / b:.2f}×' if b and b == b and a == a and b > 0 else '–'


def read_summary(out, pass_):
    summary = {'cpu': {}, 'stops': []}
    for line in open(os.path.join(out, pass_, 'clock_summary.txt')):
        kind, *values = line.split()
        if kind == 'cpu':  # cpu <series> <tempo> <nanoseconds> <wall microseconds>
            summary['cpu'][(values[0], int(values[1]))] = (int(values[2]), int(values[3]))
        elif kind == 'stop':  # stop 0 <microseconds>, one per stop of the series of stops
            summary['stops'].append(int(values[1]) / 1000.0)
    return summary


def main():
    out, seconds, tempi = ARGS.recorded, ARGS.seconds, ARGS.tempi
    os.makedirs(MEDIA, exist_ok=True)
    passes = [p for p in ('quiet', 'loaded') if os.path.isdir(os.path.join(out, p))]
    if 'quiet' not in passes:
        fail(f'{os.path.join(out, "quiet")} is missing: nothing was recorded')
    summaries = {p: read_summary(out, p) for p in passes}
    summary = summaries['quiet']

    # series[(pass, name, bpm)]: a Wine series; native[(pass, name, bpm)]: the native ticker that
    # ran beside it.
    series, native = {}, {}
    for pass_ in passes:
        for bpm in tempi:
            period = 36000 // bpm
            for name in ('program', 'floor', 'naive', 'e2e'):
                if name == 'e2e' and bpm != tempi[0]:
                    continue  # the end-to-end series runs at the first tempo only
                series[(pass_, name, bpm)] = figures(read_log(out, f'{name}-{bpm}.log', pass_), period)
                native[(pass_, name, bpm)] = figures(
                    read_log(out, f'native-{name}-{bpm}.log', pass_), period)

    lines = []
    recorded = os.path.getmtime(os.path.join(out, 'quiet', 'clock_summary.txt'))
    stamp = datetime.datetime.fromtimestamp(recorded, datetime.timezone.utc).strftime('%Y-%m-%d %H:%M UTC')
    cpu_model = 'unknown'
    for line in open('/proc/cpuinfo'):
        if line.startswith('model name'):
            cpu_model = line.split(':', 1)[1].strip()
            break
    wine = subprocess.run(['wine', '--version'], capture_output=True, text=True).stdout.strip()
    lines.append('# Timing report\n')
    lines.append(f'Measured {stamp} on {platform.node()}: {cpu_model}, {os.cpu_count()} cores, '
                 f'Linux {platform.release()}, {wine}. Runs of {seconds} s each; every note '
                 'timestamped by the recording MIDI mapper (QueryPerformanceCounter) as winmm '
                 'delivered it. Made by `scripts/bench.sh`.\n')
    lines.append('Series: **program** = the beat clock thread (periodic multimedia timer) under Wine; '
                 '**floor** = the least any program can do on the same timer: the same periodic timer and '
                 'one short message per beat, nothing else; '
                 '**e2e** = the real executable, started and stopped with Enter; **naive** = a '
                 '`Sleep(period)` loop under Wine; **native** = a Linux ticker sleeping to absolute '
                 'deadlines (`clock_nanosleep`, `TIMER_ABSTIME`), the best this machine does. Each Wine '
                 'series ran with a native ticker beside it, in the same seconds, and is divided by '
                 'that one; the native row is the ticker that ran beside the program.\n')
    lines.append('| tempo (period) | series | ticks | \\|error\\| median ms | p99 ms | max ms | '
                 'drift max ms | drift at end ms | first note ms | median ÷ native | p99 ÷ native |')
    lines.append('|---|---|---|---|---|---|---|---|---|---|---|')
    for bpm in tempi:
        period = 36000 // bpm
        for name in ('program', 'floor', 'e2e', 'naive', 'native'):
            if name == 'native':
                f, beside = native.get(('quiet', 'program', bpm)), None
            else:
                f, beside = series.get(('quiet', name, bpm)), native.get(('quiet', name, bpm))
            if f is None:
                continue
            lines.append(
                f'| {bpm} ({period} ms) | {name} | {f["ticks"]} | {f["median"]:.3f} | {f["p99"]:.3f} | '
                f'{f["max"]:.3f} | {f["drift_max"]:.3f} | {f["drift_end"]:+.3f} | '
                f'{f["first"]:.1f} | {ratio(f["median"], beside["median"]) if beside else "–"} | '
                f'{ratio(f["p99"], beside["p99"]) if beside else "–"} |')
    lines.append('')

    if 'loaded' in passes:
        lines.append('Quiet and loaded: the same runs again with both cores kept busy by '
                     '`stress-ng --cpu 2` (what a user sees while the machine compiles). '
                     '\\|inter-onset error\\| in ms.\n')
        lines.append('| tempo | series | quiet median | quiet p99 | quiet max | loaded median | '
                     'loaded p99 | loaded max | loaded max ÷ native beside it |')
        lines.append('|---|---|---|---|---|---|---|---|---|')
        for bpm in tempi:
            for name in ('program', 'e2e', 'native'):
                pick = (lambda p: native.get((p, 'program', bpm))) if name == 'native' else \
                    (lambda p: series.get((p, name, bpm)))
                q, l = pick('quiet'), pick('loaded')
                if q is None or l is None:
                    continue
                beside = native.get(('loaded', name, bpm)) if name != 'native' else None
                lines.append(f'| {bpm} | {name} | {q["median"]:.3f} | {q["p99"]:.3f} | {q["max"]:.3f} | '
                             f'{l["median"]:.3f} | {l["p99"]:.3f} | {l["max"]:.3f} | '
                             f'{ratio(l["max"], beside["max"]) if beside else "–"} |')
        loaded_stops = summaries['loaded']['stops']
        lines.append('')
        lines.append(f'Stops under load: median {statistics.median(loaded_stops):.1f} ms, maximum '
                     f'{max(loaded_stops):.1f} ms.\n')
    # The program set against the floor of its own platform: Wine's millisecond timer, which no
    # program on it can beat, rather than against Linux.
    lines.append('The program against the floor, the least any program can do on the same timer '
                 '(the same periodic timer, one short message per beat), in the same pass: '
                 '\\|inter-onset error\\| in ms, and program ÷ floor.\n')
    lines.append('| tempo | pass | program median | floor median | ÷ | program p99 | floor p99 | ÷ | '
                 'program max | floor max | ÷ |')
    lines.append('|---|---|---|---|---|---|---|---|---|---|---|')
    for bpm in tempi:
        for pass_ in passes:
            p, f = series[(pass_, 'program', bpm)], series[(pass_, 'floor', bpm)]
            cells = ' | '.join(f'{p[k]:.3f} | {f[k]:.3f} | {ratio(p[k], f[k])}'
                               for k in ('median', 'p99', 'max'))
            lines.append(f'| {bpm} | {pass_} | {cells} |')
    lines.append('')
    stops_ms = summary['stops']
    lines.append(f'Stop latency (clearing the flag to the end of the clock thread), {len(stops_ms)} stops: '
                 f'median {statistics.median(stops_ms):.1f} ms, maximum {max(stops_ms):.1f} ms.\n')
    keys = os.path.join(out, 'quiet', f'e2e-{tempi[0]}-keys.txt')
    if os.path.exists(keys):
        k = dict(line.split() for line in open(keys))
        events = read_log(out, f'e2e-{tempi[0]}.log')
        close = [us for us, kind, _ in events if kind == 'CLOSE']
        if close:
            lines.append(f'End to end: from the stop key press to the MIDI output closed: '
                         f'{(close[-1] - int(k["stop"])) / 1000.0:.1f} ms; exit code {k["exit"]}.\n')
    lines.append('Processor time while playing, every thread of the process under Wine, as Linux '
                 'counts it (schedstat, in nanoseconds), over the steady state after the first '
                 'second; **floor** = the least any program can do: the same periodic timer and '
                 'one short message per beat, nothing else, in the same prefix.\n')
    lines.append('| tempo | program | floor | program, per minute | floor, per minute |')
    lines.append('|---|---|---|---|---|')
    for bpm in tempi:
        cells = []
        for kind in ('program', 'floor'):
            if (kind, bpm) in summary['cpu'] and summary['cpu'][(kind, bpm)][0] >= 0:
                cpu, wall = summary['cpu'][(kind, bpm)]
                cells.append((f'{cpu / 1e6:.1f} ms in {wall / 1e6:.0f} s',
                              f'{cpu / 1e6 / (wall / 60e6):.1f} ms'))
            else:
                cells.append(('–', '–'))
        lines.append(f'| {bpm} | {cells[0][0]} | {cells[1][0]} | {cells[0][1]} | {cells[1][1]} |')
    lines.append('')

    # Plots: inter-onset error over time and its histogram, per tempo, every series.
    for bpm in tempi:
        data_files = []
        for name in ('program', 'naive', 'native', 'e2e'):
            f = native.get(('quiet', 'program', bpm)) if name == 'native' else \
                series.get(('quiet', name, bpm))
            if f is None:
                continue
            path = os.path.join(out, f'errors-{name}-{bpm}.dat')
            with open(path, 'w') as d:
                for i, e in enumerate(f['errors']):
                    d.write(f'{i} {e:.4f}\n')
            data_files.append((name, os.path.basename(path)))
        over = os.path.join(MEDIA, f'{NAME}-errors-{bpm}.png')
        hist = os.path.join(MEDIA, f'{NAME}-histogram-{bpm}.png')
        plot = ['set terminal pngcairo size 900,360 font "sans,10"' if subprocess.run(
            ['gnuplot', '-e', 'set terminal pngcairo'], capture_output=True).returncode == 0
            else 'set terminal png size 900,360',
            'set output "errors.png"',
            f'set title "Inter-onset error at {bpm} BPM ({36000 // bpm} ms)"',
            'set xlabel "tick"', 'set ylabel "error (ms)"', 'set grid', 'set key outside',
            'plot ' + ', '.join(f'"{p}" using 1:2 with lines title "{n}"' for n, p in data_files),
            'set output "histogram.png"',
            f'set title "Inter-onset error histogram at {bpm} BPM (bins of 0.05 ms)"',
            'set xlabel "error (ms)"', 'set ylabel "ticks"', 'binwidth=0.05',
            'bin(x)=binwidth*floor(x/binwidth)+binwidth/2', 'set boxwidth binwidth',
            'set style fill transparent solid 0.5',
            'set xrange [-2:2]',
            'plot ' + ', '.join(f'"{p}" using (bin($2)):(1.0) smooth freq with boxes title "{n}"'
                                for n, p in data_files)]
        # gnuplot runs what stands between backticks, in quoted names too: it is given only the
        # plain names of files in its working folder, never a path that a user's folder is in.
        subprocess.run(['gnuplot'], input='\n'.join(plot), text=True, check=True, cwd=out)
        shutil.move(os.path.join(out, 'errors.png'), over)
        shutil.move(os.path.join(out, 'histogram.png'), hist)
        lines.append(f'![errors at {bpm}](media/{NAME}-errors-{bpm}.png)\n')
        lines.append(f'![histogram at {bpm}](media/{NAME}-histogram-{bpm}.png)\n')


    # Listening sample: the first seconds of the program at the last tempo, as a standard MIDI
    # file rendered with FluidSynth.
    sample_events = [e for e in read_log(out, f'program-{tempi[-1]}.log') if e[1] == 'DATA']
    if sample_events and os.path.exists(click_audio.SOUNDFONT) and NAME == 'benchmark':
        midi = os.path.join(MEDIA, 'listening-sample.mid')
        wav = os.path.join(MEDIA, 'listening-sample.wav')
        click_audio.render(sample_events, wav, length_s=8, midi=midi)
        lines.append(f'Listening sample: [listening-sample.wav](media/listening-sample.wav) — eight seconds '
                     f'of the program at {tempi[-1]} BPM as recorded, rendered with FluidSynth and '
                     'the TimGM6mb General MIDI sound font (open hi-hat on the first beat, closed on '
                     'the others); the recording as a standard MIDI file: '
                     '[listening-sample.mid](media/listening-sample.mid).\n')

    with open(os.path.join(DOCS, f'{NAME}.md'), 'w') as f:
        f.write('\n'.join(lines) + '\n')
    print('\n'.join(lines[:40]))


if __name__ == '__main__':
    main()
