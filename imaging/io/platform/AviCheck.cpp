#include "imaging/io/platform/AviCheck.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "classlib/Streams.h"

namespace imaging {

namespace {

// The file's structures, little-endian as stored (the target is too).
#pragma pack(push, 1)
struct TAviMainHeader {
    uint32_t MicroSecPerFrame, MaxBytesPerSec, PaddingGranularity, Flags, TotalFrames, InitialFrames, Streams,
        SuggestedBufferSize, Width, Height, Reserved[4];
};
struct TAviStreamHeader {
    uint32_t Type, Handler, Flags;
    uint16_t Priority, Language;
    uint32_t InitialFrames, Scale, Rate, Start, Length, SuggestedBufferSize, Quality, SampleSize;
    int16_t Frame[4];  // left, top, right, bottom; older writers leave it out
};
struct TAviBitmapHeader {
    uint32_t Size;
    int32_t Width, Height;
    uint16_t Planes, BitCount;
    uint32_t Compression, SizeImage;
    int32_t XPelsPerMeter, YPelsPerMeter;
    uint32_t ClrUsed, ClrImportant;
};
struct TAviWaveFormat {
    uint16_t FormatTag, Channels;
    uint32_t SamplesPerSec, AvgBytesPerSec;
    uint16_t BlockAlign, BitsPerSample;
};
struct TAviIndexEntry {
    uint32_t Id, Flags, Offset, Size;
};
#pragma pack(pop)
static_assert(sizeof(TAviMainHeader) == 56 && sizeof(TAviStreamHeader) == 56 && sizeof(TAviBitmapHeader) == 40 &&
                  sizeof(TAviWaveFormat) == 16 && sizeof(TAviIndexEntry) == 16,
              "packed as stored");

constexpr uint32_t Tag(const char (&s)[5])
{
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}

constexpr uint32_t kRiff = Tag("RIFF"), kList = Tag("LIST"), kAvi = Tag("AVI "), kAviX = Tag("AVIX"),
                   kHdrl = Tag("hdrl"), kAvih = Tag("avih"), kStrl = Tag("strl"), kStrh = Tag("strh"),
                   kStrf = Tag("strf"), kMovi = Tag("movi"), kIdx1 = Tag("idx1"), kVids = Tag("vids"),
                   kAuds = Tag("auds");

constexpr uint32_t kMaxStreams = 64;
// RIFF > LIST hdrl > LIST strl, RIFF > LIST movi > LIST rec: one level spare.
constexpr int kMaxDepth = 4;
// Chunks of the 'movi' lists remembered for the index (16 bytes each).
constexpr size_t kMaxMoviChunks = size_t{1} << 21;
// Buffer sizes the headers may announce beyond the file's size.
constexpr int64_t kBufferSlack = int64_t{1} << 20;
// The widest frame of a coded (not plain) video stream: the platform's frame
// drawing overruns its buffers on wider ones.
constexpr int32_t kMaxCodedWidth = 4096;
// Entries of the index read at a time.
constexpr size_t kIndexBlock = 4096;

// The compressions of bitmap frames that need a particular bit count.
constexpr uint32_t kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3;

struct TChunk {
    uint32_t Id = 0;
    int64_t Pos = 0;   // of the chunk header
    int64_t Size = 0;  // of the data (a list's type included)
    uint32_t ListType = 0;
    bool IsList() const { return Id == kList || Id == kRiff; }
    int64_t Data() const { return Pos + 8; }
    int64_t End() const { return Pos + 8 + Size; }
};

struct TStreamInfo {
    TAviStreamHeader Header{};
    bool HasHeader = false;
    bool HasFormat = false;
    TAviBitmapHeader Bitmap{};
    int64_t FrameBytes = 0;  // of an uncompressed video frame (0: coded)
    bool Rle8 = false;       // frames in 8-bit RLE
};

struct TMoviChunk {
    int64_t Pos;
    uint32_t Id;  // a list's type for lists
    uint32_t Size;
};

// Stream number of a data chunk id ("00db", "01wb"): two hexadecimal digits;
// -1 when the id has none.
int StreamOfId(uint32_t Id)
{
    auto digit = [](uint32_t c) {
        if (c >= '0' && c <= '9')
            return int(c - '0');
        if (c >= 'a' && c <= 'f')
            return int(c - 'a' + 10);
        if (c >= 'A' && c <= 'F')
            return int(c - 'A' + 10);
        return -1;
    };
    const int hi = digit(Id & 0xFF), lo = digit((Id >> 8) & 0xFF);
    return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

// The largest RLE frame chunk read whole for its check.
constexpr int64_t kMaxRleChunk = int64_t{64} << 20;

// Whether 8-bit RLE codes stay inside a Width x Height frame: every run and
// absolute block inside its row and below the top, no code cut by the end of
// the data (the platform's decoder trusts them).
bool RleInsideFrame(const uint8_t* p, int64_t n, int64_t Width, int64_t Height)
{
    int64_t x = 0, y = 0, i = 0;
    auto put = [&](int64_t count) {
        x += count;
        return y < Height && x <= Width;
    };
    while (i < n) {
        if (n - i < 2)
            return false;
        const uint8_t count = p[i], code = p[i + 1];
        i += 2;
        if (count != 0) {
            if (!put(count))
                return false;
            continue;
        }
        if (code == 0) {  // end of line
            x = 0;
            ++y;
        } else if (code == 1) {  // end of frame
            return true;
        } else if (code == 2) {  // move right and up
            if (n - i < 2)
                return false;
            x += p[i];
            y += p[i + 1];
            i += 2;
            if (x > Width || y > Height)
                return false;
        } else {  // absolute pixels, padded to a word
            const int64_t bytes = code + (code & 1);
            if (n - i < bytes || !put(code))
                return false;
            i += bytes;
        }
    }
    return true;
}

// Whether a palette change chunk ('##pc') stays inside the 256 entries.
bool PaletteChangeInside(const uint8_t* p, int64_t n)
{
    if (n < 4)
        return false;
    const int first = p[0], count = p[1] ? p[1] : 256;
    return first + count <= 256 && 4 + 4 * int64_t{count} <= n;
}

// Whether a chunk (or index entry) of Size bytes of the stream holds what it
// must: whole samples of a stream of fixed-size samples; a whole frame of
// uncompressed video (0 bytes: a dropped frame).
TPxReadFailure Holds(const TStreamInfo& Stream, int64_t Size)
{
    const uint32_t sample = Stream.Header.SampleSize;
    if (sample != 0 && Size % sample != 0)
        return TPxReadFailure::BadHeader;
    return Size != 0 && Size < Stream.FrameBytes ? TPxReadFailure::MoreThanData : TPxReadFailure::None;
}

class TAviWalker {
public:
    explicit TAviWalker(classlib::TStream& Stream) : r_(Stream), size_(Stream.GetSize()) {}

    TPxReadFailure Run();

private:
    // The chunk header at Pos, which must lie with its data inside
    // [Pos, End) (End itself inside the file).
    TPxReadFailure Header(int64_t Pos, int64_t End, TChunk& Chunk);
    // Calls Visit(child) for every chunk of [Begin, End) in order; stops at
    // its first failure.
    template <class F>
    TPxReadFailure Children(int64_t Begin, int64_t End, F Visit);

    TPxReadFailure HeaderList(const TChunk& List);
    TPxReadFailure StreamList(const TChunk& List);
    TPxReadFailure Movi(const TChunk& List, int Depth, bool Remember);
    // The data of a video chunk the library decodes itself: RLE frames and
    // palette changes.
    TPxReadFailure VideoChunk(const TStreamInfo& Stream, const TChunk& Chunk);
    TPxReadFailure Index(const TChunk& Chunk);
    TPxReadFailure Headers() const;

    TPxByteReader r_;
    int64_t size_;
    TAviMainHeader main_{};
    bool hasMain_ = false;
    std::vector<TStreamInfo> streams_;
    TChunk movi_;
    bool hasMovi_ = false;
    int64_t moviBytes_ = 0;  // data of every 'movi' list of the file
    std::vector<TMoviChunk> moviChunks_;
};

TPxReadFailure TAviWalker::Header(int64_t Pos, int64_t End, TChunk& Chunk)
{
    uint8_t h[12];
    if (End - Pos < 8 || !r_.Seek(Pos) || !r_.Read(h, 8))
        return End > size_ ? TPxReadFailure::Truncated : TPxReadFailure::Corrupt;
    Chunk.Pos = Pos;
    Chunk.Id = PxLe32(h);
    Chunk.Size = PxLe32(h + 4);
    if (Chunk.End() > size_)
        return TPxReadFailure::Truncated;
    if (Chunk.End() > End)
        return TPxReadFailure::Corrupt;
    if (Chunk.IsList()) {
        if (Chunk.Size < 4 || !r_.Read(h + 8, 4))
            return TPxReadFailure::Corrupt;
        Chunk.ListType = PxLe32(h + 8);
    }
    return TPxReadFailure::None;
}

template <class F>
TPxReadFailure TAviWalker::Children(int64_t Begin, int64_t End, F Visit)
{
    // Each child lies inside [pos, End) and the walk moves past it (at least
    // its 8-byte header), so children neither overlap nor loop.
    for (int64_t pos = Begin; pos < End;) {
        TChunk c;
        if (TPxReadFailure f = Header(pos, End, c); f != TPxReadFailure::None)
            return f;
        if (TPxReadFailure f = Visit(c); f != TPxReadFailure::None)
            return f;
        pos = c.End() + (c.Size & 1);  // the pad byte may be missing at the end
    }
    return TPxReadFailure::None;
}

TPxReadFailure TAviWalker::Run()
{
    if (!r_.Seek(0))
        return TPxReadFailure::Truncated;
    TChunk riff;
    if (TPxReadFailure f = Header(0, size_, riff); f != TPxReadFailure::None)
        return f;
    if (riff.Id != kRiff || riff.ListType != kAvi)
        return TPxReadFailure::BadHeader;
    bool hasHeaderList = false, hasIndex = false;
    TChunk index;
    TPxReadFailure f = Children(riff.Data() + 4, riff.End(), [&](const TChunk& c) {
        if (c.Id == kList && c.ListType == kHdrl) {
            if (hasHeaderList || hasMovi_)
                return TPxReadFailure::Corrupt;
            hasHeaderList = true;
            return HeaderList(c);
        }
        if (c.Id == kList && c.ListType == kMovi) {
            if (!hasHeaderList || hasMovi_)
                return TPxReadFailure::Corrupt;
            hasMovi_ = true;
            movi_ = c;
            return Movi(c, 2, true);
        }
        if (c.Id == kIdx1) {
            if (!hasMovi_ || hasIndex)
                return TPxReadFailure::Corrupt;
            hasIndex = true;
            index = c;
        }
        return TPxReadFailure::None;
    });
    if (f != TPxReadFailure::None)
        return f;
    if (!hasHeaderList || !hasMovi_)
        return TPxReadFailure::Corrupt;

    // Further RIFF forms ('AVIX') of large files; anything else after the
    // first form is left alone (the library does not read it).
    for (int64_t pos = riff.End() + (riff.Size & 1); size_ - pos >= 12;) {
        TChunk more;
        uint8_t id[4];
        if (!r_.Seek(pos) || !r_.Read(id, 4) || PxLe32(id) != kRiff)
            break;
        if ((f = Header(pos, size_, more)) != TPxReadFailure::None)
            return f;
        if (more.ListType != kAviX)
            return TPxReadFailure::Corrupt;
        f = Children(more.Data() + 4, more.End(), [&](const TChunk& c) {
            return c.Id == kList && c.ListType == kMovi ? Movi(c, 2, false) : TPxReadFailure::None;
        });
        if (f != TPxReadFailure::None)
            return f;
        pos = more.End() + (more.Size & 1);
    }

    if ((f = Headers()) != TPxReadFailure::None)
        return f;
    return hasIndex ? Index(index) : TPxReadFailure::None;
}

TPxReadFailure TAviWalker::HeaderList(const TChunk& List)
{
    // The library reads the stream lists as one run right after the main
    // header: nothing may stand before, between or inside it.
    bool runEnded = false;
    return Children(List.Data() + 4, List.End(), [&](const TChunk& c) {
        if (c.Id == kAvih) {
            if (hasMain_ || c.Size < int64_t(sizeof main_))
                return TPxReadFailure::BadHeader;
            hasMain_ = true;
            r_.Seek(c.Data());
            return r_.Read(&main_, sizeof main_) ? TPxReadFailure::None : TPxReadFailure::Truncated;
        }
        if (!hasMain_)
            return TPxReadFailure::BadHeader;
        if (c.Id == kList && c.ListType == kStrl) {
            if (runEnded || streams_.size() >= kMaxStreams)
                return TPxReadFailure::Corrupt;
            return StreamList(c);
        }
        runEnded = true;
        return TPxReadFailure::None;
    });
}

TPxReadFailure TAviWalker::StreamList(const TChunk& List)
{
    TStreamInfo& s = streams_.emplace_back();
    TPxReadFailure f = Children(List.Data() + 4, List.End(), [&](const TChunk& c) {
        if (c.Id == kStrh) {
            // The frame rectangle is optional; the rest is required.
            if (s.HasHeader || c.Size < int64_t(offsetof(TAviStreamHeader, Frame)))
                return TPxReadFailure::BadHeader;
            s.HasHeader = true;
            r_.Seek(c.Data());
            return r_.Read(&s.Header, std::min<int64_t>(c.Size, sizeof s.Header)) ? TPxReadFailure::None
                                                                                  : TPxReadFailure::Truncated;
        }
        if (c.Id != kStrf)
            return TPxReadFailure::None;
        if (!s.HasHeader || s.HasFormat)
            return TPxReadFailure::BadHeader;
        s.HasFormat = true;
        r_.Seek(c.Data());
        if (s.Header.Type == kVids) {
            TAviBitmapHeader& b = s.Bitmap;
            if (c.Size < int64_t(sizeof b) || !r_.Read(&b, sizeof b))
                return TPxReadFailure::BadHeader;
            if (b.Size < sizeof b || b.Size > c.Size || b.BitCount == 0 || b.BitCount > 32 || b.Width <= 0 ||
                b.Height == 0 || b.Height == INT32_MIN)
                return TPxReadFailure::BadHeader;
            if ((b.Compression == kBiRgb && b.BitCount != 1 && b.BitCount != 4 && b.BitCount != 8 &&
                 b.BitCount != 16 && b.BitCount != 24 && b.BitCount != 32) ||
                (b.Compression == kBiRle8 && b.BitCount != 8) || (b.Compression == kBiRle4 && b.BitCount != 4) ||
                (b.Compression == kBiBitfields && b.BitCount != 16 && b.BitCount != 32))
                return TPxReadFailure::BadHeader;
            // The colour table (and the masks of bit-field frames) follow
            // the header inside the format.
            const int64_t maxColours = b.BitCount <= 8 ? int64_t{1} << b.BitCount : 256;
            const int64_t colours = b.ClrUsed ? int64_t{b.ClrUsed} : (b.BitCount <= 8 ? maxColours : 0);
            const int64_t masks = b.Compression == kBiBitfields && b.Size == sizeof b ? 12 : 0;
            if (colours > maxColours || b.ClrImportant > maxColours || b.Size + masks + 4 * colours > c.Size)
                return TPxReadFailure::BadHeader;
            // The platform's RLE decoder divides by zero on 4-bit frames.
            if (b.Compression == kBiRle4)
                return TPxReadFailure::Unsupported;
            const bool plain = b.Compression == kBiRgb || b.Compression == kBiBitfields;
            if (!plain && b.Width > kMaxCodedWidth)
                return TPxReadFailure::Unsupported;
            const int64_t rows = b.Height < 0 ? -int64_t{b.Height} : b.Height;
            if (b.Width > PxMaxImageSide || rows > PxMaxImageSide)
                return TPxReadFailure::TooLarge;  // (and the frame size below cannot overflow)
            if (plain)
                s.FrameBytes = (int64_t{b.Width} * b.BitCount + 31) / 32 * 4 * rows;
            s.Rle8 = b.Compression == kBiRle8;
            return TPxReadFailure::None;
        }
        if (s.Header.Type == kAuds) {
            TAviWaveFormat w;
            if (c.Size < int64_t(sizeof w) || !r_.Read(&w, sizeof w))
                return TPxReadFailure::BadHeader;
            if (w.Channels == 0 || w.BlockAlign == 0 || w.SamplesPerSec == 0)
                return TPxReadFailure::BadHeader;
            if (c.Size >= int64_t(sizeof w) + 2 && int64_t(sizeof w) + 2 + r_.U16() > c.Size)
                return TPxReadFailure::BadHeader;  // the extra bytes pass the format's end
        }
        return TPxReadFailure::None;
    });
    if (f != TPxReadFailure::None)
        return f;
    return s.HasHeader && s.HasFormat ? TPxReadFailure::None : TPxReadFailure::BadHeader;
}

TPxReadFailure TAviWalker::Movi(const TChunk& List, int Depth, bool Remember)
{
    if (Depth > kMaxDepth)
        return TPxReadFailure::Corrupt;
    if (Depth == 2)
        moviBytes_ += List.Size - 4;
    return Children(List.Data() + 4, List.End(), [&](const TChunk& c) {
        if (Remember) {
            if (moviChunks_.size() >= kMaxMoviChunks)
                return TPxReadFailure::Unsupported;
            moviChunks_.push_back({c.Pos, c.IsList() ? c.ListType : c.Id, uint32_t(c.Size)});
        }
        if (c.IsList())
            return c.Id == kList ? Movi(c, Depth + 1, Remember) : TPxReadFailure::Corrupt;
        const int stream = StreamOfId(c.Id);
        if (stream < 0)
            return TPxReadFailure::None;
        if (stream >= int(streams_.size()))
            return TPxReadFailure::Corrupt;
        const TStreamInfo& s = streams_[size_t(stream)];
        if (TPxReadFailure f = Holds(s, c.Size); f != TPxReadFailure::None)
            return f;
        return s.Header.Type == kVids ? VideoChunk(s, c) : TPxReadFailure::None;
    });
}

TPxReadFailure TAviWalker::VideoChunk(const TStreamInfo& Stream, const TChunk& Chunk)
{
    const uint32_t kind = Chunk.Id >> 16;  // the two letters after the stream number
    const bool palette = kind == (Tag("00pc") >> 16);
    const bool frame = kind == (Tag("00dc") >> 16) || kind == (Tag("00db") >> 16);
    if (Chunk.Size == 0 || (!palette && !(frame && Stream.Rle8)))
        return TPxReadFailure::None;
    if (Chunk.Size > kMaxRleChunk)
        return TPxReadFailure::Unsupported;
    std::vector<uint8_t> data(size_t(Chunk.Size));
    if (!r_.Seek(Chunk.Data()) || !r_.Read(data.data(), Chunk.Size))
        return TPxReadFailure::Truncated;
    const TAviBitmapHeader& b = Stream.Bitmap;
    const bool inside = palette ? PaletteChangeInside(data.data(), Chunk.Size)
                                : RleInsideFrame(data.data(), Chunk.Size, b.Width,
                                                 b.Height < 0 ? -int64_t{b.Height} : b.Height);
    return inside ? TPxReadFailure::None : TPxReadFailure::Corrupt;
}

TPxReadFailure TAviWalker::Headers() const
{
    if (!hasMain_ || main_.Streams == 0 || main_.Streams != streams_.size())
        return TPxReadFailure::BadHeader;
    const int64_t bufferBound = size_ + kBufferSlack;
    if (main_.SuggestedBufferSize > bufferBound || main_.TotalFrames > size_)
        return TPxReadFailure::BadHeader;
    if (main_.Width != 0 && main_.Height != 0) {
        TPxRasterCheck frame;
        frame.Width = main_.Width;
        frame.Height = main_.Height;
        frame.CodedBits = 32;
        frame.Coding = TPxCoding::Unbounded;
        if (TPxReadFailure f = PxCheckRaster(frame); f != TPxReadFailure::None)
            return f;
    }
    const TStreamInfo* video = nullptr;
    for (const TStreamInfo& s : streams_) {
        const TAviStreamHeader& h = s.Header;
        // Lengths count frames (at least an index entry or a chunk header
        // each) or, for audio, samples of at least a nibble.
        const int64_t lengthBound = h.Type == kVids ? std::max<int64_t>(moviBytes_, 1) : 64 * (moviBytes_ + 1);
        if (h.Scale == 0 || h.Rate == 0 || int64_t{h.Start} + h.Length > lengthBound ||
            h.InitialFrames > lengthBound || h.SuggestedBufferSize > bufferBound || h.SampleSize > bufferBound)
            return TPxReadFailure::BadHeader;
        if (h.Type == kVids && !video)
            video = &s;
    }
    if (!video)
        return TPxReadFailure::NoImage;
    const TAviBitmapHeader& b = video->Bitmap;
    TPxRasterCheck frame;
    frame.Width = b.Width;
    frame.Height = b.Height < 0 ? -int64_t{b.Height} : b.Height;
    frame.CodedBits = b.BitCount;
    frame.StorageBits = 32;
    frame.Coding = b.Compression == kBiRgb || b.Compression == kBiBitfields ? TPxCoding::Raw
                   : b.Compression == kBiRle8 || b.Compression == kBiRle4 ? TPxCoding::Rle
                                                                          : TPxCoding::Unbounded;
    frame.DataBytes = moviBytes_;
    if (TPxReadFailure f = PxCheckRaster(frame); f != TPxReadFailure::None)
        return f;
    return b.SizeImage > std::max<int64_t>(bufferBound, frame.Width * frame.Height * 4) ? TPxReadFailure::BadHeader
                                                                                        : TPxReadFailure::None;
}

TPxReadFailure TAviWalker::Index(const TChunk& Chunk)
{
    if (Chunk.Size % sizeof(TAviIndexEntry) != 0)
        return TPxReadFailure::Corrupt;
    const int64_t count = Chunk.Size / int64_t(sizeof(TAviIndexEntry));
    // Offsets count from the 'movi' type, or (some writers) from the file's
    // start; the first entry tells which.
    const int64_t moviType = movi_.Data();
    int64_t base = -1;
    std::vector<TAviIndexEntry> block(std::min<int64_t>(count, kIndexBlock));
    r_.Seek(Chunk.Data());
    for (int64_t done = 0; done < count;) {
        const int64_t n = std::min<int64_t>(count - done, int64_t(block.size()));
        if (!r_.Read(block.data(), n * int64_t(sizeof(TAviIndexEntry))))
            return TPxReadFailure::Truncated;
        for (int64_t i = 0; i < n; ++i) {
            const TAviIndexEntry& e = block[size_t(i)];
            if (base < 0)
                base = e.Offset < moviType ? moviType : 0;
            const int64_t pos = base + e.Offset;
            auto it = std::lower_bound(moviChunks_.begin(), moviChunks_.end(), pos,
                                       [](const TMoviChunk& c, int64_t p) { return c.Pos < p; });
            if (it == moviChunks_.end() || it->Pos != pos || it->Id != e.Id || e.Size > it->Size)
                return TPxReadFailure::Corrupt;
            const int stream = StreamOfId(e.Id);
            if (stream >= int(streams_.size()))
                return TPxReadFailure::Corrupt;
            if (stream >= 0)
                if (TPxReadFailure f = Holds(streams_[size_t(stream)], e.Size); f != TPxReadFailure::None)
                    return f;
        }
        done += n;
    }
    return TPxReadFailure::None;
}

}  // namespace

TPxReadFailure PxCheckAVIStructure(classlib::TStream& Stream)
{
    try {
        return TAviWalker(Stream).Run();
    } catch (const std::bad_alloc&) {
        return TPxReadFailure::OutOfMemory;
    } catch (...) {
        return TPxReadFailure::Unreadable;
    }
}

TPxReadFailure PxCheckAVIFile(const std::wstring& FileName)
{
    try {
        classlib::TFileStream stream(FileName, classlib::fmOpenRead | classlib::fmShareDenyWrite);
        return PxCheckAVIStructure(stream);
    } catch (...) {
        return TPxReadFailure::Unreadable;
    }
}

}  // namespace imaging
