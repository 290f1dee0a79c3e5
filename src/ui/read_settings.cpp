#include "ui/read_settings.h"

#include "common/globals.h"
#include "ui/settings_check.h"

#include <cstdlib>

int ReadNumberField(HWND dialog, int controlId) {
    HWND field = GetDlgItem(dialog, controlId);
    if (field == nullptr) {
        return kFieldNotANumber;
    }
    const int length = GetWindowTextLengthW(field);
    if (length <= 0) {
        return kFieldNotANumber;
    }
    const size_t capacity = static_cast<size_t>(length) + 1;
    wchar_t *text = static_cast<wchar_t *>(std::malloc(capacity * sizeof(wchar_t)));
    if (text == nullptr) {
        return kFieldNotANumber;
    }
    text[0] = L'\0';
    GetWindowTextW(field, text, length + 1);
    const int code = ParseFieldNumber(text);
    std::free(text);
    return code;
}

int ReadSettings(HWND dialog, TempoSettings *settings) {
    uint32_t values[kFieldCount] = {0, 0, 0};
    for (size_t i = 0; i < kFieldCount; ++i) {
        const FieldRule *rule = &kFieldRules[i];
        FieldCheck check;
        if (!CheckFieldValue(rule, ReadNumberField(dialog, rule->controlId), &check)) {
            MessageBoxW(dialog, check.message, PROGRAM_TITLE, MB_OK | MB_ICONWARNING);
            SetFocus(GetDlgItem(dialog, rule->controlId));
            SetDlgItemTextW(dialog, rule->controlId, rule->defaultText);
            return 0;
        }
        values[i] = check.value;
    }
    settings->bpm = values[0];
    settings->beats = values[1];
    settings->noteValue = values[2];
    return 1;
}
