// The vector-object stream ("PXV" block) and the combined layers-and-objects
// stream of TImgVect.
//
// Reading checks every count and index against the bytes left in the block
// (or in the inflated object part) and against the lists it indexes before
// anything is allocated for it. The objects are read into a fresh list while
// the old ones are set aside; only a fully read block replaces them, so a
// damaged block raises classlib::EReadError (or the zlib error) and leaves
// the view as it was.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "classlib/Exceptions.h"
#include "classlib/StreamRecords.h"
#include "classlib/Streams.h"
#include "classlib/ZLibStreams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/core/ImgIOView.h"
#include "imaging/proc/ImgProc.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/views/vector/ImgVect.h"

namespace imaging {

namespace {

constexpr char kCurrentVersion = 'Q';
// Inflated object parts larger than this are refused.
constexpr int64_t kMaxObjectPart = int64_t(1) << 30;

[[noreturn]] void Damaged() { throw classlib::EReadError(L"Stream read error"); }

using namespace classlib::streamrec;

int64_t Left(classlib::TStream* S) { return S->GetSize() - S->GetPosition(); }

// Bytes of the PNG stream starting at S's position (signature to the end of
// IEND), or raises when the chunks run past the end.
int64_t PngLength(classlib::TStream* S)
{
    const int64_t start = S->GetPosition();
    const int64_t size = S->GetSize();
    uint8_t sig[8];
    S->ReadBuffer(sig, 8);
    static const uint8_t expect[8] = {0x89, 'P', 'N', 'G', 13, 10, 26, 10};
    if (std::memcmp(sig, expect, 8) != 0)
        Damaged();
    int64_t pos = start + 8;
    for (;;) {
        if (pos + 12 > size)
            Damaged();
        S->SetPosition(pos);
        uint8_t head[8];
        S->ReadBuffer(head, 8);
        const uint32_t len = (uint32_t(head[0]) << 24) | (uint32_t(head[1]) << 16) | (uint32_t(head[2]) << 8) | head[3];
        pos += 12 + static_cast<int64_t>(len);
        if (pos > size)
            Damaged();
        if (std::memcmp(head + 4, "IEND", 4) == 0)
            break;
    }
    S->SetPosition(start);
    return pos - start;
}

std::unique_ptr<TPxBitmap> ReadImage(classlib::TStream* S, char Version)
{
    const int64_t start = S->GetPosition();
    int64_t length = 0;
    if (Version <= '2') {
        // A BMP file: its header gives its size.
        if (Left(S) < 14)
            Damaged();
        uint8_t head[14];
        S->ReadBuffer(head, 14);
        uint32_t size = 0;
        std::memcpy(&size, head + 2, 4);
        if (head[0] != 'B' || head[1] != 'M' || size < 14 || static_cast<int64_t>(size) > Left(S) + 14)
            Damaged();
        length = size;
        S->SetPosition(start);
    } else {
        length = PngLength(S);
    }
    classlib::TMemoryStream copy;
    copy.CopyFrom(S, length);
    copy.SetPosition(0);
    TImgIO io(nullptr);
    if (Version <= '2')
        io.LoadBMPFromStream(&copy);
    else
        io.LoadPNGFromStream(&copy);
    TPxBitmap* got = io.GetCurrentBitmap();
    if (io.AbortFlag || !got || got->GetWidth() <= 0 || got->GetHeight() <= 0)
        Damaged();
    auto bitmap = std::make_unique<TPxBitmap>();
    bitmap->Assign(got);
    S->SetPosition(start + length);
    return bitmap;
}

// Inflates the Count bytes at S's position into Out (at most kMaxObjectPart
// bytes).
void Inflate(classlib::TStream* S, int64_t Count, classlib::TMemoryStream& Out)
{
    classlib::TMemoryStream packed;
    if (Count > 0)
        packed.CopyFrom(S, Count);
    packed.SetPosition(0);
    classlib::TDecompressionStream unzip(&packed);
    uint8_t chunk[65536];
    for (;;) {
        const int64_t got = unzip.Read(chunk, sizeof(chunk));
        if (got <= 0)
            break;
        if (Out.GetSize() + got > kMaxObjectPart)
            Damaged();
        Out.WriteBuffer(chunk, got);
    }
    Out.SetPosition(0);
}

void WriteFontField(classlib::TStream* S, const TPxVectObject& R)
{
    Put<uint8_t>(S, R.HasFont ? 1 : 0);
    if (R.HasFont)
        S->WriteBuffer(&R.Font, 60);
}

void ReadFontField(classlib::TStream* S, TPxVectObject& R)
{
    R.HasFont = Get<uint8_t>(S) != 0;
    if (R.HasFont) {
        S->ReadBuffer(&R.Font, 60);
        R.Font.lfFaceName[LF_FACESIZE - 1] = 0;
    }
}

}  // namespace

// ---- shared bitmaps

void TImgVect::PackSharedBitmaps()
{
    std::vector<int> map(bitmaps_.size(), -1);
    std::vector<TSharedBitmap> packed;
    for (size_t i = 0; i < bitmaps_.size(); ++i)
        if (bitmaps_[i].Bitmap) {
            map[i] = static_cast<int>(packed.size());
            packed.push_back(std::move(bitmaps_[i]));
        }
    bitmaps_ = std::move(packed);
    auto renumber = [&](TPxVectObject& r) {
        r.BitmapIndex = r.BitmapIndex >= 0 && r.BitmapIndex < static_cast<int>(map.size())
                            ? map[static_cast<size_t>(r.BitmapIndex)]
                            : -1;
    };
    renumber(default_);
    for (auto& o : objects_)
        renumber(o);
}

// ---- writing

void TImgVect::SaveToStreamPxV(classlib::TStream* Stream)
{
    PackSharedBitmaps();
    // Every image is encoded before anything is written: an image that
    // cannot be encoded fails the save instead of leaving an entry that
    // promises an image it does not hold.
    std::vector<std::unique_ptr<classlib::TMemoryStream>> images(bitmaps_.size());
    std::vector<int32_t> counts(bitmaps_.size(), 0);
    for (size_t i = 0; i < bitmaps_.size(); ++i) {
        counts[i] = bitmaps_[i].Count - (default_.BitmapIndex == static_cast<int>(i) ? 1 : 0);
        if (counts[i] <= 0)
            continue;
        images[i] = std::make_unique<classlib::TMemoryStream>();
        TImgIO io(nullptr);
        io.ReplaceBitmap(bitmaps_[i].Bitmap.get());
        io.SavePNGToStream(images[i].get());
        io.ReplaceBitmap(nullptr);
        if (io.AbortFlag || images[i]->GetSize() <= 0)
            throw classlib::EWriteError(L"Stream write error");
    }
    const int64_t start = Stream->GetPosition();
    Stream->WriteBuffer("PXV", 3);
    Put<char>(Stream, kCurrentVersion);
    Put<int32_t>(Stream, 0);
    Put<double>(Stream, measureScale_);
    Put<int32_t>(Stream, static_cast<int32_t>(bitmaps_.size()));
    for (size_t i = 0; i < bitmaps_.size(); ++i) {
        Put<int32_t>(Stream, std::max(counts[i], 0));
        if (images[i])
            Stream->WriteBuffer(images[i]->GetMemory(), images[i]->GetSize());
    }
    {
        classlib::TCompressionStream zip(classlib::zcDefault, Stream);
        Put<int32_t>(&zip, static_cast<int32_t>(drawOrder_.size()));
        SaveObjectToStream(&zip, -3);
        zip.Finish();
    }
    const int64_t end = Stream->GetPosition();
    Stream->SetPosition(start + 4);
    Put<int32_t>(Stream, static_cast<int32_t>(end - start));
    Stream->SetPosition(end);
}

void TImgVect::SaveObjectToStream(classlib::TStream* Stream, int hobj)
{
    if (hobj == -3 || hobj == -4) {
        for (int h : drawOrder_)
            SaveObjectToStream(Stream, h);
        return;
    }
    if (hobj < 0 || hobj >= static_cast<int>(objects_.size()))
        return;
    const TPxVectObject& r = objects_[static_cast<size_t>(hobj)];
    Put<int32_t>(Stream, hobj);
    Put<int32_t>(Stream, r.Left);
    Put<int32_t>(Stream, r.Top);
    Put<int32_t>(Stream, r.Right);
    Put<int32_t>(Stream, r.Bottom);
    Put<uint8_t>(Stream, r.Kind);
    Put<uint8_t>(Stream, r.KeepAspect);
    Put<uint8_t>(Stream, r.Shadow.Enabled);
    Put<double>(Stream, r.Shadow.Radius);
    Put<int32_t>(Stream, r.Shadow.OffsetX);
    Put<int32_t>(Stream, r.Shadow.OffsetY);
    Put<int32_t>(Stream, r.Shadow.Intensity);
    const uint32_t sc = static_cast<uint32_t>(classlib::ColorToRGB(r.Shadow.ShadowColor));
    const uint8_t bgr[3] = {static_cast<uint8_t>(sc >> 16), static_cast<uint8_t>(sc >> 8), static_cast<uint8_t>(sc)};
    Stream->WriteBuffer(bgr, 3);
    PutString(Stream, r.Name);
    Put<int32_t>(Stream, r.Tag);
    Put<int32_t>(Stream, r.PenColor);
    Put<uint8_t>(Stream, static_cast<uint8_t>(r.PenStyle));
    Put<int32_t>(Stream, r.PenWidth);
    Put<int32_t>(Stream, r.BrushColor);
    Put<uint8_t>(Stream, static_cast<uint8_t>(r.BrushStyle));
    Put<uint8_t>(Stream, r.Options);
    Put<int32_t>(Stream, r.Transparency);
    Put<uint8_t>(Stream, r.BoxHighlight);
    Put<uint8_t>(Stream, r.TextQuality);
    const int32_t userLen = r.UserData && r.UserDataLen > 0 ? r.UserDataLen : 0;
    Put<int32_t>(Stream, userLen);
    if (userLen > 0)
        Stream->WriteBuffer(r.UserData, userLen);
    const uint8_t k = r.Kind;
    if (k == pxvoLineLabel) {
        Put<int32_t>(Stream, r.LabelBrushColor);
        Put<uint8_t>(Stream, static_cast<uint8_t>(r.LabelBrushStyle));
        Put<uint8_t>(Stream, r.LabelPosition);
        Put<uint8_t>(Stream, r.LabelBorder);
    }
    if (k == pxvoLine || k == pxvoLineLabel) {
        Put<uint8_t>(Stream, r.BeginShape);
        Put<uint8_t>(Stream, r.EndShape);
        Put<int32_t>(Stream, r.ShapeWidth);
        Put<int32_t>(Stream, r.ShapeHeight);
    }
    if (k == pxvoArc) {
        Put<double>(Stream, r.ArcStart);
        Put<double>(Stream, r.ArcEnd);
    }
    if (k == pxvoBitmap) {
        Put<int32_t>(Stream, r.BitmapIndex);
        Put<uint8_t>(Stream, r.BitmapBorder);
        PutString(Stream, r.Text);
    }
    if (k == pxvoText || k == pxvoLineLabel || k == pxvoCustom) {
        Put<uint8_t>(Stream, r.TextAlign);
        Put<uint8_t>(Stream, r.TextAutoSize);
        PutString(Stream, r.Text);
        WriteFontField(Stream, r);
        Put<int32_t>(Stream, static_cast<int32_t>(r.TextPath.size()));
        if (!r.TextPath.empty()) {
            for (const TPxDPoint& p : r.TextPath) {
                Put<double>(Stream, p.X);
                Put<double>(Stream, p.Y);
            }
            Put<int32_t>(Stream, r.TextPathValue);
        }
    }
    if (k == pxvoMemo) {
        PutString(Stream, r.Text);
        WriteFontField(Stream, r);
        const bool formats = !r.MemoCharFormats.empty() || (r.Text.empty() && !r.MemoFormats.empty());
        Put<uint8_t>(Stream, formats ? 1 : 0);
        if (formats)
            for (size_t i = 0; i < r.Text.size(); ++i)
                Put<uint32_t>(Stream, i < r.MemoCharFormats.size() ? r.MemoCharFormats[i] : 0u);
        Put<int32_t>(Stream, static_cast<int32_t>(r.MemoFormats.size()));
        for (const TPxMemoCharFormat& f : r.MemoFormats)
            Stream->WriteBuffer(&f, 280);
        Put<uint8_t>(Stream, r.MemoFixedFont);
        Put<uint8_t>(Stream, r.TextAutoSize);
        Put<int32_t>(Stream, r.MemoLineGap);
        Put<int32_t>(Stream, r.MemoBorderColor);
        Put<uint8_t>(Stream, static_cast<uint8_t>(r.MemoBorderStyle));
        Put<uint8_t>(Stream, r.TextAlign);
        Put<int32_t>(Stream, r.MemoLineHeight);
        Put<uint8_t>(Stream, r.MemoHasBitmap);
        if (r.MemoHasBitmap) {
            Put<int32_t>(Stream, r.BitmapIndex);
            Put<uint8_t>(Stream, r.BitmapBorder);
        }
        for (double m : r.MemoMargins)
            Put<double>(Stream, m);
        Put<uint8_t>(Stream, static_cast<uint8_t>(r.MemoBrushStyle));
    }
    Put<uint8_t>(Stream, r.TextEditable);
    if (k == pxvoRuler) {
        Put<uint8_t>(Stream, r.MeasureUnit);
        Put<uint8_t>(Stream, r.RulerStyle);
        WriteFontField(Stream, r);
    }
    if (k == pxvoPolyline) {
        Put<int32_t>(Stream, static_cast<int32_t>(r.Points.size()));
        for (const POINT& p : r.Points) {
            Put<int32_t>(Stream, p.x);
            Put<int32_t>(Stream, p.y);
        }
        Put<int32_t>(Stream, r.PointsBounds.left);
        Put<int32_t>(Stream, r.PointsBounds.top);
        Put<int32_t>(Stream, r.PointsBounds.right);
        Put<int32_t>(Stream, r.PointsBounds.bottom);
        Put<uint8_t>(Stream, r.Closed);
    }
    if (k == pxvoAngle) {
        for (const POINT& p : r.AnglePoints) {
            Put<int32_t>(Stream, p.x);
            Put<int32_t>(Stream, p.y);
        }
        WriteFontField(Stream, r);
    }
    if (k == pxvoCustom) {
        const std::string name = PxVectObjectClassName(r.CustomObject);
        Put<uint8_t>(Stream, r.CustomObject && !name.empty() ? 1 : 0);
        if (r.CustomObject && !name.empty()) {
            PutString(Stream, name);
            r.CustomObject->SaveToStream(Stream);
        }
    }
}

// ---- reading

namespace {

// The fields every record starts with, up to its user data block.
void ReadCommonFields(classlib::TStream* S, char V, TPxVectObject& r, std::vector<uint8_t>& UserData)
{
    r.PenColor = 0;
    r.Shadow.OffsetX = r.Shadow.OffsetY = 2;
    r.Options = pxvoptAll;
    r.MemoBrushStyle = static_cast<classlib::TBrushStyle>(0);
    if (V >= '<')
        (void)Get<int32_t>(S);
    r.Left = Get<int32_t>(S);
    r.Top = Get<int32_t>(S);
    r.Right = Get<int32_t>(S);
    r.Bottom = Get<int32_t>(S);
    const uint8_t kind = Get<uint8_t>(S);
    if (kind > pxvoCustom)
        Damaged();
    r.Kind = static_cast<TPxVectObjectKind>(kind);
    if (V >= 'M')
        r.KeepAspect = Get<uint8_t>(S) != 0;
    if (V >= '=') {
        r.Shadow.Enabled = Get<uint8_t>(S) != 0;
        r.Shadow.Radius = Get<double>(S);
        r.Shadow.OffsetX = Get<int32_t>(S);
        r.Shadow.OffsetY = Get<int32_t>(S);
    }
    if (V >= 'O') {
        r.Shadow.Intensity = Get<int32_t>(S);
        uint8_t bgr[3];
        S->ReadBuffer(bgr, 3);
        r.Shadow.ShadowColor = static_cast<classlib::TColor>(bgr[2] | (bgr[1] << 8) | (bgr[0] << 16));
    }
    r.Name = GetString(S);
    r.Tag = Get<int32_t>(S);
    r.PenColor = Get<int32_t>(S);
    r.PenStyle = static_cast<classlib::TPenStyle>(std::min<uint8_t>(Get<uint8_t>(S), classlib::psInsideFrame));
    r.PenWidth = Get<int32_t>(S);
    r.BrushColor = Get<int32_t>(S);
    r.BrushStyle = static_cast<classlib::TBrushStyle>(std::min<uint8_t>(Get<uint8_t>(S), classlib::bsDiagCross));
    r.Options = Get<uint8_t>(S);
    if (V >= '=')
        r.Transparency = Get<int32_t>(S);
    if (V >= '@')
        r.BoxHighlight = Get<uint8_t>(S) != 0;
    if (V >= 'Q')
        r.TextQuality = Get<uint8_t>(S);
    if (V >= 'I') {
        const int32_t n = GetCount(S, 1);
        UserData.resize(static_cast<size_t>(n));
        if (n > 0)
            S->ReadBuffer(UserData.data(), n);
    }
}

void ReadLineFields(classlib::TStream* S, char V, TPxVectObject& r)
{
    if (r.Kind == pxvoLineLabel) {
        r.LabelBrushColor = Get<int32_t>(S);
        r.LabelBrushStyle = static_cast<classlib::TBrushStyle>(std::min<uint8_t>(Get<uint8_t>(S), classlib::bsDiagCross));
        r.LabelPosition = Get<uint8_t>(S);
        if (V >= 'P')
            r.LabelBorder = Get<uint8_t>(S);
    }
    r.BeginShape = Get<uint8_t>(S);
    r.EndShape = Get<uint8_t>(S);
    r.ShapeWidth = Get<int32_t>(S);
    r.ShapeHeight = Get<int32_t>(S);
}

// A shared bitmap index: -1 (none) or one of the Count bitmaps read.
int32_t CheckedBitmapIndex(int32_t I, int Count)
{
    if (I < -1 || I >= Count)
        Damaged();
    return I;
}

void ReadBitmapFields(classlib::TStream* S, char V, TPxVectObject& r, int BitmapCount)
{
    r.BitmapIndex = CheckedBitmapIndex(Get<int32_t>(S), BitmapCount);
    if (V >= 'B')
        r.BitmapBorder = Get<uint8_t>(S) != 0;
    if (V >= 'F') {
        r.Text = GetString(S);
        r.HasText = true;
    }
}

void ReadTextFields(classlib::TStream* S, char V, TPxVectObject& r)
{
    if (V >= '4')
        r.TextAlign = Get<uint8_t>(S);
    if (V >= '9')
        r.TextAutoSize = Get<uint8_t>(S) != 0;
    r.Text = GetString(S);
    r.HasText = true;
    ReadFontField(S, r);
    if (V >= '?') {
        const int32_t c = GetCount(S, 16);
        r.TextPath.resize(static_cast<size_t>(c));
        for (auto& p : r.TextPath) {
            p.X = Get<double>(S);
            p.Y = Get<double>(S);
        }
        if (c > 0)
            r.TextPathValue = Get<int32_t>(S);
    }
}

void ReadMemoFields(classlib::TStream* S, char V, TPxVectObject& r, int BitmapCount)
{
    r.Text = GetString(S);
    r.HasText = true;
    ReadFontField(S, r);
    bool formats = true;
    if (V >= 'C')
        formats = Get<uint8_t>(S) != 0;
    if (formats) {
        if (static_cast<int64_t>(r.Text.size()) * 4 > Left(S))
            Damaged();
        r.MemoCharFormats.resize(r.Text.size());
        for (auto& f : r.MemoCharFormats)
            f = Get<uint32_t>(S);
    }
    const int32_t f = GetCount(S, 280);
    r.MemoFormats.resize(static_cast<size_t>(f));
    for (auto& rec : r.MemoFormats)
        S->ReadBuffer(&rec, 280);
    for (uint32_t i : r.MemoCharFormats)
        if (i >= static_cast<uint32_t>(f))
            Damaged();
    r.MemoFixedFont = Get<uint8_t>(S) != 0;
    r.TextAutoSize = Get<uint8_t>(S) != 0;
    r.MemoLineGap = Get<int32_t>(S);
    r.MemoBorderColor = Get<int32_t>(S);
    r.MemoBorderStyle = static_cast<classlib::TPenStyle>(std::min<uint8_t>(Get<uint8_t>(S), classlib::psInsideFrame));
    r.TextAlign = Get<uint8_t>(S);
    r.MemoLineHeight = Get<int32_t>(S);
    if (V >= 'I') {
        r.MemoHasBitmap = Get<uint8_t>(S) != 0;
        if (r.MemoHasBitmap) {
            r.BitmapIndex = CheckedBitmapIndex(Get<int32_t>(S), BitmapCount);
            if (V >= 'B')
                r.BitmapBorder = Get<uint8_t>(S) != 0;
        }
    }
    if (V >= 'H')
        for (double& m : r.MemoMargins)
            m = Get<double>(S);
    if (V >= 'L')
        r.MemoBrushStyle = static_cast<classlib::TBrushStyle>(std::min<uint8_t>(Get<uint8_t>(S), classlib::bsDiagCross));
}

// Records written without a font take Arial of the given height over the
// rest of the view's default font.
void SetDefaultFont(TPxVectObject& r, const LOGFONTA& Default, int Height)
{
    r.HasFont = true;
    r.Font = Default;
    r.Font.lfHeight = Height;
    std::memset(r.Font.lfFaceName, 0, sizeof(r.Font.lfFaceName));
    std::strcpy(r.Font.lfFaceName, "Arial");
}

void ReadRulerFields(classlib::TStream* S, char V, TPxVectObject& r, const LOGFONTA& Default)
{
    if (V < '5')
        return;
    r.MeasureUnit = static_cast<TPxUnits>(std::min<uint8_t>(Get<uint8_t>(S), pxuNANOMETERS));
    r.RulerStyle = Get<uint8_t>(S);
    if (V >= 'A')
        ReadFontField(S, r);
    if (!r.HasFont)
        SetDefaultFont(r, Default, 12);
}

void ReadPolylineFields(classlib::TStream* S, char V, TPxVectObject& r)
{
    if (V >= '8') {
        const int32_t p = GetCount(S, 8);
        r.Points.resize(static_cast<size_t>(p));
        for (auto& pt : r.Points) {
            pt.x = Get<int32_t>(S);
            pt.y = Get<int32_t>(S);
        }
        r.PointsBounds.left = Get<int32_t>(S);
        r.PointsBounds.top = Get<int32_t>(S);
        r.PointsBounds.right = Get<int32_t>(S);
        r.PointsBounds.bottom = Get<int32_t>(S);
    }
    if (V >= ';')
        r.Closed = Get<uint8_t>(S) != 0;
}

void ReadAngleFields(classlib::TStream* S, char V, TPxVectObject& r, const LOGFONTA& Default)
{
    if (V >= ':')
        for (auto& pt : r.AnglePoints) {
            pt.x = Get<int32_t>(S);
            pt.y = Get<int32_t>(S);
        }
    if (V >= 'K')
        ReadFontField(S, r);
    if (!r.HasFont)
        SetDefaultFont(r, Default, 10);
}

}  // namespace

std::unique_ptr<TPxCustomObjectBase> TImgVect::ReadCustomObject(classlib::TStream* S)
{
    const std::string name = GetString(S);
    std::unique_ptr<TPxCustomObjectBase> custom(PxCreateVectObjectByName(name));
    // An unknown class gives no length for its data: nothing after it can
    // be read.
    if (!custom)
        Damaged();
    custom->Owner = this;
    custom->Initialize();
    custom->LoadFromStream(S);
    return custom;
}

int TImgVect::LoadObjectFromStream(classlib::TStream* S, char V)
{
    // Nested records (kind 0 of old writers) may nest again; the depth is
    // limited so that a crafted stream cannot exhaust the stack.
    static thread_local int depth = 0;
    struct Depth {
        Depth()
        {
            if (++depth > 32) {
                --depth;
                Damaged();
            }
        }
        ~Depth() { --depth; }
    } guard;
    TPxVectObject r;
    std::vector<uint8_t> userData;
    ReadCommonFields(S, V, r, userData);
    const uint8_t k = r.Kind;
    if (k == pxvoNone) {
        // Each nested record must take at least 30 bytes.
        const int32_t n = GetCount(S, 30);
        int last = -3;
        for (int32_t i = 0; i < n; ++i)
            last = LoadObjectFromStream(S, V);
        return last;
    }
    const int bitmapCount = static_cast<int>(bitmaps_.size());
    if (k == pxvoLine || k == pxvoLineLabel)
        ReadLineFields(S, V, r);
    if (k == pxvoArc) {
        r.ArcStart = Get<double>(S);
        r.ArcEnd = Get<double>(S);
    }
    if (k == pxvoBitmap)
        ReadBitmapFields(S, V, r, bitmapCount);
    if (k == pxvoText || k == pxvoLineLabel || k == pxvoCustom)
        ReadTextFields(S, V, r);
    if (k == pxvoMemo)
        ReadMemoFields(S, V, r, bitmapCount);
    if (V >= 'J')
        r.TextEditable = Get<uint8_t>(S) != 0;
    if (k == pxvoRuler)
        ReadRulerFields(S, V, r, default_.Font);
    if (k == pxvoPolyline)
        ReadPolylineFields(S, V, r);
    if (k == pxvoAngle)
        ReadAngleFields(S, V, r, default_.Font);
    std::unique_ptr<TPxCustomObjectBase> custom;
    if (k == pxvoCustom && V >= 'N' && Get<uint8_t>(S) != 0) {
        custom = ReadCustomObject(S);
        r.CustomObject = custom.get();
    }
    const int h = AddObject(r);
    TPxVectObject& o = objects_[static_cast<size_t>(h)];
    if (!userData.empty()) {
        auto block = std::make_unique<uint8_t[]>(userData.size());
        std::memcpy(block.get(), userData.data(), userData.size());
        o.UserData = block.release();
        o.UserDataLen = static_cast<int32_t>(userData.size());
    }
    return h;
}

bool TImgVect::LoadFromStreamPxV(classlib::TStream* Stream)
{
    const int64_t start = Stream->GetPosition();
    char head[4] = {};
    Stream->ReadBuffer(head, 4);
    const char V = head[3];
    if (std::memcmp(head, "PXV", 3) != 0 || V < '1' || V > kCurrentVersion)
        return false;
    const int32_t length = Get<int32_t>(Stream);
    const int64_t headerSize = V == '1' ? 16 : 20;
    if (length < headerSize || start + length > Stream->GetSize())
        Damaged();
    const int64_t end = start + length;
    double scale = 1.0;
    if (V == '1')
        scale = Get<int32_t>(Stream);
    else
        scale = Get<double>(Stream);
    const int32_t n = Get<int32_t>(Stream);
    if (n < 0 || static_cast<int64_t>(n) * 4 > end - Stream->GetPosition())
        Damaged();

    // The current state is set aside; a failure below puts it back.
    CancelInteraction();
    struct TSaved {
        std::vector<TPxVectObject> Objects;
        std::vector<int> Order, Selection;
        std::vector<TSharedBitmap> Bitmaps;
        int DefaultIndex = -1;
        bool Share = true;
    } saved;
    saved.Objects = std::move(objects_);
    saved.Order = std::move(drawOrder_);
    saved.Selection = std::move(selection_);
    saved.Bitmaps = std::move(bitmaps_);
    saved.DefaultIndex = default_.BitmapIndex;
    saved.Share = ShareBitmaps;
    objects_.clear();
    drawOrder_.clear();
    selection_.clear();
    bitmaps_.clear();
    default_.BitmapIndex = -1;
    ShareBitmaps = true;
    try {
        bitmaps_.resize(static_cast<size_t>(n));
        for (int32_t i = 0; i < n; ++i) {
            if (Stream->GetPosition() + 4 > end)
                Damaged();
            const int32_t count = Get<int32_t>(Stream);
            if (count <= 0)
                continue;
            std::unique_ptr<TPxBitmap> bitmap = ReadImage(Stream, V);
            if (Stream->GetPosition() > end)
                Damaged();
            if (V >= '7' && V <= '<') {
                const int32_t alphaLen = GetCount(Stream, 1);
                if (Stream->GetPosition() + alphaLen > end)
                    Damaged();
                classlib::TMemoryStream rows;
                Inflate(Stream, alphaLen, rows);
                auto alpha = TPxBitmap::CreateAsAlphaChannel(bitmap->GetWidth(), bitmap->GetHeight(), bitmap->GetLocation());
                const int h = alpha->GetHeight();
                const int rowLen = alpha->GetRowLen();
                if (rows.GetSize() < static_cast<int64_t>(h) * rowLen)
                    Damaged();
                for (int y = 0; y < h; ++y)
                    rows.ReadBuffer(alpha->GetScanline(h - 1 - y), rowLen);
                bitmap->AttachAlphaChannel(alpha.release());
            }
            // The counts grow again as the objects take their entries.
            bitmaps_[static_cast<size_t>(i)].Bitmap = std::move(bitmap);
        }
        if (Stream->GetPosition() > end)
            Damaged();
        classlib::TMemoryStream part;
        Inflate(Stream, end - Stream->GetPosition(), part);
        const int32_t m = GetCount(&part, 30);
        for (int32_t i = 0; i < m; ++i)
            LoadObjectFromStream(&part, V);
        // Entries no object took are free.
        for (auto& e : bitmaps_)
            if (e.Count == 0)
                e.Bitmap.reset();
    } catch (...) {
        for (auto& o : objects_) {
            o.BitmapIndex = -1;
            FreeObject(o);
        }
        objects_ = std::move(saved.Objects);
        drawOrder_ = std::move(saved.Order);
        selection_ = std::move(saved.Selection);
        bitmaps_ = std::move(saved.Bitmaps);
        default_.BitmapIndex = saved.DefaultIndex;
        ShareBitmaps = saved.Share;
        for (auto& rec : objects_)
            if (rec.CustomObject)
                rec.CustomObject->Record = &rec;
        throw;
    }
    // The block is whole: the old objects go, the default object keeps its
    // picture (a copy in the new list).
    for (auto& o : saved.Objects) {
        o.BitmapIndex = -1;
        FreeObject(o);
    }
    std::unique_ptr<TPxBitmap> kept;
    if (saved.DefaultIndex >= 0 && saved.DefaultIndex < static_cast<int>(saved.Bitmaps.size()))
        kept = std::move(saved.Bitmaps[static_cast<size_t>(saved.DefaultIndex)].Bitmap);
    saved.Bitmaps.clear();
    measureScale_ = scale;
    ComputeUnitScale(mUnit_);
    if (kept)
        SetObjBitmap(-1, kept.get());
    ShareBitmaps = saved.Share;
    Stream->SetPosition(end);
    Update();
    return true;
}

bool TImgVect::LoadFromFilePxV(const std::wstring& FileName)
{
    if (FileName.empty())
        return false;
    classlib::TFileStream file(FileName, classlib::fmOpenRead | classlib::fmShareDenyWrite);
    return LoadFromStreamPxV(&file);
}

void TImgVect::SaveToStreamAll(classlib::TStream* Stream, int Coding)
{
    const int64_t start = Stream->GetPosition();
    Put<int32_t>(Stream, 0);
    LayersSaveToStream(Stream, Coding);
    const int64_t position = Stream->GetPosition();
    Stream->SetPosition(start);
    Put<int32_t>(Stream, static_cast<int32_t>(position));
    Stream->SetPosition(position);
    SaveToStreamPxV(Stream);
}

bool TImgVect::LoadFromStreamAll(classlib::TStream* Stream)
{
    const int32_t position = Get<int32_t>(Stream);
    if (position < 0 || position > Stream->GetSize())
        Damaged();
    if (!LayersLoadFromStream(Stream))
        return false;
    Stream->SetPosition(position);
    return LoadFromStreamPxV(Stream);
}

bool TImgVect::LoadFromFileAll(const std::wstring& FileName)
{
    if (FileName.empty())
        return false;
    classlib::TFileStream file(FileName, classlib::fmOpenRead | classlib::fmShareDenyWrite);
    return LoadFromStreamAll(&file);
}

int TImgVect::LoadViewDataFromFile(const std::wstring& FileName, int32_t FileType)
{
    if (FileType == 26)
        return TImgView::LoadViewDataFromFile(FileName, FileType);
    if (FileType == 27)
        return LoadFromFileAll(FileName) ? 1 : 0;
    if (FileType != 25)
        return -1;
    if (!LoadFromFilePxV(FileName))
        return 0;
    const RECT r = GetObjectsExtent();
    if (r.right > 0 && r.bottom > 0) {
        GetProc()->ImageResize(r.right, r.bottom, 0, 0, 255);
        GetProc()->Fill(TPxRGB{255, 255, 255});
    }
    if (TPxBitmap* alpha = GetAlphaChannel()) {
        alpha->Fill(0);
        alpha->FullAlpha = false;
    }
    Update();
    return 1;
}

int TImgVect::LoadViewDataFromStream(classlib::TStream* Stream, int32_t FileType)
{
    if (FileType == 26)
        return TImgView::LoadViewDataFromStream(Stream, FileType);
    if (FileType == 25)
        return LoadFromStreamPxV(Stream) ? 1 : 0;
    if (FileType == 27)
        return LoadFromStreamAll(Stream) ? 1 : 0;
    return -1;
}

namespace {

// A layer or vector file drawn flat through a temporary view.
bool RenderViewData(const std::wstring& FileName, int32_t FileType, TPxBitmap* Image)
{
    TImgVect view(nullptr);
    view.SetLegacyBitmap(false);
    bool ok = false;
    if (FileType == 25) {
        ok = view.LoadFromFilePxV(FileName);
        const RECT r = view.GetObjectsExtent();
        if (ok && r.right > 0 && r.bottom > 0) {
            view.GetProc()->ImageResize(r.right, r.bottom, 0, 0, 255);
            view.GetProc()->Fill(TPxRGB{255, 255, 255});
        }
        if (ok)
            view.DrawObjectsIntoImage(true);
    } else if (FileType == 26) {
        ok = view.LayersLoadFromFile(FileName);
        if (ok)
            view.FlattenLayers();
    } else if (FileType == 27) {
        ok = view.LoadFromFileAll(FileName);
        if (ok) {
            view.FlattenLayers();
            view.DrawObjectsIntoImage(true);
        }
    }
    if (ok)
        Image->Assign(view.GetPxBitmap());
    return ok;
}

}  // namespace

void PxInstallViewDataRenderer() { PxSetViewDataRenderer(&RenderViewData); }

bool PxIsVectStream(classlib::TStream* Stream)
{
    const int64_t position = Stream->GetPosition();
    char head[4] = {};
    const int64_t got = Stream->Read(head, 4);
    Stream->SetPosition(position);
    return got == 4 && std::memcmp(head, "PXV", 3) == 0 && head[3] >= '1' && head[3] <= kCurrentVersion;
}

bool PxIsVectAllStream(classlib::TStream* Stream)
{
    const int64_t position = Stream->GetPosition();
    int32_t offset = 0;
    bool result = false;
    if (Stream->Read(&offset, 4) == 4 && offset >= 0 && offset <= Stream->GetSize()) {
        if (PxIsLayersStream(Stream)) {
            Stream->SetPosition(offset);
            result = PxIsVectStream(Stream);
        }
    }
    Stream->SetPosition(position);
    return result;
}

}  // namespace imaging
