#include "imaging/model/PxICC.h"

#include <icm.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>

#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxByteOrder.h"
#include "imaging/model/PxStartup.h"

namespace imaging {

namespace {

using TOpenColorProfileA = HPROFILE(WINAPI*)(PPROFILE, DWORD, DWORD, DWORD);
using TCloseColorProfile = BOOL(WINAPI*)(HPROFILE);
using TCreateMultiProfileTransform = HTRANSFORM(WINAPI*)(PHPROFILE, DWORD, PDWORD, DWORD, DWORD, DWORD);
using TDeleteColorTransform = BOOL(WINAPI*)(HTRANSFORM);
using TTranslateColors = BOOL(WINAPI*)(HTRANSFORM, PCOLOR, DWORD, COLORTYPE, PCOLOR, COLORTYPE);

// The resolved functions and the library instance they came from.
struct TColorLibrary {
    HMODULE Module = nullptr;
    bool Complete = false;
    TOpenColorProfileA OpenColorProfile = nullptr;
    TCloseColorProfile CloseColorProfile = nullptr;
    TCreateMultiProfileTransform CreateMultiProfileTransform = nullptr;
    TDeleteColorTransform DeleteColorTransform = nullptr;
    TTranslateColors TranslateColors = nullptr;
};

std::mutex& LibraryLock()
{
    static std::mutex lock;
    return lock;
}

TColorLibrary library;
// Raised whenever the functions are resolved from a (re)loaded library;
// handles opened under an older value belong to a library instance that may
// be gone.
std::atomic<uint32_t> libraryGeneration{0};

template <class T>
T Resolve(HMODULE Module, const char* Name)
{
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(Module, Name)));
}

// The library's functions when loaded and complete, else nullptr.
const TColorLibrary* Library()
{
    return PxInitMSCMS() ? &library : nullptr;
}

// Flags of the transforms: best mode with relative colorimetric rendering.
constexpr DWORD kTransformFlags = BEST_MODE | USE_RELATIVE_COLORIMETRIC;

constexpr uint16_t Widen(uint8_t v) { return static_cast<uint16_t>(v * 257); }

// Platform colour type of an input code (0 when the code is unknown).
COLORTYPE InputColorType(int32_t Code)
{
    switch (Code) {
    case pxIccRGB:
    case pxIccBGR:
    case pxIccRGB48LE:
    case pxIccRGB48BE: return COLOR_RGB;
    case pxIccCMYK:
    case pxIccCMYK6: return COLOR_CMYK;
    case pxIccLab: return COLOR_Lab;
    case pxIccGray: return COLOR_GRAY;
    case pxIccThreeChannel: return COLOR_3_CHANNEL;
    default: return static_cast<COLORTYPE>(0);
    }
}

// Platform colour type of an output code that Transform writes (0 otherwise).
COLORTYPE OutputColorType(int32_t Code)
{
    switch (Code) {
    case pxIccBGR: return COLOR_RGB;
    case pxIccCMYK: return COLOR_CMYK;
    default: return static_cast<COLORTYPE>(0);
    }
}

// Bytes per source pixel of an input code.
size_t InputPixelBytes(int32_t Code)
{
    switch (Code) {
    case pxIccCMYK: return 4;
    case pxIccCMYK6:
    case pxIccRGB48LE:
    case pxIccRGB48BE: return 6;
    case pxIccGray: return 1;
    default: return 3;
    }
}

// Widens one source pixel into the platform's 16-bit channels.
void WidenPixel(int32_t Code, const uint8_t* s, COLOR& c)
{
    std::memset(&c, 0, sizeof(c));
    switch (Code) {
    case pxIccRGB:
        c.rgb.red = Widen(s[0]);
        c.rgb.green = Widen(s[1]);
        c.rgb.blue = Widen(s[2]);
        break;
    case pxIccBGR:
        c.rgb.red = Widen(s[2]);
        c.rgb.green = Widen(s[1]);
        c.rgb.blue = Widen(s[0]);
        break;
    case pxIccCMYK:
        c.cmyk.cyan = static_cast<WORD>(65535 - Widen(s[0]));
        c.cmyk.magenta = static_cast<WORD>(65535 - Widen(s[1]));
        c.cmyk.yellow = static_cast<WORD>(65535 - Widen(s[2]));
        c.cmyk.black = static_cast<WORD>(65535 - Widen(s[3]));
        break;
    case pxIccCMYK6:
        c.cmyk.cyan = Widen(s[0]);
        c.cmyk.magenta = Widen(s[1]);
        c.cmyk.yellow = Widen(s[2]);
        c.cmyk.black = Widen(s[3]);
        break;
    case pxIccLab:
        // a and b are signed bytes; the platform's 16-bit Lab has its zero at
        // 0x8000, so the sign bit is flipped before widening.
        c.Lab.L = Widen(s[0]);
        c.Lab.a = Widen(static_cast<uint8_t>(s[1] ^ 0x80));
        c.Lab.b = Widen(static_cast<uint8_t>(s[2] ^ 0x80));
        break;
    case pxIccGray: c.gray.gray = Widen(s[0]); break;
    case pxIccRGB48LE:
        c.rgb.red = static_cast<WORD>(s[0] | (s[1] << 8));
        c.rgb.green = static_cast<WORD>(s[2] | (s[3] << 8));
        c.rgb.blue = static_cast<WORD>(s[4] | (s[5] << 8));
        break;
    case pxIccRGB48BE:
        c.rgb.red = static_cast<WORD>((s[0] << 8) | s[1]);
        c.rgb.green = static_cast<WORD>((s[2] << 8) | s[3]);
        c.rgb.blue = static_cast<WORD>((s[4] << 8) | s[5]);
        break;
    case pxIccThreeChannel:
        c.gen3ch.ch1 = Widen(s[0]);
        c.gen3ch.ch2 = Widen(s[1]);
        c.gen3ch.ch3 = Widen(s[2]);
        break;
    default: break;
    }
}

uint8_t HighByte(WORD v) { return static_cast<uint8_t>(v >> 8); }

// Input / output code of a bitmap's pixel format for TransformBitmap (-1 for
// formats it does not take or write).
int32_t BitmapInputCode(TPxPixelFormat Format)
{
    switch (Format) {
    case px8g: return pxIccGray;
    case px24RGB: return pxIccBGR;
    case pxCMYK: return pxIccCMYK;
    case pxRGB48: return pxIccRGB48LE;
    case pxCIELab: return pxIccLab;
    default: return -1;
    }
}

int32_t BitmapOutputCode(TPxPixelFormat Format)
{
    switch (Format) {
    case px24RGB: return pxIccBGR;
    case pxCMYK: return pxIccCMYK;
    default: return -1;
    }
}

// Scope that unmaps the mapped rows of an image on every way out.
class TRowMapScope {
public:
    explicit TRowMapScope(TPxBitmap& Bitmap) : bitmap_(Bitmap) {}
    ~TRowMapScope() { bitmap_.UnmapAllRows(); }
    TRowMapScope(const TRowMapScope&) = delete;
    TRowMapScope& operator=(const TRowMapScope&) = delete;

private:
    TPxBitmap& bitmap_;
};

}  // namespace

bool PxInitMSCMS()
{
    std::lock_guard<std::mutex> guard(LibraryLock());
    if (PxColorLibraryHandle && PxColorLibraryHandle == library.Module)
        return library.Complete;
    // Not loaded yet, or freed by a shut-down since (PxFreeColorLibrary
    // empties the handle): load it and resolve everything again.
    if (!PxColorLibraryHandle)
        PxColorLibraryHandle = LoadLibraryW(L"mscms.dll");
    library = TColorLibrary{};
    libraryGeneration.fetch_add(1);
    HMODULE module = PxColorLibraryHandle;
    if (!module)
        return false;
    library.Module = module;
    library.OpenColorProfile = Resolve<TOpenColorProfileA>(module, "OpenColorProfileA");
    library.CloseColorProfile = Resolve<TCloseColorProfile>(module, "CloseColorProfile");
    library.CreateMultiProfileTransform = Resolve<TCreateMultiProfileTransform>(module, "CreateMultiProfileTransform");
    library.DeleteColorTransform = Resolve<TDeleteColorTransform>(module, "DeleteColorTransform");
    library.TranslateColors = Resolve<TTranslateColors>(module, "TranslateColors");
    library.Complete = library.OpenColorProfile && library.CloseColorProfile && library.CreateMultiProfileTransform &&
                       library.DeleteColorTransform && library.TranslateColors;
    return library.Complete;
}

bool PxTranslateColors(HANDLE Transform, const uint16_t* Input, int32_t Count, int32_t InputType, uint16_t* Output,
                       int32_t OutputType)
{
    if (!Transform || !Input || !Output || Count <= 0)
        return false;
    const TColorLibrary* lib = Library();
    if (!lib)
        return false;
    // Small counts (single pixels, row pieces) stay off the heap.
    constexpr size_t kLocal = 64;
    COLOR localIn[kLocal];
    COLOR localOut[kLocal];
    std::vector<COLOR> heapIn, heapOut;
    const size_t n = static_cast<size_t>(Count);
    COLOR* in = localIn;
    COLOR* out = localOut;
    if (n > kLocal) {
        heapIn.resize(n);
        heapOut.resize(n);
        in = heapIn.data();
        out = heapOut.data();
    }
    for (size_t i = 0; i < n; ++i) {
        std::memset(&in[i], 0, sizeof(COLOR));
        const uint16_t* s = Input + 4 * i;
        in[i].cmyk.cyan = s[0];
        in[i].cmyk.magenta = s[1];
        in[i].cmyk.yellow = s[2];
        in[i].cmyk.black = s[3];
    }
    if (!lib->TranslateColors(static_cast<HTRANSFORM>(Transform), in, static_cast<DWORD>(Count),
                              static_cast<COLORTYPE>(InputType), out, static_cast<COLORTYPE>(OutputType)))
        return false;
    for (size_t i = 0; i < n; ++i) {
        uint16_t* d = Output + 4 * i;
        d[0] = out[i].cmyk.cyan;
        d[1] = out[i].cmyk.magenta;
        d[2] = out[i].cmyk.yellow;
        d[3] = out[i].cmyk.black;
    }
    return true;
}

// ---------------------------------------------------------------------------
// TPxICC

TPxICC::TPxICC() = default;

TPxICC::~TPxICC() { Clear(); }

void TPxICC::ForgetStaleHandles()
{
    if (!ProfileHandle && !TransformHandle)
        return;
    if (PxColorLibraryHandle && LibraryGeneration == libraryGeneration.load() &&
        PxColorLibraryHandle == library.Module)
        return;
    // The library instance that made these handles has been freed: they
    // mean nothing to a reloaded library and are dropped without a call.
    ProfileHandle = nullptr;
    TransformHandle = nullptr;
    TransformDest = nullptr;
}

bool TPxICC::IsValid() const
{
    if (!ProfileHandle)
        return false;
    return PxColorLibraryHandle && LibraryGeneration == libraryGeneration.load() &&
           PxColorLibraryHandle == library.Module;
}

bool TPxICC::IsTransformReady() const { return TransformHandle != nullptr && IsValid(); }

void TPxICC::FreeTransform()
{
    ForgetStaleHandles();
    if (!TransformHandle)
        return;
    if (const TColorLibrary* lib = Library())
        lib->DeleteColorTransform(static_cast<HTRANSFORM>(TransformHandle));
    TransformHandle = nullptr;
    TransformDest = nullptr;
    Applied = true;
}

void TPxICC::Clear()
{
    ForgetStaleHandles();
    const TColorLibrary* lib = (ProfileHandle || TransformHandle) ? Library() : nullptr;
    if (TransformHandle && lib)
        lib->DeleteColorTransform(static_cast<HTRANSFORM>(TransformHandle));
    if (ProfileHandle && lib)
        lib->CloseColorProfile(static_cast<HPROFILE>(ProfileHandle));
    TransformHandle = nullptr;
    TransformDest = nullptr;
    ProfileHandle = nullptr;
    Raw.clear();
    Raw.shrink_to_fit();
    NoticeText.clear();
    Description.clear();
    Applied = false;
}

void TPxICC::LoadFromBuffer(const void* Buffer, int32_t Length)
{
    Clear();
    if (!Buffer || Length <= 0)
        return;
    const auto* p = static_cast<const uint8_t*>(Buffer);
    Raw.assign(p, p + Length);
    OpenRaw();
    ReadTexts();
}

void TPxICC::Assign(const TPxICC* Source)
{
    if (Source == this)
        return;
    if (!Source || Source->Raw.empty()) {
        Clear();
        return;
    }
    std::vector<uint8_t> copy = Source->Raw;
    LoadFromBuffer(copy.data(), static_cast<int32_t>(copy.size()));
}

void TPxICC::OpenRaw()
{
    const TColorLibrary* lib = Library();
    if (!lib || Raw.empty())
        return;
    PROFILE profile{};
    profile.dwType = PROFILE_MEMBUFFER;
    profile.pProfileData = Raw.data();
    profile.cbDataSize = static_cast<DWORD>(Raw.size());
    ProfileHandle = lib->OpenColorProfile(&profile, PROFILE_READ, FILE_SHARE_READ, OPEN_EXISTING);
    LibraryGeneration = libraryGeneration.load();
}

bool TPxICC::LoadSRGB()
{
    Clear();
    const TColorLibrary* lib = Library();
    if (!lib)
        return false;
    static const char kName[] = "sRGB Color Space Profile.icm";
    PROFILE profile{};
    profile.dwType = PROFILE_FILENAME;
    profile.pProfileData = const_cast<char*>(kName);
    profile.cbDataSize = sizeof(kName);
    ProfileHandle = lib->OpenColorProfile(&profile, PROFILE_READ, FILE_SHARE_READ, OPEN_EXISTING);
    if (!ProfileHandle) {
        // A platform that does not look a bare name up in its colour folder
        // gets the full path of the system's colour folder.
        char dir[MAX_PATH];
        UINT n = GetSystemDirectoryA(dir, MAX_PATH);
        if (n > 0 && n < MAX_PATH) {
            std::string path = std::string(dir, n) + "\\spool\\drivers\\color\\" + kName;
            profile.pProfileData = path.data();
            profile.cbDataSize = static_cast<DWORD>(path.size() + 1);
            ProfileHandle = lib->OpenColorProfile(&profile, PROFILE_READ, FILE_SHARE_READ, OPEN_EXISTING);
        }
    }
    LibraryGeneration = libraryGeneration.load();
    return ProfileHandle != nullptr;
}

void TPxICC::ReadTexts()
{
    NoticeText.clear();
    Description.clear();
    const size_t rawLength = Raw.size();
    if (rawLength <= 132)
        return;
    const uint8_t* raw = Raw.data();
    const uint32_t count = PxBe32(raw + 128);
    if (count > 1000)  // also "negative" counts
        return;
    // A zero-terminated text at Offset that ends inside the profile and is
    // shorter than 1000 characters, else nothing.
    auto textAt = [&](uint64_t Offset, std::string& Out) {
        if (Offset >= rawLength)
            return;
        const uint8_t* start = raw + Offset;
        const size_t room = rawLength - static_cast<size_t>(Offset);
        const void* end = std::memchr(start, 0, room);
        if (!end)
            return;
        const size_t len = static_cast<size_t>(static_cast<const uint8_t*>(end) - start);
        if (len >= 1000)
            return;
        Out.assign(reinterpret_cast<const char*>(start), len);
    };
    for (uint32_t i = 0; i < count; ++i) {
        const size_t entry = 132 + 12 * static_cast<size_t>(i);
        if (entry + 12 > rawLength)
            break;
        const uint8_t* e = raw + entry;
        const uint32_t offset = PxBe32(e + 4);
        const uint32_t size = PxBe32(e + 8);
        // Offsets and sizes above 0x7FFFFFFF are the negative values of the
        // format's signed reading.
        if (offset > 0x7FFFFFFFu || size > 0x7FFFFFFFu || offset > rawLength || size > rawLength)
            break;
        if (std::memcmp(e, "cprt", 4) == 0 && size <= 999)
            textAt(static_cast<uint64_t>(offset) + 8, NoticeText);
        else if (std::memcmp(e, "desc", 4) == 0 && size < 1000)
            textAt(static_cast<uint64_t>(offset) + 12, Description);
    }
}

void TPxICC::SaveToStream(classlib::TStream* Stream, bool NoLength) const
{
    if (!Stream)
        return;
    if (!NoLength) {
        const uint32_t len = static_cast<uint32_t>(Raw.size());
        const uint8_t bytes[4] = {static_cast<uint8_t>(len), static_cast<uint8_t>(len >> 8),
                                  static_cast<uint8_t>(len >> 16), static_cast<uint8_t>(len >> 24)};
        Stream->WriteBuffer(bytes, 4);
    }
    if (!Raw.empty())
        Stream->WriteBuffer(Raw.data(), static_cast<int64_t>(Raw.size()));
}

bool TPxICC::Transform(TPxICC* Dest, int32_t InputCode, int32_t Count, void* Target, const void* Source,
                       uint32_t Flags, uint32_t Intent, int32_t OutputCode)
{
    ForgetStaleHandles();
    const COLORTYPE inType = InputColorType(InputCode);
    const COLORTYPE outType = OutputColorType(OutputCode);
    if (inType == 0 || outType == 0 || !Dest || !IsValid() || !Dest->IsValid())
        return false;
    const TColorLibrary* lib = Library();
    if (!lib)
        return false;
    if (TransformHandle && (InputCode != TransformInput || OutputCode != TransformOutput ||
                            Intent != TransformIntent || Flags != TransformFlags || Dest->ProfileHandle != TransformDest))
        FreeTransform();
    if (!TransformHandle) {
        HPROFILE profiles[2] = {static_cast<HPROFILE>(ProfileHandle), static_cast<HPROFILE>(Dest->ProfileHandle)};
        DWORD intents[2] = {INTENT_PERCEPTUAL, INTENT_PERCEPTUAL};
        TransformHandle = lib->CreateMultiProfileTransform(profiles, 2, intents, 2, kTransformFlags, INDEX_DONT_CARE);
        if (!TransformHandle)
            return false;
        TransformDest = Dest->ProfileHandle;
        TransformInput = InputCode;
        TransformOutput = OutputCode;
        TransformIntent = Intent;
        TransformFlags = Flags;
    }
    if (Count <= 0 || !Source || !Target)
        return false;

    const auto* s = static_cast<const uint8_t*>(Source);
    const size_t step = InputPixelBytes(InputCode);
    std::vector<COLOR> in(static_cast<size_t>(Count));
    std::vector<COLOR> out(static_cast<size_t>(Count));
    for (size_t i = 0; i < in.size(); ++i)
        WidenPixel(InputCode, s + i * step, in[i]);
    if (!lib->TranslateColors(static_cast<HTRANSFORM>(TransformHandle), in.data(), static_cast<DWORD>(Count), inType,
                              out.data(), outType))
        return false;
    auto* d = static_cast<uint8_t*>(Target);
    for (size_t i = 0; i < out.size(); ++i) {
        if (OutputCode == pxIccBGR) {
            d[3 * i] = HighByte(out[i].rgb.blue);
            d[3 * i + 1] = HighByte(out[i].rgb.green);
            d[3 * i + 2] = HighByte(out[i].rgb.red);
        } else {
            d[4 * i] = static_cast<uint8_t>(255 - HighByte(out[i].cmyk.cyan));
            d[4 * i + 1] = static_cast<uint8_t>(255 - HighByte(out[i].cmyk.magenta));
            d[4 * i + 2] = static_cast<uint8_t>(255 - HighByte(out[i].cmyk.yellow));
            d[4 * i + 3] = static_cast<uint8_t>(255 - HighByte(out[i].cmyk.black));
        }
    }
    return true;
}

bool TPxICC::TransformBitmap(TPxBitmap* Bitmap, TPxPixelFormat DestFormat, TPxICC* Dest)
{
    if (!Bitmap || !Dest)
        return false;
    const int32_t inCode = BitmapInputCode(Bitmap->GetPixelFormat());
    const int32_t outCode = BitmapOutputCode(DestFormat);
    if (inCode < 0 || outCode < 0 || !IsValid() || !Dest->IsValid())
        return false;
    const int width = Bitmap->GetWidth();
    const int height = Bitmap->GetHeight();
    if (width <= 0 || height <= 0)
        return false;

    bool ok = true;
    {
        auto result = std::make_unique<TPxBitmap>();
        if (!result->Allocate(width, height, DestFormat))
            return false;
        {
            TPxAccessScope readOnly(*Bitmap, pxAccessRead);
            TPxAccessScope writeOnly(*result, pxAccessWrite);
            TRowMapScope unmapSource(*Bitmap);
            TRowMapScope unmapResult(*result);
            for (int y = 0; y < height && ok; ++y) {
                const uint8_t* src = Bitmap->MapRow(y);
                uint8_t* dst = result->MapRow(y);
                ok = src && dst && Transform(Dest, inCode, width, dst, src, 0, 0, outCode);
                Bitmap->UnmapRow(y);
                result->UnmapRow(y);
            }
        }
        if (ok) {
            // The alpha channel stays with the image.
            if (Bitmap->HasAlphaChannel()) {
                auto alpha = std::make_unique<TPxBitmap>();
                Bitmap->GetAlphaChannel()->MoveStorageTo(alpha.get());
                result->AttachAlphaChannel(alpha.release());
            }
            result->MoveStorageTo(Bitmap);
        }
    }
    FreeTransform();
    return ok;
}

// ---------------------------------------------------------------------------
// TPxICCChunks

namespace {
constexpr char kChunkSignature[] = "ICC_PROFILE";  // 12 bytes with its zero
constexpr size_t kChunkHeader = 14;                // signature, number, count
}  // namespace

bool TPxICCChunks::Add(const uint8_t* Data, size_t Length)
{
    if (!Data || Length < kChunkHeader || std::memcmp(Data, kChunkSignature, sizeof(kChunkSignature)) != 0)
        return false;
    const int number = Data[12];
    const int count = Data[13];
    if (count == 0 || number == 0 || number > count)
        return false;
    if (count_ == 0) {
        count_ = count;
        chunks_.assign(static_cast<size_t>(count), {});
        present_.assign(static_cast<size_t>(count), false);
    } else if (count != count_) {
        return false;
    }
    const size_t index = static_cast<size_t>(number - 1);
    if (present_[index])
        return false;
    chunks_[index].assign(Data + kChunkHeader, Data + Length);
    present_[index] = true;
    ++kept_;
    return true;
}

bool TPxICCChunks::Complete() const { return count_ > 0 && kept_ == count_; }

std::vector<uint8_t> TPxICCChunks::Join() const
{
    size_t total = 0;
    for (const auto& c : chunks_)
        total += c.size();
    std::vector<uint8_t> joined;
    joined.reserve(total);
    for (const auto& c : chunks_)
        joined.insert(joined.end(), c.begin(), c.end());
    return joined;
}

void TPxICCChunks::Clear()
{
    count_ = 0;
    kept_ = 0;
    chunks_.clear();
    present_.clear();
}

}  // namespace imaging
