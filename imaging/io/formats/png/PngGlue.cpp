// The only unit that includes png.h. See PngGlue.h for the error contract:
// every call into the library that can fail runs inside Guarded, whose frame
// holds the jump point and no C++ object; the callbacks below hold no C++
// object either when they hand control back to the library's error path.
#include "imaging/io/formats/png/PngGlue.h"

#include <png.h>

#include <cstring>

#include "imaging/io/core/ReadGuard.h"

namespace imaging {

namespace {

constexpr std::size_t kErrorTextSize = 200;
// Largest allocation for one chunk's data, and most ancillary chunks kept.
constexpr png_alloc_size_t kChunkMax = 16u << 20;
constexpr png_uint_32 kChunkCacheMax = 1000;

void CopyErrorText(char* Target, png_const_charp Message)
{
    const char* text = Message ? Message : "PNG library error";
    std::strncpy(Target, text, kErrorTextSize - 1);
    Target[kErrorTextSize - 1] = 0;
}

using TGuardedCall = void (*)(png_structp Png, png_infop Info, void* Arg);

// Runs Call with the jump point set here; false when the library jumped back.
bool Guarded(png_structp Png, png_infop Info, TGuardedCall Call, void* Arg)
{
    if (setjmp(png_jmpbuf(Png)))
        return false;
    Call(Png, Info, Arg);
    return true;
}

void IgnoreWarning(png_structp, png_const_charp) {}

void NoFlush(png_structp) {}

}  // namespace

// ---------------------------------------------------------------------------
// Reader

struct TPngReadGlue::TImpl {
    png_structp Png = nullptr;
    png_infop Info = nullptr;
    TPngReadProc Read = nullptr;
    void* User = nullptr;
    char Error[kErrorTextSize] = {};
};

namespace {

void OnReadError(png_structp Png, png_const_charp Message)
{
    auto* impl = static_cast<TPngReadGlue::TImpl*>(png_get_error_ptr(Png));
    if (impl)
        CopyErrorText(impl->Error, Message);
    png_longjmp(Png, 1);
}

void OnRead(png_structp Png, png_bytep Data, size_t Length)
{
    auto* impl = static_cast<TPngReadGlue::TImpl*>(png_get_io_ptr(Png));
    const std::size_t got = impl->Read(impl->User, Data, Length);
    if (got != Length)
        png_error(Png, "Read error");
}

}  // namespace

TPngReadGlue::TPngReadGlue() : impl_(std::make_unique<TImpl>()) {}

TPngReadGlue::~TPngReadGlue()
{
    if (impl_->Png)
        png_destroy_read_struct(&impl_->Png, impl_->Info ? &impl_->Info : nullptr, nullptr);
}

bool TPngReadGlue::Create(TPngReadProc Read, void* User)
{
    impl_->Read = Read;
    impl_->User = User;
    impl_->Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, impl_.get(), OnReadError, IgnoreWarning);
    if (!impl_->Png)
        return false;
    impl_->Info = png_create_info_struct(impl_->Png);
    if (!impl_->Info)
        return false;
    png_set_read_fn(impl_->Png, impl_.get(), OnRead);
    // Hostile files: no chunk may ask for more than kChunkMax bytes (text,
    // profiles and their decompressed forms), no image side may pass the
    // toolkit's, and a file may not pile up ancillary chunks.
    png_set_user_limits(impl_->Png, static_cast<png_uint_32>(PxMaxImageSide),
                        static_cast<png_uint_32>(PxMaxImageSide));
    png_set_chunk_malloc_max(impl_->Png, kChunkMax);
    png_set_chunk_cache_max(impl_->Png, kChunkCacheMax);
    return true;
}

bool TPngReadGlue::ReadInfo()
{
    return Guarded(impl_->Png, impl_->Info, [](png_structp p, png_infop i, void*) { png_read_info(p, i); }, nullptr);
}

bool TPngReadGlue::GetHeader(TPngHeader& Header)
{
    struct TArgs {
        png_uint_32 w, h;
        int depth, type, interlace;
    } args{};
    if (!Guarded(
            impl_->Png, impl_->Info,
            [](png_structp p, png_infop i, void* a) {
                auto* r = static_cast<TArgs*>(a);
                png_get_IHDR(p, i, &r->w, &r->h, &r->depth, &r->type, &r->interlace, nullptr, nullptr);
            },
            &args))
        return false;
    Header.Width = args.w;
    Header.Height = args.h;
    Header.BitDepth = args.depth;
    Header.ColorType = args.type;
    Header.Interlaced = args.interlace != PNG_INTERLACE_NONE;
    return true;
}

std::vector<TPngText> TPngReadGlue::GetTexts()
{
    std::vector<TPngText> result;
    png_textp texts = nullptr;
    int count = 0;
    png_get_text(impl_->Png, impl_->Info, &texts, &count);
    for (int i = 0; i < count && texts; ++i) {
        TPngText t;
        t.Key = texts[i].key ? texts[i].key : "";
        t.Text = texts[i].text ? texts[i].text : "";
        t.Utf8 = texts[i].compression == PNG_ITXT_COMPRESSION_NONE || texts[i].compression == PNG_ITXT_COMPRESSION_zTXt;
        result.push_back(std::move(t));
    }
    return result;
}

bool TPngReadGlue::GetBackground(TPngBackground& Background)
{
    png_color_16p colour = nullptr;
    if (!(png_get_bKGD(impl_->Png, impl_->Info, &colour) & PNG_INFO_bKGD) || !colour)
        return false;
    Background.Index = colour->index;
    Background.Red = colour->red;
    Background.Green = colour->green;
    Background.Blue = colour->blue;
    Background.Gray = colour->gray;
    return true;
}

bool TPngReadGlue::GetPhysical(uint32_t& X, uint32_t& Y, bool& Metre)
{
    png_uint_32 x = 0, y = 0;
    int unit = 0;
    if (!(png_get_pHYs(impl_->Png, impl_->Info, &x, &y, &unit) & PNG_INFO_pHYs))
        return false;
    X = x;
    Y = y;
    Metre = unit == PNG_RESOLUTION_METER;
    return true;
}

std::vector<TPngPaletteEntry> TPngReadGlue::GetPalette()
{
    std::vector<TPngPaletteEntry> result;
    png_colorp palette = nullptr;
    int count = 0;
    if (!(png_get_PLTE(impl_->Png, impl_->Info, &palette, &count) & PNG_INFO_PLTE) || !palette)
        return result;
    for (int i = 0; i < count; ++i)
        result.push_back({palette[i].red, palette[i].green, palette[i].blue});
    return result;
}

bool TPngReadGlue::GetTransparency(std::vector<uint8_t>& PaletteAlpha, uint16_t& Gray)
{
    png_bytep alpha = nullptr;
    int count = 0;
    png_color_16p colour = nullptr;
    if (!(png_get_tRNS(impl_->Png, impl_->Info, &alpha, &count, &colour) & PNG_INFO_tRNS))
        return false;
    PaletteAlpha.assign(alpha, alpha + (alpha && count > 0 ? count : 0));
    Gray = colour ? colour->gray : 0;
    return true;
}

bool TPngReadGlue::SetTransforms(uint32_t Bits)
{
    return Guarded(
        impl_->Png, impl_->Info,
        [](png_structp p, png_infop, void* a) {
            const uint32_t b = *static_cast<uint32_t*>(a);
            if (b & pngtSwap)
                png_set_swap(p);
            if (b & pngtExpand)
                png_set_expand(p);
            if (b & pngtExpandGray)
                png_set_expand_gray_1_2_4_to_8(p);
            if (b & pngtStrip16)
                png_set_strip_16(p);
            if (b & pngtPacking)
                png_set_packing(p);
            if (b & pngtGrayToRGB)
                png_set_gray_to_rgb(p);
            if (b & pngtBGR)
                png_set_bgr(p);
            if (b & pngtTRNSToAlpha)
                png_set_tRNS_to_alpha(p);
        },
        &Bits);
}

bool TPngReadGlue::SetInterlaceHandling(int& Passes)
{
    Passes = 1;
    return Guarded(
        impl_->Png, impl_->Info,
        [](png_structp p, png_infop, void* a) { *static_cast<int*>(a) = png_set_interlace_handling(p); }, &Passes);
}

bool TPngReadGlue::UpdateInfo()
{
    return Guarded(impl_->Png, impl_->Info, [](png_structp p, png_infop i, void*) { png_read_update_info(p, i); },
                   nullptr);
}

std::size_t TPngReadGlue::GetRowBytes() { return png_get_rowbytes(impl_->Png, impl_->Info); }

int TPngReadGlue::GetChannels() { return png_get_channels(impl_->Png, impl_->Info); }

bool TPngReadGlue::ReadRow(uint8_t* Row)
{
    return Guarded(
        impl_->Png, impl_->Info, [](png_structp p, png_infop, void* a) { png_read_row(p, static_cast<png_bytep>(a), nullptr); },
        Row);
}

bool TPngReadGlue::ReadEnd()
{
    return Guarded(impl_->Png, impl_->Info, [](png_structp p, png_infop, void*) { png_read_end(p, nullptr); },
                   nullptr);
}

const char* TPngReadGlue::ErrorText() const { return impl_->Error; }

// ---------------------------------------------------------------------------
// Writer

struct TPngWriteGlue::TImpl {
    png_structp Png = nullptr;
    png_infop Info = nullptr;
    TPngWriteProc Write = nullptr;
    void* User = nullptr;
    char Error[kErrorTextSize] = {};
};

namespace {

void OnWriteError(png_structp Png, png_const_charp Message)
{
    auto* impl = static_cast<TPngWriteGlue::TImpl*>(png_get_error_ptr(Png));
    if (impl)
        CopyErrorText(impl->Error, Message);
    png_longjmp(Png, 1);
}

void OnWrite(png_structp Png, png_bytep Data, size_t Length)
{
    auto* impl = static_cast<TPngWriteGlue::TImpl*>(png_get_io_ptr(Png));
    impl->Write(impl->User, Data, Length);
}

}  // namespace

TPngWriteGlue::TPngWriteGlue() : impl_(std::make_unique<TImpl>()) {}

TPngWriteGlue::~TPngWriteGlue()
{
    if (impl_->Png)
        png_destroy_write_struct(&impl_->Png, impl_->Info ? &impl_->Info : nullptr);
}

bool TPngWriteGlue::Create(TPngWriteProc Write, void* User)
{
    impl_->Write = Write;
    impl_->User = User;
    impl_->Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, impl_.get(), OnWriteError, IgnoreWarning);
    if (!impl_->Png)
        return false;
    impl_->Info = png_create_info_struct(impl_->Png);
    if (!impl_->Info)
        return false;
    png_set_write_fn(impl_->Png, impl_.get(), OnWrite, NoFlush);
    return true;
}

bool TPngWriteGlue::SetHeader(const TPngHeader& Header)
{
    return Guarded(
        impl_->Png, impl_->Info,
        [](png_structp p, png_infop i, void* a) {
            const auto* h = static_cast<const TPngHeader*>(a);
            png_set_IHDR(p, i, h->Width, h->Height, h->BitDepth, h->ColorType,
                         h->Interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                         PNG_FILTER_TYPE_DEFAULT);
        },
        const_cast<TPngHeader*>(&Header));
}

bool TPngWriteGlue::SetPalette(const TPngPaletteEntry* Entries, int Count)
{
    std::vector<png_color> colours(static_cast<std::size_t>(Count > 0 ? Count : 0));
    for (std::size_t i = 0; i < colours.size(); ++i)
        colours[i] = {Entries[i].Red, Entries[i].Green, Entries[i].Blue};
    struct TArgs {
        png_color* c;
        int n;
    } args{colours.data(), Count};
    return Guarded(
        impl_->Png, impl_->Info,
        [](png_structp p, png_infop i, void* a) {
            auto* r = static_cast<TArgs*>(a);
            png_set_PLTE(p, i, r->c, r->n);
        },
        &args);
}

bool TPngWriteGlue::SetPaletteTransparency(const uint8_t* Alpha, int Count)
{
    struct TArgs {
        const uint8_t* a;
        int n;
    } args{Alpha, Count};
    return Guarded(
        impl_->Png, impl_->Info,
        [](png_structp p, png_infop i, void* a) {
            auto* r = static_cast<TArgs*>(a);
            png_set_tRNS(p, i, r->a, r->n, nullptr);
        },
        &args);
}

bool TPngWriteGlue::SetBackground(const TPngBackground& Background)
{
    png_color_16 colour{Background.Index, Background.Red, Background.Green, Background.Blue, Background.Gray};
    return Guarded(
        impl_->Png, impl_->Info,
        [](png_structp p, png_infop i, void* a) { png_set_bKGD(p, i, static_cast<png_color_16*>(a)); }, &colour);
}

bool TPngWriteGlue::SetPhysical(uint32_t X, uint32_t Y)
{
    png_uint_32 xy[2] = {X, Y};
    return Guarded(
        impl_->Png, impl_->Info,
        [](png_structp p, png_infop i, void* a) {
            auto* v = static_cast<png_uint_32*>(a);
            png_set_pHYs(p, i, v[0], v[1], PNG_RESOLUTION_METER);
        },
        xy);
}

bool TPngWriteGlue::SetFilter(int Filters)
{
    return Guarded(
        impl_->Png, impl_->Info,
        [](png_structp p, png_infop, void* a) { png_set_filter(p, PNG_FILTER_TYPE_BASE, *static_cast<int*>(a)); },
        &Filters);
}

bool TPngWriteGlue::SetCompressionLevel(int Level)
{
    return Guarded(
        impl_->Png, impl_->Info,
        [](png_structp p, png_infop, void* a) { png_set_compression_level(p, *static_cast<int*>(a)); }, &Level);
}

bool TPngWriteGlue::SetBGR()
{
    return Guarded(impl_->Png, impl_->Info, [](png_structp p, png_infop, void*) { png_set_bgr(p); }, nullptr);
}

bool TPngWriteGlue::SetTexts(const std::vector<TPngText>& Texts)
{
    if (Texts.empty())
        return true;
    std::vector<png_text> chunks(Texts.size());
    for (std::size_t i = 0; i < Texts.size(); ++i) {
        png_text& c = chunks[i];
        std::memset(&c, 0, sizeof c);
        c.compression = PNG_TEXT_COMPRESSION_NONE;
        c.key = const_cast<char*>(Texts[i].Key.c_str());
        c.text = const_cast<char*>(Texts[i].Text.c_str());
        c.text_length = Texts[i].Text.size();
    }
    struct TArgs {
        png_text* t;
        int n;
    } args{chunks.data(), static_cast<int>(chunks.size())};
    return Guarded(
        impl_->Png, impl_->Info,
        [](png_structp p, png_infop i, void* a) {
            auto* r = static_cast<TArgs*>(a);
            png_set_text(p, i, r->t, r->n);
        },
        &args);
}

bool TPngWriteGlue::WriteInfo()
{
    return Guarded(impl_->Png, impl_->Info, [](png_structp p, png_infop i, void*) { png_write_info(p, i); }, nullptr);
}

bool TPngWriteGlue::SetInterlaceHandling(int& Passes)
{
    Passes = 1;
    return Guarded(
        impl_->Png, impl_->Info,
        [](png_structp p, png_infop, void* a) { *static_cast<int*>(a) = png_set_interlace_handling(p); }, &Passes);
}

bool TPngWriteGlue::WriteRow(const uint8_t* Row)
{
    return Guarded(
        impl_->Png, impl_->Info,
        [](png_structp p, png_infop, void* a) { png_write_row(p, static_cast<png_const_bytep>(a)); },
        const_cast<uint8_t*>(Row));
}

bool TPngWriteGlue::WriteEnd()
{
    return Guarded(impl_->Png, impl_->Info, [](png_structp p, png_infop, void*) { png_write_end(p, nullptr); },
                   nullptr);
}

const char* TPngWriteGlue::ErrorText() const { return impl_->Error; }

}  // namespace imaging
