#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "classlib/Exceptions.h"
#include "classlib/Streams.h"
#include "classlib/SyncObjs.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/IOStartup.h"
#include "imaging/model/PxStartup.h"
#include "imaging/proc/PxQuantizer.h"
#include "tests/support/TestSupport.h"

using namespace imaging;

namespace {

using TBytes = std::vector<uint8_t>;

// ---- byte builders

TBytes Str(const char* s) { return TBytes(s, s + std::strlen(s)); }
TBytes Zeros(size_t n) { return TBytes(n, 0); }
TBytes operator+(TBytes a, const TBytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
TBytes LE16(uint16_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
TBytes LE32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
TBytes BE16(uint16_t v) { return {uint8_t(v >> 8), uint8_t(v)}; }
TBytes BE32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }
struct TTag {
    uint16_t Tag, Type;
    uint32_t Count, Value;
};

// A TIFF-structured file: header and one directory at offset 8. SHORT
// values are placed in the half of the value word the byte order gives.
TBytes Tiff(bool little, const std::vector<TTag>& tags, const char* order = nullptr)
{
    auto u16 = little ? LE16 : BE16;
    auto u32 = little ? LE32 : BE32;
    TBytes b = Str(order ? order : (little ? "II" : "MM")) + u16(42) + u32(8) + u16(uint16_t(tags.size()));
    for (const TTag& t : tags) {
        b = b + u16(t.Tag) + u16(t.Type) + u32(t.Count);
        b = b + (t.Type == 3 ? u16(uint16_t(t.Value)) + u16(0) : u32(t.Value));
    }
    return b + u32(0) + Zeros(16);
}

TBytes IconDir(uint16_t type, uint32_t offset)
{
    TBytes entry = TBytes{16, 16, 0, 0} + LE16(1) + LE16(32) + LE32(40) + LE32(offset);
    return LE16(0) + LE16(type) + LE16(1) + entry + Zeros(48);
}

TBytes TgaHeader(uint8_t idLength, uint8_t mapType, uint8_t type, uint8_t depth, uint16_t w, uint16_t h)
{
    return TBytes{idLength, mapType, type} + Zeros(9) + LE16(w) + LE16(h) + TBytes{depth, 0};
}

TBytes PcxHeader(uint8_t version, uint8_t encoding, uint8_t bits, uint8_t planes, uint16_t bytesPerLine)
{
    TBytes h = TBytes{10, version, encoding, bits} + LE16(0) + LE16(0) + LE16(7) + LE16(5);
    h.resize(128, 0);
    h[65] = planes;
    h[66] = uint8_t(bytesPerLine);
    h[67] = uint8_t(bytesPerLine >> 8);
    return h + Zeros(64);
}

void Fill(classlib::TMemoryStream& s, const TBytes& b)
{
    s.Clear();
    if (!b.empty())
        s.WriteBuffer(b.data(), int64_t(b.size()));
    s.SetPosition(0);
}

void WriteFile(const std::wstring& name, const TBytes& b)
{
    classlib::TFileStream f(name, classlib::fmCreate);
    if (!b.empty())
        f.WriteBuffer(b.data(), int64_t(b.size()));
}

const TBytes kJpeg = TBytes{0xFF, 0xD8, 0xFF, 0xE0} + Zeros(60);

bool AcceptAll(classlib::TStream&) { return true; }
bool Raises(classlib::TStream& s)
{
    uint8_t b;
    s.Read(&b, 1);
    throw classlib::Exception(L"test failure");
}

// Every test gets a freshly built registry and leaves the registry state as
// it found it (other suites of this program may have started the unit).
class FileFormatsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        hadRegistry_ = PxFormatRegistryExists();
        PxBuildFormatRegistry();
    }
    void TearDown() override
    {
        if (hadRegistry_)
            PxBuildFormatRegistry();
        else
            PxFreeFormatRegistry();
    }

    // Installs a content test for the test's duration.
    struct TTestSwap {
        TTestSwap(TPxDetectStep step, TPxContentTest test) : Step(step), Old(PxSetContentTest(step, test)) {}
        ~TTestSwap() { PxSetContentTest(Step, Old); }
        TPxDetectStep Step;
        TPxContentTest Old;
    };

    static TPxFileFormatInfo* NewRow(TPxFileFormatId type, const wchar_t* exts)
    {
        auto* row = new TPxFileFormatInfo;
        row->TypeNumber = type;
        row->DisplayName = L"Test format";
        row->ExtensionList = exts;
        return row;
    }

private:
    bool hadRegistry_ = false;
};

}  // namespace

TEST_F(FileFormatsTest, BuiltInRowsInOrder)
{
    // Without the HD Photo unit's availability test (put back at the end).
    const TPxAvailableTest installedHDPhoto = PxGetHDPhotoAvailableTest();
    PxSetHDPhotoAvailableTest(nullptr);
    PxBuildFormatRegistry();
    const std::vector<TPxFileFormatId> order = {1, 2, 3, 4, 5, 21, 6, 7, 8, 28, 9, 10, 11,
                                                12, 16, 13, 14, 17, 18, 19, 20, 24, 25, 26, 27};
    std::vector<TPxFileFormatId> got;
    for (int i = 0; i < PxFormatCount(); ++i) {
        got.push_back(PxFormatInfoByIndex(i)->TypeNumber);
        EXPECT_TRUE(PxFormatInfoByIndex(i)->IsBuiltIn);
        EXPECT_FALSE(PxFormatInfoByIndex(i)->Tester);
    }
    EXPECT_EQ(order, got);
    EXPECT_EQ(nullptr, PxFormatInfoByIndex(PxFormatCount()));

    // The raw-data row is the first "Camera RAW" and lists no extension.
    EXPECT_EQ(L"Camera RAW", PxFormatInfoById(21)->DisplayName);
    EXPECT_EQ(L"Camera RAW", PxFormatInfoById(20)->DisplayName);
    EXPECT_EQ(L"Portable Pixmap, GrayMap, BitMap", PxFormatInfoById(12)->DisplayName);
    EXPECT_EQ(512, PxFormatInfoById(14)->PreviewPage);
    EXPECT_EQ(256, PxFormatInfoById(11)->PreviewPage);
    EXPECT_EQ(0, PxFormatInfoById(6)->PreviewPage);

    // The HD Photo row only when the platform codec is declared available.
    PxSetHDPhotoAvailableTest([] { return true; });
    PxBuildFormatRegistry();
    PxSetHDPhotoAvailableTest(nullptr);
    ASSERT_EQ(26, PxFormatCount());
    EXPECT_EQ(29, PxFormatInfoByIndex(25)->TypeNumber);
    EXPECT_EQ(L"WDP;HDP", PxFormatInfoByIndex(25)->ExtensionList);
    PxSetHDPhotoAvailableTest(installedHDPhoto);
    PxBuildFormatRegistry();
}

TEST_F(FileFormatsTest, ExtensionLookup)
{
    struct {
        const wchar_t* Ext;
        TPxFileFormatId Type;
    } cases[] = {
        {L".JPG", 3}, {L"jpg", 3}, {L"Jpe", 3},   {L"jfif", 0}, {L"JIF", 3}, {L"xif", 1},  {L"TIFF", 1},
        {L"pix", 11}, {L"sr2", 20}, {L"DICOM", 28}, {L"eps", 17}, {L"jp", 0},  {L"", 0},    {L".", 0},
        {L"..jpg", 0}, {L"jpg;", 0},
    };
    for (const auto& c : cases) {
        const TPxFileFormatInfo* row = PxFormatInfoByExtension(c.Ext);
        EXPECT_EQ(c.Type, row ? row->TypeNumber : 0) << "extension \"" << testing::PrintToString(std::wstring(c.Ext))
                                                      << "\"";
    }

    EXPECT_EQ(4, PxFormatExtensionCount(3));
    EXPECT_EQ(L"JIF", PxFormatExtension(3, 3));
    EXPECT_EQ(L"", PxFormatExtension(3, 4));
    EXPECT_EQ(L"JPG", PxFormatExtension(3, 0));
    EXPECT_EQ(L"", PxFormatExtension(3, -1));
    EXPECT_EQ(0, PxFormatExtensionCount(21));
    EXPECT_EQ(L"", PxFormatExtension(21, 0));
    EXPECT_EQ(0, PxFormatExtensionCount(99));
    EXPECT_EQ(13, PxFormatExtensionCount(20));

    // The first empty token ends a list; an earlier row wins over a later
    // one listing the same extension.
    ASSERT_TRUE(PxRegisterFileFormat(NewRow(100, L"Aaa;;bbb")));
    ASSERT_TRUE(PxRegisterFileFormat(NewRow(101, L"jpg;ccc;")));
    EXPECT_EQ(100, PxFormatInfoByExtension(L"AAA")->TypeNumber);
    EXPECT_EQ(nullptr, PxFormatInfoByExtension(L"bbb"));
    EXPECT_EQ(1, PxFormatExtensionCount(100));
    EXPECT_EQ(L"", PxFormatExtension(100, 1));
    EXPECT_EQ(2, PxFormatExtensionCount(101));
    EXPECT_EQ(3, PxFormatInfoByExtension(L"jpg")->TypeNumber);
    EXPECT_EQ(101, PxFormatInfoByExtension(L"CCC")->TypeNumber);

    std::wstring list = L"ab;;c";
    EXPECT_EQ(L"ab", PxNextExtensionToken(list));
    EXPECT_EQ(L";c", list);
    EXPECT_EQ(L"", PxNextExtensionToken(list));
    EXPECT_EQ(L"c", PxNextExtensionToken(list));
    EXPECT_EQ(L"", list);
}

TEST_F(FileFormatsTest, RegistrationAndRoutines)
{
    // Registered rows append; unregistering removes the first of a number.
    auto* first = NewRow(200, L"one");
    auto* second = NewRow(200, L"two");
    ASSERT_TRUE(PxRegisterFileFormat(first));
    ASSERT_TRUE(PxRegisterFileFormat(second));
    EXPECT_EQ(first, PxFormatInfoById(200));
    EXPECT_EQ(first, PxFormatInfoByIndex(PxFormatCount() - 2));
    PxUnregisterFileFormat(200);
    EXPECT_EQ(second, PxFormatInfoById(200));
    PxUnregisterFileFormat(200);
    EXPECT_EQ(nullptr, PxFormatInfoById(200));
    const int count = PxFormatCount();
    PxUnregisterFileFormat(200);
    EXPECT_EQ(count, PxFormatCount());

    // Readable means: the row of the extension has a reader.
    auto* readable = NewRow(201, L"abc");
    readable->Reader = [](classlib::TStream*, TPxBitmap*, TIOParamsVals&, bool, TPxIOProgressInfo&) {};
    PxRegisterFileFormat(readable);
    EXPECT_TRUE(PxIsReadableFile(L"C:\\x\\picture.ABC"));
    EXPECT_FALSE(PxIsReadableFile(L"picture.ps"));
    EXPECT_FALSE(PxIsReadableFile(L"picture"));

    // The toolkit's own routines go into built-in rows as far as the row's
    // format is read or written, and survive a rebuild.
    auto reader = [](classlib::TStream*, TPxBitmap*, TIOParamsVals&, bool, TPxIOProgressInfo&) {};
    auto writer = [](classlib::TStream*, TPxBitmap*, TIOParamsVals&, TPxIOProgressInfo&) {};
    // The routines installed by the format units are put back at the end.
    const TPxFormatReader installedCur = PxFormatInfoById(ffCUR)->Reader;
    const TPxFormatReader installedGifReader = PxFormatInfoById(ffGIF)->Reader;
    const auto installedGifWriter = PxFormatInfoById(ffGIF)->Writer;
    PxSetBuiltInFormatReader(ffCUR, nullptr);
    EXPECT_FALSE(PxFormatInfoById(ffCUR)->Reader);
    EXPECT_FALSE(PxIsReadableFile(L"arrow.cur"));
    PxSetBuiltInFormatReader(ffCUR, reader);
    PxSetBuiltInFormatWriter(ffCUR, writer);
    PxSetBuiltInFormatReader(ffPS, reader);
    EXPECT_TRUE(PxIsReadableFile(L"arrow.cur"));
    EXPECT_FALSE(PxFormatInfoById(ffCUR)->Writer);
    EXPECT_FALSE(PxFormatInfoById(ffPS)->Reader);
    PxBuildFormatRegistry();
    EXPECT_TRUE(PxFormatInfoById(ffCUR)->Reader);
    PxSetBuiltInFormatReader(ffCUR, nullptr);
    PxSetBuiltInFormatWriter(ffCUR, nullptr);
    PxSetBuiltInFormatReader(ffPS, nullptr);
    EXPECT_FALSE(PxFormatInfoById(ffCUR)->Reader);

    // The GIF row follows the LZW hooks.
    const auto oldDecoder = PxGlobalGIFLZWDecompress;
    const auto oldEncoder = PxGlobalGIFLZWCompress;
    PxSetBuiltInFormatReader(ffGIF, reader);
    PxSetBuiltInFormatWriter(ffGIF, writer);
    PxGlobalGIFLZWDecompress = nullptr;
    PxGlobalGIFLZWCompress = nullptr;
    PxSyncGIFFormatRow();
    EXPECT_FALSE(PxFormatInfoById(ffGIF)->Reader);
    EXPECT_FALSE(PxFormatInfoById(ffGIF)->Writer);
    PxGlobalGIFLZWDecompress = [](classlib::TStream*, int32_t, int32_t, bool, uint8_t*) {};
    PxSyncGIFFormatRow();
    EXPECT_TRUE(PxFormatInfoById(ffGIF)->Reader);
    EXPECT_FALSE(PxFormatInfoById(ffGIF)->Writer);
    PxGlobalGIFLZWDecompress = oldDecoder;
    PxGlobalGIFLZWCompress = oldEncoder;
    PxSetBuiltInFormatReader(ffGIF, installedGifReader);
    PxSetBuiltInFormatWriter(ffGIF, installedGifWriter);
    PxSetBuiltInFormatReader(ffCUR, installedCur);
    PxSyncGIFFormatRow();
}

TEST_F(FileFormatsTest, StreamDetectionOfEveryMagic)
{
    struct {
        const char* Name;
        TBytes Data;
        TPxFileFormatId Type;
        bool SizeSensitive;  // the result depends on the stream size
    } cases[] = {
        {"JFIF stream header, 13 bytes", Str("JFIF") + Zeros(9), 3, true},
        {"JFIF stream header, 12 bytes", Str("JFIF") + Zeros(8), 0, true},
        {"JFIF without its zero", Str("JFIFx") + Zeros(20), 0, false},
        {"GIF, 14 bytes", Str("GIF89a") + Zeros(8), 2, true},
        {"GIF, 13 bytes", Str("GIF89a") + Zeros(7), 0, true},
        {"PCX2 stream header", Str("PCX2") + Zeros(9), 4, false},
        {"PCX stream header", Str("PCX") + Zeros(2), 4, true},
        {"BMP", Str("BM") + Zeros(13), 5, false},
        {"PCX header, RLE 8 bits 3 planes", PcxHeader(5, 1, 8, 3, 8), 4, false},
        {"PCX header, plain 1 bit 4 planes", PcxHeader(0, 0, 1, 4, 2), 4, false},
        {"PCX header, encoding 2", PcxHeader(5, 2, 8, 1, 8), 0, false},
        {"PCX header, version 1", PcxHeader(1, 1, 8, 1, 8), 0, false},
        {"PCX header, 4 bits 3 planes", PcxHeader(5, 1, 4, 3, 4), 0, false},
        {"PCX header, short rows", PcxHeader(5, 1, 8, 1, 7), 0, false},
        {"TGA with a 10-byte image ID", TgaHeader(10, 0, 2, 24, 8, 6) + Zeros(200), 11, false},
        {"TGA colour-mapped with a 10-byte ID", TgaHeader(10, 1, 1, 8, 8, 6) + Zeros(200), 11, false},
        {"TIFF stream header", Str("TIFF") + Zeros(9), 1, false},
        {"TIFF little-endian", Tiff(true, {{256, 3, 1, 8}, {257, 3, 1, 6}}), 1, false},
        {"TIFF big-endian", Tiff(false, {{256, 3, 1, 8}, {257, 4, 1, 6}}), 1, false},
        {"TIFF without height", Tiff(true, {{256, 3, 1, 8}}), 0, false},
        {"TIFF with a bad order mark", Tiff(true, {{256, 3, 1, 8}, {257, 3, 1, 6}}, "IM"), 0, false},
        {"TIFF, colour-filter raw data", Tiff(false, {{256, 3, 1, 8}, {257, 3, 1, 6}, {262, 3, 1, 32803}}), 0,
         false},
        {"TIFF, DNG", Tiff(true, {{256, 3, 1, 8}, {257, 3, 1, 6}, {50706, 1, 4, 0x00000401}}), 0, false},
        {"TIFF/EP thumbnail directory",
         Tiff(true, {{256, 3, 1, 160}, {257, 3, 1, 120}, {330, 4, 1, 8}, {37398, 1, 4, 1}}), 0, false},
        {"TIFF/EP with a large first image",
         Tiff(true, {{256, 3, 1, 640}, {257, 3, 1, 120}, {330, 4, 1, 8}, {37398, 1, 4, 1}}), 1, false},
        {"HD Photo",
         Tiff(true, {{48129, 1, 16, 0}, {48256, 4, 1, 8}, {48257, 4, 1, 6}, {48320, 4, 1, 0}, {48321, 4, 1, 0}}),
         29, false},
        {"PNG", TBytes{0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0}, 8, true},
        {"PNG signature only, 8 bytes", TBytes{0x89, 'P', 'N', 'G', 13, 10, 26, 10}, 0, true},
        {"DICOM", Zeros(128) + Str("DICM") + Zeros(8), 28, false},
        {"ICO", IconDir(1, 22), 6, false},
        {"CUR", IconDir(2, 22), 7, false},
        {"ICO entry inside the directory", IconDir(1, 21), 0, false},
        {"TGA", TgaHeader(0, 0, 2, 24, 8, 6) + Zeros(144), 11, false},
        {"TGA depth 12", TgaHeader(0, 0, 2, 12, 8, 6) + Zeros(144), 0, false},
        {"TGA type 4", TgaHeader(0, 0, 4, 24, 8, 6) + Zeros(144), 0, false},
        {"PGM with a comment", Str("P5\n# made by hand\n8 6\n255\n") + Zeros(48), 12, false},
        {"PBM with a zero width first", Str("P4 0 8 6\n") + Zeros(6), 12, false},
        {"PXM with an unknown magic", Str("P7 8 6 255\n") + Zeros(48), 0, false},
        {"JP2", BE32(12) + BE32(0x6A502020) + BE32(0x0D0A870A) + Zeros(8), 13, false},
        {"J2K", BE16(0xFF4F) + BE16(0xFF51) + Zeros(8), 14, false},
        {"AVI", Str("RIFF") + LE32(100) + Str("AVI LIST") + Zeros(8), 15, false},
        {"DCX", LE32(0x3ADE68B1) + LE32(12) + LE32(0) + Zeros(20), 19, false},
        {"DCX page beyond the end", LE32(0x3ADE68B1) + LE32(4000) + LE32(0) + Zeros(20), 0, false},
        {"WMF", LE16(1) + LE16(9) + LE16(0x300) + Zeros(10) + LE16(0) + Zeros(8), 9, false},
        {"WMF placeable", LE32(0x9AC6CDD7) + Zeros(18) + LE16(1) + LE16(9) + Zeros(12) + LE16(0) + Zeros(8), 9,
         false},
        {"EMF", LE32(1) + Zeros(36) + LE32(0x464D4520) + Zeros(60), 10, false},
        {"PSD", Str("8BPS") + BE16(1) + Zeros(6) + BE16(3) + BE32(6) + BE32(8) + BE16(8) + BE16(3) + Zeros(8), 24,
         false},
        {"PSD with 25 channels", Str("8BPS") + BE16(1) + Zeros(6) + BE16(25) + BE32(6) + BE32(8) + BE16(8) +
                                     BE16(3) + Zeros(8),
         0, false},
        {"JPEG", kJpeg, 3, false},
        {"JPEG start at 149", Str("x") + Zeros(148) + kJpeg, 3, true},
        {"JPEG start at 150", Str("x") + Zeros(149) + kJpeg, 0, true},
        {"empty", TBytes(), 0, true},
        {"three bytes", Str("GIF"), 0, true},
    };
    classlib::TMemoryStream s;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Fill(s, c.Data);
        EXPECT_EQ(c.Type, PxDetectStreamFormat(s));
        EXPECT_EQ(0, s.GetPosition());
        if (c.SizeSensitive)
            continue;
        // Behind other data: the detection works from the stream's position
        // and leaves it there.
        Fill(s, Str("prefix") + c.Data);
        s.SetPosition(6);
        EXPECT_EQ(c.Type, PxDetectStreamFormat(s));
        EXPECT_EQ(6, s.GetPosition());
    }
}

TEST_F(FileFormatsTest, StreamDetectionPluggedTests)
{
    classlib::TMemoryStream s;
    const TBytes camera = Tiff(false, {{256, 3, 1, 8}, {257, 3, 1, 6}, {262, 3, 1, 34892}}) + Zeros(200);

    // A registered row's own test runs after the built-in tests, the camera
    // raw test last.
    auto* row = NewRow(300, L"xyz");
    row->Tester = [](classlib::TStream* st, TPxFileFormatId type) {
        char m[4] = {};
        st->Read(m, 4);
        return type == 300 && std::memcmp(m, "XYZ!", 4) == 0;
    };
    PxRegisterFileFormat(row);
    Fill(s, Str("XYZ!") + Zeros(20));
    EXPECT_EQ(300, PxDetectStreamFormat(s));
    Fill(s, kJpeg + Str("XYZ!"));
    EXPECT_EQ(3, PxDetectStreamFormat(s));

    Fill(s, camera);
    EXPECT_EQ(0, PxDetectStreamFormat(s));
    {
        TTestSwap raw(pdsCameraRaw, AcceptAll);
        EXPECT_EQ(20, PxDetectStreamFormat(s));
        Fill(s, Str("XYZ!") + Zeros(20));
        EXPECT_EQ(300, PxDetectStreamFormat(s));
    }
    {
        // A view unit's stream test takes its place in the order.
        TTestSwap layers(pdsLayers, AcceptAll);
        EXPECT_EQ(26, PxDetectStreamFormat(s));
    }

    // A raising test ends the detection with 0 and the position restored.
    TTestSwap failing(pdsTGA, Raises);
    Fill(s, Str("prefix") + TgaHeader(0, 0, 2, 24, 8, 6) + Zeros(144));
    s.SetPosition(6);
    EXPECT_EQ(0, PxDetectStreamFormat(s));
    EXPECT_EQ(6, s.GetPosition());

    EXPECT_EQ(ffCUR, PxDetectStepFormat(pdsCUR));
    EXPECT_EQ(ffRAW, PxDetectStepFormat(pdsCameraRaw));
}

TEST_F(FileFormatsTest, FileDetectionReconcilesContentAndExtension)
{
    testsupport::TempDir dir;
    const TBytes icon = IconDir(1, 22);
    const TBytes tiff = Tiff(true, {{256, 3, 1, 8}, {257, 3, 1, 6}});
    const TBytes rawTiff = Tiff(true, {{256, 3, 1, 8}, {257, 3, 1, 6}, {262, 3, 1, 32803}});
    auto* own = NewRow(400, L"myf");
    PxRegisterFileFormat(own);

    struct {
        const wchar_t* Name;
        TBytes Data;
        TPxFileFormatId Checked, Unchecked;
    } cases[] = {
        {L"icon.ico", icon, 6, 6},
        {L"icon.CUR", icon, 7, 6},
        {L"icon.png", icon, 0, 6},
        {L"photo.jpg", kJpeg, 3, 3},
        {L"photo.png", kJpeg, 0, 3},
        {L"photo.jfif", kJpeg, 0, 3},
        {L"photo", kJpeg, 0, 3},
        {L"camera.cr2", tiff, 20, 20},
        {L"camera.tif", rawTiff, 0, 0},
        {L"own.myf", kJpeg, 400, 400},
        {L"own.myf.jpg", TBytes{1, 2, 3}, 0, 0},
        {L"empty.jpg", TBytes(), 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.Name)));
        const std::wstring name = dir.File(c.Name);
        WriteFile(name, c.Data);
        EXPECT_EQ(c.Checked, PxDetectFileFormat(name, true));
        EXPECT_EQ(c.Unchecked, PxDetectFileFormat(name, false));
    }

    // A camera-raw TIFF named .tif is camera raw by content, which the
    // extension contradicts.
    {
        TTestSwap raw(pdsCameraRaw, AcceptAll);
        EXPECT_EQ(20, PxDetectFileFormat(dir.File(L"camera.tif"), false));
        EXPECT_EQ(0, PxDetectFileFormat(dir.File(L"camera.tif"), true));
    }
    // Files that cannot be read.
    EXPECT_EQ(0, PxDetectFileFormat(dir.File(L"missing.jpg"), false));
    EXPECT_EQ(400, PxDetectFileFormat(dir.File(L"missing.myf"), true));
    EXPECT_EQ(0, PxDetectFileFormat(L"", false));
    EXPECT_EQ(0, PxDetectFileFormat(dir.Path(), false));
}

TEST_F(FileFormatsTest, FilesWrittenByOtherTools)
{
    // Made by tests/fixtures/io/make_format_fixtures.sh (ImageMagick, netpbm,
    // libtiff tools). WBMP has no content signature: only its extension
    // names it.
    struct {
        const wchar_t* File;
        TPxFileFormatId Type;
    } cases[] = {
        {L"bmp.bmp", 5},           {L"gif.gif", 2},           {L"png.png", 8},         {L"jpeg.jpg", 3},
        {L"tiff-le.tif", 1},       {L"tiff-be.tif", 1},       {L"tga.tga", 11},        {L"tga-rle.tga", 11},
        {L"tga-id10.tga", 11},     {L"tga-id10-map.tga", 11}, {L"pcx.pcx", 4},         {L"pcx-8bit.pcx", 4},
        {L"pcx-4planes.pcx", 4},   {L"pcx-packed.pcx", 4},    {L"dcx.dcx", 19},        {L"pbm-p1.pbm", 12},
        {L"pgm-p2.pgm", 12},       {L"ppm-p3.ppm", 12},       {L"pbm-p4.pbm", 12},     {L"pgm-p5.pgm", 12},
        {L"ppm-p6.ppm", 12},       {L"ico.ico", 6},           {L"cur.cur", 7},         {L"psd.psd", 24},
        {L"jp2.jp2", 13},          {L"j2k.j2k", 14},          {L"wbmp.wbmp", 0},
    };
    const std::wstring folder = testsupport::FixtureDir(L"io") + L"\\formats\\";
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.File)));
        EXPECT_EQ(c.Type, PxDetectFileFormat(folder + c.File, true));
        classlib::TFileStream f(folder + c.File, classlib::fmOpenRead | classlib::fmShareDenyWrite);
        EXPECT_EQ(c.Type, PxDetectStreamFormat(f));
    }
}

// ---- start-up and shut-down of the I/O unit

namespace {

int winInetLoads = 0, winInetUnloads = 0, profileFrees = 0;

void FakeGIFDecode(classlib::TStream*, int32_t, int32_t, bool, uint8_t*) {}
void FakeGIFEncode(classlib::TStream*, int32_t, int32_t, bool, const uint8_t*, int32_t) {}
uint8_t* FakeTIFFDecode(const uint8_t*, int64_t, int32_t, void*&, int32_t) { return nullptr; }
void FakeTIFFEncode(const uint8_t*, int32_t, classlib::TStream*, void*&) {}
void FakeColorRow(const void*, int32_t, void*, TIOParamsVals*, int32_t, int32_t) {}

}  // namespace

TEST(IOStartupTest, StartupInstallsProvidedRoutinesAndShutdownFreesAll)
{
    const TPxIODefaultRoutines saved = PxIODefaults();
    const bool hadRegistry = PxFormatRegistryExists();
    // Without the HD Photo unit's availability test (put back at the end).
    const TPxAvailableTest installedHDPhoto = PxGetHDPhotoAvailableTest();
    PxSetHDPhotoAvailableTest(nullptr);
    PxIODefaults() = TPxIODefaultRoutines{FakeGIFDecode, FakeGIFEncode, FakeTIFFDecode, FakeTIFFEncode, FakeColorRow,
                                          [] { ++winInetLoads; }, [] { ++winInetUnloads; }, [] { ++profileFrees; }};
    winInetLoads = winInetUnloads = profileFrees = 0;
    PxMetafileMaxSize = 1;
    PxQuantizerMethod = 0;
    PxQuantizerQuality = 5;
    PxUseCMYKProfile = false;
    PxBufferedReadFromPosition = true;

    PxInitializeImgIO();
    EXPECT_EQ(&FakeGIFDecode, PxGlobalGIFLZWDecompress);
    EXPECT_EQ(&FakeTIFFEncode, PxGlobalTIFFLZWCompress);
    EXPECT_EQ(&FakeColorRow, PxConvertColorRowHook);
    EXPECT_EQ(1, winInetLoads);
    EXPECT_EQ(8000, PxMetafileMaxSize);
    EXPECT_EQ(-1, PxQuantizerMethod);
    EXPECT_EQ(-1, PxQuantizerQuality);
    EXPECT_TRUE(PxUseCMYKProfile);
    EXPECT_FALSE(PxBufferedReadFromPosition);
    EXPECT_FALSE(PxAVILibraryInitialized);
    ASSERT_NE(nullptr, PxIOPlugins);
    EXPECT_TRUE(PxIOPlugins->empty());
    EXPECT_EQ(25, PxFormatCount());
    {
        TIOParamsVals params(nullptr);
        EXPECT_EQ(&FakeGIFDecode, params.GIFLZWDecompress);
        EXPECT_EQ(&FakeGIFEncode, params.GIFLZWCompress);
        EXPECT_EQ(&FakeTIFFDecode, params.TIFFLZWDecompress);
        EXPECT_EQ(&FakeTIFFEncode, params.TIFFLZWCompress);
    }

    // Plug-ins: each unregisters its file type; its lock is freed unless
    // the record says it has none.
    classlib::TCriticalSection notOwned;
    auto* row = new TPxFileFormatInfo;
    row->TypeNumber = 500;
    PxRegisterFileFormat(row);
    PxIOPlugins->push_back(new TPxIOPlugin{nullptr, 500, new classlib::TCriticalSection, 0});
    PxIOPlugins->push_back(new TPxIOPlugin{nullptr, 501, &notOwned, pxPluginNoLock});
    PxFreeIOPlugins();
    EXPECT_TRUE(PxIOPlugins->empty());
    EXPECT_EQ(nullptr, PxFormatInfoById(500));

    PxFinalizeImgIO();
    EXPECT_FALSE(PxFormatRegistryExists());
    EXPECT_EQ(nullptr, PxIOPlugins);
    EXPECT_EQ(1, winInetUnloads);
    EXPECT_EQ(1, profileFrees);

    // Without providers the hooks stay empty.
    PxIODefaults() = TPxIODefaultRoutines();
    PxInitializeImgIO();
    EXPECT_EQ(nullptr, PxGlobalGIFLZWDecompress);
    EXPECT_EQ(nullptr, PxGlobalTIFFLZWDecompress);
    EXPECT_FALSE(PxFormatInfoById(ffGIF)->Reader);
    PxFinalizeImgIO();

    PxIODefaults() = saved;
    PxSetHDPhotoAvailableTest(installedHDPhoto);
    if (hadRegistry)
        PxInitializeImgIO();
}

TEST(IOStartupTest, ToolkitStartupRunsTheUnit)
{
    const bool wasStarted = PxIsInitialized();
    PxInitialize();
    EXPECT_TRUE(PxFormatRegistryExists());
    EXPECT_EQ(3, PxFormatInfoByExtension(L"jpeg")->TypeNumber);
    PxFinalize();
    EXPECT_EQ(wasStarted, PxFormatRegistryExists());
}
