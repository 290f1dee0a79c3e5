// The fixture of every test that listens through the recording mapper: a log of its own, named
// after the test, fresh before it and gone after it.
#ifndef TESTS_WINE_FRESH_MIDI_LOG_H
#define TESTS_WINE_FRESH_MIDI_LOG_H

#include "midi_log.h"

#include <gtest/gtest.h>

#include <string>

class FreshMidiLog : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        log_ = UseFreshMidiLog(std::wstring(name.begin(), name.end()).c_str());
    }
    void TearDown() override {
        DeleteFileW(log_.c_str());
    }

    std::wstring log_;
};

#endif
