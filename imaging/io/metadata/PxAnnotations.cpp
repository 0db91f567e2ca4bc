#include "imaging/io/metadata/PxAnnotations.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <map>

#include "classlib/SysUtils.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ReadGuard.h"
#include "imaging/model/PxCopy.h"
#include "imaging/proc/PxDib.h"

namespace imaging {

namespace {

constexpr uint32_t kRecordDefaultBlock = 2;
constexpr uint32_t kRecordAttributes = 5;
constexpr uint32_t kRecordMarkBlock = 6;
constexpr uint32_t kNamedBlockRecordSize = 12;
constexpr size_t kNameSize = 8;
constexpr size_t kPlacementSize = 56;  // "OiAnoDat" of embedded images
constexpr size_t kTextHeaderSize = 16;  // "OiAnText" before the text
constexpr int32_t kEmbeddedImageDpi = 200;

void PutLE32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

void AppendLE32(std::vector<uint8_t>& Out, uint32_t v)
{
    uint8_t b[4];
    PutLE32(b, v);
    Out.insert(Out.end(), b, b + 4);
}

// Named blocks of one set by name; a later block replaces an earlier one.
using TNamedBlocks = std::map<std::string, std::vector<uint8_t>>;

const std::vector<uint8_t>* FindBlock(const TNamedBlocks& Blocks, const char* Name)
{
    const auto it = Blocks.find(Name);
    return it == Blocks.end() ? nullptr : &it->second;
}

// The screen device context for the duration of a scope.
class TScreenDC {
public:
    TScreenDC() : dc_(GetDC(nullptr)) {}
    ~TScreenDC()
    {
        if (dc_ != nullptr) ReleaseDC(nullptr, dc_);
    }
    TScreenDC(const TScreenDC&) = delete;
    TScreenDC& operator=(const TScreenDC&) = delete;
    int Caps(int Index) const { return dc_ != nullptr ? GetDeviceCaps(dc_, Index) : 0; }

private:
    HDC dc_;
};

struct TScreenDpi {
    int32_t X = 96;
    int32_t Y = 96;
    TScreenDpi()
    {
        const TScreenDC dc;
        if (const int x = dc.Caps(LOGPIXELSX); x > 0) X = x;
        if (const int y = dc.Caps(LOGPIXELSY); y > 0) Y = y;
    }
};

const TScreenDpi& ScreenDpi()
{
    static const TScreenDpi dpi;
    return dpi;
}

// The font height of a text mark read back: 72000 / scale x height / screen
// resolution, rounded to the nearest (halves to even), kept in 32 bits.
int32_t RescaledFontHeight(int32_t Height, int32_t Scale)
{
    const int32_t dpiY = PxAnnotScreenDpiY();
    if (Scale == 0) Scale = 72000 / dpiY;
    if (Scale == 0) return Height;
    const double value = 72000.0 / Scale * Height / dpiY;
    const double limit = static_cast<double>(std::numeric_limits<int32_t>::max());
    return static_cast<int32_t>(classlib::Round(std::clamp(value, -limit, limit)));
}

// The packed DIB of an image at the embedded-image resolution; empty when
// the image cannot be exported.
std::vector<uint8_t> ExportDIB(TPxBitmap* Image)
{
    std::vector<uint8_t> bytes;
    HGLOBAL block = _CopyBitmaptoDIBEx(Image, 0, 0, 0, 0, kEmbeddedImageDpi, kEmbeddedImageDpi);
    if (block == nullptr) return bytes;
    if (const void* p = GlobalLock(block); p != nullptr) {
        const auto* b = static_cast<const uint8_t*>(p);
        bytes.assign(b, b + GlobalSize(block));
        GlobalUnlock(block);
    }
    GlobalFree(block);
    return bytes;
}

// Turns the pending mark into an object of List. False when one of its
// blocks is too short for what it declares (the mark is then dropped).
bool AddMark(TPxImagingAnnot& List, const std::array<uint8_t, PxAnnotAttributeSize>& Attributes,
             const TNamedBlocks& Blocks)
{
    const uint32_t type = PxLe32(Attributes.data() + PxAnnotMarkTypeOffset);
    if (type < 1) return true;
    auto mark = std::make_unique<TPxImagingObject>();
    mark->Attributes = Attributes;
    if (type == PxAnnotImageEmbedded) {
        if (const auto* dib = FindBlock(Blocks, "OiDIB"); dib != nullptr && !dib->empty()) {
            std::vector<uint8_t> copy(*dib);
            auto image = std::make_unique<TPxBitmap>();
            if (PxCopyDIBToBitmap(copy.data(), image.get(), nullptr, true, static_cast<int64_t>(copy.size())) > 0)
                mark->Image = std::move(image);
        }
    } else if (type >= PxAnnotLineFirst && type <= PxAnnotLineLast) {
        if (const auto* data = FindBlock(Blocks, "OiAnoDat"); data != nullptr) {
            if (data->size() < 8) return false;
            const uint32_t count = PxLe32(data->data() + 4);
            if (count > (data->size() - 8) / 8) return false;
            mark->Points.resize(count);
            for (uint32_t i = 0; i < count; ++i) {
                const uint8_t* p = data->data() + 8 + 8 * static_cast<size_t>(i);
                mark->Points[i].X = static_cast<int32_t>(PxLe32(p));
                mark->Points[i].Y = static_cast<int32_t>(PxLe32(p + 4));
            }
        }
    } else if (type >= PxAnnotTextFirst && type <= PxAnnotTextLast) {
        if (const auto* data = FindBlock(Blocks, "OiAnText"); data != nullptr) {
            if (data->size() < kTextHeaderSize) return false;
            const auto scale = static_cast<int32_t>(PxLe32(data->data() + 8));
            const uint32_t length = PxLe32(data->data() + 12);
            if (length > data->size() - kTextHeaderSize) return false;
            const char* text = reinterpret_cast<const char*>(data->data() + kTextHeaderSize);
            mark->Text.assign(text, std::find(text, text + length, '\0'));
            mark->SetFontHeight(RescaledFontHeight(mark->GetFontHeight(), scale));
        }
    }
    List.Objects.push_back(std::move(mark));
    return true;
}

// Appends a type-6 named-block record.
void AppendBlock(std::vector<uint8_t>& Out, uint32_t RecordType, const char* Name, const uint8_t* Data, size_t Size)
{
    AppendLE32(Out, RecordType);
    AppendLE32(Out, kNamedBlockRecordSize);
    char name[kNameSize] = {};
    std::memcpy(name, Name, std::min(std::strlen(Name), kNameSize));
    Out.insert(Out.end(), name, name + kNameSize);
    AppendLE32(Out, static_cast<uint32_t>(Size));
    if (Size > 0) Out.insert(Out.end(), Data, Data + Size);
}

// A named block holding a text and its terminating zero.
void AppendTextBlock(std::vector<uint8_t>& Out, uint32_t RecordType, const char* Name, const std::string& Text)
{
    AppendBlock(Out, RecordType, Name, reinterpret_cast<const uint8_t*>(Text.c_str()), Text.size() + 1);
}

}  // namespace

int32_t PxAnnotScreenDpiX() { return ScreenDpi().X; }
int32_t PxAnnotScreenDpiY() { return ScreenDpi().Y; }

// ---------------------------------------------------------------------------
// TPxImagingObject

int32_t TPxImagingObject::GetAttributeWord(size_t Offset) const
{
    if (Offset > PxAnnotAttributeSize - 4) return 0;
    return static_cast<int32_t>(PxLe32(Attributes.data() + Offset));
}

void TPxImagingObject::SetAttributeWord(size_t Offset, int32_t Value)
{
    if (Offset > PxAnnotAttributeSize - 4) return;
    PutLE32(Attributes.data() + Offset, static_cast<uint32_t>(Value));
}

void TPxImagingObject::Assign(const TPxImagingObject* Source)
{
    if (Source == nullptr || Source == this) return;
    Attributes = Source->Attributes;
    Points = Source->Points;
    Text = Source->Text;
    Image.reset();
    if (Source->Image) {
        Image = std::make_unique<TPxBitmap>();
        PxAssignBitmap(*Image, Source->Image.get());
    }
}

// ---------------------------------------------------------------------------
// TPxImagingAnnot

void TPxImagingAnnot::Clear() { Objects.clear(); }

void TPxImagingAnnot::Assign(const TPxImagingAnnot* Source)
{
    if (Source == this) return;
    Clear();
    if (Source == nullptr) return;
    for (const auto& object : Source->Objects) {
        auto copy = std::make_unique<TPxImagingObject>();
        copy->Assign(object.get());
        Objects.push_back(std::move(copy));
    }
}

void TPxImagingAnnot::LoadFromBuffer(const void* Buffer, int64_t Length)
{
    if (Buffer == nullptr || Length <= 0) return;
    UserChanged = false;
    const auto* data = static_cast<const uint8_t*>(Buffer);
    if (Length < 8) return;
    const bool longBlockHeaders = PxLe32(data + 4) == 0;
    const int64_t blockHeader = static_cast<int64_t>(kNameSize) + 4 + (longBlockHeaders ? 4 : 0);

    std::array<uint8_t, PxAnnotAttributeSize> attributes{};
    TNamedBlocks markBlocks;
    int64_t pos = 8;
    while (Length - pos >= 8) {
        const uint32_t type = PxLe32(data + pos);
        pos += 8;
        if (type == kRecordAttributes) {
            if (!AddMark(*this, attributes, markBlocks)) return;
            markBlocks.clear();
            attributes.fill(0);
            if (Length - pos < static_cast<int64_t>(PxAnnotAttributeSize)) break;
            std::memcpy(attributes.data(), data + pos, PxAnnotAttributeSize);
            pos += static_cast<int64_t>(PxAnnotAttributeSize);
        } else if (type == kRecordDefaultBlock || type == kRecordMarkBlock) {
            if (Length - pos < blockHeader) break;
            const char* name = reinterpret_cast<const char*>(data + pos);
            const std::string blockName(name, std::find(name, name + kNameSize, '\0'));
            const uint32_t size = PxLe32(data + pos + kNameSize);
            pos += blockHeader;
            if (static_cast<int64_t>(size) > Length - pos) break;
            // The defaults of all marks are read over; nothing in the toolkit
            // uses them, and a new block writes its own.
            if (type == kRecordMarkBlock) markBlocks[blockName].assign(data + pos, data + pos + size);
            pos += size;
        }
        // Other record types: passed over by their 8-byte header only.
    }
    AddMark(*this, attributes, markBlocks);
}

std::vector<uint8_t> TPxImagingAnnot::SaveToBuffer() const
{
    std::vector<uint8_t> out;
    if (Objects.empty()) return out;
    AppendLE32(out, 0);
    AppendLE32(out, 1);
    AppendTextBlock(out, kRecordDefaultBlock, "OiGroup", "0");
    AppendTextBlock(out, kRecordDefaultBlock, "OiIndex", "1");
    const auto dpiX = static_cast<uint32_t>(PxAnnotScreenDpiX());
    const auto dpiY = static_cast<uint32_t>(PxAnnotScreenDpiY());
    for (size_t i = 0; i < Objects.size(); ++i) {
        const TPxImagingObject& mark = *Objects[i];
        AppendLE32(out, kRecordAttributes);
        AppendLE32(out, static_cast<uint32_t>(PxAnnotAttributeSize));
        out.insert(out.end(), mark.Attributes.begin(), mark.Attributes.end());
        const uint32_t type = mark.GetMarkType();
        if (type == PxAnnotImageEmbedded) {
            uint8_t placement[kPlacementSize] = {};
            const uint32_t words[8] = {1, 1000, dpiX, dpiY, dpiX, dpiY, 0, 0};
            for (size_t k = 0; k < 8; ++k) PutLE32(placement + 4 * k, words[k]);
            AppendBlock(out, kRecordMarkBlock, "OiAnoDat", placement, kPlacementSize);
            if (mark.Image) {
                const std::vector<uint8_t> dib = ExportDIB(mark.Image.get());
                if (!dib.empty()) AppendBlock(out, kRecordMarkBlock, "OiDIB", dib.data(), dib.size());
            }
        } else if (type >= PxAnnotLineFirst && type <= PxAnnotLineLast) {
            std::vector<uint8_t> points;
            AppendLE32(points, static_cast<uint32_t>(mark.Points.size()));
            AppendLE32(points, static_cast<uint32_t>(mark.Points.size()));
            for (const TPxAnnotPoint& p : mark.Points) {
                AppendLE32(points, static_cast<uint32_t>(p.X));
                AppendLE32(points, static_cast<uint32_t>(p.Y));
            }
            AppendBlock(out, kRecordMarkBlock, "OiAnoDat", points.data(), points.size());
        } else if (type >= PxAnnotTextFirst && type <= PxAnnotTextLast) {
            // The text up to its first zero byte, which is what a reader sees.
            const std::string text(mark.Text.c_str());
            std::vector<uint8_t> block;
            AppendLE32(block, 0);
            AppendLE32(block, 1000);
            AppendLE32(block, 72000 / dpiY);
            AppendLE32(block, static_cast<uint32_t>(text.size()));
            block.insert(block.end(), text.begin(), text.end());
            block.push_back(0);
            AppendBlock(out, kRecordMarkBlock, "OiAnText", block.data(), block.size());
        }
        AppendTextBlock(out, kRecordMarkBlock, "OiGroup", "0");
        AppendTextBlock(out, kRecordMarkBlock, "OiIndex", std::to_string(i));
    }
    return out;
}

// ---------------------------------------------------------------------------
// Installation into the parameters

void PxInstallImagingAnnot()
{
    TIOParamsObjectKind<TPxImagingAnnot>& kind = IOParamsObjectServices().ImagingAnnot;
    if (kind.Installed()) return;
    TIOParamsObjectKind<TPxImagingAnnot> annot = PxPlainObjectKind<TPxImagingAnnot>();
    annot.Create = [](TIOParamsVals* Params) -> TPxImagingAnnot* {
        auto* list = new TPxImagingAnnot();
        list->Parent = Params;
        return list;
    };
    kind = annot;
}

}  // namespace imaging
