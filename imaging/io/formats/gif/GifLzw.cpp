#include "imaging/io/formats/gif/GifLzw.h"

#include <algorithm>
#include <array>
#include <limits>
#include <memory>
#include <vector>

#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOStartup.h"
#include "imaging/model/PxLists.h"

namespace imaging {

namespace {

constexpr int kTableSize = 4096;

// ---- decoder

struct TGifDecoder {
    // collected data sub-blocks
    const uint8_t* Data = nullptr;
    int64_t Total = 0;
    int64_t ByteIndex = 0;
    int BitsLeft = 0;
    uint32_t CurByte = 0;

    // output progression
    int32_t Width = 0;
    int32_t Height = 0;
    bool Interlaced = false;
    int32_t Row = 0;
    int32_t Pass = 0;
    int32_t Step = 8;
    int32_t Column = 1;
    uint8_t* Buffer = nullptr;
    size_t Out = 0;  // offset of the next pixel in Buffer

    // Reads one code of Bits bits, least-significant bit first. Bits beyond
    // the collected data read as zero.
    int ReadCode(int Bits)
    {
        uint32_t code = 0;
        int got = 0;
        while (got < Bits) {
            if (BitsLeft == 0) {
                if (ByteIndex >= Total)
                    break;
                CurByte = Data[ByteIndex++];
                BitsLeft = 8;
            }
            const int take = std::min(BitsLeft, Bits - got);
            const uint32_t bits = (CurByte >> (8 - BitsLeft)) & ((1u << take) - 1);
            code |= bits << got;
            BitsLeft -= take;
            got += take;
        }
        return static_cast<int>(code & ((1u << Bits) - 1));
    }

    bool Exhausted() const { return ByteIndex >= Total; }
    // True when at least Bits unread bits remain.
    bool HasBits(int Bits) const { return (Total - ByteIndex) * 8 + BitsLeft >= Bits; }

    void NextRow()
    {
        if (!Interlaced) {
            if (Row < Height)  // rows past the last one are dropped
                ++Row;
            return;
        }
        Row += Step;
        while (Row >= Height) {
            if (Pass > 0)
                Step /= 2;
            ++Pass;
            Row = Step / 2;
        }
    }

    void Emit(uint8_t Value)
    {
        if (Row < Height)
            Buffer[Out] = Value;
        ++Out;
        ++Column;
        if (Column > Width) {
            NextRow();
            Column = 1;
            Out = static_cast<size_t>(Row) * static_cast<size_t>(Width);
        }
    }
};

// ---- encoder

constexpr int kHashSize = 5003;  // a prime above 4096 * 1.2
constexpr int kHashShift = 4;    // 8 - log2(65536 / 5003 rounded up)
constexpr int kMaxBits = 12;
constexpr int kMaxMaxCode = 1 << kMaxBits;

struct TGifEncoder {
    // pixel order
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t Pass = 0;
    int32_t Row = 0;
    int32_t Column = 0;
    int64_t PixelsLeft = 0;
    bool Interlaced = false;
    const uint8_t* Buffer = nullptr;
    int IndexMask = 0xFF;

    // LZW
    int InitBits = 0;
    int Bits = 0;
    int MaxCode = 0;
    int ClearCode = 0;
    int EndCode = 0;
    int FreeCode = 0;
    bool ClearPending = false;
    std::array<int32_t, kHashSize> HashKeys{};
    std::array<int32_t, kHashSize> Codes{};
    uint32_t Accum = 0;
    int AccumBits = 0;
    std::array<uint8_t, 256> Packet{};
    int PacketCount = 0;
    classlib::TStream* Stream = nullptr;

    // The next pixel in output order, -1 when none is left.
    int NextPixel()
    {
        if (PixelsLeft <= 0)
            return -1;
        --PixelsLeft;
        const int value = Buffer[static_cast<size_t>(Row) * static_cast<size_t>(Width) + static_cast<size_t>(Column)] &
                          IndexMask;
        if (++Column == Width) {
            Column = 0;
            AdvanceRow();
        }
        return value;
    }

    // Interlaced rows: pass 0 every 8th row from 0, pass 1 every 8th from 4,
    // pass 2 every 4th from 2, pass 3 every 2nd from 1. A pass that has no
    // row inside the image is passed over, so that low images never address
    // rows below their last one.
    void AdvanceRow()
    {
        if (!Interlaced) {
            ++Row;
            return;
        }
        static constexpr int32_t kStep[4] = {8, 8, 4, 2};
        static constexpr int32_t kStart[4] = {0, 4, 2, 1};
        Row += kStep[Pass];
        while (Row >= Height && Pass < 3) {
            ++Pass;
            Row = kStart[Pass];
        }
    }

    void ClearHash() { HashKeys.fill(-1); }

    void FlushPacket()
    {
        if (PacketCount == 0)
            return;
        uint8_t length = static_cast<uint8_t>(PacketCount);
        Stream->WriteBuffer(&length, 1);
        Stream->WriteBuffer(Packet.data(), PacketCount);
        PacketCount = 0;
    }

    void PutByte(uint8_t Value)
    {
        Packet[static_cast<size_t>(PacketCount++)] = Value;
        if (PacketCount >= 254)
            FlushPacket();
    }

    void Output(int Code)
    {
        Accum &= (AccumBits > 0) ? ((1u << AccumBits) - 1) : 0u;
        Accum |= static_cast<uint32_t>(Code) << AccumBits;
        AccumBits += Bits;
        while (AccumBits >= 8) {
            PutByte(static_cast<uint8_t>(Accum & 0xFF));
            Accum >>= 8;
            AccumBits -= 8;
        }
        if (FreeCode > MaxCode || ClearPending) {
            if (ClearPending) {
                Bits = InitBits;
                MaxCode = (1 << Bits) - 1;
                ClearPending = false;
            } else {
                ++Bits;
                MaxCode = (Bits == kMaxBits) ? kMaxMaxCode : (1 << Bits) - 1;
            }
        }
        if (Code == EndCode) {
            while (AccumBits > 0) {
                PutByte(static_cast<uint8_t>(Accum & 0xFF));
                Accum >>= 8;
                AccumBits -= 8;
            }
            AccumBits = 0;
            FlushPacket();
        }
    }

    void Run()
    {
        ClearHash();
        Output(ClearCode);
        int ent = NextPixel();
        if (ent < 0) {
            Output(EndCode);
            return;
        }
        int c;
        while ((c = NextPixel()) >= 0) {
            const int32_t key = (static_cast<int32_t>(c) << kMaxBits) + ent;
            int i = (c << kHashShift) ^ ent;
            bool found = false;
            if (HashKeys[static_cast<size_t>(i)] == key) {
                ent = Codes[static_cast<size_t>(i)];
                found = true;
            } else if (HashKeys[static_cast<size_t>(i)] >= 0) {
                const int step = (i == 0) ? 1 : kHashSize - i;
                do {
                    i -= step;
                    if (i < 0)
                        i += kHashSize;
                    if (HashKeys[static_cast<size_t>(i)] == key) {
                        ent = Codes[static_cast<size_t>(i)];
                        found = true;
                        break;
                    }
                } while (HashKeys[static_cast<size_t>(i)] > 0);
            }
            if (found)
                continue;
            Output(ent);
            ent = c;
            if (FreeCode < kMaxMaxCode) {
                Codes[static_cast<size_t>(i)] = FreeCode++;
                HashKeys[static_cast<size_t>(i)] = key;
            } else {
                ClearHash();
                FreeCode = ClearCode + 2;
                ClearPending = true;
                Output(ClearCode);
            }
        }
        Output(ent);
        Output(EndCode);
    }
};

void InstallDefaults()
{
    PxIODefaults().GIFLZWDecompress = PxGIFLZWDecompress;
    PxIODefaults().GIFLZWCompress = PxGIFLZWCompress;
}

}  // namespace

void PxGIFLZWDecompress(classlib::TStream* Stream, int32_t Height, int32_t Width, bool Interlaced, uint8_t* Buffer)
{
    const int64_t p0 = Stream->GetPosition();
    auto fail = [&] { Stream->SetPosition(p0); };

    uint8_t size = 0;
    if (Stream->Read(&size, 1) != 1 || size < 2 || size > 9) {
        fail();
        return;
    }
    const int initialSize = size;
    const int clearCode = 1 << initialSize;
    const int endCode = clearCode + 1;
    const int highestLiteral = clearCode - 1;

    // Collect every data sub-block in one pass.
    const int64_t remaining = std::max<int64_t>(Stream->GetSize() - Stream->GetPosition(), 0);
    const int64_t room = std::min<int64_t>(remaining + 1, std::numeric_limits<int32_t>::max() / 4);
    TPxByteArray data(static_cast<int32_t>(std::max<int64_t>(room, 1)));
    for (;;) {
        uint8_t length = 0;
        if (Stream->Read(&length, 1) != 1 || length == 0)
            break;
        if (data.Size > std::numeric_limits<int32_t>::max() - 256)
            break;
        if (data.AppendFromStream(Stream, length) < length)
            break;
    }

    if (Width <= 0 || Height <= 0 || !Buffer || data.Size == 0)
        return;

    TGifDecoder d;
    d.Data = data.Data.get();
    d.Total = data.Size;
    d.Width = Width;
    d.Height = Height;
    d.Interlaced = Interlaced;
    d.Buffer = Buffer;

    std::vector<uint16_t> prefix(kTableSize, 0);
    std::vector<uint8_t> suffix(kTableSize, 0);
    std::array<uint8_t, kTableSize> stack{};
    int stackCount = 0;

    int codeWidth = initialSize + 1;
    int nextFree = endCode + 1;
    int limit = 1 << codeWidth;
    int previous = -1;
    bool tableFull = false;

    auto push = [&](int Value) -> bool {
        if (stackCount >= kTableSize)
            return false;
        stack[static_cast<size_t>(stackCount++)] = static_cast<uint8_t>(Value);
        return true;
    };
    // Pushes the string of Code (last byte first); returns its first literal
    // or -1 when the chain is longer than the stack can hold.
    auto expand = [&](int Code) -> int {
        while (Code > highestLiteral) {
            if (!push(suffix[static_cast<size_t>(Code)]))
                return -1;
            Code = prefix[static_cast<size_t>(Code)];
        }
        return push(Code) ? Code : -1;
    };
    auto firstLiteral = [&](int Code) -> int {
        for (int guard = 0; Code > highestLiteral && guard < kTableSize; ++guard)
            Code = prefix[static_cast<size_t>(Code)];
        return Code > highestLiteral ? -1 : Code;
    };
    auto addEntry = [&](int Literal) {
        if (previous < 0 || nextFree > limit || nextFree >= kTableSize)
            return;
        suffix[static_cast<size_t>(nextFree)] = static_cast<uint8_t>(Literal);
        prefix[static_cast<size_t>(nextFree)] = static_cast<uint16_t>(previous);
        ++nextFree;
        if (nextFree >= limit) {
            if (codeWidth == 12) {
                tableFull = true;
            } else {
                limit *= 2;
                ++codeWidth;
            }
        }
    };

    int code = d.ReadCode(codeWidth);
    while (code != endCode) {
        if (code == clearCode) {
            codeWidth = initialSize + 1;
            nextFree = endCode + 1;
            limit = 1 << codeWidth;
            tableFull = false;
            do {
                if (!d.HasBits(codeWidth))
                    return;
                code = d.ReadCode(codeWidth);
            } while (code == clearCode);
            if (code == endCode) {
                if (!d.Exhausted())
                    fail();
                return;
            }
            if (code >= nextFree)
                code = 0;
            previous = code;
            push(code);
        } else if (code < nextFree) {
            const int literal = expand(code);
            if (literal < 0) {
                fail();
                return;
            }
            addEntry(literal);
            previous = code;
        } else if (code == nextFree && previous >= 0) {
            const int literal = firstLiteral(previous);
            if (literal < 0) {
                fail();
                return;
            }
            addEntry(literal);
            if (code >= nextFree || expand(code) < 0) {  // the entry could not be made
                fail();
                return;
            }
            previous = code;
        } else {
            fail();
            return;
        }

        while (stackCount > 0)
            d.Emit(stack[static_cast<size_t>(--stackCount)]);

        if (!d.HasBits(codeWidth))  // the collected data are used up
            return;

        code = d.ReadCode(codeWidth);
        if (tableFull) {
            if (code != clearCode) {
                fail();
                return;
            }
            tableFull = false;
        }
    }
}

void PxGIFLZWCompress(classlib::TStream* Stream, int32_t Height, int32_t Width, bool Interlaced, const uint8_t* Buffer,
                      int32_t BitsPerPixel)
{
    const int initialSize = std::clamp<int32_t>(BitsPerPixel, 2, 8);
    const uint8_t sizeByte = static_cast<uint8_t>(initialSize);
    Stream->WriteBuffer(&sizeByte, 1);

    auto e = std::make_unique<TGifEncoder>();
    e->Stream = Stream;
    e->Width = std::max<int32_t>(Width, 0);
    e->Height = std::max<int32_t>(Height, 0);
    e->Interlaced = Interlaced;
    e->Buffer = Buffer;
    e->PixelsLeft = Buffer ? static_cast<int64_t>(e->Width) * e->Height : 0;
    e->IndexMask = (1 << initialSize) - 1;
    e->InitBits = initialSize + 1;
    e->Bits = e->InitBits;
    e->MaxCode = (1 << e->Bits) - 1;
    e->ClearCode = 1 << initialSize;
    e->EndCode = e->ClearCode + 1;
    e->FreeCode = e->ClearCode + 2;
    e->Run();

    const uint8_t terminator = 0;
    Stream->WriteBuffer(&terminator, 1);
}

void PxInstallGIFLZWCodec()
{
    InstallDefaults();
    if (!PxGlobalGIFLZWDecompress)
        PxGlobalGIFLZWDecompress = PxGIFLZWDecompress;
    if (!PxGlobalGIFLZWCompress)
        PxGlobalGIFLZWCompress = PxGIFLZWCompress;
    if (PxFormatRegistryExists())
        PxSyncGIFFormatRow();
}

}  // namespace imaging
