// Coverage-guided fuzzing of the field check: any sequence of wide characters, through
// ParseFieldNumber and CheckFieldValue for every field. The input's bytes are read as UTF-16
// code units, as the program's fields hold them on Windows.
#include "ui/settings_check.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

void Fail(const char *what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

// The value of a text made of ASCII digits alone, saturated well above any limit.
bool DigitsOnly(const std::wstring &text, uint64_t *value) {
    if (text.empty()) {
        return false;
    }
    uint64_t v = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') {
            return false;
        }
        v = v * 10 + static_cast<uint64_t>(c - L'0');
        if (v > 0xFFFFFFFFull) {
            v = 0xFFFFFFFFull;
        }
    }
    *value = v;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::wstring text;
    for (size_t i = 0; i + 1 < size; i += 2) {
        const wchar_t unit = static_cast<wchar_t>(data[i] | data[i + 1] << 8);
        if (unit == 0) {
            break; // the field's text ends at its terminating null
        }
        text.push_back(unit);
    }
    const int32_t code = ParseFieldNumber(text.c_str());
    if (!(code == kFieldOverflow || code == kFieldNotANumber ||
          (code >= 0 && code <= 2147483646))) {
        Fail("the code is an overflow, not a number or 0..2147483646");
    }
    uint64_t digits = 0;
    const bool plain = DigitsOnly(text, &digits);
    for (const FieldRule &rule : kFieldRules) {
        FieldCheck check;
        std::memset(&check, 0xA5, sizeof(check)); // nothing may be left over from before
        const int accepted = CheckFieldValue(&rule, code, &check);
        if (accepted != check.accepted || check.field != &rule) {
            Fail("the result names its field and agrees with the return value");
        }
        if (plain && (accepted == 1) != (digits >= 1 && digits <= rule.limit)) {
            Fail("a text of ASCII digits is accepted exactly when its value is in 1..limit");
        }
        if (!plain && accepted) {
            Fail("only plain decimal numbers are accepted");
        }
        if (accepted) {
            if (check.value < 1 || check.value > rule.limit || check.message[0] != L'\0') {
                Fail("an accepted value lies in 1..limit with no message");
            }
            continue;
        }
        const std::wstring message(check.message);
        wchar_t tooLarge[kFieldMessageCapacity];
        std::swprintf(tooLarge, kFieldMessageCapacity, rule.tooLargeFormat,
                      static_cast<int>(rule.limit));
        if (message != tooLarge && message != rule.zeroText) {
            Fail("a rejection carries one of the field's two texts");
        }
        if ((message == rule.zeroText) != (code == 0)) {
            Fail("the zero text is for zero alone");
        }
    }
    return 0;
}
