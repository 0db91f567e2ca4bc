// Temporary-file backing: files, mapping and write-back, copies.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "classlib/Exceptions.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxFileBuffer.h"
#include "tests/support/TestSupport.h"
#include "support/ValueScope.h"

using namespace imaging;

namespace {

class TempFolderScope : public testsupport::TValueScope<std::wstring> {
public:
    explicit TempFolderScope(const std::wstring& folder) : TValueScope(PxTempFolder, folder) {}
};

bool FileExists(const std::wstring& name)
{
    const DWORD a = GetFileAttributesW(name.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<uint8_t> ReadBlock(TPxFileBuffer& fb, int64_t size, int64_t offset)
{
    uint8_t* p = fb.Map(pxAccessRead, size, offset);
    std::vector<uint8_t> bytes(p, p + size);
    fb.Unmap(p);
    return bytes;
}

}  // namespace

TEST(PxFileBuffer, TemporaryFileNamedAndDeleted)
{
    testsupport::TempDir dir;
    const std::wstring folder = dir.Path() + L"\\";
    TempFolderScope scope(folder);
    TPxFileBuffer fb;
    EXPECT_FALSE(fb.IsAllocated());
    ASSERT_TRUE(fb.AllocateFile(L"IMG", true, 1000));
    const std::wstring first = fb.GetFileName();
    EXPECT_EQ(first.substr(0, folder.size()), folder);
    EXPECT_TRUE(std::regex_match(first.substr(folder.size()), std::wregex(L"IMG-[0-9A-F]{8}\\.tmp")));
    EXPECT_TRUE(FileExists(first));
    // A second allocation replaces (and deletes) the first file.
    ASSERT_TRUE(fb.AllocateFile(L"VIL", true, 10));
    EXPECT_FALSE(FileExists(first));
    EXPECT_TRUE(FileExists(fb.GetFileName()));
    const std::wstring second = fb.GetFileName();
    fb.FreeFile();
    EXPECT_FALSE(fb.IsAllocated());
    EXPECT_FALSE(FileExists(second));
}

TEST(PxFileBuffer, CreationFailures)
{
    TempFolderScope scope(L"Z:\\no\\such\\folder\\here\\");
    TPxFileBuffer fb;
    EXPECT_FALSE(fb.AllocateFile(L"IMG", true, 16));
    try {
        TPxTemporaryFileStream s(L"Z:\\no\\such\\folder\\x.tmp");
        FAIL() << "no exception";
    } catch (const classlib::EInOutError& e) {
        EXPECT_EQ(e.Message(), L"Unable to create Z:\\no\\such\\folder\\x.tmp");
    }
    // The memory variant makes no file and still works.
    ASSERT_TRUE(fb.AllocateFile(L"IMG", false, 16));
    EXPECT_FALSE(FileExists(fb.GetFileName()));
}

// Access bits: 1 reads the block when mapped, 2 writes it back when unmapped;
// overlapping blocks are written back in unmapping order. Same for file and
// memory streams.
TEST(PxFileBuffer, MapAccessAndWriteBack)
{
    for (bool useFile : {true, false}) {
        SCOPED_TRACE(useFile ? "file" : "memory");
        TPxFileBuffer fb;
        ASSERT_TRUE(fb.AllocateFile(L"IMG", useFile, 64));

        uint8_t* w = fb.Map(pxAccessWrite, 16, 8);
        std::memset(w, 0xAB, 16);
        fb.Unmap(w);
        EXPECT_EQ(ReadBlock(fb, 16, 8), std::vector<uint8_t>(16, 0xAB));
        EXPECT_EQ(ReadBlock(fb, 8, 0), std::vector<uint8_t>(8, 0));  // reserved length reads as zeros

        uint8_t* r = fb.Map(pxAccessRead, 16, 8);
        EXPECT_EQ(r[0], 0xAB);
        std::memset(r, 0x11, 16);
        fb.Unmap(r);  // read-only: dropped
        EXPECT_EQ(ReadBlock(fb, 16, 8), std::vector<uint8_t>(16, 0xAB));

        uint8_t* a = fb.Map(pxAccessReadWrite, 8, 0);
        uint8_t* b = fb.Map(pxAccessReadWrite, 8, 4);
        EXPECT_EQ(fb.GetMappedCount(), 2);
        EXPECT_EQ(fb.FindMapped(b), 1);
        std::memset(a, 1, 8);
        std::memset(b, 2, 8);
        fb.Unmap(b);
        fb.Unmap(a);  // last unmapped wins on the overlap
        EXPECT_EQ(ReadBlock(fb, 12, 0), (std::vector<uint8_t>{1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2}));

        // UnmapAll and FreeFile write back what is still mapped.
        uint8_t* c = fb.Map(pxAccessWrite, 4, 60);
        std::memset(c, 9, 4);
        fb.UnmapAll();
        EXPECT_EQ(fb.GetMappedCount(), 0);
        EXPECT_EQ(ReadBlock(fb, 4, 60), std::vector<uint8_t>(4, 9));

        int dummy = 0;
        EXPECT_THROW(fb.Unmap(&dummy), classlib::EListError);
    }
}

TEST(PxFileBuffer, CopyToInChunks)
{
    const int64_t size = 1048576 + 5;  // one full chunk and a short tail
    TPxFileBuffer src, dst, none;
    ASSERT_TRUE(src.AllocateFile(L"IMG", true, size + 10));
    ASSERT_TRUE(dst.AllocateFile(L"IMG", false, size + 10));
    uint8_t* p = src.Map(pxAccessWrite, size + 10, 0);
    for (int64_t i = 0; i < size + 10; ++i)
        p[i] = static_cast<uint8_t>(i * 7 + 3);
    uint8_t* pending = dst.Map(pxAccessReadWrite, 4, 0);  // unmapped by CopyTo first
    std::memset(pending, 0xEE, 4);
    src.CopyTo(&dst, size, 10);  // p is still mapped: CopyTo unmaps it first
    const auto copied = ReadBlock(dst, size + 10, 0);
    EXPECT_EQ(copied[0], 0xEE);
    EXPECT_EQ(copied[9], 0);
    for (int64_t i = 10; i < size + 10; ++i)
        ASSERT_EQ(copied[static_cast<size_t>(i)], static_cast<uint8_t>(i * 7 + 3)) << i;
    // Nothing happens with an unallocated side.
    src.CopyTo(&none, size, 0);
    none.CopyTo(&dst, size, 0);
    EXPECT_FALSE(none.IsAllocated());
}

// A file image's temporary file disappears with the image.
TEST(PxFileBuffer, ImageFileGoneAfterFree)
{
    testsupport::TempDir dir;
    TempFolderScope scope(dir.Path() + L"\\");
    const int64_t saved = PxMemoryThreshold;
    PxMemoryThreshold = 0;
    auto b = std::make_unique<TPxBitmap>(16, 16, px24RGB);
    PxMemoryThreshold = saved;
    ASSERT_EQ(b->GetLocation(), pxFile);
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir.Path() + L"\\IMG-*.tmp").c_str(), &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FindClose(h);
    const std::wstring name = dir.Path() + L"\\" + fd.cFileName;
    b->GetScanline(3)[0] = 1;  // a mapped row at the time of freeing
    b.reset();
    EXPECT_FALSE(FileExists(name));
}
