#include "midi_log.h"

#include <cstdio>
#include <fstream>
#include <sstream>

void UseMidiLog(const std::wstring &path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    SetEnvironmentVariableW(L"METRONOME_MIDI_LOG", path.c_str());
}

std::wstring UseFreshMidiLog(const wchar_t *name) {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    const std::wstring path = std::wstring(folder) + L"midirec-" + name + L"-" +
                              std::to_wstring(GetCurrentProcessId()) + L".log";
    UseMidiLog(path);
    return path;
}

std::vector<MidiEvent> ReadMidiLog(const std::wstring &path) {
    std::vector<MidiEvent> events;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return events;
    }
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        text.append(buffer, got);
    }
    CloseHandle(file);
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        MidiEvent event;
        fields >> event.us >> event.pid >> event.kind;
        if (event.kind == "DATA") {
            std::string hex;
            fields >> hex;
            event.data = static_cast<uint32_t>(std::stoul(hex, nullptr, 16));
        }
        if (!event.kind.empty()) {
            events.push_back(event);
        }
    }
    return events;
}

std::vector<MidiEvent> NotesOf(const std::vector<MidiEvent> &events) {
    std::vector<MidiEvent> notes;
    for (const MidiEvent &e : events) {
        if (e.kind == "DATA") {
            notes.push_back(e);
        }
    }
    return notes;
}

std::string CheckSessions(const std::vector<MidiEvent> &events, size_t *sessions) {
    enum { Closed, Open, Reset } state = Closed;
    size_t count = 0;
    for (size_t i = 0; i < events.size(); ++i) {
        const std::string &kind = events[i].kind;
        const std::string where = " at event " + std::to_string(i);
        if (kind == "OPEN") {
            if (state != Closed) {
                return "OPEN while a session is open" + where;
            }
            state = Open;
            ++count;
        } else if (kind == "DATA") {
            if (state == Reset) {
                return "note after RESET" + where;
            }
            if (state == Closed) {
                return "note with the output closed" + where;
            }
        } else if (kind == "RESET") {
            if (state == Closed) {
                return "RESET with the output closed" + where;
            }
            state = Reset;
        } else if (kind == "CLOSE") {
            if (state != Reset) {
                return "CLOSE without a RESET before it" + where;
            }
            state = Closed;
        }
    }
    if (state != Closed) {
        return "the last session was not closed";
    }
    if (sessions != nullptr) {
        *sessions = count;
    }
    return "";
}
