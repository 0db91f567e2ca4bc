// GIF extension blocks (introducer 0x21, a label, a body), read into classes
// chosen by label and, for application blocks, by the application id.
#pragma once

#include <array>
#include <memory>
#include <vector>

#include "classlib/StringList.h"
#include "gif/GIFImage.h"

namespace gif {

class TGIFExtension;

// The class of an extension: a factory and the class-level refinement that
// picks a more specific class from the block (the stream is positioned after
// the label; it is left where it was).
struct TGIFExtensionClass {
    const wchar_t* Name;
    TGIFExtension* (*Create)(TGIFSubImage* Frame);
    const TGIFExtensionClass* (*FindExtension)(classlib::TStream* Stream);
};

class TGIFExtension : public TGIFItem {
public:
    explicit TGIFExtension(TGIFSubImage* Frame);
    // Removes the extension from its frame's list.
    ~TGIFExtension() override;
    std::wstring ClassName() const override { return L"TGIFExtension"; }
    int Version() const override { return 2; }
    void SaveToStream(classlib::TStream* Stream) override;
    void LoadFromStream(classlib::TStream* Stream) override;
    virtual uint8_t ExtensionType() const = 0;
    TGIFSubImage* GetFrame() const { return OwnerFrame; }
    // Detaches from the frame without touching its list (used by the list).
    void Detach() { OwnerFrame = nullptr; }

protected:
    TGIFSubImage* OwnerFrame;
};

class TGIFGraphicControlExtension : public TGIFExtension {
public:
    static const TGIFExtensionClass Class;
    explicit TGIFGraphicControlExtension(TGIFSubImage* Frame);
    ~TGIFGraphicControlExtension() override;
    std::wstring ClassName() const override { return L"TGIFGraphicControlExtension"; }
    uint8_t ExtensionType() const override { return 0xF9; }
    void SaveToStream(classlib::TStream* Stream) override;
    void LoadFromStream(classlib::TStream* Stream) override;

    bool GetTransparent() const { return (Block[1] & 1) != 0; }
    void SetTransparent(bool Value);
    uint8_t GetTransparentColorIndex() const { return Block[4]; }
    void SetTransparentColorIndex(int Value);
    uint16_t GetDelay() const { return static_cast<uint16_t>(Block[2] | (Block[3] << 8)); }
    void SetDelay(uint16_t Value)
    {
        Block[2] = Value & 0xFF;
        Block[3] = Value >> 8;
    }
    bool GetUserInput() const { return (Block[1] & 2) != 0; }
    int GetDisposal() const { return (Block[1] >> 2) & 7; }
    void SetDisposal(int Value) { Block[1] = static_cast<uint8_t>((Block[1] & ~0x1C) | ((Value & 7) << 2)); }

private:
    // Block Size, packed fields, Delay Time (2), Transparent Color Index,
    // Block Terminator.
    std::array<uint8_t, 6> Block{4, 0, 0, 0, 0, 0};
};

class TGIFTextExtension : public TGIFExtension {
public:
    static const TGIFExtensionClass Class;
    explicit TGIFTextExtension(TGIFSubImage* Frame);
    std::wstring ClassName() const override { return L"TGIFTextExtension"; }
    uint8_t ExtensionType() const override { return 0x01; }
    void SaveToStream(classlib::TStream* Stream) override;
    void LoadFromStream(classlib::TStream* Stream) override;
    classlib::TStringList* GetText() { return &Lines; }
    // Block Size 12, grid left/top/width/height (16-bit), cell width/height,
    // foreground and background index.
    std::array<uint8_t, 13> Header{12};

private:
    classlib::TStringList Lines;
};

class TGIFCommentExtension : public TGIFExtension {
public:
    static const TGIFExtensionClass Class;
    using TGIFExtension::TGIFExtension;
    std::wstring ClassName() const override { return L"TGIFCommentExtension"; }
    uint8_t ExtensionType() const override { return 0xFE; }
    void SaveToStream(classlib::TStream* Stream) override;
    void LoadFromStream(classlib::TStream* Stream) override;
    classlib::TStringList* GetText() { return &Lines; }

private:
    classlib::TStringList Lines;
};

class TGIFApplicationExtension : public TGIFExtension {
public:
    static const TGIFExtensionClass Class;
    using TGIFExtension::TGIFExtension;
    std::wstring ClassName() const override { return L"TGIFApplicationExtension"; }
    uint8_t ExtensionType() const override { return 0xFF; }
    void SaveToStream(classlib::TStream* Stream) override;
    void LoadFromStream(classlib::TStream* Stream) override;
    virtual void SaveData(classlib::TStream* Stream) = 0;
    virtual void LoadData(classlib::TStream* Stream) = 0;
    std::string GetIdentifier() const { return std::string(Ident.begin(), Ident.begin() + 8); }
    std::string GetAuthentication() const { return std::string(Ident.begin() + 8, Ident.end()); }

protected:
    // Application Identifier (8 bytes) and Authentication Code (3 bytes).
    std::array<uint8_t, 11> Ident{};
};

struct TGIFBlock {
    uint8_t BlockLength = 0;
    std::vector<uint8_t> BlockBytes;
};

class TGIFUnknownAppExtension : public TGIFApplicationExtension {
public:
    static const TGIFExtensionClass Class;
    using TGIFApplicationExtension::TGIFApplicationExtension;
    std::wstring ClassName() const override { return L"TGIFUnknownAppExtension"; }
    void SaveData(classlib::TStream* Stream) override;
    void LoadData(classlib::TStream* Stream) override;
    const std::vector<TGIFBlock>& GetBlocks() const { return RawBlocks; }

private:
    std::vector<TGIFBlock> RawBlocks;
};

class TGIFAppExtNSLoop : public TGIFApplicationExtension {
public:
    static const TGIFExtensionClass Class;
    explicit TGIFAppExtNSLoop(TGIFSubImage* Frame);
    std::wstring ClassName() const override { return L"TGIFAppExtNSLoop"; }
    void SaveData(classlib::TStream* Stream) override;
    void LoadData(classlib::TStream* Stream) override;
    uint16_t LoopCount = 0;
    uint32_t BufferBytes = 0;
};

// Label registry: 0x01 text, 0xF9 graphic control, 0xFE comment, 0xFF
// application; searched from the last entry.
const TGIFExtensionClass* FindExtension(uint8_t Label);
// Application registry: "NETSCAPE" "2.0" and "ANIMEXTS" "1.0" (both loop).
const TGIFExtensionClass* FindAppExtension(const uint8_t* Ident11);
// Class registration (tests and other units may add their own).
void RegisterExtension(uint8_t Label, const TGIFExtensionClass* Class);
void RegisterAppExtension(const char* Ident8, const char* Code3, const TGIFExtensionClass* Class);
// Frees both registries (unit shut-down).
void FreeExtensionRegistries();

// Lines as GIF data sub-blocks (ANSI code page, at most 255 bytes each; an
// empty line writes nothing), then a 0 byte.
void WriteTextBlocks(classlib::TStream* Stream, classlib::TStrings* Strings);
// Clears Strings; every sub-block until a 0 length or the end becomes a line,
// cut at its first zero byte.
void ReadTextBlocks(classlib::TStream* Stream, classlib::TStrings* Strings);

}  // namespace gif
