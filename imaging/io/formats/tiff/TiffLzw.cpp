#include "imaging/io/formats/tiff/TiffLzw.h"

#include <cstring>
#include <memory>
#include <vector>

#include "classlib/Exceptions.h"
#include "imaging/io/core/IOStartup.h"
#include "imaging/model/PxStreamUtils.h"

namespace imaging {

namespace {

constexpr int32_t kClearCode = 256;
constexpr int32_t kEOICode = 257;
constexpr int32_t kFirstFreeCode = 258;
constexpr int32_t kTableEntries = 4097;  // codes 0 .. 4,096
constexpr int32_t kMaxWidth = 12;

// ---- decoder

// One table entry as a prefix chain: the string of Prefix followed by
// Suffix. Strings are rebuilt from their end straight into the output
// buffer, so no entry owns memory and a Clear costs nothing.
struct TLzwEntry {
    uint16_t Prefix = 0;
    uint16_t Length = 0;  // 1 .. 4,096
    uint8_t Suffix = 0;
    uint8_t First = 0;  // the string's first byte
};

struct TLzwDecoder {
    const uint8_t* Data = nullptr;
    int64_t DataBits = 0;
    int64_t BitPos = 0;
    int32_t RowLength = 0;
    int32_t FillOrder = 1;
    // Decoded bytes: Count of them are valid; the rest is what a previous
    // row left there.
    std::vector<uint8_t> Out;
    int64_t Count = 0;
    int32_t Width = 9;
    int32_t Previous = -1;  // -1: the next code starts a string table
    int32_t NextFree = kFirstFreeCode;
    bool Ended = false;  // EOI or the end of the data was reached
    TLzwEntry Table[kTableEntries];

    TLzwDecoder()
    {
        for (int32_t c = 0; c < 256; ++c) {
            Table[c].Length = 1;
            Table[c].Suffix = static_cast<uint8_t>(c);
            Table[c].First = static_cast<uint8_t>(c);
        }
    }

    // The next code, or -1 when the data hold no whole code any more.
    int32_t ReadCode()
    {
        if (BitPos + Width > DataBits)
            return -1;
        const int64_t byteIndex = BitPos >> 3;
        const int64_t dataBytes = DataBits >> 3;
        uint32_t word = 0;
        for (int k = 0; k < 4; ++k) {
            uint8_t b = byteIndex + k < dataBytes ? Data[byteIndex + k] : 0;
            if (FillOrder == 2)
                b = PxReverseBitsTable[b];
            word = (word << 8) | b;
        }
        word <<= (BitPos & 7);
        BitPos += Width;
        return static_cast<int32_t>(word >> (32 - Width));
    }

    void ResetTable()
    {
        NextFree = kFirstFreeCode;
        Width = 9;
        Previous = -1;
    }

    // Adds the string of Code followed by Byte; false when the table is full.
    bool AddString(int32_t Code, uint8_t Byte)
    {
        if (NextFree >= kTableEntries)
            return false;
        TLzwEntry& e = Table[NextFree];
        const TLzwEntry& p = Table[Code];
        e.Prefix = static_cast<uint16_t>(Code);
        e.Length = static_cast<uint16_t>(p.Length + 1);
        e.Suffix = Byte;
        e.First = p.First;
        ++NextFree;
        if (NextFree == 511)
            Width = 10;
        else if (NextFree == 1023)
            Width = 11;
        else if (NextFree == 2047)
            Width = kMaxWidth;
        return true;
    }

    // Appends the string of Code, growing the buffer by what the string
    // needs (a string may be longer than any fixed growth step).
    void Append(int32_t Code)
    {
        const int32_t length = Table[Code].Length;
        if (Count + length > static_cast<int64_t>(Out.size()))
            Out.resize(static_cast<size_t>(Count + length + 1024));
        uint8_t* p = Out.data() + Count + length - 1;
        int32_t c = Code;
        for (int32_t k = 0; k < length; ++k) {
            *p-- = Table[c].Suffix;
            c = Table[c].Prefix;
        }
        Count += length;
    }

    // Decodes until a row is complete or the row ends early; false on
    // damaged data.
    bool DecodeRow()
    {
        if (Count > RowLength) {
            std::memmove(Out.data(), Out.data() + RowLength, static_cast<size_t>(Count - RowLength));
            Count -= RowLength;
        } else {
            Count = 0;
        }
        while (Count < RowLength && !Ended) {
            const int32_t c = ReadCode();
            if (c < 0 || c == kEOICode) {
                Ended = true;
                break;
            }
            if (c == kClearCode) {
                ResetTable();
                continue;
            }
            if (Previous < 0) {
                // The first code of a table must be a defined one.
                if (c >= kFirstFreeCode)
                    return false;
                Append(c);
                Previous = c;
                continue;
            }
            if (c < NextFree) {
                Append(c);
                if (!AddString(Previous, Table[c].First))
                    return false;
                Previous = c;
            } else if (c == NextFree) {
                if (!AddString(Previous, Table[Previous].First))
                    return false;
                Append(c);
                Previous = c;
            } else {
                break;  // unusable code: the row ends short
            }
        }
        return true;
    }
};

// ---- encoder

constexpr int32_t kHashSize = 5003;
constexpr int32_t kHashShift = 4;
constexpr int32_t kPacketSize = 254;
constexpr int32_t kClearAbove = 4093;

struct TLzwEncoder {
    classlib::TStream* Stream = nullptr;
    bool Failed = false;
    int32_t Width = 9;
    int32_t MaxCode = 511;
    int32_t NextFree = kFirstFreeCode;
    int32_t Prefix = -1;  // -1 until the strip's first byte
    bool ClearFlag = false;
    uint32_t BitBuffer = 0;
    int32_t BitCount = 0;
    int32_t PacketCount = 0;
    uint8_t Packet[kPacketSize];
    int32_t HashKeys[kHashSize];
    uint16_t HashCodes[kHashSize];

    void ClearHash() { std::memset(HashKeys, 0xFF, sizeof(HashKeys)); }

    void FlushPacket()
    {
        if (PacketCount == 0)
            return;
        const int64_t wanted = PacketCount;
        PacketCount = 0;
        if (Stream->Write(Packet, wanted) != wanted) {
            Failed = true;
            throw classlib::EWriteError(L"Stream write error");
        }
    }

    void OutputCode(int32_t Code)
    {
        BitBuffer |= static_cast<uint32_t>(Code) << (32 - BitCount - Width);
        BitCount += Width;
        while (BitCount >= 8) {
            Packet[PacketCount++] = static_cast<uint8_t>(BitBuffer >> 24);
            BitBuffer <<= 8;
            BitCount -= 8;
            if (PacketCount == kPacketSize)
                FlushPacket();
        }
        if (ClearFlag) {
            Width = 9;
            MaxCode = 511;
            ClearFlag = false;
        } else if (NextFree >= MaxCode && Width < kMaxWidth) {
            ++Width;
            MaxCode = (1 << Width) - 1;
        }
    }

    void Encode(const uint8_t* Bytes, int32_t Length)
    {
        int32_t index = 0;
        if (Prefix < 0 && Length > 0)
            Prefix = Bytes[index++];
        for (; index < Length; ++index) {
            const int32_t b = Bytes[index];
            const int32_t key = (b << 12) + Prefix;
            int32_t i = (b << kHashShift) ^ Prefix;
            if (HashKeys[i] == key) {
                Prefix = HashCodes[i];
                continue;
            }
            bool found = false;
            if (HashKeys[i] >= 0) {
                const int32_t step = i == 0 ? 1 : kHashSize - i;
                for (;;) {
                    i -= step;
                    if (i < 0)
                        i += kHashSize;
                    if (HashKeys[i] == key) {
                        found = true;
                        break;
                    }
                    if (HashKeys[i] < 0)
                        break;
                }
            }
            if (found) {
                Prefix = HashCodes[i];
                continue;
            }
            OutputCode(Prefix);
            Prefix = b;
            if (NextFree > kClearAbove) {
                ClearHash();
                NextFree = kFirstFreeCode;
                ClearFlag = true;
                OutputCode(kClearCode);
            } else {
                HashCodes[i] = static_cast<uint16_t>(NextFree++);
                HashKeys[i] = key;
            }
        }
    }

    void Finish()
    {
        if (Prefix >= 0)
            OutputCode(Prefix);
        OutputCode(kEOICode);
        if (BitCount > 0) {
            Packet[PacketCount++] = static_cast<uint8_t>(BitBuffer >> 24);
            BitBuffer = 0;
            BitCount = 0;
            if (PacketCount == kPacketSize)
                FlushPacket();
        }
        FlushPacket();
    }
};

void InstallDefaults()
{
    TPxIODefaultRoutines& defaults = PxIODefaults();
    defaults.TIFFLZWDecompress = PxTIFFLZWDecompress;
    defaults.TIFFLZWCompress = PxTIFFLZWCompress;
}

}  // namespace

uint8_t* PxTIFFLZWDecompress(const uint8_t* Data, int64_t DataSize, int32_t RowLength, void*& State,
                             int32_t FillOrder)
{
    auto* decoder = static_cast<TLzwDecoder*>(State);
    if (!Data) {
        delete decoder;
        State = nullptr;
        return nullptr;
    }
    if (!decoder) {
        if (RowLength < 1)
            return nullptr;
        decoder = new TLzwDecoder();
        decoder->Data = Data;
        // Sizes beyond what a bit count can hold are cut; no strip is that
        // large.
        const int64_t size = DataSize < 0 ? 0 : (DataSize > (INT64_MAX >> 4) ? (INT64_MAX >> 4) : DataSize);
        decoder->DataBits = size * 8;
        decoder->RowLength = RowLength;
        decoder->FillOrder = FillOrder == 2 ? 2 : 1;
        decoder->Out.assign(static_cast<size_t>(RowLength) + 1, 0);
        State = decoder;
    }
    if (!decoder->DecodeRow())
        return nullptr;
    return decoder->Out.data();
}

void PxTIFFLZWCompress(const uint8_t* Row, int32_t Length, classlib::TStream* Stream, void*& State)
{
    auto* encoder = static_cast<TLzwEncoder*>(State);
    if (!Row) {
        if (!encoder)
            return;
        State = nullptr;
        std::unique_ptr<TLzwEncoder> owned(encoder);
        if (!owned->Failed)
            owned->Finish();  // may raise; the state is freed either way
        return;
    }
    if (!encoder) {
        encoder = new TLzwEncoder();
        encoder->Stream = Stream;
        encoder->ClearHash();
        State = encoder;
        encoder->OutputCode(kClearCode);
    }
    if (encoder->Failed)
        return;
    encoder->Encode(Row, Length < 0 ? 0 : Length);
}

void PxInstallTIFFLZWCodec()
{
    InstallDefaults();
    if (!PxGlobalTIFFLZWDecompress)
        PxGlobalTIFFLZWDecompress = PxTIFFLZWDecompress;
    if (!PxGlobalTIFFLZWCompress)
        PxGlobalTIFFLZWCompress = PxTIFFLZWCompress;
}

}  // namespace imaging
