// What Windows itself reads from the built executable's version block: the file's properties.
#include "program_driver.h"

#include <gtest/gtest.h>

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
    EXPECT_EQ(fixed->dwFileOS, 0x00040004u);
    EXPECT_EQ(fixed->dwFileType, 1u);

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
    EXPECT_EQ(StringValue(block, L"InternalName"), L"<missing>");
    EXPECT_EQ(StringValue(block, L"Comments"), L"<missing>");
}

} // namespace
