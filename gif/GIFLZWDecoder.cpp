#include "gif/GIFLZWDecoder.h"

#include <array>
#include <cstring>
#include <memory>

#include "classlib/ScopeGuard.h"
#include "gif/GIFUtils.h"

namespace gif {

namespace {

constexpr int TableSize = 4096;
constexpr int StackSize = 4096;

// One decoding: the string table, the output stack and the sub-block bit
// buffer, all allocated once per call.
class TLZWDecoder {
public:
    TLZWDecoder(classlib::TStream* Stream, const TDecoderWarning& Warning)
        : stream_(Stream), warning_(Warning)
    {
    }

    void Start(int InitialCodeSize)
    {
        initialSize_ = InitialCodeSize > 8 ? 8 : InitialCodeSize;
        clearCode_ = 1 << initialSize_;
        endCode_ = clearCode_ + 1;
        width_ = initialSize_ + 1;
        nextFree_ = clearCode_ + 2;
        widthLimit_ = 2 * clearCode_;
    }

    // The next pixel; -1 or -2 when the data has ended.
    int NextPixel();

private:
    int ReadCode(int Width);
    void Warn(const wchar_t* Message)
    {
        if (warning_)
            warning_(Message);
    }
    void Push(int Value)
    {
        if (sp_ >= StackSize)
            RaiseGifError(L"Circular decoder table entry");
        stack_[sp_++] = Value;
    }

    classlib::TStream* stream_;
    const TDecoderWarning& warning_;
    int initialSize_ = 0;
    int clearCode_ = 0;
    int endCode_ = 0;
    int width_ = 0;
    int nextFree_ = 0;
    int widthLimit_ = 0;
    int firstCode_ = 0;
    int oldCode_ = 0;
    std::array<int32_t, TableSize> prefix_{};
    std::array<int32_t, TableSize> suffix_{};
    std::array<int32_t, StackSize> stack_{};
    int sp_ = 0;
    // 2 kept bytes + one sub-block, plus slack for the 3-byte window.
    std::array<uint8_t, 2 + 255 + 4> buffer_{};
    int curBit_ = 0;
    int lastBit_ = 0;
    int lastByte_ = 2;
    bool firstCall_ = true;
    bool terminatorSeen_ = false;
    bool noMoreData_ = false;
    bool endSeen_ = false;
};

int TLZWDecoder::ReadCode(int Width)
{
    if (firstCall_) {
        firstCall_ = false;
        return clearCode_;
    }
    if (curBit_ + Width >= lastBit_) {
        if (noMoreData_) {
            if (curBit_ >= lastBit_)
                Warn(L"Decoder bit buffer under-run");
            return -1;
        }
        buffer_[0] = buffer_[lastByte_ - 2];
        buffer_[1] = buffer_[lastByte_ - 1];
        const int Length = ReadStreamByte(stream_);
        if (Length < 0)
            return -1;
        int Got = 0;
        if (Length > 0) {
            Got = static_cast<int>(stream_->Read(buffer_.data() + 2, Length));
            if (Got < Length)
                Warn(L"Premature end of data");
        } else {
            terminatorSeen_ = true;
            noMoreData_ = true;
        }
        lastByte_ = 2 + Got;
        curBit_ = curBit_ - lastBit_ + 16;
        lastBit_ = 8 * lastByte_;
    }
    if (curBit_ < 0)
        curBit_ = 0;
    const int First = curBit_ / 8;
    const int Last = (curBit_ + Width) / 8;
    uint32_t Value = 0;
    for (int i = Last; i >= First; --i)
        Value = (Value << 8) | buffer_[i];
    Value >>= (curBit_ % 8);
    Value &= (1u << Width) - 1;
    curBit_ += Width;
    return static_cast<int>(Value);
}

int TLZWDecoder::NextPixel()
{
    if (sp_ > 0)
        return stack_[--sp_];
    if (endSeen_)
        return -2;
    int Code = ReadCode(width_);
    if (Code < 0)
        return Code;
    if (Code == clearCode_) {
        for (int i = 0; i < clearCode_; ++i) {
            prefix_[i] = 0;
            suffix_[i] = i;
        }
        for (int i = clearCode_; i < TableSize; ++i) {
            prefix_[i] = 0;
            suffix_[i] = 0;
        }
        width_ = initialSize_ + 1;
        widthLimit_ = 2 * clearCode_;
        nextFree_ = clearCode_ + 2;
        sp_ = 0;
        do {
            Code = ReadCode(width_);
        } while (Code == clearCode_);
        if (Code < 0)
            return Code;
        if (Code != endCode_) {
            // Only a root code can follow a clear code.
            if (Code > endCode_)
                RaiseGifError(L"Invalid GIF data");
            firstCode_ = Code;
            oldCode_ = Code;
            return Code;
        }
    }
    if (Code == endCode_) {
        endSeen_ = true;
        if (terminatorSeen_)
            return -2;
        for (;;) {
            const int Length = ReadStreamByte(stream_);
            if (Length <= 0)
                break;
            stream_->Seek(Length, classlib::soCurrent);
            if (stream_->GetPosition() > stream_->GetSize()) {
                stream_->Seek(0, classlib::soEnd);
                break;
            }
        }
        return -2;
    }
    const int Incoming = Code;
    if (Code > nextFree_ || (Code == nextFree_ && nextFree_ >= TableSize))
        RaiseGifError(L"Invalid GIF data");
    if (Code == nextFree_) {
        Push(firstCode_);
        Code = oldCode_;
    }
    while (Code >= clearCode_) {
        Push(suffix_[Code]);
        if (prefix_[Code] == Code)
            RaiseGifError(L"Circular decoder table entry");
        Code = prefix_[Code];
    }
    firstCode_ = suffix_[Code];
    Push(firstCode_);
    if (nextFree_ <= 4095) {
        prefix_[nextFree_] = oldCode_;
        suffix_[nextFree_] = firstCode_;
        ++nextFree_;
        if (nextFree_ >= widthLimit_ && widthLimit_ <= 4095) {
            widthLimit_ *= 2;
            if (width_ < 12)
                ++width_;
        }
    }
    oldCode_ = Incoming;
    return stack_[--sp_];
}

}  // namespace

void DecodeLZWPixels(classlib::TStream* Stream, uint8_t* Pixels, int Width, int Height,
                     bool Interlaced, const TDecoderWarning& Warning, uint8_t Fill)
{
    if (Width <= 0 || Height <= 0)
        Pixels = nullptr;
    // Rows in the order the data stores them, and how far the data came: the
    // rest is filled on every way out, so no pixel stays unset.
    int Row = 0, Pass = 0, Step = Interlaced ? 8 : 1, RowsDone = 0, InRow = 0;
    auto NextRow = [&] {
        ++RowsDone;
        InRow = 0;
        Row += Step;
        while (Interlaced && Row >= Height && Pass < 4) {
            if (Pass > 0)
                Step /= 2;
            ++Pass;
            Row = Step / 2;
        }
    };
    auto FillRest = [&] {
        if (!Pixels)
            return;
        while (RowsDone < Height && Row < Height) {
            std::memset(Pixels + int64_t{Row} * Width + InRow, Fill, static_cast<size_t>(Width - InRow));
            NextRow();
        }
    };
    classlib::TOnExit Rest([&FillRest] { FillRest(); });

    const int InitialSize = ReadStreamByte(Stream);
    if (InitialSize < 0)
        return;
    auto Decoder = std::make_unique<TLZWDecoder>(Stream, Warning);
    Decoder->Start(InitialSize);
    classlib::TOnExit End([d = Decoder.get()] {
        // In a well-formed block this reads the end code and skips to the
        // block terminator; a failure here must not replace the first one.
        try {
            d->NextPixel();
        } catch (...) {
        }
    });
    if (!Pixels)
        return;
    while (RowsDone < Height && Row < Height) {
        uint8_t* Dest = Pixels + int64_t{Row} * Width;
        for (; InRow < Width; ++InRow) {
            const int Pixel = Decoder->NextPixel();
            if (Pixel < 0)
                return;
            Dest[InRow] = static_cast<uint8_t>(Pixel);
        }
        NextRow();
    }
}

}  // namespace gif
