// Reading what the recording MIDI mapper logged (see midimap.cpp).
#ifndef HARNESS_MIDI_LOG_H
#define HARNESS_MIDI_LOG_H

#include <windows.h>

#include "microseconds.h"

#include <cstdint>
#include <string>
#include <vector>

struct MidiEvent {
    long long us = 0;      // QueryPerformanceCounter time in microseconds
    unsigned long pid = 0; // process that sent it
    std::string kind;      // OPEN, DATA, RESET or CLOSE
    uint32_t data = 0;     // the short message, for DATA
};

// Makes the recorder log into path, from now on, for this process and the programs it starts:
// an empty file, and METRONOME_MIDI_LOG pointing at it.
void UseMidiLog(const std::wstring &path);

// A fresh log in the temporary folder, named after name and this process; returns its path.
std::wstring UseFreshMidiLog(const wchar_t *name);

std::vector<MidiEvent> ReadMidiLog(const std::wstring &path);

// The DATA events only.
std::vector<MidiEvent> NotesOf(const std::vector<MidiEvent> &events);

// Checks that the events form whole sessions: OPEN, notes, RESET, CLOSE, with no note outside
// an open session and none after a reset. Returns an empty string or what is wrong.
std::string CheckSessions(const std::vector<MidiEvent> &events, size_t *sessions);

#endif
