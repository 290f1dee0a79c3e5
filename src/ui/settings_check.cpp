#include "ui/settings_check.h"

#include "res/resource_ids.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

namespace {

// Writes the too-large warning: the template with the limit filled in, always terminated.
void FormatTooLarge(wchar_t *out, const wchar_t *format, uint32_t limit) {
#ifdef _WIN32
    // msvcrt's own bounded formatter: the standard name would link the toolchain's portable
    // printf into the program. It leaves the text unterminated when it fills the buffer.
    _snwprintf(out, kFieldMessageCapacity - 1, format, static_cast<int>(limit));
    out[kFieldMessageCapacity - 1] = L'\0';
#else
    std::swprintf(out, kFieldMessageCapacity, format, static_cast<int>(limit));
#endif
}

// Copies a fixed warning, cut to the buffer and always terminated. Measured and copied by the C
// library in so many words: a newer compiler turns the plain loop into these very calls, and what
// the program imports should not depend on the compiler's version.
void CopyMessage(wchar_t *out, const wchar_t *text) {
    const size_t length = std::min<size_t>(std::wcslen(text), kFieldMessageCapacity - 1);
    std::memcpy(out, text, length * sizeof(wchar_t));
    out[length] = L'\0';
}

} // namespace

const FieldRule kFieldRules[kFieldCount] = {
    {IDC_EDIT_BPM, L"BPM", 1000, L"90", L"BPMの値が大きすぎます。\n%d以下の数値を入力して下さい。",
     L"BPMには1以上の数値を設定して下さい。"},
    {IDC_EDIT_BEATS, L"拍子（拍数）", 20, L"4",
     L"拍子（拍数）の値が大きすぎます。\n%d以下の数値を入力して下さい。",
     L"拍子（拍数）には1以上の数値を設定して下さい。"},
    {IDC_EDIT_NOTE, L"拍子（音価）", 20, L"4",
     L"拍子（音価）の値が大きすぎます。\n%d以下の数値を入力して下さい。",
     L"拍子（音価）には1以上の数値を設定して下さい。"},
};

int32_t ParseFieldNumber(const wchar_t *text) {
    const int64_t kSaturated = 2147483647;
    if (text == nullptr || text[0] == L'\0') {
        return kFieldNotANumber;
    }
    int64_t value = 0;
    for (const wchar_t *p = text; *p != L'\0'; ++p) {
        if (*p < L'0' || *p > L'9') {
            return kFieldNotANumber;
        }
        // Saturate rather than wrap, however many digits follow.
        value = value * 10 + (*p - L'0');
        if (value > kSaturated) {
            value = kSaturated;
        }
    }
    if (value == kSaturated) {
        return kFieldOverflow;
    }
    return static_cast<int32_t>(value);
}

bool CheckFieldValue(const FieldRule *field, int32_t code, FieldCheck *result) {
    result->field = field;
    result->value = 0;
    result->message[0] = L'\0';
    // A negative code taken as unsigned exceeds every limit: text that is not a number gets the
    // same message as a number that is too large.
    if (code == kFieldOverflow || static_cast<uint32_t>(code) > field->limit) {
        FormatTooLarge(result->message, field->tooLargeFormat, field->limit);
        result->accepted = false;
        return false;
    }
    if (code == 0) {
        CopyMessage(result->message, field->zeroText);
        result->accepted = false;
        return false;
    }
    result->value = static_cast<uint32_t>(code);
    result->accepted = true;
    return true;
}
