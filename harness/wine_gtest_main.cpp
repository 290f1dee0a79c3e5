// The main of every GoogleTest program run under Wine. Its registration (tests/CMakeLists.txt,
// register_wine_test) hands it the session it asked the Wine session for, as arguments:
//   --session-lang=en|ja  --session-wow64=0|1  --session-prefix=plain|tests
//   --session-midi=recorder|none|wine
// and before any test runs it checks that the session it got is that one, as the process sees
// it: the system's language, WoW64, the prefix's added fonts and settings, and what stands
// behind the MIDI mapper. A test run in another session than it was written for could pass for
// the wrong reason; a mismatch fails the whole run with one line saying what was asked and what
// was found. A session argument missing, unknown or given twice fails the run too, so that a
// registration cannot leave one out. Other arguments are the tests' own (--stress-seconds=N).
#include <windows.h>
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

// What the recording mapper (midimap.cpp) calls itself.
const wchar_t kRecorderName[] = L"Recording MIDI output";

struct SessionArgument {
    const char *name;    // after --session-
    const char *choices; // the values it takes, separated by |
    std::string value;
};

// Reads the session arguments out of argv. Returns "" or what is wrong with them.
std::string ReadSession(int argc, char **argv, SessionArgument *arguments, size_t count) {
    const char kPrefix[] = "--session-";
    for (int i = 1; i < argc; ++i) {
        const char *text = argv[i];
        if (std::strncmp(text, kPrefix, sizeof(kPrefix) - 1) != 0) {
            continue;
        }
        const char *equals = std::strchr(text, '=');
        const std::string name(text + sizeof(kPrefix) - 1,
                               equals != nullptr ? equals : text + std::strlen(text));
        SessionArgument *argument = nullptr;
        for (size_t a = 0; a < count; ++a) {
            if (name == arguments[a].name) {
                argument = &arguments[a];
            }
        }
        if (argument == nullptr) {
            return std::string("no session argument ") + text;
        }
        const std::string value = equals != nullptr ? equals + 1 : "";
        const std::string choices = std::string("|") + argument->choices + "|";
        if (value.empty() || value.find('|') != std::string::npos ||
            choices.find("|" + value + "|") == std::string::npos) {
            return std::string(text) + ": --session-" + name + " takes " + argument->choices;
        }
        if (!argument->value.empty()) {
            return "--session-" + name + " is given twice";
        }
        argument->value = value;
    }
    for (size_t a = 0; a < count; ++a) {
        if (arguments[a].value.empty()) {
            return std::string("--session-") + arguments[a].name + "=" + arguments[a].choices +
                   " is not given: every run names the session its tests ask for";
        }
    }
    return "";
}

std::string Hex(unsigned long value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%04lx", value);
    return text;
}

// The system's language as the program sees it: the user interface language, the user's locale
// and the ANSI code page (which decides what the dialog's "System" font can draw).
std::string CheckLanguage(const std::string &want) {
    const bool english = want == "en";
    const LANGID ui = GetUserDefaultUILanguage();
    const LCID user = GetUserDefaultLCID();
    const UINT codePage = GetACP();
    const WORD primary = english ? LANG_ENGLISH : LANG_JAPANESE;
    if (PRIMARYLANGID(ui) == primary && PRIMARYLANGID(LANGIDFROMLCID(user)) == primary &&
        codePage == (english ? 1252u : 932u)) {
        return "";
    }
    return std::string("registered for ") +
           (english ? "an English system (--lang en_US.UTF-8)" : "a Japanese system (no --lang)") +
           ", and this one has user interface language " + Hex(ui) + ", user locale " + Hex(user) +
           ", code page " + std::to_string(codePage);
}

std::string CheckWow64(const std::string &want) {
    BOOL wow64 = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &wow64)) {
        return "IsWow64Process failed: " + std::to_string(GetLastError());
    }
    if ((want == "1") == (wow64 != FALSE)) {
        return "";
    }
    return want == "1" ? "registered for WoW64 (--wow64), and this process runs on a 32-bit Windows"
                       : "registered for a 32-bit Windows (no --wow64), and this process runs "
                         "under WoW64";
}

bool HasFont(const wchar_t *file) {
    wchar_t path[MAX_PATH];
    const UINT length = GetWindowsDirectoryW(path, MAX_PATH);
    if (length == 0 || length + 7 + std::wcslen(file) >= MAX_PATH) {
        return false;
    }
    std::wcscat(path, L"\\Fonts\\");
    std::wcscat(path, file);
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

bool HasValue(const wchar_t *key, const wchar_t *value) {
    HKEY opened = nullptr;
    // The 64-bit view under WoW64, where the session's reg.exe wrote (ignored on 32-bit Windows).
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &opened) !=
        ERROR_SUCCESS) {
        return false;
    }
    const bool has =
        RegQueryValueExW(opened, value, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(opened);
    return has;
}

// The fonts and settings the session adds to the tests' prefixes and leaves out of a plain one
// (wine-session.sh, customise_prefix); wineboot makes none of them.
std::string CheckPrefix(const std::string &want) {
    const struct {
        const char *name;
        bool has;
    } marks[] = {
        {"Fonts\\vgasys.fon", HasFont(L"vgasys.fon")},
        {"WineDbg ShowCrashDialog", HasValue(L"Software\\Wine\\WineDbg", L"ShowCrashDialog")},
        {"Fonts\\Replacements 'MS UI Gothic'",
         HasValue(L"Software\\Wine\\Fonts\\Replacements", L"MS UI Gothic")},
    };
    const bool plain = want == "plain";
    std::string wrong;
    for (const auto &mark : marks) {
        if (mark.has == plain) {
            wrong += wrong.empty() ? "" : ", ";
            wrong += mark.name;
        }
    }
    if (wrong.empty()) {
        return "";
    }
    return plain ? "registered for a prefix as wineboot makes it (--plain), and this one has the "
                   "tests' " +
                       wrong
                 : "registered for a prefix with the tests' fonts and settings (no --plain), "
                   "and this one lacks " +
                       wrong;
}

// What stands behind the MIDI mapper, as winmm answers for it: the recorder names itself. winmm is
// loaded here, from the system folder, only for that question: the tests of the portable logic
// (Wine's own mapper asked for, which they do not use) run without it, as they did before this
// check, for a short program that had winmm loaded has crashed Wine as it ended.
std::string CheckMidi(const std::string &want) {
    if (want == "wine") {
        return "";
    }
    wchar_t path[MAX_PATH];
    const UINT length = GetSystemDirectoryW(path, MAX_PATH - 16);
    if (length == 0 || length >= MAX_PATH - 16) {
        return "GetSystemDirectoryW failed";
    }
    std::wcscat(path, L"\\winmm.dll");
    const HMODULE winmm = LoadLibraryW(path);
    using GetCaps = MMRESULT(WINAPI *)(UINT_PTR, LPMIDIOUTCAPSW, UINT);
    using GetCount = UINT(WINAPI *)();
    // Through a plain function pointer: GetProcAddress's type fits no function in particular.
    const auto getCaps = reinterpret_cast<GetCaps>(reinterpret_cast<void (*)()>(
        winmm != nullptr ? GetProcAddress(winmm, "midiOutGetDevCapsW") : nullptr));
    const auto getCount = reinterpret_cast<GetCount>(reinterpret_cast<void (*)()>(
        winmm != nullptr ? GetProcAddress(winmm, "midiOutGetNumDevs") : nullptr));
    if (getCaps == nullptr || getCount == nullptr) {
        return "winmm.dll could not be loaded from the system folder";
    }
    MIDIOUTCAPSW caps;
    ZeroMemory(&caps, sizeof(caps));
    const MMRESULT result = getCaps(MIDI_MAPPER, &caps, sizeof(caps));
    const UINT outputs = getCount();
    const bool mapper = result == MMSYSERR_NOERROR;
    const bool recorder = mapper && std::wcscmp(caps.szPname, kRecorderName) == 0;
    const bool ok = want == "recorder" ? recorder : !mapper && outputs == 0;
    if (ok) {
        return "";
    }
    std::string found = "no MIDI mapper (midiOutGetDevCaps: " + std::to_string(result) + ")";
    if (mapper) {
        char name[3 * MAXPNAMELEN];
        WideCharToMultiByte(CP_UTF8, 0, caps.szPname, -1, name, sizeof(name), nullptr, nullptr);
        found = std::string("the MIDI mapper '") + name + "'";
    }
    found += " and " + std::to_string(outputs) + " MIDI output(s)";
    const char *asked = want == "recorder" ? "the recording MIDI mapper (--recorder)"
                                           : "no MIDI output (--no-midi)";
    return std::string("registered for ") + asked + ", and this session has " + found;
}

class SessionCheck : public ::testing::Environment {
  public:
    explicit SessionCheck(const SessionArgument *arguments) : arguments_(arguments) {}

    // A fatal failure here fails the run before any test starts.
    void SetUp() override {
        std::string (*const checks[])(const std::string &) = {CheckLanguage, CheckWow64,
                                                              CheckPrefix, CheckMidi};
        std::string wrong;
        for (size_t i = 0; i < sizeof(checks) / sizeof(checks[0]); ++i) {
            const std::string found = checks[i](arguments_[i].value);
            if (!found.empty()) {
                wrong += (wrong.empty() ? "session: " : "\nsession: ") + found;
            }
        }
        if (!wrong.empty()) {
            GTEST_FAIL() << wrong;
        }
    }

  private:
    const SessionArgument *arguments_;
};

} // namespace

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // In the order SessionCheck's checks take them.
    static SessionArgument arguments[] = {{"lang", "en|ja", ""},
                                          {"wow64", "0|1", ""},
                                          {"prefix", "plain|tests", ""},
                                          {"midi", "recorder|none|wine", ""}};
    const std::string wrong =
        ReadSession(argc, argv, arguments, sizeof(arguments) / sizeof(arguments[0]));
    if (!wrong.empty()) {
        std::printf("session: %s\n", wrong.c_str());
        return 1;
    }
    ::testing::AddGlobalTestEnvironment(new SessionCheck(arguments));
    return RUN_ALL_TESTS();
}
