// Encoders of GIF image data: a true LZW compressor and a run-length coder
// whose output any standard GIF decoder reads, and the sub-block writer.
//
// The image toolkit's GIF writer keeps its own LZW encoder
// (imaging/io/formats/gif/GifLzw.h): it works behind the I/O unit's replaceable hook and
// on the toolkit's index buffers, while these encoders serve the picture
// class's choice of pixel encoder (PixelEncoder: LZW or run-length) and
// report to its warnings.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "classlib/Stream.h"
#include "gif/GIFUtils.h"

namespace gif {

// A write-through stream over a destination stream (not owned). Its own
// Read, Write and Seek raise classlib::Exception "Invalid stream operation".
class TGIFStream : public classlib::TStream {
public:
    explicit TGIFStream(classlib::TStream* Target) : Target(Target) {}
    std::wstring ClassName() const override { return L"TGIFStream"; }
    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void* Buffer, int64_t Count) override;
    int64_t Seek(int64_t Offset, classlib::TSeekOrigin Origin) override;

    classlib::TStream* Target;
    TGIFWarning OnGIFWarning;
};

// Cuts the bytes written to it into GIF data sub-blocks of at most 255 bytes.
// Destroying the writer writes the last, possibly shorter, sub-block.
class TGIFWriter : public TGIFStream {
public:
    using TGIFStream::TGIFStream;
    ~TGIFWriter() override;
    std::wstring ClassName() const override { return L"TGIFWriter"; }
    int64_t Write(const void* Buffer, int64_t Count) override;
    void Flush();
    void WriteByte(uint8_t Value);

private:
    std::array<uint8_t, 256> buffer_{};
    int fill_ = 1;
    bool dirty_ = false;
};

// Open-addressed table of (prefix code, pixel) -> code, 8009 slots.
class THashTable : public classlib::TObject {
public:
    static constexpr int Size = 8009;
    THashTable() { Clear(); }
    void Clear();
    void Insert(uint32_t Key, uint32_t Code);
    // The code stored for Key, or 0xFFFF.
    uint32_t Lookup(uint32_t Key) const;

private:
    static int FirstSlot(uint32_t Key) { return static_cast<int>((Key ^ (Key >> 4)) % Size); }
    static int NextSlot(int i)
    {
        int n = (i == 0) ? -1 : i - (Size - i);
        return n < 0 ? n + Size : n;
    }
    std::unique_ptr<uint32_t[]> entries_{new uint32_t[Size]};
};

// The state shared by both encoders.
class TGIFEncoder : public classlib::TObject {
public:
    ~TGIFEncoder() override;
    // Writes the LZW minimum code size byte, the data sub-blocks and the
    // terminator. Pixels holds Height rows of Width indices in display order.
    // A pixel not below ColorLimit raises "Color not in color table".
    void Encode(classlib::TStream* Stream, int Bits, int ColorLimit, const uint8_t* Pixels,
                bool Interlaced, int Height, int Width);

    TGIFWarning OnGIFWarning;

protected:
    virtual void Output(int Code);
    virtual void Clear();
    virtual void Compress() = 0;
    bool AdvancePixel();
    int TakePixel();

    classlib::TStream* Target = nullptr;
    std::unique_ptr<TGIFWriter> Writer;
    int ColorLimit = 0;
    int RootBits = 0;
    int ImageWidth = 0;
    int ImageHeight = 0;
    bool Interlaced = false;
    const uint8_t* Pixels = nullptr;
    const uint8_t* Cursor = nullptr;
    int StartWidth = 0;
    int CodeWidth = 0;
    int WidthCap = 0;
    int ClearCode = 0;
    int EndCode = 0;
    int FirstFree = 0;
    uint32_t BitAccumulator = 0;
    int BitCount = 0;
    int64_t ColumnsLeft = 0;
    int Row = 0;
    int PassNo = 0;
    bool Resetting = false;
};

class TLZWEncoder : public TGIFEncoder {
protected:
    void Output(int Code) override;
    void Clear() override;
    void Compress() override;

private:
    uint16_t NextFreeCode = 0;
    uint16_t RunPixel = 0;
    std::unique_ptr<THashTable> HashTable;
};

// Emits only single pixels, runs of one colour that a standard decoder's
// table already holds, and clear codes.
class TRLEEncoder : public TGIFEncoder {
protected:
    void Compress() override;

private:
    void RLEClear();
    void EmitCode(int Code);
    void FlushRun(int64_t n);
    void FlushAfterClear(int64_t n);
    void FlushPlainOrClear(int64_t n);
    void FlushByTable(int64_t n);
    int64_t RunCost(int64_t n, int64_t Room) const;

    int RunPixel = -1;
    int64_t BumpAt = 0, BumpAtStart = 0, ClearAt = 0, ClearAtStart = 0;
    int64_t CodesOut = 0;
    int64_t RunTableMax = 0;
    int RunTablePixel = 0;
    int64_t CodeRoom = 0;
};

// x < 2: x; otherwise the integer square root by Newton steps.
int64_t IntegerSqrt(int64_t x);

}  // namespace gif
