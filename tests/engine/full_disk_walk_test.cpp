// A disk that fills up in the middle of a folder walk (the 64 KiB tmpfs that the engine_tiny_disk fixture
// mounts): the files converted before it filled hold their whole new content, the rest their whole old
// content, and no temporary file is left to take the space.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "conversion_fixtures.h"
#include "test_files.h"
#include "walk.h"

namespace {

ULONGLONG FreeBytes(const std::wstring& folder) {
    ULARGE_INTEGER free = {};
    GetDiskFreeSpaceExW((folder + L"\\").c_str(), &free, nullptr, nullptr);
    return free.QuadPart;
}

TEST(FullDiskWalk, EveryFileHoldsItsWholeOldOrWholeNewContent) {
    const char* tiny = std::getenv("QTX_TINY_DISK");
    const std::wstring disk = tiny != nullptr && *tiny != 0 ? FromUnixPath(tiny) : L"";
    if (disk.empty() || FileExists(disk + L"\\not-permitted"))
        GTEST_SKIP() << "no tiny tmpfs: mounting one needs root (see the engine_tiny_disk_setup output)";
    ASSERT_TRUE(FileExists(disk + L"\\mounted")) << "no tiny tmpfs (see the engine_tiny_disk_setup output)";
    TempDir dir(disk);

    // The sample repeated: its Big5 (about 3.8 KB, one page) becomes UTF-8 of about 5.2 KB (two pages), so
    // each conversion needs two free pages while it writes and keeps one more when it is done.
    Bytes big5, utf8 = "\xEF\xBB\xBF";
    for (int i = 0; i < 60; ++i) {
        big5 += fixtures::kSample[TraditionalBig5];
        utf8 += fixtures::kConverted[TraditionalBig5][TraditionalUtf8].substr(3);
    }
    std::vector<std::wstring> names;
    for (const wchar_t* folder : {L"tree\\a\\", L"tree\\b\\", L"tree\\"}) {
        for (int i = 0; i < 3; ++i)
            names.push_back(folder + std::to_wstring(i) + L".txt");
    }
    for (const std::wstring& name : names)
        WriteFileBytes(dir / name, big5);
    // Leave room for a few conversions only; the walk runs into the full disk on the way.
    const ULONGLONG free = FreeBytes(dir.path());
    ASSERT_GT(free, 5 * 4096u);
    WriteFileBytes(dir / L"filler", Bytes(free - 5 * 4096, 'x'));

    ConversionRequest request = {};
    lstrcpynW(request.text, (dir / L"tree").c_str(), MAX_PATH);
    request.folderMode = true;
    request.from = TraditionalBig5;
    request.to = TraditionalUtf8;
    ConvertPath(request);

    size_t converted = 0;
    for (const std::wstring& name : names) {
        const Bytes content = ReadFileBytes(dir / name);
        EXPECT_TRUE(content == big5 || content == utf8)
            << "a file is neither old nor new: " << content.size() << " bytes, " << Hex(content.substr(0, 16));
        converted += content == utf8;
    }
    printf("full disk: %zu of %zu files converted before the disk filled up\n", converted, names.size());
    EXPECT_GT(converted, 0u) << "the disk was full before the walk began";
    EXPECT_LT(converted, names.size()) << "the disk never filled up";
    for (const wchar_t* folder : {L"tree\\a", L"tree\\b"})
        EXPECT_EQ(ListNames(dir / folder), L"0.txt|1.txt|2.txt");
    EXPECT_EQ(ListNames(dir / L"tree"), L"0.txt|1.txt|2.txt|a|b");
}

}  // namespace
