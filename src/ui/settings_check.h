// What makes the text of an entry field an acceptable tempo or time signature, and the warning
// shown when it is not. Needs nothing of the platform.
#ifndef UI_SETTINGS_CHECK_H
#define UI_SETTINGS_CHECK_H

#include <cstddef>
#include <cstdint>

// Number codes besides a field's value (0..2147483646).
const int32_t kFieldNotANumber = -1;
const int32_t kFieldOverflow = -2;

struct FieldRule {
    int controlId;
    const wchar_t *name; // as the warnings name the field; also its name for a screen reader
    uint32_t limit;
    const wchar_t *defaultText;
    const wchar_t *tooLargeFormat; // one %d: the limit
    const wchar_t *zeroText;
};

// The three fields in the order they are checked: tempo, beats per bar, note value.
const size_t kFieldCount = 3;
extern const FieldRule kFieldRules[kFieldCount];

// Room for the longest message with any 32-bit limit, and then some.
const size_t kFieldMessageCapacity = 128;

struct FieldCheck {
    bool accepted;                          // value holds the field's value; else rejected
    uint32_t value;                         // 1..limit when accepted
    const FieldRule *field;                 // the field checked: its control and default text
    wchar_t message[kFieldMessageCapacity]; // the warning when rejected, else empty
};

// The number code of a field's text: its value, kFieldNotANumber for anything but ASCII
// digits (or an empty or null text), kFieldOverflow for 2147483647 and beyond.
int32_t ParseFieldNumber(const wchar_t *text);

// Accepts the code as the field's value or fills in the rejection. Returns result->accepted.
bool CheckFieldValue(const FieldRule *field, int32_t code, FieldCheck *result);

#endif
