// ICC colour profiles (TPxICC) over the platform's colour-management library
// (mscms.dll), and the collector that joins a profile split into chunks
// (the APP2 "ICC_PROFILE" markers of JPEG files).
//
// Library: PxInitMSCMS loads mscms.dll at first use and resolves the five
// functions the profiles need. The handle lives in PxColorLibraryHandle
// (PxStartup.h), which the toolkit's shut-down frees; the resolved functions
// are tied to the handle they were resolved from, so a later start-up loads
// and resolves the library again. Profiles and transforms opened under a
// library instance that has since been freed are forgotten, never passed to
// the new instance.
//
// Ownership: a TPxICC owns its raw bytes, its platform profile and its
// platform transform; Clear and destruction release all of them.
//
// Failure: without the platform library, or when the platform rejects the
// bytes, the profile stays unopened (IsValid false) and Transform and
// TransformBitmap return false, writing nothing. Malformed tag tables only
// stop the reading of the two texts. Only SaveToStream raises (the
// stream's write errors).
//
// Threads: the library is loaded under a lock. One profile object is used by
// one thread at a time.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "classlib/Persistent.h"
#include "classlib/Stream.h"
#include "imaging/model/PxTypes.h"

namespace imaging {

class TPxBitmap;

// Loads the colour-management library (again after a shut-down freed it)
// and resolves OpenColorProfileA, CloseColorProfile,
// CreateMultiProfileTransform, DeleteColorTransform and TranslateColors.
// True when the library and all five functions are available.
bool PxInitMSCMS();

// Row format codes of TPxICC::Transform (bytes within a pixel as listed;
// 8-bit channels are widened to 16 bits as x * 257).
constexpr int32_t pxIccRGB = 0;          // 3 bytes R, G, B
constexpr int32_t pxIccBGR = 1;          // 3 bytes B, G, R
constexpr int32_t pxIccCMYK = 2;         // 4 bytes C, M, Y, K stored inverted (255 = no ink)
constexpr int32_t pxIccCMYK6 = 3;        // 4 bytes C, M, Y, K at the start of every 6-byte pixel
constexpr int32_t pxIccLab = 4;          // 3 bytes L, a, b (a and b signed)
constexpr int32_t pxIccGray = 5;         // 1 byte grey
constexpr int32_t pxIccRGB48LE = 6;      // 3 words R, G, B, little-endian
constexpr int32_t pxIccRGB48BE = 7;      // 3 words R, G, B, big-endian
constexpr int32_t pxIccThreeChannel = 8; // 3 bytes of a three-channel colour

class TPxICC : public classlib::TObject {
public:
    TPxICC();
    ~TPxICC() override;
    TPxICC(const TPxICC&) = delete;
    TPxICC& operator=(const TPxICC&) = delete;

    std::wstring ClassName() const override { return L"TPxICC"; }

    // Clear, then copies Length bytes of Buffer, opens them with the
    // platform and reads the texts. A negative length or a null buffer
    // loads nothing.
    void LoadFromBuffer(const void* Buffer, int32_t Length);
    // The same with Source's raw bytes (nullptr: Clear).
    void Assign(const TPxICC* Source);
    // Releases the transform and the profile, frees the raw bytes; Applied
    // false.
    void Clear();
    // A platform profile is open.
    bool IsValid() const;
    // Writes RawLength as a 32-bit little-endian integer unless NoLength,
    // then the raw bytes.
    void SaveToStream(classlib::TStream* Stream, bool NoLength) const;

    bool IsTransformReady() const;
    // Deletes the transform (Applied becomes true when there was one).
    void FreeTransform();

    // Converts Count pixels of Source (InputCode) to Target (OutputCode)
    // from this profile to Dest's, building (or rebuilding when a parameter
    // or the destination changed) the transform first. Output codes 1
    // (B, G, R bytes) and 2 (inverted C, M, Y, K bytes) are written; any
    // other output or input code writes nothing and returns false. Intent
    // and Flags are only compared with those the transform was built for.
    // Source is never changed. True when the row was converted.
    bool Transform(TPxICC* Dest, int32_t InputCode, int32_t Count, void* Target, const void* Source, uint32_t Flags,
                   uint32_t Intent, int32_t OutputCode);

    // Converts Bitmap (px8g, px24RGB, pxCMYK, pxRGB48 or pxCIELab) from this
    // profile to Dest's into a new image of DestFormat (px24RGB or pxCMYK)
    // and moves the result into Bitmap. Any other format on either side, an
    // unopened profile or a failing transform returns false and leaves
    // Bitmap unchanged. The transform is released at the end.
    bool TransformBitmap(TPxBitmap* Bitmap, TPxPixelFormat DestFormat, TPxICC* Dest);

    // Clear, then opens the system profile file "sRGB Color Space
    // Profile.icm" (no raw bytes are kept). True when it opened.
    bool LoadSRGB();

    const uint8_t* GetRaw() const { return Raw.empty() ? nullptr : Raw.data(); }
    int32_t GetRawLength() const { return static_cast<int32_t>(Raw.size()); }
    // Set when a transform of this profile was built and released.
    bool GetApplied() const { return Applied; }
    HANDLE GetProfileHandle() const { return ProfileHandle; }
    HANDLE GetTransformHandle() const { return TransformHandle; }

    // The texts of the "cprt" and "desc" tags (8-bit, empty when absent).
    std::string NoticeText;
    std::string Description;

private:
    void OpenRaw();
    void ReadTexts();
    void ForgetStaleHandles();

    std::vector<uint8_t> Raw;
    HANDLE ProfileHandle = nullptr;
    HANDLE TransformHandle = nullptr;
    HANDLE TransformDest = nullptr;  // destination profile of the transform
    int32_t TransformInput = 0;
    int32_t TransformOutput = 0;
    uint32_t TransformIntent = 0;
    uint32_t TransformFlags = 0;
    uint32_t LibraryGeneration = 0;  // library instance the handles belong to
    bool Applied = false;
};

// Converts Count pixels with an existing transform handle (one of a
// TPxICC): Input holds 4 words per pixel (16-bit channels in the order of
// InputType's colour type), Output receives 4 words per pixel. InputType and
// OutputType are the platform's colour types (1 grey, 2 RGB, 5 Lab,
// 6 three-channel, 7 CMYK). False when the library or the call fails.
bool PxTranslateColors(HANDLE Transform, const uint16_t* Input, int32_t Count, int32_t InputType, uint16_t* Output,
                       int32_t OutputType);

// Joins an ICC profile stored as numbered chunks (each chunk: the
// zero-terminated text "ICC_PROFILE", a 1-based chunk number, the chunk
// count, then the payload). Bad chunks are ignored: a payload not starting
// with the signature or shorter than the 14-byte chunk header, a number of 0
// or above the count, a count of 0 or different from the first good chunk's,
// and a number already taken (the first one stays).
class TPxICCChunks {
public:
    // Offers the data of one APP2 segment (after its length field). True
    // when the chunk was kept.
    bool Add(const uint8_t* Data, size_t Length);
    // Every chunk up to the count has been kept.
    bool Complete() const;
    // The count of the first good chunk (0 before any).
    int GetCount() const { return count_; }
    // The payloads in chunk-number order (a missing number contributes
    // nothing).
    std::vector<uint8_t> Join() const;
    void Clear();

private:
    int count_ = 0;
    int kept_ = 0;
    std::vector<std::vector<uint8_t>> chunks_;  // index = number - 1
    std::vector<bool> present_;
};

}  // namespace imaging
