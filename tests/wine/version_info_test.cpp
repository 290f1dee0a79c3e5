// What Windows itself reads from the built executable's version block: the file's properties.
// The one check of the version block. And the Windows version the tests run as.
#include "program_driver.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::vector<BYTE> VersionBlockOf(const std::wstring &path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    std::vector<BYTE> block(size);
    if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, block.data())) {
        block.clear();
    }
    return block;
}

std::wstring StringValue(std::vector<BYTE> &block, const std::wstring &key) {
    void *value = nullptr;
    UINT length = 0;
    const std::wstring query = L"\\StringFileInfo\\041103a4\\" + key;
    if (!VerQueryValueW(block.data(), query.c_str(), &value, &length) || length == 0) {
        return L"<missing>";
    }
    return std::wstring(static_cast<const wchar_t *>(value));
}

TEST(VersionInfo, WindowsReadsTheDescriptionAndVersions) {
    std::vector<BYTE> block = VersionBlockOf(ProgramFolder() + L"metronome.exe");
    ASSERT_FALSE(block.empty());

    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void **>(&fixed), &length));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00020000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00020000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    EXPECT_EQ(fixed->dwFileFlagsMask, 0u);
    EXPECT_EQ(fixed->dwFileFlags, 0u);
    EXPECT_EQ(fixed->dwFileOS, 0x00040004u);
    EXPECT_EQ(fixed->dwFileType, 1u);
    EXPECT_EQ(fixed->dwFileSubtype, 0u);
    EXPECT_EQ(fixed->dwFileDateMS, 0u);
    EXPECT_EQ(fixed->dwFileDateLS, 0u);

    WORD *translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void **>(&translation), &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0411);
    EXPECT_EQ(translation[1], 0x03A4);

    EXPECT_EQ(StringValue(block, L"FileDescription"), L"ドラム音色のメトロノーム");
    EXPECT_EQ(StringValue(block, L"FileVersion"), L"2,0,0,0");
    EXPECT_EQ(StringValue(block, L"ProductVersion"), L"2,0,0,0");
    EXPECT_EQ(StringValue(block, L"ProductName"), L"ぱたぽこりん");
    EXPECT_EQ(StringValue(block, L"OriginalFilename"), L"metronome.exe");
    for (const wchar_t *key : {L"CompanyName", L"LegalCopyright"}) {
        EXPECT_NE(StringValue(block, key), L"<missing>") << ::testing::PrintToString(key);
    }
    EXPECT_EQ(StringValue(block, L"InternalName"), L"<missing>");
    EXPECT_EQ(StringValue(block, L"Comments"), L"<missing>");
}

// The prefix's Windows, as the system's own version call reports it (GetVersionEx would report
// what a program without a compatibility manifest is told): Windows 7 in the 32-bit prefix and
// Windows 10 in the 64-bit one, where the program runs under WoW64.
TEST(VersionInfo, ThePrefixReportsTheWindowsItStandsFor) {
    typedef LONG(WINAPI * RtlGetVersionFn)(OSVERSIONINFOW *);
    const RtlGetVersionFn rtlGetVersion =
        reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void (*)()>(
            GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    ASSERT_NE(rtlGetVersion, nullptr);
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    ASSERT_EQ(rtlGetVersion(&version), 0);
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    std::printf("%s prefix: Windows %lu.%lu build %lu\n", wow64 ? "64-bit" : "32-bit",
                version.dwMajorVersion, version.dwMinorVersion, version.dwBuildNumber);
    if (wow64) {
        EXPECT_EQ(version.dwMajorVersion, 10u);
        EXPECT_EQ(version.dwMinorVersion, 0u);
    } else {
        EXPECT_EQ(version.dwMajorVersion, 6u);
        EXPECT_EQ(version.dwMinorVersion, 1u);
    }
}

} // namespace
