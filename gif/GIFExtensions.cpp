#include "gif/GIFExtensions.h"

#include <cstring>

#include "classlib/TextConv.h"

namespace gif {

namespace {

struct TLabelEntry {
    uint8_t Label;
    const TGIFExtensionClass* Class;
};
struct TAppEntry {
    uint8_t Ident[11];
    const TGIFExtensionClass* Class;
};

std::unique_ptr<std::vector<TLabelEntry>>& LabelRegistry()
{
    static std::unique_ptr<std::vector<TLabelEntry>> Registry;
    return Registry;
}

std::unique_ptr<std::vector<TAppEntry>>& AppRegistry()
{
    static std::unique_ptr<std::vector<TAppEntry>> Registry;
    return Registry;
}

std::vector<TLabelEntry>& Labels()
{
    auto& r = LabelRegistry();
    if (!r) {
        r = std::make_unique<std::vector<TLabelEntry>>();
        r->push_back({0x01, &TGIFTextExtension::Class});
        r->push_back({0xF9, &TGIFGraphicControlExtension::Class});
        r->push_back({0xFE, &TGIFCommentExtension::Class});
        r->push_back({0xFF, &TGIFApplicationExtension::Class});
    }
    return *r;
}

std::vector<TAppEntry>& Apps()
{
    auto& r = AppRegistry();
    if (!r) {
        r = std::make_unique<std::vector<TAppEntry>>();
        TAppEntry e{};
        std::memcpy(e.Ident, "NETSCAPE2.0", 11);
        e.Class = &TGIFAppExtNSLoop::Class;
        r->push_back(e);
        std::memcpy(e.Ident, "ANIMEXTS1.0", 11);
        r->push_back(e);
    }
    return *r;
}

// Application blocks: refine by block size and identifier.
const TGIFExtensionClass* FindApplicationClass(classlib::TStream* Stream)
{
    const int64_t Pos = Stream->GetPosition();
    const TGIFExtensionClass* Result = &TGIFApplicationExtension::Class;
    const int Size = ReadStreamByte(Stream);
    if (Size < 0) {
        Result = nullptr;
    } else if (Size == 10) {
        uint8_t Buf[10];
        Result = Stream->Read(Buf, 10) == 10 ? &TGIFUnknownAppExtension::Class : nullptr;
    } else if (Size == 11) {
        uint8_t Buf[11];
        if (Stream->Read(Buf, 11) == 11) {
            Result = FindAppExtension(Buf);
            if (!Result)
                Result = &TGIFUnknownAppExtension::Class;
        } else {
            Result = nullptr;  // the block ends early
        }
    }
    Stream->SetPosition(Pos);
    return Result;
}

template <class T>
TGIFExtension* CreateOf(TGIFSubImage* Frame)
{
    return new T(Frame);
}

}  // namespace

const TGIFExtensionClass TGIFGraphicControlExtension::Class{L"TGIFGraphicControlExtension",
                                                            &CreateOf<TGIFGraphicControlExtension>, nullptr};
const TGIFExtensionClass TGIFTextExtension::Class{L"TGIFTextExtension", &CreateOf<TGIFTextExtension>,
                                                  nullptr};
const TGIFExtensionClass TGIFCommentExtension::Class{L"TGIFCommentExtension", &CreateOf<TGIFCommentExtension>,
                                                     nullptr};
// A block that cannot be refined further (an unusual size) is read as an
// application block of an unknown program, which checks the size itself.
const TGIFExtensionClass TGIFApplicationExtension::Class{
    L"TGIFApplicationExtension", &CreateOf<TGIFUnknownAppExtension>, &FindApplicationClass};
const TGIFExtensionClass TGIFUnknownAppExtension::Class{L"TGIFUnknownAppExtension",
                                                        &CreateOf<TGIFUnknownAppExtension>, nullptr};
const TGIFExtensionClass TGIFAppExtNSLoop::Class{L"TGIFAppExtNSLoop", &CreateOf<TGIFAppExtNSLoop>, nullptr};

const TGIFExtensionClass* FindExtension(uint8_t Label)
{
    auto& l = Labels();
    for (auto it = l.rbegin(); it != l.rend(); ++it)
        if (it->Label == Label)
            return it->Class;
    return nullptr;
}

const TGIFExtensionClass* FindAppExtension(const uint8_t* Ident11)
{
    auto& a = Apps();
    for (auto it = a.rbegin(); it != a.rend(); ++it)
        if (std::memcmp(it->Ident, Ident11, 11) == 0)
            return it->Class;
    return nullptr;
}

void RegisterExtension(uint8_t Label, const TGIFExtensionClass* Class)
{
    Labels().push_back({Label, Class});
}

void RegisterAppExtension(const char* Ident8, const char* Code3, const TGIFExtensionClass* Class)
{
    TAppEntry e{};
    std::memcpy(e.Ident, Ident8, 8);
    std::memcpy(e.Ident + 8, Code3, 3);
    e.Class = Class;
    Apps().push_back(e);
}

void FreeExtensionRegistries()
{
    LabelRegistry().reset();
    AppRegistry().reset();
}

void WriteTextBlocks(classlib::TStream* Stream, classlib::TStrings* Strings)
{
    for (int i = 0; i < Strings->GetCount(); ++i) {
        const std::string Line = classlib::WideToAnsi(Strings->GetStrings(i));
        for (size_t Pos = 0; Pos < Line.size(); Pos += 255) {
            const size_t Part = std::min<size_t>(255, Line.size() - Pos);
            WriteStreamByte(Stream, static_cast<uint8_t>(Part));
            Stream->WriteBuffer(Line.data() + Pos, static_cast<int64_t>(Part));
        }
    }
    WriteStreamByte(Stream, 0);
}

void ReadTextBlocks(classlib::TStream* Stream, classlib::TStrings* Strings)
{
    Strings->Clear();
    for (;;) {
        const int Length = ReadStreamByte(Stream);
        if (Length <= 0)
            break;
        char Buf[256];
        ReadExact(Stream, Buf, Length);
        const size_t Used = strnlen(Buf, static_cast<size_t>(Length));
        Strings->Add(classlib::AnsiToWide(std::string(Buf, Used)));
    }
}

// ---- TGIFExtension -------------------------------------------------------------

TGIFExtension::TGIFExtension(TGIFSubImage* Frame)
    : TGIFItem(Frame ? Frame->GetImage() : nullptr), OwnerFrame(Frame)
{
}

TGIFExtension::~TGIFExtension()
{
    if (OwnerFrame && OwnerFrame->GetExtensions())
        OwnerFrame->GetExtensions()->Remove(this);
}

void TGIFExtension::SaveToStream(classlib::TStream* Stream)
{
    const uint8_t Intro[2] = {0x21, ExtensionType()};
    Stream->WriteBuffer(Intro, 2);
}

void TGIFExtension::LoadFromStream(classlib::TStream* Stream)
{
    uint8_t Intro[2];
    ReadExact(Stream, Intro, 2);
    if (Intro[0] != 0x21)
        RaiseGifError(L"Invalid extension introducer");
    if (Intro[1] != ExtensionType())
        RaiseGifError(L"Internal error: Extension Instance does not match Extension Label");
}

// ---- graphic control ----------------------------------------------------------------

TGIFGraphicControlExtension::TGIFGraphicControlExtension(TGIFSubImage* Frame) : TGIFExtension(Frame)
{
    if (Frame && !Frame->GetControlExtension())
        Frame->SetControlExtension(this);
}

TGIFGraphicControlExtension::~TGIFGraphicControlExtension()
{
    if (OwnerFrame) {
        if (GetTransparent())
            OwnerFrame->SetIsTransparent(false);
        if (OwnerFrame->GetControlExtension() == this)
            OwnerFrame->SetControlExtension(nullptr);
    }
}

void TGIFGraphicControlExtension::SetTransparent(bool Value)
{
    Block[1] = static_cast<uint8_t>(Value ? (Block[1] | 1) : (Block[1] & ~1));
    if (OwnerFrame)
        OwnerFrame->SetIsTransparent(Value);
}

void TGIFGraphicControlExtension::SetTransparentColorIndex(int Value)
{
    if (OwnerFrame) {
        TGIFColorMap* Map = OwnerFrame->ActiveColorMap();
        if (Map && Map->GetCount() > 0 && Value >= Map->GetCount()) {
            Warning(1, L"Invalid color index");
            Value = 0;
        }
    }
    Block[4] = static_cast<uint8_t>(Value);
}

void TGIFGraphicControlExtension::SaveToStream(classlib::TStream* Stream)
{
    TGIFExtension::SaveToStream(Stream);
    Stream->WriteBuffer(Block.data(), 6);
}

void TGIFGraphicControlExtension::LoadFromStream(classlib::TStream* Stream)
{
    TGIFExtension::LoadFromStream(Stream);
    if (Stream->Read(Block.data(), 6) != 6) {
        Warning(1, L"Premature end of data");
        return;
    }
    if (GetTransparent() && OwnerFrame)
        OwnerFrame->SetIsTransparent(true);
}

// ---- plain text and comment ----------------------------------------------------------

TGIFTextExtension::TGIFTextExtension(TGIFSubImage* Frame) : TGIFExtension(Frame) {}

void TGIFTextExtension::SaveToStream(classlib::TStream* Stream)
{
    TGIFExtension::SaveToStream(Stream);
    Stream->WriteBuffer(Header.data(), 13);
    WriteTextBlocks(Stream, &Lines);
}

void TGIFTextExtension::LoadFromStream(classlib::TStream* Stream)
{
    TGIFExtension::LoadFromStream(Stream);
    ReadExact(Stream, Header.data(), 13);
    ReadTextBlocks(Stream, &Lines);
}

void TGIFCommentExtension::SaveToStream(classlib::TStream* Stream)
{
    TGIFExtension::SaveToStream(Stream);
    WriteTextBlocks(Stream, &Lines);
}

void TGIFCommentExtension::LoadFromStream(classlib::TStream* Stream)
{
    TGIFExtension::LoadFromStream(Stream);
    ReadTextBlocks(Stream, &Lines);
}

// ---- application blocks ---------------------------------------------------------------

void TGIFApplicationExtension::SaveToStream(classlib::TStream* Stream)
{
    TGIFExtension::SaveToStream(Stream);
    WriteStreamByte(Stream, 11);
    Stream->WriteBuffer(Ident.data(), 11);
    SaveData(Stream);
}

void TGIFApplicationExtension::LoadFromStream(classlib::TStream* Stream)
{
    TGIFExtension::LoadFromStream(Stream);
    uint8_t Size = 0;
    ReadExact(Stream, &Size, 1);
    if (Size == 10) {
        ReadExact(Stream, Ident.data(), 10);
        Ident[10] = 0;
    } else if (Size < 10) {
        RaiseGifError(L"Unsupported Application Extension block size");
    } else {
        ReadExact(Stream, Ident.data(), 11);
        if (Size > 11) {
            uint8_t Skip[255];
            ReadExact(Stream, Skip, Size - 11);
        }
    }
    LoadData(Stream);
}

void TGIFUnknownAppExtension::SaveData(classlib::TStream* Stream)
{
    for (const TGIFBlock& b : RawBlocks) {
        WriteStreamByte(Stream, b.BlockLength);
        if (b.BlockLength)
            Stream->WriteBuffer(b.BlockBytes.data(), b.BlockLength);
    }
    WriteStreamByte(Stream, 0);
}

void TGIFUnknownAppExtension::LoadData(classlib::TStream* Stream)
{
    RawBlocks.clear();
    for (;;) {
        const int Length = ReadStreamByte(Stream);
        if (Length <= 0)
            break;
        TGIFBlock b;
        b.BlockLength = static_cast<uint8_t>(Length);
        b.BlockBytes.assign(Length, 0);
        ReadExact(Stream, b.BlockBytes.data(), Length);
        RawBlocks.push_back(std::move(b));
    }
}

TGIFAppExtNSLoop::TGIFAppExtNSLoop(TGIFSubImage* Frame) : TGIFApplicationExtension(Frame)
{
    std::memcpy(Ident.data(), "NETSCAPE2.0", 11);
}

void TGIFAppExtNSLoop::SaveData(classlib::TStream* Stream)
{
    const uint8_t Loop[4] = {3, 1, static_cast<uint8_t>(LoopCount & 0xFF), static_cast<uint8_t>(LoopCount >> 8)};
    Stream->WriteBuffer(Loop, 4);
    if (BufferBytes != 0) {
        const uint8_t Buffer[6] = {5, 2, static_cast<uint8_t>(BufferBytes), static_cast<uint8_t>(BufferBytes >> 8),
                                   static_cast<uint8_t>(BufferBytes >> 16), static_cast<uint8_t>(BufferBytes >> 24)};
        Stream->WriteBuffer(Buffer, 6);
    }
    WriteStreamByte(Stream, 0);
}

void TGIFAppExtNSLoop::LoadData(classlib::TStream* Stream)
{
    // Every loop block (also "ANIMEXTS1.0") is written back as NETSCAPE 2.0.
    std::memcpy(Ident.data(), "NETSCAPE2.0", 11);
    for (;;) {
        const int Length = ReadStreamByte(Stream);
        if (Length <= 0)
            break;
        const int Id = ReadStreamByte(Stream);
        if (Id < 0)
            break;
        int Remaining = Length - 1;
        if ((Id & 7) == 1) {
            if (Remaining < 2)
                RaiseGifError(L"Invalid GIF data");
            uint8_t b[2];
            ReadExact(Stream, b, 2);
            LoopCount = static_cast<uint16_t>(b[0] | (b[1] << 8));
            Remaining -= 2;
        } else if ((Id & 7) == 2) {
            if (Remaining < 4)
                RaiseGifError(L"Invalid GIF data");
            uint8_t b[4];
            ReadExact(Stream, b, 4);
            BufferBytes = uint32_t{b[0]} | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24);
            Remaining -= 4;
        }
        if (Remaining > 0) {
            uint8_t Skip[255];
            ReadExact(Stream, Skip, Remaining);
        }
    }
}

// ---- the extension list of a frame ------------------------------------------------------

TGIFExtensionList::TGIFExtensionList(TGIFSubImage* Frame)
    : TGIFList(Frame ? Frame->GetImage() : nullptr), frame_(Frame)
{
}

TGIFExtension* TGIFExtensionList::GetExtension(int Index) const
{
    return static_cast<TGIFExtension*>(GetItem(Index));
}

void TGIFExtensionList::LoadFromStream(classlib::TStream* Stream, TGIFSubImage* Parent)
{
    int b = ReadStreamByte(Stream);
    if (b < 0)
        return;
    while (b != 0x2C && b != 0x3B) {
        if (b != 0x21) {
            Warning(1, L"Invalid extension introducer");
            break;
        }
        // Choose the class from the label and, for application blocks, the id.
        const int64_t Pos = Stream->GetPosition();
        const TGIFExtensionClass* Class = nullptr;
        const int Label = ReadStreamByte(Stream);
        if (Label >= 0) {
            Class = FindExtension(static_cast<uint8_t>(Label));
            while (Class && Class->FindExtension) {
                const TGIFExtensionClass* Next = Class->FindExtension(Stream);
                if (Next == Class)
                    break;
                Class = Next;
            }
        }
        Stream->SetPosition(Pos);
        if (!Class)
            RaiseGifError(L"Unknown extension type");
        Stream->Seek(-1, classlib::soCurrent);
        std::unique_ptr<TGIFExtension> Ext(Class->Create(Parent));
        Ext->LoadFromStream(Stream);
        Add(Ext.release());
        b = ReadStreamByte(Stream);
        if (b < 0)
            return;
    }
    Stream->Seek(-1, classlib::soCurrent);
}

}  // namespace gif
