// Items, lists, colour tables of image and frame, header and trailer.
#include <algorithm>

#include "classlib/Streams.h"
#include "gif/GIFExtensions.h"
#include "gif/GIFImage.h"

namespace gif {

// ---- TGIFItem ---------------------------------------------------------------

void TGIFItem::Warning(uint8_t Severity, const std::wstring& Message)
{
    if (OwnerImage)
        OwnerImage->Warning(this, Severity, Message);
}

void TGIFItem::SaveToFile(const std::wstring& FileName)
{
    classlib::TFileStream Stream(FileName, classlib::fmCreate);
    SaveToStream(&Stream);
}

void TGIFItem::LoadFromFile(const std::wstring& FileName)
{
    classlib::TFileStream Stream(FileName, classlib::fmOpenRead | classlib::fmShareDenyWrite);
    LoadFromStream(&Stream);
}

// ---- TGIFList -----------------------------------------------------------------

TGIFList::~TGIFList()
{
    Clear();
}

TGIFItem* TGIFList::GetItem(int Index) const
{
    if (Index < 0 || Index >= GetCount())
        throw classlib::EListError(L"List index out of bounds (" + std::to_wstring(Index) + L")");
    return Members[Index];
}

int TGIFList::Add(TGIFItem* Item)
{
    Members.push_back(Item);
    return GetCount() - 1;
}

void TGIFList::Insert(int Index, TGIFItem* Item)
{
    if (Index < 0 || Index > GetCount())
        throw classlib::EListError(L"List index out of bounds (" + std::to_wstring(Index) + L")");
    Members.insert(Members.begin() + Index, Item);
}

void TGIFList::Clear()
{
    while (!Members.empty())
        Delete(0);
}

void TGIFList::Delete(int Index)
{
    TGIFItem* Item = GetItem(Index);
    Members.erase(Members.begin() + Index);
    delete Item;  // its own removal finds nothing left to remove
}

void TGIFList::Remove(TGIFItem* Item)
{
    auto it = std::find(Members.begin(), Members.end(), Item);
    if (it != Members.end())
        Members.erase(it);
}

int TGIFList::IndexOf(const TGIFItem* Item) const
{
    auto it = std::find(Members.begin(), Members.end(), Item);
    return it == Members.end() ? -1 : static_cast<int>(it - Members.begin());
}

void TGIFList::Warning(uint8_t Severity, const std::wstring& Message)
{
    if (OwnerImage)
        OwnerImage->Warning(this, Severity, Message);
}

void TGIFList::SaveToStream(classlib::TStream* Stream)
{
    for (TGIFItem* Item : Members)
        Item->SaveToStream(Stream);
}

// ---- TGIFImageList -------------------------------------------------------------

TGIFSubImage* TGIFImageList::GetFrame(int Index) const
{
    return static_cast<TGIFSubImage*>(GetItem(Index));
}

namespace {

// Reads bytes until one is not 0; -1 at the end of the stream.
int SkipZeros(classlib::TStream* Stream)
{
    int b;
    do {
        b = ReadStreamByte(Stream);
    } while (b == 0);
    return b;
}

}  // namespace

void TGIFImageList::LoadFromStream(classlib::TStream* Stream, TGIFImage* Parent)
{
    int b = SkipZeros(Stream);
    if (b < 0)
        return;
    while (b != 0x3B) {
        Stream->Seek(-1, classlib::soCurrent);
        if (b != 0x21 && b != 0x2C) {
            Warning(1, L"Unknown GIF block type");
            return;
        }
        std::unique_ptr<TGIFSubImage> Frame(new TGIFSubImage(Parent));
        Frame->LoadFromStream(Stream);
        Add(Frame.release());
        const int64_t Size = Stream->GetSize();
        const int64_t Percent = Size > 0 ? Stream->GetPosition() * 100 / Size : 0;
        Parent->DoProgress(Parent, classlib::psRunning, static_cast<uint8_t>(std::clamp<int64_t>(Percent, 0, 100)),
                           RenderFramesOnLoad, L"Loading...");
        b = SkipZeros(Stream);
        if (b < 0)
            return;
    }
    Stream->Seek(-1, classlib::soCurrent);
}

void TGIFImageList::SaveToStream(classlib::TStream* Stream)
{
    const int Count = GetCount();
    for (int i = 0; i < Count; ++i) {
        GetFrame(i)->SaveToStream(Stream);
        if (OwnerImage)
            OwnerImage->DoProgress(OwnerImage, classlib::psRunning, static_cast<uint8_t>((i + 1) * 100 / Count),
                                   false, L"Saving...");
    }
}

// ---- colour tables ---------------------------------------------------------------

void TGIFGlobalColorMap::Warning(uint8_t Severity, const std::wstring& Message)
{
    if (Owner && Owner->GetImage())
        Owner->GetImage()->Warning(this, Severity, Message);
}

void TGIFGlobalColorMap::BuildHistogram(TColorCounts& Counts)
{
    Counts.fill(0);
    TGIFImage* Image = Owner->GetImage();
    for (int f = 0; f < Image->GetImages()->GetCount(); ++f) {
        TGIFSubImage* Frame = Image->GetImages()->GetFrame(f);
        if (Frame->ActiveColorMap() != this || !Frame->GetData())
            continue;
        const uint8_t* p = Frame->GetData();
        for (int32_t i = 0; i < Frame->GetDataSize(); ++i)
            ++Counts[p[i]];
    }
}

namespace {

void MapFrame(TGIFSubImage* Frame, const TColorMapping& Map);

}  // namespace

void TGIFGlobalColorMap::MapImages(const TColorMapping& Map)
{
    TGIFImage* Image = Owner->GetImage();
    for (int f = 0; f < Image->GetImages()->GetCount(); ++f) {
        TGIFSubImage* Frame = Image->GetImages()->GetFrame(f);
        if (Frame->ActiveColorMap() == this)
            MapFrame(Frame, Map);
    }
}

bool TGIFGlobalColorMap::DoOptimize()
{
    if (Owner->GetImage()->GetImages()->GetCount() == 0)
        return false;
    return Optimize();
}

void TGIFGlobalColorMap::Changed()
{
    if (Owner && Owner->GetImage())
        Owner->GetImage()->SetPalette(nullptr);
}

void TGIFLocalColorMap::Warning(uint8_t Severity, const std::wstring& Message)
{
    if (Owner && Owner->GetImage())
        Owner->GetImage()->Warning(this, Severity, Message);
}

void TGIFLocalColorMap::BuildHistogram(TColorCounts& Counts)
{
    Counts.fill(0);
    if (!Owner->GetData())
        return;
    const uint8_t* p = Owner->GetData();
    for (int32_t i = 0; i < Owner->GetDataSize(); ++i)
        ++Counts[p[i]];
}

void TGIFLocalColorMap::MapImages(const TColorMapping& Map)
{
    MapFrame(Owner, Map);
}

bool TGIFLocalColorMap::DoOptimize()
{
    return Optimize();
}

void TGIFLocalColorMap::Changed()
{
    if (Owner)
        Owner->SetPalette(nullptr);
}

namespace {

void MapFrame(TGIFSubImage* Frame, const TColorMapping& Map)
{
    if (uint8_t* p = Frame->GetData())
        for (int32_t i = 0; i < Frame->GetDataSize(); ++i)
            p[i] = Map[p[i]];
    if (Frame->GetTransparent() && Frame->GetControlExtension()) {
        auto* Gce = Frame->GetControlExtension();
        Gce->SetTransparentColorIndex(Map[Gce->GetTransparentColorIndex()]);
    }
    Frame->FreeBitmap();
    Frame->FreeMask();
}

}  // namespace

// ---- header and trailer -------------------------------------------------------------

TGIFHeader::TGIFHeader(TGIFImage* Owner) : TGIFItem(Owner), GlobalTable(new TGIFGlobalColorMap(this)) {}

TGIFHeader::~TGIFHeader() = default;

void TGIFHeader::Assign(const classlib::TPersistent* Source)
{
    if (const auto* h = dynamic_cast<const TGIFHeader*>(Source)) {
        GlobalTable->Assign(h->GlobalTable.get());
        ScreenDescriptor = h->ScreenDescriptor;
        return;
    }
    if (const auto* m = dynamic_cast<const TGIFColorMap*>(Source)) {
        Clear();
        GlobalTable->Assign(m);
        return;
    }
    TGIFItem::Assign(Source);
}

void TGIFHeader::Clear()
{
    GlobalTable->Clear();
    ScreenDescriptor = TLogicalScreenDescriptor{};
}

void TGIFHeader::Prepare()
{
    uint8_t Packed = 0;
    if (GlobalTable->GetCount() > 0) {
        Packed |= 0x80;
        if (GlobalTable->GetSorted())
            Packed |= 0x08;
    }
    Packed |= (OwnerImage->GetColorResolution() << 4) & 0x70;
    if (GlobalTable->GetCount() > 0)
        Packed |= (GlobalTable->TableBits() - 1) & 7;
    else
        Packed |= (OwnerImage->GetBitsPerPixel() - 1) & 7;
    ScreenDescriptor.PackedFields = Packed;
}

void TGIFHeader::SaveToStream(classlib::TStream* Stream)
{
    const int v = OwnerImage->GetVersion();
    if (v == 0)
        RaiseGifError(L"Unsupported GIF version");
    Stream->WriteBuffer(v == 1 ? "GIF87a" : "GIF89a", 6);
    Prepare();
    const TLogicalScreenDescriptor& d = ScreenDescriptor;
    const uint8_t Bytes[7] = {static_cast<uint8_t>(d.ScreenWidth), static_cast<uint8_t>(d.ScreenWidth >> 8),
                              static_cast<uint8_t>(d.ScreenHeight), static_cast<uint8_t>(d.ScreenHeight >> 8),
                              d.PackedFields, d.BackgroundColorIndex, d.AspectRatio};
    Stream->WriteBuffer(Bytes, 7);
    if (d.PackedFields & 0x80)
        GlobalTable->SaveToStream(Stream);
}

void TGIFHeader::LoadFromStream(classlib::TStream* Stream)
{
    const int64_t Pos = Stream->GetPosition();
    char Sig[6];
    ReadExact(Stream, Sig, 6);
    auto IsGif = [&] { return std::toupper(Sig[0]) == 'G' && std::toupper(Sig[1]) == 'I' && std::toupper(Sig[2]) == 'F'; };
    if (!IsGif()) {
        Stream->SetPosition(Pos + 4);
        ReadExact(Stream, Sig, 6);
        if (!IsGif())
            RaiseGifError(L"Invalid GIF signature");
    }
    uint8_t b[7];
    ReadExact(Stream, b, 7);
    ScreenDescriptor.ScreenWidth = static_cast<uint16_t>(b[0] | (b[1] << 8));
    ScreenDescriptor.ScreenHeight = static_cast<uint16_t>(b[2] | (b[3] << 8));
    ScreenDescriptor.PackedFields = b[4];
    ScreenDescriptor.BackgroundColorIndex = b[5];
    ScreenDescriptor.AspectRatio = b[6];
    if (b[4] & 0x80)
        GlobalTable->LoadFromStream(Stream, 2 << (b[4] & 7));
    else
        GlobalTable->Clear();
}

void TGIFTrailer::SaveToStream(classlib::TStream* Stream)
{
    WriteStreamByte(Stream, 0x3B);
}

void TGIFTrailer::LoadFromStream(classlib::TStream* Stream)
{
    const int b = ReadStreamByte(Stream);
    if (b >= 0 && b != 0x3B)
        Warning(1, L"Invalid Image trailer");
}

}  // namespace gif
