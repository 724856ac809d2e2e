#include "Updater/Service/Version.h"

#include "System/Platform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using OV::Updater::Service::GetFileProductVersion;

namespace
{

struct VersionNumbers
{
    WORD product[4];
    WORD file[4];
};

// A VS_VERSIONINFO block holding only the fixed file information.
std::vector<BYTE> BuildVersionResource(const VersionNumbers& numbers)
{
    static const wchar_t kKey[] = L"VS_VERSION_INFO";
    const std::size_t keyBytes = sizeof(kKey);                        // with the terminator
    const std::size_t valueAt = (6 + keyBytes + 3) & ~std::size_t(3); // 32-bit aligned
    std::vector<BYTE> block(valueAt + sizeof(VS_FIXEDFILEINFO), 0);
    const WORD length = static_cast<WORD>(block.size());
    const WORD valueLength = sizeof(VS_FIXEDFILEINFO);
    std::memcpy(&block[0], &length, 2);
    std::memcpy(&block[2], &valueLength, 2);
    std::memcpy(&block[6], kKey, keyBytes);

    VS_FIXEDFILEINFO info = {};
    info.dwSignature = 0xFEEF04BD;
    info.dwStrucVersion = 0x00010000;
    info.dwFileVersionMS = MAKELONG(numbers.file[1], numbers.file[0]);
    info.dwFileVersionLS = MAKELONG(numbers.file[3], numbers.file[2]);
    info.dwProductVersionMS = MAKELONG(numbers.product[1], numbers.product[0]);
    info.dwProductVersionLS = MAKELONG(numbers.product[3], numbers.product[2]);
    info.dwFileOS = VOS_NT_WINDOWS32;
    info.dwFileType = VFT_APP;
    std::memcpy(&block[valueAt], &info, sizeof(info));
    return block;
}

class FileProductVersionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        m_Copy = std::wstring(temp) + L"ov-version-" + std::to_wstring(::GetCurrentProcessId()) + L".exe";
        wchar_t self[MAX_PATH] = {};
        ASSERT_NE(0u, ::GetModuleFileNameW(nullptr, self, MAX_PATH));
        // A real PE file without a version resource: this test program.
        ASSERT_TRUE(::CopyFileW(self, m_Copy.c_str(), FALSE));
    }
    void TearDown() override { ::DeleteFileW(m_Copy.c_str()); }

    void StampVersion(const VersionNumbers& numbers)
    {
        std::vector<BYTE> block = BuildVersionResource(numbers);
        HANDLE update = ::BeginUpdateResourceW(m_Copy.c_str(), FALSE);
        ASSERT_NE(nullptr, update);
        ASSERT_TRUE(::UpdateResourceW(update, RT_VERSION, MAKEINTRESOURCEW(VS_VERSION_INFO),
                                      MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), block.data(),
                                      static_cast<DWORD>(block.size())));
        ASSERT_TRUE(::EndUpdateResourceW(update, FALSE));
    }

    std::wstring m_Copy;
};

TEST_F(FileProductVersionTest, ReadsTheProductVersionNotTheFileVersion)
{
    struct Case
    {
        VersionNumbers numbers;
        const char* expected;
    };
    const Case cases[] = {
        {{{10, 0, 19041, 1}, {1, 2, 3, 4}}, "10.0.19041.1"},
        {{{65535, 65535, 65535, 65535}, {0, 0, 0, 0}}, "65535.65535.65535.65535"},
    };
    for (const Case& c : cases)
    {
        StampVersion(c.numbers);
        EXPECT_EQ(c.expected, GetFileProductVersion(m_Copy));
    }
}

TEST_F(FileProductVersionTest, UnknownVersionIsZero)
{
    EXPECT_EQ("0", GetFileProductVersion(L""));
    EXPECT_EQ("0", GetFileProductVersion(m_Copy + L".missing"));
    EXPECT_EQ("0", GetFileProductVersion(m_Copy)); // a PE file without a version resource
}

} // namespace
