// The repair tool's text-file writer and log, byte for byte on real files.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "repair/repair_log.h"
#include "repair/text_file.h"
#include "tests/win/repair_test_support.h"

using repair_test::ReadBytes;

namespace {

const std::string kMark = "\xEF\xBB\xBF";
const std::string kHeader = "\r\n\t************ Brenwick log ************\r\n";

TEST(RepairLog, EntriesByteForByte)
{
    const std::wstring folder = TestFolder(L"repair-log");
    const SYSTEMTIME stamp{2024, 2, 0, 3, 9, 7, 5, 45};
    const std::string entry = "\r\n2024/02/03 09:07:05:045: ";

    struct Case {
        const char* what;
        bool exists;
        std::string before;
        const wchar_t* text;
        uint32_t flags;
        std::string after;
    };
    const Case cases[] = {
        {"first entry, flags 3, missing file", false, "", L"Repair operation sheduled. The computer will reboot now.",
         3, kMark + kHeader + entry + "Repair operation sheduled. The computer will reboot now."},
        {"entry on an existing UTF-8 log", true, kMark + kHeader + entry + "one", L"two", 0,
         kMark + kHeader + entry + "one" + entry + "two"},
        {"log without a mark keeps its content and gets UTF-8", true, "plain old text", L"caf\u00E9", 0,
         "plain old text" + entry + "caf\xC3\xA9"},
        {"end line after the entry with its stamp", true, kMark + "x", L"Repair operation complete.", 4,
         kMark + "x" + entry + "Repair operation complete." +
             "\r\n\r\n\t*** End of repair operation 2024/02/03 09:07:05:045 ***"},
        {"a new log truncates the old one", true, kMark + "old repair", L"new", 2, kMark + entry + "new"},
        {"flags 0 on a missing file start it with the mark only", false, "", L"t", 0, kMark + entry + "t"},
    };
    for (const Case& c : cases) {
        const std::wstring path = folder + L"\\BrenwickLog.txt";
        std::filesystem::remove(std::filesystem::path(path));
        if (c.exists)
            WriteTextFile(path, c.before);
        int written = WriteLogEntry(path.c_str(), c.text, c.flags, &stamp);
        std::string after = ReadBytes(path);
        EXPECT_EQ(c.after, after) << c.what;
        // The result is the entry's own byte count: CR LF, stamp, ": ", text.
        int textBytes = WideCharToMultiByte(CP_UTF8, 0, c.text, -1, nullptr, 0, nullptr, nullptr) - 1;
        EXPECT_EQ(static_cast<int>(entry.size()) + textBytes, written) << c.what;
    }
}

TEST(RepairLog, StampOfAFiveDigitYearKeepsItsLastFour)
{
    const std::wstring path = TestFolder(L"repair-log-year") + L"\\log.txt";
    const SYSTEMTIME stamp{12024, 12, 0, 31, 23, 59, 59, 999};
    ASSERT_GT(WriteLogEntry(path.c_str(), L"x", 2, &stamp), 0);
    EXPECT_EQ(kMark + "\r\n2024/12/31 23:59:59:999: x", ReadBytes(path));
}

TEST(RepairLog, LocalTimeIsUsedWithoutAStamp)
{
    const std::wstring path = TestFolder(L"repair-log-now") + L"\\log.txt";
    SYSTEMTIME before;
    GetLocalTime(&before);
    ASSERT_GT(WriteLogEntry(path.c_str(), L"now", 2), 0);
    std::string bytes = ReadBytes(path);
    char year[8];
    snprintf(year, sizeof year, "%04u/", before.wYear % 10000);
    EXPECT_EQ(kMark.size() + 2, bytes.find(year)) << bytes;
    EXPECT_EQ(kMark.size() + 2 + 23, bytes.find(": now")) << bytes;
}

TEST(RepairLog, MissingFolderLosesTheEntryAndMakesNothing)
{
    const std::wstring folder = TestFolder(L"repair-log-missing");
    const std::wstring path = folder + L"\\absent\\log.txt";
    EXPECT_EQ(-1, WriteLogEntry(path.c_str(), L"lost", 3));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(folder + L"\\absent")));
}

TEST(TextFile, EncodingsMarksAndPositions)
{
    const std::wstring folder = TestFolder(L"text-file");
    struct Case {
        const char* what;
        std::string before;   // empty: no file
        uint32_t mode;
        const wchar_t* text;
        std::string after;
        uint32_t modeAfter;
    };
    const Case cases[] = {
        {"UTF-16 LE new", "", 0x22, L"Ab", std::string("\xFF\xFE" "A\0b\0", 6), 0x22},
        {"UTF-16 BE new", "", 0x42, L"Ab", std::string("\xFE\xFF\0A\0b", 6), 0x42},
        {"UTF-8 without mark", "", 0x102, L"\u00E9", "\xC3\xA9", 0x102},
        {"UTF-8 wins over UTF-16", "", 0xA2, L"a", kMark + "a", 0xA2},
        {"ANSI", "", 0x02, L"abc", "abc", 0x02},
        {"a UTF-16 mark found in the file decides", std::string("\xFF\xFE" "x\0", 4), 0x81, L"y",
         std::string("\xFF\xFE" "x\0y\0", 6), 0x21},
        {"a UTF-8 mark found in the file decides", kMark + "x", 0x21, L"y", kMark + "xy", 0x81},
        {"append bit continues without reading a mark", std::string("\xFF\xFE", 2), 0x91, L"z",
         std::string("\xFF\xFE" "z", 3), 0x91},
        {"create parents", "", 0x8A, L"p", kMark + "p", 0x8A},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::wstring path = folder + L"\\f" + std::to_wstring(++n) + ((c.mode & 8) ? L"\\deep\\er\\t.txt" : L".txt");
        if (!c.before.empty())
            WriteTextFile(path, c.before);
        TextFile file;
        ASSERT_NE(nullptr, file.Open(path.c_str(), c.mode)) << c.what;
        EXPECT_EQ(c.modeAfter, file.Mode()) << c.what;
        EXPECT_GT(file.Write(c.text, 0), 0u) << c.what;
        file.Close();
        EXPECT_EQ(c.after, ReadBytes(path)) << c.what;
    }
}

TEST(TextFile, ReadingStartsAfterTheMarkAndWritesNothing)
{
    const std::wstring path = TestFolder(L"text-file-read") + L"\\r.txt";
    WriteTextFile(path, kMark + "text");
    TextFile file;
    ASSERT_NE(nullptr, file.Open(path.c_str(), 0));
    EXPECT_EQ(3u, file.Seek(0, FILE_CURRENT));
    EXPECT_EQ(0x80u, file.Mode());
    EXPECT_EQ(0u, file.Write(L"no", 0));   // no write access
    file.Close();
    EXPECT_EQ(kMark + "text", ReadBytes(path));

    TextFile missing;
    EXPECT_EQ(nullptr, missing.Open((path + L".absent").c_str(), 0x80));
    EXPECT_EQ(nullptr, missing.Handle() == INVALID_HANDLE_VALUE ? nullptr : missing.Handle());
    EXPECT_EQ(0u, missing.Mode());
}

TEST(TextFile, EmptyTextAndCounts)
{
    const std::wstring path = TestFolder(L"text-file-count") + L"\\c.txt";
    TextFile file;
    ASSERT_NE(nullptr, file.Open(path.c_str(), 0x102));
    EXPECT_EQ(0u, file.Write(L"", 0));
    EXPECT_EQ(0u, file.Write(nullptr, 0));
    EXPECT_EQ(2u, file.Write(L"abcdef", 2));
    EXPECT_EQ(2u, file.Seek(0, FILE_CURRENT));
    file.Close();
    EXPECT_EQ("ab", ReadBytes(path));
}

}  // namespace
