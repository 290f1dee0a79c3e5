#!/usr/bin/python3
"""The click as sound: renders what the program sent to the MIDI mapper, as the recording
mapper logged it, to a WAV file with FluidSynth; and finds the clicks in a WAV file again.

Usage: click_audio.py render LOG OUT.wav   the notes of LOG, at the times they were sent
       click_audio.py onsets IN.wav        the clicks heard in IN.wav: count and spacing
       click_audio.py soundfont            the sound font every rendering uses
"""
import os
import statistics
import struct
import subprocess
import sys
import tempfile
import wave

SOUNDFONT = '/usr/share/sounds/sf2/TimGM6mb.sf2'  # Debian's timgm6mb-soundfont


def read_log(path):
    """(microseconds, event, message) for every line of a recording mapper's log."""
    events = []
    with open(path) as log:
        for line in log:
            parts = line.split()
            if len(parts) >= 3:
                message = int(parts[3], 16) if len(parts) > 3 else 0
                events.append((int(parts[0]), parts[2], message))
    return events


def write_midi(notes, path, length_s=None):
    """A standard MIDI file of the Note On messages in notes, at one tick per millisecond from
    0.1 s before the first; each note is released 30 ms later, as a drum hit is."""
    ticks_per_quarter, tempo_us = 1000, 1000000
    start = notes[0][0] - 100000
    events = []
    for us, _, message in notes:
        if length_s is not None and us - start > length_s * 1e6:
            break
        status, key, velocity = message & 0xFF, (message >> 8) & 0x7F, (message >> 16) & 0x7F
        events.append(((us - start) // 1000, bytes([status, key, velocity])))
        events.append(((us - start) // 1000 + 30, bytes([0x80 | (status & 0x0F), key, 0])))
    events.sort(key=lambda e: e[0])
    track = bytearray(b'\x00\xff\x51\x03' + tempo_us.to_bytes(3, 'big'))
    last = 0
    for when, message in events:
        delta, last = when - last, when
        var = bytearray([delta & 0x7F])
        delta >>= 7
        while delta:
            var.insert(0, 0x80 | (delta & 0x7F))
            delta >>= 7
        track += var + message
    track += b'\x00\xff\x2f\x00'
    with open(path, 'wb') as f:
        f.write(b'MThd' + struct.pack('>IHHH', 6, 0, 1, ticks_per_quarter))
        f.write(b'MTrk' + struct.pack('>I', len(track)) + track)


def render(notes, wav, length_s=None, midi=None):
    """Renders the notes to wav with FluidSynth and the General MIDI sound font."""
    with tempfile.TemporaryDirectory() as temp:
        midi = midi or os.path.join(temp, 'click.mid')
        write_midi(notes, midi, length_s)
        # FluidSynth starts SDL's audio whatever it does, which reaches for PulseAudio and leaves
        # a link in the user's ~/.config/pulse; a file needs no sound output.
        subprocess.run(['fluidsynth', '-ni', '-q', '-g', '1.0', '-r', '22050', '-F', wav,
                        SOUNDFONT, midi], check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, env=dict(os.environ, SDL_AUDIODRIVER='dummy'))


def onsets(wav, frame_ms=2, lookback_ms=20):
    """Times in ms where a click starts: a frame much louder than the frames just before it.
    An open hi-hat still rings when the next beat comes, so loudness alone would not do."""
    with wave.open(wav) as w:
        rate, channels, width = w.getframerate(), w.getnchannels(), w.getsampwidth()
        if width != 2:
            raise ValueError(f'{wav}: expected 16-bit samples')
        samples = struct.unpack(f'<{w.getnframes() * channels}h', w.readframes(w.getnframes()))
    frame = rate * frame_ms // 1000 * channels
    energy = [sum(s * s for s in samples[i:i + frame]) / frame
              for i in range(0, len(samples) - frame + 1, frame)]
    if not energy or max(energy) == 0:
        return []
    floor = max(energy) * 0.01
    found, quiet_until = [], -1
    back = lookback_ms // frame_ms
    for i in range(back, len(energy)):
        before = max(energy[i - back:i])
        if i > quiet_until and energy[i] > floor and energy[i] > 4 * before:
            found.append(i * frame_ms)
            quiet_until = i + 50 // frame_ms  # one click per 50 ms at most
    return found


def main():
    command, args = (sys.argv[1], sys.argv[2:]) if len(sys.argv) > 1 else ('', [])
    if command == 'render' and len(args) == 2:
        notes = [e for e in read_log(args[0]) if e[1] == 'DATA']
        if not notes:
            sys.exit(f'{args[0]}: no notes were sent')
        render(notes, args[1])
        print(f'{args[1]}: {len(notes)} clicks')
    elif command == 'soundfont' and not args:
        print(SOUNDFONT)
    elif command == 'onsets' and len(args) == 1:
        times = onsets(args[0])
        gaps = [b - a for a, b in zip(times, times[1:])]
        print(f'{len(times)} clicks, median spacing {statistics.median(gaps) if gaps else 0} ms')
    else:
        sys.exit(__doc__)


if __name__ == '__main__':
    main()
