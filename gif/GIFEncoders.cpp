#include "gif/GIFEncoders.h"

#include <algorithm>
#include <cstring>

#include "classlib/ScopeGuard.h"

namespace gif {

// ---- TGIFStream / TGIFWriter ----------------------------------------------

int64_t TGIFStream::Read(void*, int64_t)
{
    throw classlib::Exception(L"Invalid stream operation");
}

int64_t TGIFStream::Write(const void*, int64_t)
{
    throw classlib::Exception(L"Invalid stream operation");
}

int64_t TGIFStream::Seek(int64_t, classlib::TSeekOrigin)
{
    throw classlib::Exception(L"Invalid stream operation");
}

TGIFWriter::~TGIFWriter()
{
    if (dirty_) {
        try {
            Flush();
        } catch (...) {
            // A destructor must not raise; the caller's own writes report
            // failures of the destination.
        }
    }
}

int64_t TGIFWriter::Write(const void* Buffer, int64_t Count)
{
    dirty_ = true;
    const auto* Src = static_cast<const uint8_t*>(Buffer);
    int64_t n = Count;
    while (n > 0) {
        const int64_t Part = std::min<int64_t>(256 - fill_, n);
        std::memcpy(buffer_.data() + fill_, Src, static_cast<size_t>(Part));
        fill_ += static_cast<int>(Part);
        Src += Part;
        n -= Part;
        if (fill_ > 255)
            Flush();
    }
    return Count;
}

void TGIFWriter::Flush()
{
    buffer_[0] = static_cast<uint8_t>(fill_ - 1);
    const int Count = fill_;
    fill_ = 1;
    dirty_ = false;
    Target->WriteBuffer(buffer_.data(), Count);
}

void TGIFWriter::WriteByte(uint8_t Value)
{
    Write(&Value, 1);
}

// ---- THashTable -------------------------------------------------------------

void THashTable::Clear()
{
    std::fill_n(entries_.get(), Size, 0xFFFFFFFFu);
}

void THashTable::Insert(uint32_t Key, uint32_t Code)
{
    int i = FirstSlot(Key);
    for (int Probe = 0; Probe < Size; ++Probe) {
        if (entries_[i] >= 0xFFFFF000u) {
            entries_[i] = (Key << 12) | (Code & 0xFFF);
            return;
        }
        i = NextSlot(i);
    }
    RaiseGifError(L"Hash table full");
}

uint32_t THashTable::Lookup(uint32_t Key) const
{
    int i = FirstSlot(Key);
    for (int Probe = 0; Probe < Size; ++Probe) {
        const uint32_t e = entries_[i];
        if (e >= 0xFFFFF000u)
            return 0xFFFF;
        if ((e >> 12) == Key)
            return e & 0xFFF;
        i = NextSlot(i);
    }
    return 0xFFFF;
}

// ---- TGIFEncoder --------------------------------------------------------------

TGIFEncoder::~TGIFEncoder() = default;

void TGIFEncoder::Encode(classlib::TStream* Stream, int Bits, int Limit, const uint8_t* Data,
                         bool IsInterlaced, int Height, int Width)
{
    Target = Stream;
    ColorLimit = Limit;
    RootBits = Bits < 2 ? 2 : Bits;
    if (RootBits > 8)
        RootBits = 8;
    StartWidth = RootBits + 1;
    WriteStreamByte(Stream, static_cast<uint8_t>(RootBits));
    CodeWidth = StartWidth;
    WidthCap = (1 << StartWidth) - 1;
    ClearCode = 1 << RootBits;
    EndCode = ClearCode + 1;
    FirstFree = ClearCode + 2;
    BitAccumulator = 0;
    BitCount = 0;
    ImageWidth = Width;
    ImageHeight = Height;
    Interlaced = IsInterlaced;
    Pixels = Data;
    Cursor = Data;
    ColumnsLeft = Interlaced ? int64_t{Width} : int64_t{Width} * Height;
    Row = 0;
    PassNo = 0;
    Writer = std::make_unique<TGIFWriter>(Stream);
    Writer->OnGIFWarning = OnGIFWarning;
    if (Data && Height > 0 && Width > 0)
        Compress();
    Output(EndCode);
    Writer->Flush();  // raises on a failing destination, unlike the destructor
    Writer.reset();
    WriteStreamByte(Stream, 0);
}

void TGIFEncoder::Output(int Code)
{
    if (BitCount < 1)
        BitAccumulator = static_cast<uint32_t>(Code);
    else
        BitAccumulator = (BitAccumulator & ((1u << BitCount) - 1)) |
                         (static_cast<uint32_t>(Code) << BitCount);
    BitCount += CodeWidth;
    while (BitCount > 7) {
        Writer->WriteByte(static_cast<uint8_t>(BitAccumulator & 0xFF));
        BitAccumulator >>= 8;
        BitCount -= 8;
    }
    if (Code == EndCode) {
        while (BitCount > 0) {
            Writer->WriteByte(static_cast<uint8_t>(BitAccumulator & 0xFF));
            BitAccumulator >>= 8;
            BitCount -= 8;
        }
    }
}

void TGIFEncoder::Clear()
{
    Resetting = true;
    Output(ClearCode);
}

int TGIFEncoder::TakePixel()
{
    const int Pixel = *Cursor++;
    if (Pixel >= ColorLimit)
        RaiseGifError(L"Color not in color table");
    return Pixel;
}

bool TGIFEncoder::AdvancePixel()
{
    if (--ColumnsLeft > 0)
        return true;
    if (!Interlaced)
        return false;
    ColumnsLeft = ImageWidth;
    static constexpr int Start[4] = {0, 4, 2, 1};
    static constexpr int Step[4] = {8, 8, 4, 2};
    Row += Step[PassNo];
    while (Row >= ImageHeight) {
        if (++PassNo > 3)
            return false;
        Row = Start[PassNo];
    }
    Cursor = Pixels + int64_t{Row} * ImageWidth;
    return true;
}

// ---- TLZWEncoder ----------------------------------------------------------------

void TLZWEncoder::Output(int Code)
{
    TGIFEncoder::Output(Code);
    if (NextFreeCode > WidthCap || Resetting) {
        if (Resetting) {
            CodeWidth = StartWidth;
            WidthCap = (1 << StartWidth) - 1;
            Resetting = false;
        } else {
            ++CodeWidth;
            WidthCap = (CodeWidth == 12) ? 4096 : (1 << CodeWidth) - 1;
        }
    }
}

void TLZWEncoder::Clear()
{
    TGIFEncoder::Clear();
    HashTable->Clear();
    NextFreeCode = static_cast<uint16_t>(ClearCode + 2);
}

void TLZWEncoder::Compress()
{
    HashTable = std::make_unique<THashTable>();
    classlib::TOnExit FreeTable([this] { HashTable.reset(); });
    NextFreeCode = static_cast<uint16_t>(ClearCode + 2);
    Clear();
    RunPixel = static_cast<uint16_t>(TakePixel());
    while (AdvancePixel()) {
        const int c = TakePixel();
        const uint32_t Key = (uint32_t{RunPixel} << 8) | static_cast<uint32_t>(c);
        const uint32_t Code = HashTable->Lookup(Key);
        if (Code != 0xFFFF) {
            RunPixel = static_cast<uint16_t>(Code);
            continue;
        }
        Output(RunPixel);
        RunPixel = static_cast<uint16_t>(c);
        if (NextFreeCode < 4095) {
            HashTable->Insert(Key, NextFreeCode);
            ++NextFreeCode;
        } else {
            Clear();
        }
    }
    Output(RunPixel);
}

// ---- TRLEEncoder ------------------------------------------------------------------

int64_t IntegerSqrt(int64_t x)
{
    if (x < 2)
        return x;
    int64_t r = 1;
    for (int64_t q = x >> 2; q > 0; q >>= 2)
        r <<= 1;
    for (int Guard = 0; Guard < 128; ++Guard) {
        const int64_t v = (x / r + r) / 2;
        if (v == r || v == r + 1)
            break;
        r = v;
    }
    return r;
}

int64_t TRLEEncoder::RunCost(int64_t n, int64_t Room) const
{
    if (Room <= 0)
        return n;
    const int64_t Per = Room * (Room + 1) / 2;
    int64_t Cost = (n / Per) * Room;
    const int64_t r = n % Per;
    if (r > 0) {
        int64_t m = IntegerSqrt(r);
        while (m > 0 && m * (m + 1) >= 2 * r)
            --m;
        while (m * (m + 1) < 2 * r)
            ++m;
        Cost += m;
    }
    return Cost;
}

void TRLEEncoder::RLEClear()
{
    BumpAt = BumpAtStart;
    ClearAt = ClearAtStart;
    CodesOut = 0;
    RunTableMax = 0;
    TGIFEncoder::Clear();
    CodeWidth = StartWidth;
}

void TRLEEncoder::EmitCode(int Code)
{
    Resetting = false;
    Output(Code);
    ++CodesOut;
    if (CodesOut >= BumpAt) {
        const int Previous = CodeWidth;
        ++CodeWidth;
        BumpAt += int64_t{1} << Previous;
    }
    if (CodesOut >= ClearAt)
        RLEClear();
}

void TRLEEncoder::FlushRun(int64_t n)
{
    if (n == 1)
        EmitCode(RunPixel);
    else if (Resetting)
        FlushAfterClear(n);
    else if (RunTableMax > 1 && RunTablePixel == RunPixel)
        FlushByTable(n);
    else
        FlushPlainOrClear(n);
}

void TRLEEncoder::FlushAfterClear(int64_t n)
{
    ClearAt = CodeRoom;
    RunTablePixel = RunPixel;
    int64_t k = 1;
    while (n > 0) {
        if (k == 1) {
            RunTableMax = 1;
            EmitCode(RunPixel);
            n -= 1;
        } else if (n >= k) {
            RunTableMax = k;
            EmitCode(static_cast<int>(FirstFree + k - 2));
            n -= k;
        } else if (n == 1) {
            ++RunTableMax;
            EmitCode(RunPixel);
            n = 0;
        } else {
            ++RunTableMax;
            EmitCode(static_cast<int>(FirstFree + n - 2));
            n = 0;
        }
        k = (CodesOut == 0) ? 1 : k + 1;
    }
    ClearAt = ClearAtStart;
    if (CodesOut >= ClearAt)
        RLEClear();
}

void TRLEEncoder::FlushPlainOrClear(int64_t n)
{
    if (1 + RunCost(n, CodeRoom) < n) {
        RLEClear();
        FlushAfterClear(n);
    } else {
        for (int64_t i = 0; i < n; ++i)
            EmitCode(RunPixel);
    }
}

void TRLEEncoder::FlushByTable(int64_t n)
{
    int64_t Reps = n / RunTableMax;
    int64_t Left = n % RunTableMax;
    int64_t Extra = Left > 0 ? 1 : 0;
    if (CodesOut + Reps + Extra > CodeRoom) {
        Reps = CodeRoom - CodesOut;
        Left = n - Reps * RunTableMax;
        Extra = 1 + RunCost(Left, CodeRoom);
    }
    if (1 + RunCost(n, CodeRoom) < Reps + Extra) {
        RLEClear();
        FlushAfterClear(n);
        return;
    }
    ClearAt = CodeRoom;
    for (int64_t i = 0; i < Reps; ++i)
        EmitCode(static_cast<int>(FirstFree + RunTableMax - 2));
    if (Left > 0) {
        if (Resetting)
            FlushAfterClear(Left);
        else if (Left == 1)
            EmitCode(RunPixel);
        else
            EmitCode(static_cast<int>(FirstFree + Left - 2));
    }
    ClearAt = ClearAtStart;
    if (CodesOut >= ClearAt)
        RLEClear();
}

void TRLEEncoder::Compress()
{
    BumpAtStart = ClearCode - 1;
    ClearAtStart = RootBits > 3 ? BumpAtStart - 1 : 9;
    CodeRoom = 4095 - FirstFree;
    RLEClear();
    int64_t Length = 0;
    RunPixel = -1;
    bool More = true;
    while (More) {
        const int c = TakePixel();
        if (Length > 0 && c != RunPixel) {
            FlushRun(Length);
            Length = 0;
        }
        if (c == RunPixel) {
            ++Length;
        } else {
            RunPixel = c;
            Length = 1;
        }
        More = AdvancePixel();
    }
    FlushRun(Length);
}

}  // namespace gif
