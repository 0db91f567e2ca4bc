// The I/O object: attachment states, the load/save failure table, the stream
// block header, saves on a converted copy, and a registered format end to end.
#include <windows.h>

#include <cstring>

#include <gtest/gtest.h>

#include "classlib/Bitmap.h"
#include "classlib/Streams.h"
#include "support/TestSupport.h"
#include "ImgIOTestSupport.h"

using namespace imaging;
using namespace imgiotest;

namespace {

bool FileExists(const std::wstring& name) { return GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES; }

void WriteFileBytes(const std::wstring& name, const void* data, size_t n)
{
    classlib::TFileStream f(name, classlib::fmCreate);
    f.WriteBuffer(data, static_cast<int64_t>(n));
}

// A file in the raw test format holding Pattern(w, h) at the given resolution.
void WriteRawFile(const std::wstring& name, int w, int h, int dpiX = 72, int dpiY = 72)
{
    auto b = Pattern(w, h);
    TIOParamsVals p(nullptr);
    p.DpiX = dpiX;
    p.DpiY = dpiY;
    bool abort = false;
    TPxIOProgressInfo info;
    info.Aborting = &abort;
    classlib::TFileStream f(name, classlib::fmCreate);
    WriteRaw(&f, b.get(), p, info);
}

}  // namespace

TEST(ImgIOAttach, StatesAndOwnership)
{
    TRegistryScope reg({ffBMP});
    testsupport::TempDir dir;
    std::wstring file = dir.File(L"a.bmp");
    WriteRawFile(file, 5, 4);

    // Own image: loads fill it; detaching it leaves the object without image,
    // and a load then does nothing at all.
    {
        TImgIO io(nullptr);
        EXPECT_TRUE(io.GetOwnsBitmap());
        ASSERT_NE(io.GetCurrentBitmap(), nullptr);
        EXPECT_TRUE(io.GetCurrentBitmap()->IsEmpty());
        TRecorder rec;
        rec.Hook(io);
        io.SetAttachedPxBitmap(nullptr);
        EXPECT_EQ(io.GetCurrentBitmap(), nullptr);
        io.AbortFlag = false;
        io.LoadFromFile(file);
        EXPECT_FALSE(io.AbortFlag);
        EXPECT_EQ(rec.finishes, 0);
    }
    // A caller's TPxBitmap is borrowed: the load goes into it and it outlives
    // the object.
    TPxBitmap mine;
    {
        auto io = TImgIO::CreateForBitmap(&mine);
        EXPECT_FALSE(io->GetOwnsBitmap());
        io->LoadFromFile(file);
        EXPECT_FALSE(io->AbortFlag);
    }
    EXPECT_EQ(mine.GetWidth(), 5);
    EXPECT_EQ(mine.GetPixelRGB(3, 2), (TPxRGB{5, 2, 3}));

    // A TBitmap: the object mirrors it in an own image, reads it before a save
    // and gives it every loaded image, without alpha.
    classlib::TBitmap vcl;
    {
        TImgIO io(nullptr);
        io.SetAttachedPxBitmap(&mine);
        io.SetAttachedTBitmap(&vcl);
        EXPECT_TRUE(io.GetOwnsBitmap());
        EXPECT_NE(io.GetCurrentBitmap(), &mine);
        EXPECT_EQ(io.GetTBitmap(), &vcl);
        io.LoadFromFile(file);
        EXPECT_FALSE(io.AbortFlag);
        EXPECT_FALSE(io.GetCurrentBitmap()->HasAlphaChannel());
        EXPECT_EQ(vcl.GetWidth(), 5);
        EXPECT_EQ(vcl.GetHeight(), 4);
        vcl.SetSize(7, 3);  // the owner resizes its bitmap
        EXPECT_TRUE(io.PrepareBitmap(0));
        EXPECT_EQ(io.GetCurrentBitmap()->GetWidth(), 7);
    }
    EXPECT_EQ(mine.GetWidth(), 5);  // the borrowed image was never overwritten
}

TEST(ImgIOAttach, ViewBorrowedAndForgotten)
{
    TRegistryScope reg({ffBMP});
    auto view = std::make_unique<TFakeView>();
    TPxBitmap* viewImage = view->GetPxBitmap();
    TImgIO io(nullptr);
    io.SetBackground(0x010203);
    io.SetAttachedImg(view.get());
    EXPECT_EQ(io.GetCurrentBitmap(), viewImage);
    EXPECT_FALSE(io.GetOwnsBitmap());
    EXPECT_EQ(view->Registrations(), 1);
    // Background follows the view and cannot be set while it is attached.
    io.SetBackground(0x0A0B0C);
    EXPECT_EQ(io.GetBackground(), 0x123456);

    // The view replaces its image: the object follows and takes its resolution.
    view->dpiX = 200;
    view->dpiY = 100;
    view->ReplaceImage(std::make_unique<TPxBitmap>(2, 2, px8g));
    EXPECT_EQ(io.GetCurrentBitmap(), view->GetPxBitmap());
    EXPECT_EQ(io.FileParams->DpiX, 200);
    EXPECT_EQ(io.FileParams->DpiY, 100);

    // Freeing the view leaves the object with an own empty image, not a
    // dangling one.
    view.reset();
    EXPECT_EQ(io.GetAttachedImg(), nullptr);
    EXPECT_TRUE(io.GetOwnsBitmap());
    ASSERT_NE(io.GetCurrentBitmap(), nullptr);
    EXPECT_TRUE(io.GetCurrentBitmap()->IsEmpty());
    EXPECT_EQ(io.GetBackground(), 0x010203);

    // Detaching explicitly removes the registration; the view's image lives on.
    TFakeView view2;
    {
        TImgIO io2(nullptr);
        io2.SetAttachedImg(&view2);
        io2.SetAttachedImg(nullptr);
        EXPECT_EQ(view2.Registrations(), 0);
        EXPECT_TRUE(io2.GetOwnsBitmap());
        io2.SetAttachedImg(&view2);
    }
    EXPECT_NE(view2.GetPxBitmap(), nullptr);
}

// Every failure path: AbortFlag afterwards (or unchanged) and the number of
// finish notifications; each case runs with AbortFlag preset false and true.
TEST(ImgIODispatch, AbortFlagAndFinishTable)
{
    TRegistryScope reg({ffBMP}, {ffPNG, ffJPEG, ffTIFF});
    RegisterRow(900, L"thr", [](classlib::TStream*, TPxBitmap*, TIOParamsVals&, bool, TPxIOProgressInfo&) {
        throw classlib::Exception(L"broken reader");
    }, nullptr);
    RegisterRow(901, L"nor", nullptr, nullptr);
    testsupport::TempDir dir;
    std::wstring thr = dir.File(L"x.thr");
    std::wstring bad = dir.File(L"bad.bmp");
    WriteFileBytes(thr, "data", 4);
    WriteFileBytes(bad, "TRAW", 4);  // short: the reader fails
    const char junk[] = "nothing anyone recognises here";
    classlib::TMemoryStream junkStream;
    junkStream.WriteBuffer(junk, sizeof(junk));

    enum { Unchanged = -1 };
    struct Case {
        const char* name;
        std::function<void(TImgIO&)> run;
        int abort;  // 0, 1 or Unchanged
        int finishes;
        std::wstring noFile;  // a file that must not exist afterwards
    };
    const std::vector<Case> cases = {
        {"load: no image", [&](TImgIO& io) { io.ReplaceBitmap(nullptr); io.LoadFromFile(thr); }, Unchanged, 0, {}},
        {"load: empty name", [](TImgIO& io) { io.LoadFromFile(L""); }, 1, 1, {}},
        {"load: no row for extension", [&](TImgIO& io) { io.LoadFromFile(dir.File(L"a.jfif")); }, 1, 1, {}},
        {"load: row without reader", [&](TImgIO& io) { io.LoadFromFile(dir.File(L"a.ps")); }, 1, 1, {}},
        {"load: registered row without reader", [&](TImgIO& io) { io.LoadFromFile(dir.File(L"a.nor")); }, 1, 1, {}},
        {"load: built-in reader not installed", [&](TImgIO& io) { io.LoadFromFile(dir.File(L"a.png")); }, 1, 1, {}},
        {"load: reader raises", [&](TImgIO& io) { io.LoadFromFile(thr); }, 1, 1, {}},
        {"load by type: reader raises", [&](TImgIO& io) { io.LoadFromFileFormat(thr, 900); }, 1, 1, {}},
        {"load: reader fails", [&](TImgIO& io) { io.LoadFromFile(bad); }, 1, 1, {}},
        {"load: no image, built-in frame", [&](TImgIO& io) {
             classlib::TMemoryStream s;
             io.ReplaceBitmap(nullptr);
             io.LoadBMPFromStream(&s);
         }, 1, 1, {}},
        {"load by type: no row", [&](TImgIO& io) { io.LoadFromFileFormat(thr, 99); }, 1, 1, {}},
        {"stream load by type: no row", [&](TImgIO& io) { io.LoadFromStreamFormat(&junkStream, 99); }, 1, 1, {}},
        {"stream load: nothing recognised", [&](TImgIO& io) { junkStream.SetPosition(0); io.LoadFromStream(&junkStream); }, 1, 1, {}},
        {"URL load: download fails", [](TImgIO& io) { io.LoadFromURL(L"http://localhost/x.png"); }, 1, 1, {}},
        {"save: empty name", [](TImgIO& io) { io.SaveToFile(L""); }, Unchanged, 0, {}},
        {"save: no row", [&](TImgIO& io) { io.SaveToFile(dir.File(L"o.zzz")); }, 1, 0, dir.File(L"o.zzz")},
        {"save: registry-only extension, no writer", [&](TImgIO& io) { io.SaveToFile(dir.File(L"o.xif")); }, 1, 0, dir.File(L"o.xif")},
        {"save: built-in writer not installed", [&](TImgIO& io) { io.SaveJPEGToFile(dir.File(L"o.jpg")); }, 1, 0, dir.File(L"o.jpg")},
        {"save: by extension, not installed", [&](TImgIO& io) { io.SaveToFile(dir.File(L"o.PNG")); }, 1, 0, dir.File(L"o.PNG")},
        {"stream save: no row", [](TImgIO& io) { classlib::TMemoryStream s; io.SaveToStream(&s, 99); }, 1, 0, {}},
    };
    for (const Case& c : cases) {
        for (bool preset : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (preset ? " (preset true)" : " (preset false)"));
            TImgIO io(nullptr);
            TRecorder rec;
            rec.Hook(io);
            io.AbortFlag = preset;
            c.run(io);
            EXPECT_EQ(io.AbortFlag, c.abort == Unchanged ? preset : c.abort == 1);
            EXPECT_EQ(rec.finishes, c.finishes);
            if (!c.noFile.empty()) {
                EXPECT_FALSE(FileExists(c.noFile));
            }
        }
    }
}

// A failed read runs no resolution step and leaves what the reader left; a
// parameters-only read of a missing file reports through FileFormat.
TEST(ImgIODispatch, FailedLoadRunsNoResolutionSteps)
{
    TRegistryScope reg;
    RegisterRow(902, L"half", [](classlib::TStream*, TPxBitmap* b, TIOParamsVals& p, bool, TPxIOProgressInfo& info) {
        b->Allocate(3, 3, px8g);
        p.DpiX = 1;  // would become the default resolution
        p.DpiY = 500;
        info.Abort();
    }, nullptr);
    testsupport::TempDir dir;
    WriteFileBytes(dir.File(L"a.half"), "x", 1);
    TFakeView view;
    TImgIO io(nullptr);
    io.SetAttachedImg(&view);
    TRecorder rec;
    rec.Hook(io);
    int unlocked = view.dpiSetUnlocked;
    io.LoadFromFile(dir.File(L"a.half"));
    EXPECT_TRUE(io.AbortFlag);
    EXPECT_EQ(rec.finishes, 1);
    EXPECT_EQ(io.FileParams->DpiX, 1);
    EXPECT_EQ(view.GetPxBitmap()->GetWidth(), 0);  // emptied, never the reader's partial rows
    EXPECT_EQ(view.dpiX, 96);                      // the view kept its resolution
    EXPECT_EQ(view.dpiSetUnlocked, unlocked);

    io.ReadParamsFromFile(dir.File(L"missing.bmp"));
    EXPECT_EQ(io.FileParams->FileFormat, 0);
    EXPECT_EQ(io.FileParams->FileName, dir.File(L"missing.bmp"));
    EXPECT_EQ(rec.finishes, 2);
}

TEST(ImgIOFormats, StreamBlockHeaderRoundTrip)
{
    TRegistryScope reg({ffTIFF, ffPCX, ffJPEG});
    // (the raw test routines stand in for the formats' own)
    TImgIO io(nullptr);
    io.StreamHeaders = true;
    classlib::TMemoryStream s;
    s.WriteBuffer("lead", 4);
    // Two TIFF blocks and a JPEG block one after the other.
    auto a = Pattern(4, 3);
    auto b = Pattern(6, 2);
    io.GetCurrentBitmap()->Assign(a.get());
    io.SaveTIFFToStream(&s);
    int64_t secondAt = s.GetPosition();
    io.GetCurrentBitmap()->Assign(b.get());
    io.SaveTIFFToStream(&s);
    io.SaveJPEGToStream(&s);
    int64_t end = s.GetPosition();

    // The header: tag and zero byte, then the length of the data after it.
    const uint8_t* mem = static_cast<const uint8_t*>(s.GetMemory());
    EXPECT_EQ(std::memcmp(mem + 4, "TIFF\0", 5), 0);
    int32_t len;
    std::memcpy(&len, mem + 4 + 8, 4);
    EXPECT_EQ(len, secondAt - 4 - 12);
    std::string tag;
    int32_t length = 0;
    s.SetPosition(secondAt);
    ASSERT_TRUE(PxReadStreamBlockHeader(&s, tag, length));
    EXPECT_EQ(tag, "TIFF");

    TImgIO in(nullptr);
    in.StreamHeaders = true;
    s.SetPosition(4);
    EXPECT_EQ(in.LoadTIFFFromStream(&s), 1);
    EXPECT_FALSE(in.AbortFlag);
    EXPECT_TRUE(PxCompareBitmaps(in.GetCurrentBitmap(), a.get()));
    EXPECT_EQ(s.GetPosition(), secondAt);
    in.LoadTIFFFromStream(&s);
    EXPECT_TRUE(PxCompareBitmaps(in.GetCurrentBitmap(), b.get()));
    // A JPEG block is read whatever StreamHeaders says.
    in.StreamHeaders = false;
    in.LoadJPEGFromStream(&s);
    EXPECT_FALSE(in.AbortFlag);
    EXPECT_EQ(s.GetPosition(), end);
    EXPECT_EQ(in.FileParams->FileFormat, ffJPEG);

    // A block with the wrong tag reads nothing.
    in.StreamHeaders = true;
    s.SetPosition(end - (end - secondAt));
    in.LoadPCXFromStream(&s);
    EXPECT_TRUE(in.AbortFlag);

    // The older PCX form: a 4-byte "PCX" header, the data right after it.
    classlib::TMemoryStream old;
    old.WriteBuffer("PCX1", 4);
    io.StreamHeaders = false;
    io.SavePCXToStream(&old);
    old.SetPosition(0);
    in.LoadPCXFromStream(&old);
    EXPECT_FALSE(in.AbortFlag);
    EXPECT_TRUE(PxCompareBitmaps(in.GetCurrentBitmap(), b.get()));

    // Without headers a TIFF save writes the bare data; a JPEG stream without
    // a header loads from where it stood.
    classlib::TMemoryStream bare;
    io.StreamHeaders = false;
    io.SaveJPEGToStream(&bare);
    EXPECT_EQ(std::memcmp(bare.GetMemory(), "TRAW", 4), 0);
    bare.SetPosition(0);
    in.LoadJPEGFromStream(&bare);
    EXPECT_FALSE(in.AbortFlag);
    EXPECT_TRUE(PxCompareBitmaps(in.GetCurrentBitmap(), b.get()));
}

TEST(ImgIOFormats, SaveConvertsACopyAndFailedSaveLeavesNoFile)
{
    TRegistryScope reg;
    TPxPixelFormat seen = pxNoPixels;
    bool fail = false;
    reg.SetWriter(ffJPEG, [&](classlib::TStream* s, TPxBitmap* b, TIOParamsVals&, TPxIOProgressInfo& info) {
        seen = b->GetPixelFormat();
        s->WriteBuffer("J", 1);
        if (fail)
            info.Abort();
    });
    testsupport::TempDir dir;
    TImgIO io(nullptr);
    auto deep = Pattern(3, 2, pxRGB48);
    io.GetCurrentBitmap()->Assign(deep.get());
    io.SaveToFile(dir.File(L"A.JPG"));  // upper-case extension: the JPEG save
    EXPECT_FALSE(io.AbortFlag);
    EXPECT_EQ(seen, px24RGB);
    EXPECT_EQ(io.GetCurrentBitmap()->GetPixelFormat(), pxRGB48);  // untouched
    EXPECT_TRUE(PxCompareBitmaps(io.GetCurrentBitmap(), deep.get()));
    EXPECT_TRUE(FileExists(dir.File(L"A.JPG")));
    EXPECT_EQ(io.FileParams->FileFormat, ffJPEG);

    fail = true;
    io.SaveJPEGToFile(dir.File(L"b.jpg"));
    EXPECT_TRUE(io.AbortFlag);
    EXPECT_FALSE(FileExists(dir.File(L"b.jpg")));
}

TEST(ImgIODispatch, RegisteredFormatEndToEnd)
{
    TRegistryScope reg;
    RegisterRow(903, L"trw;raw2", ReadRaw, WriteRaw);
    testsupport::TempDir dir;
    TImgIO io(nullptr);
    TRecorder rec;
    rec.Hook(io);
    auto img = Pattern(9, 5);
    io.GetCurrentBitmap()->Assign(img.get());
    io.SaveToFile(dir.File(L"p.raw2"));
    EXPECT_FALSE(io.AbortFlag);
    EXPECT_EQ(rec.finishes, 1);

    TImgIO in(nullptr);
    in.LoadFromFile(dir.File(L"p.RAW2"));
    EXPECT_FALSE(in.AbortFlag);
    EXPECT_TRUE(PxCompareBitmaps(in.GetCurrentBitmap(), img.get()));
    EXPECT_EQ(in.FileParams->FileFormat, 903);
    EXPECT_EQ(in.FileParams->FileName, dir.File(L"p.RAW2"));

    // By stream with the type given, and parameters only.
    classlib::TMemoryStream s;
    io.SaveToStream(&s, 903);
    s.SetPosition(0);
    TImgIO in2(nullptr);
    in2.LoadFromStreamFormat(&s, 903);
    EXPECT_TRUE(PxCompareBitmaps(in2.GetCurrentBitmap(), img.get()));
    TImgIO params(nullptr);
    params.ReadParamsFromFileFormat(dir.File(L"p.raw2"), 903);
    EXPECT_EQ(params.FileParams->Width, 9);
    EXPECT_EQ(params.FileParams->FileFormat, 903);
    EXPECT_TRUE(params.GetCurrentBitmap()->IsEmpty());
}

// What the load frame hands each format's reader: the data size (the rest
// of a BMP stream, the whole PCX file or stream, none for the others) and,
// for the buffered formats, a read buffer in place of the caller's stream.
TEST(ImgIOLoadFrame, DataSizeAndBufferPerFormat)
{
    TRegistryScope reg;
    int64_t toldSize = 0;
    bool sawCallerStream = false;
    const classlib::TStream* callerStream = nullptr;
    for (TPxFileFormatId id : {ffBMP, ffPCX, ffTIFF, ffJPEG, ffPNG})
        reg.SetReader(id, [&](classlib::TStream* s, TPxBitmap* b, TIOParamsVals& p, bool preview,
                              TPxIOProgressInfo& info) {
            toldSize = info.DataSize;
            sawCallerStream = s == callerStream;
            ReadRaw(s, b, p, preview, info);
        });
    testsupport::TempDir dir;
    const std::wstring file = dir.File(L"raw.bin");
    WriteRawFile(file, 3, 2);
    classlib::TMemoryStream raw;
    raw.LoadFromFile(file);
    const int64_t rawSize = raw.GetSize();
    classlib::TMemoryStream led;  // 4 lead bytes, then the image
    led.WriteBuffer("lead", 4);
    led.WriteBuffer(raw.GetMemory(), rawSize);

    struct Case {
        const char* name;
        void (*run)(TImgIO& io, const std::wstring& file, classlib::TStream* stream);
        bool fromStream;
        int64_t size;  // -2: the whole stream
        bool buffered;
    };
    const Case cases[] = {
        {"BMP file", [](TImgIO& io, const std::wstring& f, classlib::TStream*) { io.LoadBMPFromFile(f); }, false, -1,
         false},
        {"BMP stream", [](TImgIO& io, const std::wstring&, classlib::TStream* s) { io.LoadBMPFromStream(s); }, true,
         rawSize, false},
        {"PCX file", [](TImgIO& io, const std::wstring& f, classlib::TStream*) { io.LoadPCXFromFile(f); }, false,
         rawSize, false},
        {"PCX stream", [](TImgIO& io, const std::wstring&, classlib::TStream* s) { io.LoadPCXFromStream(s); }, true, -2,
         false},
        {"TIFF stream", [](TImgIO& io, const std::wstring&, classlib::TStream* s) { io.LoadTIFFFromStream(s); }, true,
         -1, true},
        {"JPEG stream", [](TImgIO& io, const std::wstring&, classlib::TStream* s) { io.LoadJPEGFromStream(s); }, true,
         -1, false},
        {"PNG stream", [](TImgIO& io, const std::wstring&, classlib::TStream* s) { io.LoadPNGFromStream(s); }, true, -1,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TImgIO io(nullptr);
        io.AutoAdjustDPI = false;
        led.SetPosition(4);
        callerStream = c.fromStream ? &led : nullptr;
        toldSize = 0;
        sawCallerStream = false;
        c.run(io, file, &led);
        EXPECT_FALSE(io.AbortFlag);
        EXPECT_EQ(io.GetCurrentBitmap()->GetWidth(), 3);
        EXPECT_EQ(toldSize, c.size == -2 ? led.GetSize() : c.size);
        if (c.fromStream)
            EXPECT_EQ(sawCallerStream, !c.buffered);
    }
}
