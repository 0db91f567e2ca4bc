#include "imaging/io/formats/j2k/J2kGlue.h"

#include <openjpeg.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <sstream>

namespace imaging {

struct TJ2kImage::TImpl {
    opj_image_t* Image = nullptr;
    ~TImpl()
    {
        if (Image)
            opj_image_destroy(Image);
    }
};

namespace {

// ---- the codec's stream callbacks over TJ2kStreamProcs

OPJ_SIZE_T ReadProc(void* Buffer, OPJ_SIZE_T Count, void* User)
{
    auto* p = static_cast<const TJ2kStreamProcs*>(User);
    if (!p->Read || Count > static_cast<OPJ_SIZE_T>(std::numeric_limits<int64_t>::max()))
        return static_cast<OPJ_SIZE_T>(-1);
    const int64_t got = p->Read(p->User, Buffer, static_cast<int64_t>(Count));
    return got > 0 ? static_cast<OPJ_SIZE_T>(got) : static_cast<OPJ_SIZE_T>(-1);
}

OPJ_SIZE_T WriteProc(void* Buffer, OPJ_SIZE_T Count, void* User)
{
    auto* p = static_cast<const TJ2kStreamProcs*>(User);
    if (!p->Write || Count > static_cast<OPJ_SIZE_T>(std::numeric_limits<int64_t>::max()))
        return static_cast<OPJ_SIZE_T>(-1);
    const int64_t put = p->Write(p->User, Buffer, static_cast<int64_t>(Count));
    return put >= 0 && static_cast<OPJ_SIZE_T>(put) == Count ? Count : static_cast<OPJ_SIZE_T>(-1);
}

OPJ_OFF_T SkipProc(OPJ_OFF_T Count, void* User)
{
    auto* p = static_cast<const TJ2kStreamProcs*>(User);
    if (!p->Seek || !p->Tell)
        return -1;
    const int64_t here = p->Tell(p->User);
    if (here < 0 || (Count > 0 && here > std::numeric_limits<int64_t>::max() - Count) || here + Count < 0)
        return -1;
    return p->Seek(p->User, here + Count) ? Count : -1;
}

OPJ_BOOL SeekProc(OPJ_OFF_T Position, void* User)
{
    auto* p = static_cast<const TJ2kStreamProcs*>(User);
    return p->Seek && Position >= 0 && p->Seek(p->User, Position) ? OPJ_TRUE : OPJ_FALSE;
}

void QuietMessage(const char*, void*) {}

struct TCodec {
    opj_codec_t* Codec = nullptr;
    opj_stream_t* Stream = nullptr;
    ~TCodec()
    {
        if (Stream)
            opj_stream_destroy(Stream);
        if (Codec)
            opj_destroy_codec(Codec);
    }
};

void Quiet(opj_codec_t* Codec)
{
    opj_set_info_handler(Codec, QuietMessage, nullptr);
    opj_set_warning_handler(Codec, QuietMessage, nullptr);
    opj_set_error_handler(Codec, QuietMessage, nullptr);
}

opj_stream_t* MakeStream(const TJ2kStreamProcs& Procs, bool Input)
{
    opj_stream_t* s = opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, Input ? OPJ_TRUE : OPJ_FALSE);
    if (!s)
        return nullptr;
    // The procedures outlive the stream (both belong to one call).
    opj_stream_set_user_data(s, const_cast<TJ2kStreamProcs*>(&Procs), nullptr);
    if (Input) {
        opj_stream_set_read_function(s, ReadProc);
        opj_stream_set_user_data_length(s, Procs.Length > 0 ? static_cast<OPJ_UINT64>(Procs.Length) : 0);
    } else {
        opj_stream_set_write_function(s, WriteProc);
    }
    opj_stream_set_skip_function(s, SkipProc);
    opj_stream_set_seek_function(s, SeekProc);
    return s;
}

// The container, told apart by the first bytes as the codec needs it.
bool SniffCodeStream(const TJ2kStreamProcs& Procs)
{
    uint8_t h[2] = {0, 0};
    if (!Procs.Read || !Procs.Seek)
        return false;
    const int64_t got = Procs.Read(Procs.User, h, 2);
    Procs.Seek(Procs.User, 0);
    return got == 2 && h[0] == 0xFF && h[1] == 0x4F;
}

}  // namespace

// ---- procedures over a toolkit stream

namespace {

int64_t StreamRead(void* User, void* Buffer, int64_t Count) noexcept
{
    try {
        const int64_t got = static_cast<TJ2kStreamUser*>(User)->Stream->Read(Buffer, Count);
        return got > 0 ? got : 0;
    } catch (...) {
        return 0;
    }
}

int64_t StreamWrite(void* User, const void* Buffer, int64_t Count) noexcept
{
    try {
        return static_cast<TJ2kStreamUser*>(User)->Stream->Write(Buffer, Count);
    } catch (...) {
        return 0;
    }
}

bool StreamSeek(void* User, int64_t Position) noexcept
{
    auto* u = static_cast<TJ2kStreamUser*>(User);
    try {
        if (Position < 0 || u->Base > std::numeric_limits<int64_t>::max() - Position)
            return false;
        return u->Stream->Seek(u->Base + Position, classlib::soBeginning) == u->Base + Position;
    } catch (...) {
        return false;
    }
}

int64_t StreamTell(void* User) noexcept
{
    auto* u = static_cast<TJ2kStreamUser*>(User);
    try {
        return u->Stream->GetPosition() - u->Base;
    } catch (...) {
        return -1;
    }
}

}  // namespace

TJ2kStreamProcs J2kStreamProcs(TJ2kStreamUser& User)
{
    TJ2kStreamProcs p;
    p.Read = StreamRead;
    p.Write = StreamWrite;
    p.Seek = StreamSeek;
    p.Tell = StreamTell;
    p.User = &User;
    try {
        User.Base = User.Stream->GetPosition();
        const int64_t size = User.Stream->GetSize();
        p.Length = size > User.Base ? size - User.Base : 0;
    } catch (...) {
        p.Length = 0;
    }
    return p;
}

// ---- TJ2kImage

TJ2kImage::TJ2kImage() : impl_(std::make_unique<TImpl>()) {}
TJ2kImage::~TJ2kImage() = default;

bool TJ2kImage::IsEmpty() const { return impl_->Image == nullptr; }

uint32_t TJ2kImage::Width() const
{
    const opj_image_t* i = impl_->Image;
    return i && i->x1 > i->x0 ? i->x1 - i->x0 : 0;
}

uint32_t TJ2kImage::Height() const
{
    const opj_image_t* i = impl_->Image;
    return i && i->y1 > i->y0 ? i->y1 - i->y0 : 0;
}

int TJ2kImage::NumComponents() const
{
    const opj_image_t* i = impl_->Image;
    return i && i->comps ? static_cast<int>(i->numcomps) : 0;
}

TJ2kColorSpace TJ2kImage::ColorSpace() const
{
    if (!impl_->Image)
        return j2kcsUnspecified;
    switch (impl_->Image->color_space) {
    case OPJ_CLRSPC_SRGB: return j2kcsRGB;
    case OPJ_CLRSPC_GRAY: return j2kcsGray;
    case OPJ_CLRSPC_SYCC: return j2kcsYCbCr;
    case OPJ_CLRSPC_EYCC:
    case OPJ_CLRSPC_CMYK: return j2kcsOther;
    default: return j2kcsUnspecified;
    }
}

TJ2kComponentInfo TJ2kImage::Component(int Index) const
{
    TJ2kComponentInfo r;
    if (Index < 0 || Index >= NumComponents())
        return r;
    const opj_image_comp_t& c = impl_->Image->comps[Index];
    r.Left = c.x0;
    r.Top = c.y0;
    r.HStep = c.dx;
    r.VStep = c.dy;
    r.Width = c.w;
    r.Height = c.h;
    r.Precision = c.prec;
    r.Signed = c.sgnd != 0;
    r.Alpha = c.alpha != 0;
    return r;
}

const int32_t* TJ2kImage::Samples(int Index) const
{
    if (Index < 0 || Index >= NumComponents())
        return nullptr;
    return impl_->Image->comps[Index].data;
}

void TJ2kImage::SetSample(int Index, uint32_t X, uint32_t Y, int32_t Value)
{
    if (Index < 0 || Index >= NumComponents())
        return;
    opj_image_comp_t& c = impl_->Image->comps[Index];
    if (!c.data || X >= c.w || Y >= c.h)
        return;
    c.data[static_cast<std::size_t>(Y) * c.w + X] = Value;
}

// ---- decoding

bool J2kDecode(const TJ2kStreamProcs& Procs, bool HeaderOnly, TJ2kImage& Image, TPxReadFailure* Failure)
{
    TJ2kImage::TImpl& impl = *Image.Impl();
    if (impl.Image) {
        opj_image_destroy(impl.Image);
        impl.Image = nullptr;
    }
    TCodec c;
    c.Codec = opj_create_decompress(SniffCodeStream(Procs) ? OPJ_CODEC_J2K : OPJ_CODEC_JP2);
    if (!c.Codec)
        return false;
    Quiet(c.Codec);
    opj_dparameters_t params;
    opj_set_default_decoder_parameters(&params);
    if (!opj_setup_decoder(c.Codec, &params))
        return false;
    c.Stream = MakeStream(Procs, true);
    if (!c.Stream)
        return false;
    opj_image_t* image = nullptr;
    if (!opj_read_header(c.Stream, c.Codec, &image)) {
        if (image)
            opj_image_destroy(image);
        return false;
    }
    impl.Image = image;
    if (!image || image->numcomps == 0 || !image->comps)
        return false;
    if (HeaderOnly)
        return true;
    // The decoded samples (4 bytes each) must stay within the caps: a header
    // may announce sizes that no real image of its data has. No component
    // is larger than the image's grid.
    TPxRasterCheck check;
    for (OPJ_UINT32 i = 0; i < image->numcomps; ++i) {
        check.Width = std::max<int64_t>(check.Width, image->comps[i].w);
        check.Height = std::max<int64_t>(check.Height, image->comps[i].h);
    }
    check.CodedBits = 32 * int64_t(image->numcomps);
    check.Coding = TPxCoding::Unbounded;
    const TPxReadFailure failure = PxCheckRaster(check);
    if (failure != TPxReadFailure::None) {
        if (Failure)
            *Failure = failure;
        return false;
    }
    if (!opj_decode(c.Codec, c.Stream, image) || !opj_end_decompress(c.Codec, c.Stream))
        return false;
    // Every component must now carry its samples.
    for (OPJ_UINT32 i = 0; i < image->numcomps; ++i)
        if (!image->comps[i].data)
            return false;
    return true;
}

// ---- encoding

bool J2kCreateImage(TJ2kImage& Image, int Count, uint32_t Width, uint32_t Height, uint32_t Precision,
                    TJ2kColorSpace ColorSpace, bool LastIsAlpha)
{
    TJ2kImage::TImpl& impl = *Image.Impl();
    if (impl.Image) {
        opj_image_destroy(impl.Image);
        impl.Image = nullptr;
    }
    if (Count < 1 || Count > 4 || Width == 0 || Height == 0 || Precision < 1 || Precision > 16)
        return false;
    opj_image_cmptparm_t parms[4];
    std::memset(parms, 0, sizeof parms);
    for (int i = 0; i < Count; ++i) {
        parms[i].dx = 1;
        parms[i].dy = 1;
        parms[i].w = Width;
        parms[i].h = Height;
        parms[i].prec = Precision;
        parms[i].sgnd = 0;
    }
    OPJ_COLOR_SPACE space = OPJ_CLRSPC_UNSPECIFIED;
    if (ColorSpace == j2kcsRGB)
        space = OPJ_CLRSPC_SRGB;
    else if (ColorSpace == j2kcsGray)
        space = OPJ_CLRSPC_GRAY;
    else if (ColorSpace == j2kcsYCbCr)
        space = OPJ_CLRSPC_SYCC;
    opj_image_t* image = opj_image_create(static_cast<OPJ_UINT32>(Count), parms, space);
    if (!image)
        return false;
    image->x0 = 0;
    image->y0 = 0;
    image->x1 = Width;
    image->y1 = Height;
    if (LastIsAlpha)
        image->comps[Count - 1].alpha = 1;
    impl.Image = image;
    for (int i = 0; i < Count; ++i)
        if (!image->comps[i].data)
            return false;
    return true;
}

namespace {

// Applies the option text to the encoder parameters.
void ApplyOptions(const std::string& Options, opj_cparameters_t& P)
{
    std::istringstream in(Options);
    std::string item;
    while (in >> item) {
        const std::size_t eq = item.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string name = item.substr(0, eq);
        const std::string value = item.substr(eq + 1);
        if (name == "rate") {
            double rate = 0;
            const auto r = std::from_chars(value.data(), value.data() + value.size(), rate);
            if (r.ec != std::errc() || !(rate > 0))
                continue;
            // The codec takes a compression ratio; 1:1 or less keeps
            // everything (no layer truncation).
            P.tcp_rates[0] = rate >= 1 ? 0.0f : static_cast<float>(1.0 / rate);
        } else if (name == "prg") {
            if (value == "lrcp")
                P.prog_order = OPJ_LRCP;
            else if (value == "rlcp")
                P.prog_order = OPJ_RLCP;
        }
    }
}

}  // namespace

bool J2kEncode(TJ2kImage& Image, TJ2kFormat Format, const std::string& Options, const TJ2kStreamProcs& Procs)
{
    opj_image_t* image = Image.Impl()->Image;
    if (!image || image->numcomps == 0)
        return false;
    opj_cparameters_t params;
    opj_set_default_encoder_parameters(&params);
    params.tcp_numlayers = 1;
    params.tcp_rates[0] = 0;
    params.cp_disto_alloc = 1;
    params.irreversible = 0;
    params.prog_order = OPJ_LRCP;
    ApplyOptions(Options, params);
    params.tcp_mct = image->numcomps >= 3 ? 1 : 0;
    // Fewer decomposition levels for small images: every level halves the
    // smaller side, which must stay at least one sample.
    const uint32_t side = std::min(image->x1 - image->x0, image->y1 - image->y0);
    int levels = 1;
    while (levels < params.numresolution && (side >> levels) > 0)
        ++levels;
    params.numresolution = levels;

    TCodec c;
    c.Codec = opj_create_compress(Format == j2kfCodeStream ? OPJ_CODEC_J2K : OPJ_CODEC_JP2);
    if (!c.Codec)
        return false;
    Quiet(c.Codec);
    if (!opj_setup_encoder(c.Codec, &params, image))
        return false;
    c.Stream = MakeStream(Procs, false);
    if (!c.Stream)
        return false;
    return opj_start_compress(c.Codec, image, c.Stream) && opj_encode(c.Codec, c.Stream) &&
           opj_end_compress(c.Codec, c.Stream);
}

}  // namespace imaging
