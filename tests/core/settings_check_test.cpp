#include "ui/settings_check.h"

#include "../expected_messages.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace expected;

struct ParseCase {
    const wchar_t *text;
    int32_t code;
};

TEST(ParseFieldNumber, TurnsTextIntoItsCode) {
    const ParseCase cases[] = {
        {L"", kFieldNotANumber},
        {L"0", 0},
        {L"00", 0},
        {L"1", 1},
        {L"0090", 90},
        {L"1000", 1000},
        {L"2147483646", 2147483646},
        {L"2147483647", kFieldOverflow},
        {L"2147483648", kFieldOverflow},
        {L"4294967296", kFieldOverflow},  // would wrap to 0 in 32 bits
        {L"4294967386", kFieldOverflow},  // would wrap to 90
        {L"99999999999", kFieldOverflow}, // eleven digits
        {L"00000000090", 90},             // eleven digits with leading zeros
        {L"0000000000000000000000001000", 1000},
        {L"00000000002147483647", kFieldOverflow},
        {L"123456789012345678901234567890", kFieldOverflow},
        {L"+90", kFieldNotANumber},
        {L"-1", kFieldNotANumber},
        {L" 90", kFieldNotANumber},
        {L"90 ", kFieldNotANumber},
        {L"9 0", kFieldNotANumber},
        {L"90.0", kFieldNotANumber},
        {L"\t1", kFieldNotANumber},
        {L"\xFF19\xFF10", kFieldNotANumber}, // full-width 90
        {L"\x0660", kFieldNotANumber},       // Arabic-Indic zero
        {L"1e3", kFieldNotANumber},
        {L"0x10", kFieldNotANumber},
        {L"/", kFieldNotANumber}, // just below '0'
        {L":", kFieldNotANumber}, // just above '9'
    };
    for (const ParseCase &c : cases) {
        EXPECT_EQ(ParseFieldNumber(c.text), c.code) << "text: " << ::testing::PrintToString(c.text);
    }
}

TEST(ParseFieldNumber, NullTextIsNotANumber) {
    EXPECT_EQ(ParseFieldNumber(nullptr), kFieldNotANumber);
}

struct FieldCase {
    const FieldRule *rule;
    const wchar_t *text;
    int accepted;
    uint32_t value;
    std::wstring message;
};

// Two warnings spelled out as code points, apart from how any source file is encoded: the
// full-width parentheses (U+FF08, U+FF09) and the line feed before the limit.
const wchar_t kBeatsTooLarge20[] = {
    0x62CD, 0x5B50, 0xFF08, 0x62CD, 0x6570, 0xFF09, 0x306E, 0x5024, 0x304C, 0x5927, 0x304D, 0x3059,
    0x304E, 0x307E, 0x3059, 0x3002, 0x000A, L'2',   L'0',   0x4EE5, 0x4E0B, 0x306E, 0x6570, 0x5024,
    0x3092, 0x5165, 0x529B, 0x3057, 0x3066, 0x4E0B, 0x3055, 0x3044, 0x3002, 0};
const wchar_t kNoteZero[] = {0x62CD, 0x5B50, 0xFF08, 0x97F3, 0x4FA1, 0xFF09, 0x306B, 0x306F,
                             L'1',   0x4EE5, 0x4E0A, 0x306E, 0x6570, 0x5024, 0x3092, 0x8A2D,
                             0x5B9A, 0x3057, 0x3066, 0x4E0B, 0x3055, 0x3044, 0x3002, 0};

// Every field: accepted up to its limit, the next value too large whatever its size (up to the
// overflow code and beyond), zero refused, anything but plain ASCII digits too large.
TEST(CheckFieldValue, AcceptsOrRejectsWithTheExactMessage) {
    const FieldRule *bpm = &kFieldRules[0];
    const FieldRule *beats = &kFieldRules[1];
    const FieldRule *note = &kFieldRules[2];
    const FieldCase cases[] = {
        {bpm, L"1", 1, 1, L""},
        {bpm, L"0001", 1, 1, L""},
        {bpm, L"90", 1, 90, L""},
        {bpm, L"1000", 1, 1000, L""},
        {bpm, L"00000000090", 1, 90, L""},
        {bpm, L"1001", 0, 0, TooLarge(kBpm, L"1000")},
        {bpm, L"0", 0, 0, Zero(kBpm)},
        {bpm, L"00", 0, 0, Zero(kBpm)},
        {bpm, L"", 0, 0, TooLarge(kBpm, L"1000")},
        {bpm, L"-5", 0, 0, TooLarge(kBpm, L"1000")},
        {bpm, L" 90", 0, 0, TooLarge(kBpm, L"1000")},
        {bpm, L"9.5", 0, 0, TooLarge(kBpm, L"1000")},
        {bpm, L"\xFF19\xFF10", 0, 0, TooLarge(kBpm, L"1000")},
        {bpm, L"2147483646", 0, 0, TooLarge(kBpm, L"1000")},
        {bpm, L"2147483647", 0, 0, TooLarge(kBpm, L"1000")},
        {bpm, L"2147483648", 0, 0, TooLarge(kBpm, L"1000")},
        {bpm, L"99999999999", 0, 0, TooLarge(kBpm, L"1000")},
        {beats, L"1", 1, 1, L""},
        {beats, L"20", 1, 20, L""},
        {beats, L"020", 1, 20, L""},
        {beats, L"21", 0, 0, kBeatsTooLarge20},
        {beats, L"0", 0, 0, Zero(kBeats)},
        {beats, L"00", 0, 0, Zero(kBeats)},
        {beats, L"", 0, 0, TooLarge(kBeats, L"20")},
        {beats, L"+4", 0, 0, TooLarge(kBeats, L"20")},
        {beats, L"4 ", 0, 0, TooLarge(kBeats, L"20")},
        {beats, L"4294967300", 0, 0, TooLarge(kBeats, L"20")}, // 4 after a 32-bit wrap
        {beats, L"2147483646", 0, 0, TooLarge(kBeats, L"20")},
        {beats, L"2147483647", 0, 0, TooLarge(kBeats, L"20")},
        {note, L"1", 1, 1, L""},
        {note, L"20", 1, 20, L""},
        {note, L"21", 0, 0, TooLarge(kNote, L"20")},
        {note, L"0", 0, 0, kNoteZero},
        {note, L"00", 0, 0, Zero(kNote)},
        {note, L"", 0, 0, TooLarge(kNote, L"20")},
        {note, L"4.0", 0, 0, TooLarge(kNote, L"20")},
        {note, L"00000000004", 1, 4, L""},
        {note, L"2147483646", 0, 0, TooLarge(kNote, L"20")},
        {note, L"2147483647", 0, 0, TooLarge(kNote, L"20")},
    };
    for (const FieldCase &c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.text) + " in field " +
                     std::to_string(c.rule->controlId));
        FieldCheck check;
        const int result = CheckFieldValue(c.rule, ParseFieldNumber(c.text), &check);
        EXPECT_EQ(result, c.accepted);
        EXPECT_EQ(check.accepted, c.accepted);
        EXPECT_EQ(check.value, c.value);
        EXPECT_EQ(check.field, c.rule);
        EXPECT_EQ(std::wstring(check.message), c.message);
    }
}

// A screen reader names each field as its warnings do.
TEST(FieldRule, NamesAreThoseTheWarningsUse) {
    const std::wstring names[] = {L"BPM", L"拍子（拍数）", L"拍子（音価）"};
    for (size_t i = 0; i < kFieldCount; ++i) {
        const FieldRule &rule = kFieldRules[i];
        EXPECT_EQ(rule.name, names[i]);
        EXPECT_EQ(std::wstring(rule.tooLargeFormat).rfind(rule.name, 0), 0u) << i;
        EXPECT_EQ(std::wstring(rule.zeroText).rfind(rule.name, 0), 0u) << i;
    }
}

} // namespace
