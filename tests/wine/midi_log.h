// Reading what the recording MIDI mapper logged (see tests/midirec/midimap.cpp).
#ifndef TESTS_WINE_MIDI_LOG_H
#define TESTS_WINE_MIDI_LOG_H

#include <windows.h>

#include "../midirec/microseconds.h"

#include <cstdint>
#include <string>
#include <vector>

struct MidiEvent {
    long long us = 0;      // QueryPerformanceCounter time in microseconds
    unsigned long pid = 0; // process that sent it
    std::string kind;      // OPEN, DATA, RESET or CLOSE
    uint32_t data = 0;     // the short message, for DATA
};

// A fresh, empty log file in the temporary folder, and MIDIREC_LOG pointing at it so that this
// process and the programs it starts record into it.
std::wstring UseFreshMidiLog(const wchar_t *name);

std::vector<MidiEvent> ReadMidiLog(const std::wstring &path);

// The DATA events only.
std::vector<MidiEvent> NotesOf(const std::vector<MidiEvent> &events);

inline int KeyOf(const MidiEvent &note) {
    return static_cast<int>((note.data >> 8) & 0xFF);
}

// Checks that the events form whole sessions: OPEN, notes, RESET, CLOSE, with no note outside
// an open session and none after a reset. Returns an empty string or what is wrong.
std::string CheckSessions(const std::vector<MidiEvent> &events, size_t *sessions);

#endif
