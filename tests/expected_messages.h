// What a user should see and hear, written out here so that a typo in the program's own tables
// cannot hide behind a copy of them: the warnings, built from their pieces, and the key of a
// note.
#ifndef TESTS_EXPECTED_MESSAGES_H
#define TESTS_EXPECTED_MESSAGES_H

#include <cstdint>
#include <string>

// The key of a packed short MIDI message (its second byte).
inline int KeyOf(uint32_t message) {
    return static_cast<int>((message >> 8) & 0xFF);
}

namespace expected {

inline std::wstring TooLarge(const std::wstring &name, const std::wstring &limit) {
    return name + L"の値が大きすぎます。" + L"\n" + limit + L"以下の数値を入力して下さい。";
}

inline std::wstring Zero(const std::wstring &name) {
    return name + L"には1以上の数値を設定して下さい。";
}

// The fields' names in the messages; the parentheses are full-width (U+FF08, U+FF09).
const std::wstring kBpm = L"BPM";
const std::wstring kBeats = L"拍子\xFF08拍数\xFF09";
const std::wstring kNote = L"拍子\xFF08音価\xFF09";

} // namespace expected

#endif
