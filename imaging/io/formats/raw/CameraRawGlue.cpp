#include "imaging/io/formats/raw/CameraRawGlue.h"

#include <libraw/libraw.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "classlib/Exceptions.h"
#include "classlib/ScopeGuard.h"
#include "imaging/io/core/ReadGuard.h"

namespace imaging {

namespace {

// The decoder's data source over a borrowed stream; positions count from
// the stream's position 0.
class TRawStreamSource : public LibRaw_abstract_datastream {
public:
    explicit TRawStreamSource(classlib::TStream* Stream) : stream_(Stream), size_(Stream->GetSize())
    {
        stream_->SetPosition(0);
    }

    int valid() override { return stream_ != nullptr; }

    int read(void* Buffer, size_t Size, size_t Count) override
    {
        if (Size == 0 || Count == 0)
            return 0;
        if (Count > static_cast<size_t>(INT64_MAX) / Size)
            return 0;
        const int64_t want = static_cast<int64_t>(Size * Count);
        const int64_t got = stream_->Read(Buffer, want);
        return static_cast<int>(std::max<int64_t>(got, 0) / static_cast<int64_t>(Size));
    }

    int seek(INT64 Offset, int Whence) override
    {
        int64_t target;
        switch (Whence) {
        case SEEK_SET: target = Offset; break;
        case SEEK_CUR: target = stream_->GetPosition() + Offset; break;
        case SEEK_END: target = size_ + Offset; break;
        default: return -1;
        }
        target = std::clamp<int64_t>(target, 0, size_);
        stream_->SetPosition(target);
        return 0;
    }

    INT64 tell() override { return stream_->GetPosition(); }
    INT64 size() override { return size_; }

    int get_char() override
    {
        uint8_t c;
        return stream_->Read(&c, 1) == 1 ? c : -1;
    }

    char* gets(char* Text, int Size) override
    {
        if (Size <= 0)
            return nullptr;
        int n = 0;
        while (n < Size - 1) {
            const int c = get_char();
            if (c < 0)
                break;
            Text[n++] = static_cast<char>(c);
            if (c == '\n')
                break;
        }
        Text[n] = 0;
        return n > 0 ? Text : nullptr;
    }

    int scanf_one(const char* Format, void* Value) override
    {
        char token[32];
        int n = 0;
        int c = get_char();
        while (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == 0)
            c = get_char();
        if (c < 0)
            return -1;
        while (c >= 0 && n < static_cast<int>(sizeof token) - 1 && c != ' ' && c != '\t' && c != '\r' &&
               c != '\n' && c != 0) {
            token[n++] = static_cast<char>(c);
            c = get_char();
        }
        token[n] = 0;
        return std::sscanf(token, Format, Value);
    }

    int eof() override { return stream_->GetPosition() >= size_; }
    void* make_jas_stream() override { return nullptr; }

private:
    classlib::TStream* stream_;
    int64_t size_;
};

// The decoder with the red and blue multipliers applied to the scaling
// factors it computed (after its white balance).
class TScaledLibRaw : public LibRaw {
public:
    double RedScale = 1.0;
    double BlueScale = 1.0;

protected:
    void scale_colors_loop(float scale_mul[4]) override
    {
        scale_mul[0] = static_cast<float>(scale_mul[0] * RedScale);
        scale_mul[2] = static_cast<float>(scale_mul[2] * BlueScale);
        LibRaw::scale_colors_loop(scale_mul);
    }
};

// The decoder library overruns its colour-filter pattern table on a TIFF
// CFAPattern (tag 33422) of more than 4 entries whose size is not the
// CFARepeatPatternDim (33421) before it, and on one of 36 entries whose
// repeat is not 6 x 6 (its writes never stop). Walks the directories of a TIFF-structured
// stream (the chain and the sub-directories, at most 64) and tells whether
// every such pattern agrees with its repeat; other streams pass. The stream's
// position is kept.
bool CfaPatternsAgree(classlib::TStream& Stream)
{
    const int64_t kept = Stream.GetPosition();
    classlib::TOnExit restore([&Stream, kept] { Stream.SetPosition(kept); });
    uint8_t b[12];
    bool big = false;
    auto readAt = [&](int64_t Pos, int Count) {
        if (Pos < 0 || Pos + Count > Stream.GetSize())
            return false;
        Stream.SetPosition(Pos);
        return PxReadExact(Stream, b, Count);
    };
    auto u16 = [&](const uint8_t* p) { return big ? PxBe16(p) : PxLe16(p); };
    auto u32 = [&](const uint8_t* p) { return big ? PxBe32(p) : PxLe32(p); };
    if (!readAt(0, 8) || !((b[0] == 'I' && b[1] == 'I') || (b[0] == 'M' && b[1] == 'M')))
        return true;
    big = b[0] == 'M';
    std::vector<uint32_t> todo{u32(b + 4)};
    std::vector<uint32_t> seen;
    while (!todo.empty() && seen.size() < 64) {
        const uint32_t ifd = todo.back();
        todo.pop_back();
        if (ifd == 0 || std::find(seen.begin(), seen.end(), ifd) != seen.end() || !readAt(ifd, 2))
            continue;
        seen.push_back(ifd);
        const int entries = u16(b);
        int64_t rows = -1, columns = -1;
        for (int i = 0; i < entries; ++i) {
            if (!readAt(int64_t{ifd} + 2 + 12 * i, 12))
                break;
            const uint16_t tag = u16(b), type = u16(b + 2);
            const uint32_t count = u32(b + 4), value = u32(b + 8);
            if (tag == 33421 && type == 3 && count == 2) {
                rows = u16(b + 8);
                columns = u16(b + 10);
            } else if (tag == 33422 && count > 4 &&
                       (count != rows * columns || (count == 36 && (rows != 6 || columns != 6)))) {
                return false;
            }
            else if (tag == 330 && count == 1)
                todo.push_back(value);
            else if (tag == 330 && count <= 16)
                for (uint32_t k = 0; k < count; ++k)
                    if (readAt(int64_t{value} + 4 * k, 4))
                        todo.push_back(u32(b));
        }
        if (readAt(int64_t{ifd} + 2 + 12 * int64_t{entries}, 4))
            todo.push_back(u32(b));
    }
    return true;
}

void IgnoreMemoryError(void*, const char*, const char*) {}
void IgnoreDataError(void*, const char*, const int) {}

std::wstring Widen(const char* Text)
{
    std::wstring w;
    for (; Text && *Text; ++Text)
        w.push_back(static_cast<unsigned char>(*Text));
    return w;
}

std::string Field(const char* Text, size_t Size) { return std::string(Text, strnlen(Text, Size)); }

}  // namespace

struct TPxRawDecoder::TImpl {
    std::unique_ptr<TScaledLibRaw> raw;
    std::unique_ptr<TRawStreamSource> source;
    const std::function<void(int)>* progress = nullptr;
    const std::function<bool()>* cancelled = nullptr;
    bool scaled = false;

    static int OnProgress(void* Data, enum LibRaw_progress Stage, int, int)
    {
        auto* self = static_cast<TImpl*>(Data);
        if (self->cancelled && *self->cancelled && (*self->cancelled)())
            return 1;
        if (!self->scaled && Stage > LIBRAW_PROGRESS_SCALE_COLORS) {
            self->scaled = true;
            if (self->progress && *self->progress)
                (*self->progress)(70);
        }
        return 0;
    }
};

TPxRawDecoder::TPxRawDecoder() : impl_(std::make_unique<TImpl>()) {}

TPxRawDecoder::~TPxRawDecoder() { Clear(); }

void TPxRawDecoder::Clear()
{
    impl_->raw.reset();
    impl_->source.reset();
    Make.clear();
    Model.clear();
    Model2.clear();
    RawWidth = RawHeight = Width = Height = 0;
    Filters = 0;
    Foveon = false;
    FujiWidth = 0;
    XMag = YMag = 1;
    ImageWidth = ImageHeight = 0;
    Image = nullptr;
}

bool TPxRawDecoder::Identify(classlib::TStream* Stream, const TPxRawDecodeOptions& Options)
{
    Clear();
    if (!Stream)
        return false;
    impl_->raw = std::make_unique<TScaledLibRaw>();
    TScaledLibRaw& raw = *impl_->raw;
    raw.set_memerror_handler(IgnoreMemoryError, nullptr);
    raw.set_dataerror_handler(IgnoreDataError, nullptr);
    raw.RedScale = Options.RedScale;
    raw.BlueScale = Options.BlueScale;
    libraw_output_params_t& o = raw.imgdata.params;
    o.half_size = Options.HalfSize ? 1 : 0;
    o.four_color_rgb = Options.FourColorRGB ? 1 : 0;
    o.use_auto_wb = Options.UseAutoWB ? 1 : 0;
    o.use_camera_wb = Options.UseCameraWB ? 1 : 0;
    o.user_qual = Options.QuickInterpolate ? 0 : 1;
    o.use_fuji_rotate = 0;
    o.output_color = 1;
    o.highlight = 0;
    impl_->source = std::make_unique<TRawStreamSource>(Stream);
    if (!CfaPatternsAgree(*Stream) || raw.open_datastream(impl_->source.get()) != LIBRAW_SUCCESS) {
        Clear();
        return false;
    }
    const libraw_iparams_t& id = raw.imgdata.idata;
    const libraw_image_sizes_t& s = raw.imgdata.sizes;
    Make = Field(id.make, sizeof id.make);
    Model = Field(id.model, sizeof id.model);
    Model2 = Field(raw.imgdata.color.model2, sizeof raw.imgdata.color.model2);
    RawWidth = s.raw_width;
    RawHeight = s.raw_height;
    Width = s.width;
    Height = s.height;
    Filters = id.filters;
    Foveon = id.is_foveon != 0;
    FujiWidth = raw.is_fuji_rotated();
    XMag = YMag = 1;
    if (s.pixel_aspect > 1.0)
        XMag = std::max(1, static_cast<int>(s.pixel_aspect + 0.5));
    else if (s.pixel_aspect > 0 && s.pixel_aspect < 1.0)
        YMag = std::max(1, static_cast<int>(1.0 / s.pixel_aspect + 0.5));
    return true;
}

void TPxRawDecoder::SetQuickInterpolate(bool Value)
{
    if (impl_->raw)
        impl_->raw->imgdata.params.user_qual = Value ? 0 : 1;
}

void TPxRawDecoder::Decode(const std::function<void(int)>& Progress, const std::function<bool()>& Cancelled)
{
    if (!impl_->raw)
        throw classlib::Exception(L"No camera raw data identified");
    TScaledLibRaw& raw = *impl_->raw;
    impl_->progress = &Progress;
    impl_->cancelled = &Cancelled;
    impl_->scaled = false;
    raw.set_progress_handler(TImpl::OnProgress, impl_.get());
    int rc = raw.unpack();
    if (rc == LIBRAW_SUCCESS)
        rc = raw.dcraw_process();
    raw.set_progress_handler(nullptr, nullptr);
    impl_->progress = nullptr;
    impl_->cancelled = nullptr;
    if (rc != LIBRAW_SUCCESS || !raw.imgdata.image)
        throw classlib::Exception(Widen(LibRaw::strerror(rc)));
    if (!impl_->scaled && Progress)
        Progress(70);
    ImageWidth = raw.imgdata.sizes.iwidth;
    ImageHeight = raw.imgdata.sizes.iheight;
    Image = raw.imgdata.image;
}

}  // namespace imaging
