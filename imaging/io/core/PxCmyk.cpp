#include "imaging/io/core/PxCmyk.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>

#include <zlib.h>

#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/IOStartup.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxDefs.h"
#include "imaging/model/PxICC.h"
#include "imaging/model/PxIntColor.h"
#include "imaging/proc/PxConvert.h"

namespace imaging {

// From imaging/model/PxStreamUtils.h, which cannot be included beside
// IOParams.h (their class-library headers both define TTextEncoding).
void PxYCbCrToRGB(TPxRGB& destination, int y, int cb, int cr);

namespace {

// Platform colour types of the single-pixel conversions.
constexpr int32_t kColorRGB = 2;
constexpr int32_t kColorCMYK = 7;

std::mutex& PrepareLock()
{
    static std::mutex lock;
    return lock;
}

// 0 not prepared, 1 prepared, -1 failed (until PxFreeColorProfiles).
std::atomic<int> prepareState{0};

TPxICC* CMYKProfile() { return static_cast<TPxICC*>(PxCMYKProfile); }
TPxICC* SRGBProfile() { return static_cast<TPxICC*>(PxSRGBProfile); }

bool ProfilesReady()
{
    const TPxICC* cmyk = CMYKProfile();
    const TPxICC* srgb = SRGBProfile();
    return cmyk && srgb && cmyk->IsTransformReady() && srgb->IsTransformReady();
}

// Frees both profiles; the caller holds the preparation lock.
void FreeProfilesLocked()
{
    delete CMYKProfile();
    delete SRGBProfile();
    PxCMYKProfile = nullptr;
    PxSRGBProfile = nullptr;
}

bool PrepareLocked()
{
    const std::vector<uint8_t> data = PxBuiltInCMYKProfile();
    if (data.empty())
        return false;
    auto cmyk = std::make_unique<TPxICC>();
    cmyk->LoadFromBuffer(data.data(), static_cast<int32_t>(data.size()));
    if (!cmyk->IsValid())
        return false;
    auto srgb = std::make_unique<TPxICC>();
    if (!srgb->LoadSRGB())
        return false;
    // Both transforms are built by converting one black pixel each way.
    const uint8_t blackCMYK[4] = {0, 0, 0, 0};
    const uint8_t blackRGB[3] = {0, 0, 0};
    uint8_t outRGB[3];
    uint8_t outCMYK[4];
    if (!cmyk->Transform(srgb.get(), pxIccCMYK, 1, outRGB, blackCMYK, 0, 0, pxIccBGR))
        return false;
    if (!srgb->Transform(cmyk.get(), pxIccBGR, 1, outCMYK, blackRGB, 0, 0, pxIccCMYK))
        return false;
    FreeProfilesLocked();
    PxCMYKProfile = cmyk.release();
    PxSRGBProfile = srgb.release();
    return true;
}

void ConvertCMYKPixel(const uint8_t* s, uint8_t* d)
{
    TPxRGB rgb;
    PxConvertCMYKToRGB(TPxCMYK{s[0], s[1], s[2], s[3]}, rgb);
    d[0] = rgb.b;
    d[1] = rgb.g;
    d[2] = rgb.r;
}

// N CMYK pixels of Step bytes (C, M, Y, K first; Inked: 255 = full ink,
// else 255 = no ink) to B, G, R bytes: the same per-pixel conversion as
// PxConvertCMYKToRGB, with the profile translating up to 64 pixels per
// platform call. Source is only read.
void ConvertCMYKRow(const uint8_t* s, size_t Step, bool Inked, uint8_t* d, size_t N)
{
    constexpr size_t kPiece = 64;
    const bool profile = PxUseCMYKProfile && PxPrepareCMYKProfile();
    for (size_t done = 0; done < N;) {
        const size_t n = std::min(kPiece, N - done);
        const uint8_t* src = s + done * Step;
        uint8_t* dst = d + done * 3;
        bool translated = false;
        if (profile) {
            uint16_t in[4 * kPiece];
            uint16_t out[4 * kPiece];
            for (size_t i = 0; i < n; ++i)
                for (size_t ch = 0; ch < 4; ++ch) {
                    const uint8_t v = src[i * Step + ch];
                    in[4 * i + ch] = static_cast<uint16_t>(257 * (Inked ? v : 255 - v));
                }
            translated = PxTranslateColors(CMYKProfile()->GetTransformHandle(), in, static_cast<int32_t>(n),
                                           kColorCMYK, out, kColorRGB);
            if (translated)
                for (size_t i = 0; i < n; ++i) {
                    dst[3 * i] = static_cast<uint8_t>(out[4 * i + 2] >> 8);
                    dst[3 * i + 1] = static_cast<uint8_t>(out[4 * i + 1] >> 8);
                    dst[3 * i + 2] = static_cast<uint8_t>(out[4 * i] >> 8);
                }
        }
        if (!translated)
            for (size_t i = 0; i < n; ++i) {
                const uint8_t* p = src + i * Step;
                if (Inked) {
                    const uint8_t noInk[4] = {static_cast<uint8_t>(255 - p[0]), static_cast<uint8_t>(255 - p[1]),
                                              static_cast<uint8_t>(255 - p[2]), static_cast<uint8_t>(255 - p[3])};
                    ConvertCMYKPixel(noInk, dst + 3 * i);
                } else {
                    ConvertCMYKPixel(p, dst + 3 * i);
                }
            }
        done += n;
    }
}

// Chooses the image's profile for the row hook (see PxConvertColorRow).
TPxICC* ChosenProfile(TIOParamsVals& Params)
{
    TPxICC* input = Params.InputICCProfile.get();
    TPxICC* output = Params.OutputICCProfile.get();
    if (!output || (input && input->IsValid()))
        return input;
    return output;
}

TPxRGB CMYKToRGBService(const TPxCMYK& Pixel)
{
    TPxRGB out;
    PxConvertCMYKToRGB(Pixel, out);
    return out;
}

}  // namespace

void PxInstallColorConversion()
{
    TPxIODefaultRoutines& defaults = PxIODefaults();
    defaults.ConvertColorRow = PxConvertColorRow;
    defaults.FreeColorProfiles = PxFreeColorProfiles;
    if (!PxConvertColorRowHook)
        PxConvertColorRowHook = PxConvertColorRow;
    TIOParamsObjectServices& services = IOParamsObjectServices();
    services.ICC = PxPlainObjectKind<TPxICC>();
    services.LoadSRGB = [](TPxICC* Profile) {
        if (Profile)
            Profile->LoadSRGB();
    };
    PxBitmapServices.CMYKToRGB = CMYKToRGBService;
    PxBitmapServices.RGBToCMYK = PxConvertRGBToCMYK;
}

std::vector<uint8_t> PxBuiltInCMYKProfile()
{
    // The inflated size is known, so one call does it; anything else than
    // exactly that many bytes counts as damaged data.
    std::vector<uint8_t> data(PxCmykProfileSize);
    uLongf length = static_cast<uLongf>(data.size());
    if (uncompress(data.data(), &length, PxCmykProfileZData, static_cast<uLong>(PxCmykProfileZSize)) != Z_OK ||
        length != data.size())
        return {};
    return data;
}

bool PxPrepareCMYKProfile()
{
    const int state = prepareState.load(std::memory_order_acquire);
    if (state == 1 && ProfilesReady())
        return true;
    if (state == -1)
        return false;
    std::lock_guard<std::mutex> guard(PrepareLock());
    if (prepareState.load() == 1) {
        if (ProfilesReady())
            return true;
        // The colour library was freed under the profiles: start again.
        FreeProfilesLocked();
        prepareState.store(0);
    }
    if (prepareState.load() == -1)
        return false;
    const bool ok = PrepareLocked();
    prepareState.store(ok ? 1 : -1, std::memory_order_release);
    return ok;
}

void PxFreeColorProfiles()
{
    std::lock_guard<std::mutex> guard(PrepareLock());
    FreeProfilesLocked();
    prepareState.store(0);
}

void PxConvertCMYKToRGB(const TPxCMYK& Value, TPxRGB& Out)
{
    if (PxUseCMYKProfile && PxPrepareCMYKProfile()) {
        const uint16_t in[4] = {static_cast<uint16_t>(257 * (255 - Value.c)), static_cast<uint16_t>(257 * (255 - Value.m)),
                                static_cast<uint16_t>(257 * (255 - Value.y)), static_cast<uint16_t>(257 * (255 - Value.k))};
        uint16_t out[4];
        if (PxTranslateColors(CMYKProfile()->GetTransformHandle(), in, 1, kColorCMYK, out, kColorRGB)) {
            Out.r = static_cast<uint8_t>(out[0] >> 8);
            Out.g = static_cast<uint8_t>(out[1] >> 8);
            Out.b = static_cast<uint8_t>(out[2] >> 8);
            return;
        }
    }
    Out.r = static_cast<uint8_t>(Value.c * Value.k / 255);
    Out.g = static_cast<uint8_t>(Value.m * Value.k / 255);
    Out.b = static_cast<uint8_t>(Value.y * Value.k / 255);
}

TPxCMYK PxConvertRGBToCMYK(const TPxRGB& Value)
{
    if (PxUseCMYKProfile && PxPrepareCMYKProfile()) {
        const uint16_t in[4] = {static_cast<uint16_t>(257 * Value.r), static_cast<uint16_t>(257 * Value.g),
                                static_cast<uint16_t>(257 * Value.b), 0};
        uint16_t out[4];
        if (PxTranslateColors(SRGBProfile()->GetTransformHandle(), in, 1, kColorRGB, out, kColorCMYK))
            return TPxCMYK{static_cast<uint8_t>((out[0] >> 8) ^ 255), static_cast<uint8_t>((out[1] >> 8) ^ 255),
                           static_cast<uint8_t>((out[2] >> 8) ^ 255), static_cast<uint8_t>((out[3] >> 8) ^ 255)};
    }
    int k = std::max({Value.r, Value.g, Value.b});
    if (k == 0)
        k = 1;
    return TPxCMYK{static_cast<uint8_t>(Value.r * 255 / k), static_cast<uint8_t>(Value.g * 255 / k),
                   static_cast<uint8_t>(Value.b * 255 / k), static_cast<uint8_t>(k)};
}

void PxConvertColorRow(const void* Source, int32_t SourceFormat, void* Target, TIOParamsVals* Params, int32_t Count,
                       int32_t TargetFormat)
{
    if (!Source || !Target || Count <= 0)
        return;
    if (Params && PxColorManagementEnabled) {
        TPxICC* chosen = ChosenProfile(*Params);
        if (chosen && chosen->IsValid() && !chosen->GetApplied()) {
            TPxICC* srgb = Params->GetDefaultICCProfile();
            if (srgb && srgb->IsValid() &&
                chosen->Transform(srgb, SourceFormat, Count, Target, Source, 0, 0, TargetFormat))
                return;
        }
    }

    const auto* s = static_cast<const uint8_t*>(Source);
    auto* d = static_cast<uint8_t*>(Target);
    const size_t n = static_cast<size_t>(Count);
    switch (SourceFormat) {
    case pxRowRGB:
        if (TargetFormat == pxRowBGR)
            PxCopySwapRB(d, s, Count);
        break;
    case pxRowBGR:
        switch (TargetFormat) {
        case pxRowBGR: std::memmove(d, s, 3 * n); break;
        case pxRowCMYK:
            for (size_t i = 0; i < n; ++i) {
                const uint8_t* p = s + 3 * i;
                const TPxCMYK c = PxConvertRGBToCMYK(TPxRGB{p[0], p[1], p[2]});
                d[4 * i] = c.c;
                d[4 * i + 1] = c.m;
                d[4 * i + 2] = c.y;
                d[4 * i + 3] = c.k;
            }
            break;
        case pxRowCIELab:
            for (size_t i = 0; i < n; ++i) {
                const uint8_t* p = s + 3 * i;
                const TPxCIELab lab = PxRGB2CIELab((static_cast<uint32_t>(p[2]) << 16) |
                                                   (static_cast<uint32_t>(p[1]) << 8) | p[0]);
                d[3 * i] = lab.l;
                d[3 * i + 1] = static_cast<uint8_t>(lab.a);
                d[3 * i + 2] = static_cast<uint8_t>(lab.b);
            }
            break;
        case pxRowGray:
            for (size_t i = 0; i < n; ++i) {
                const uint8_t* p = s + 3 * i;
                d[i] = static_cast<uint8_t>((p[2] * PxGrayWeightR + p[1] * PxGrayWeightG + p[0] * PxGrayWeightB) / 100);
            }
            break;
        default: break;
        }
        break;
    case pxRowCMYK:
        if (TargetFormat == pxRowBGR)
            ConvertCMYKRow(s, 4, false, d, n);
        break;
    case pxRowCMYKInv6:
        // The source holds ink amounts; they are inverted on the way, the
        // caller's row is left alone.
        if (TargetFormat == pxRowBGR)
            ConvertCMYKRow(s, 6, true, d, n);
        break;
    case pxRowCIELab:
        if (TargetFormat == pxRowBGR)
            for (size_t i = 0; i < n; ++i) {
                const uint8_t* p = s + 3 * i;
                const TPxRGB rgb = PxCIELab2RGB((static_cast<uint32_t>(p[2]) << 16) |
                                                (static_cast<uint32_t>(p[1]) << 8) | p[0]);
                std::memcpy(d + 3 * i, &rgb, 3);
            }
        break;
    case pxRowRGB48LE:
        if (TargetFormat == pxRowBGR)
            for (size_t i = 0; i < n; ++i) {
                const uint8_t* p = s + 6 * i;
                d[3 * i] = p[5];
                d[3 * i + 1] = p[3];
                d[3 * i + 2] = p[1];
            }
        break;
    case pxRowRGB48BE:
        if (TargetFormat == pxRowBGR)
            for (size_t i = 0; i < n; ++i) {
                const uint8_t* p = s + 6 * i;
                d[3 * i] = p[4];
                d[3 * i + 1] = p[2];
                d[3 * i + 2] = p[0];
            }
        break;
    case pxRowYCbCr:
        if (TargetFormat == pxRowBGR)
            for (size_t i = 0; i < n; ++i) {
                const uint8_t* p = s + 3 * i;
                TPxRGB rgb;
                PxYCbCrToRGB(rgb, p[0], p[1], p[2]);
                std::memcpy(d + 3 * i, &rgb, 3);
            }
        break;
    default:  // grey and unknown formats: nothing
        break;
    }
}

}  // namespace imaging
