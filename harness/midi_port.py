#!/usr/bin/python3
"""Finds the ALSA sequencer port the click should go to, and the name Wine gives it.

Usage: midi_port.py [WANT]

WANT is an ALSA address (128:0, or a client number) or part of a client or port name. Without
it, the first port of a software General MIDI synthesiser (FluidSynth, TiMidity) is taken;
"Midi Through" and other plain ports never are, since they make no sound. Prints
"ADDRESS<tab>CLIENT<tab>PORT<tab>WINE NAME" and exits 0, or exits 1 when there is none.

Wine's ALSA driver names a MIDI output "<client> - <port>" when that fits in its 31
characters, else by the port name alone, cut to 31 (winealsa.drv, alsamidi.c: port_add). Its
MIDI mapper then sends to the output of that name when the registry names it.
"""
import re
import subprocess
import sys

SYNTHESISERS = ('FLUID Synth', 'TiMidity')
WINE_NAME_LENGTH = 31  # MAXPNAMELEN less the terminating null


def writable_ports():
    """(address, client name, port name) of every port that can be written to."""
    listing = subprocess.run(['aconnect', '-o'], capture_output=True, text=True).stdout
    ports, client, client_name = [], None, None
    for line in listing.splitlines():
        heading = re.match(r"client (\d+): '(.*)' \[", line)
        port = re.match(r"\s+(\d+) '(.*)'", line)
        if heading:
            client, client_name = heading.group(1), heading.group(2)
        elif port and client is not None:
            ports.append((f'{client}:{port.group(1)}', client_name, port.group(2)))
    return ports


def wine_name(client, port):
    # Wine counts bytes, as ALSA hands them over.
    if len(client.encode()) + len(port.encode()) + 3 < WINE_NAME_LENGTH + 1:
        return f'{client} - {port}'
    return port.encode()[:WINE_NAME_LENGTH].decode(errors='ignore')


def choose(ports, want):
    for address, client, port in ports:
        if want:
            if want in (address, address.split(':')[0]) or want in client or want in port:
                return address, client, port
        elif client.startswith(SYNTHESISERS):
            return address, client, port
    return None


def main():
    found = choose(writable_ports(), sys.argv[1] if len(sys.argv) > 1 else '')
    if not found:
        sys.exit(1)
    print('\t'.join(found + (wine_name(found[1], found[2]),)))


if __name__ == '__main__':
    main()
