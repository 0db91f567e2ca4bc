// The JPEG 2000 codec library behind a plain C++ interface, so that its
// header stays in one translation unit (J2kGlue.cpp).
//
// Data reach the codec through TJ2kStreamProcs: plain callbacks that must
// not raise. Positions handed to Seek are counted from the place where the
// image data start (the caller adds its own base position).
//
// Images: a TJ2kImage owns the codec's image structure (or nothing). The
// decoder fills it from a stream; the writer creates it with J2kCreateImage,
// fills the samples through SetSample and hands it to J2kEncode.
//
// Failure: every call answers false when the codec gives up; nothing is
// raised and the codec's messages are dropped.
//
// Threads: an image and a call are used by one thread at a time; separate
// calls are independent.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "classlib/Stream.h"
#include "imaging/io/core/ReadGuard.h"

namespace imaging {

struct TJ2kStreamProcs {
    // Reads up to Count bytes; returns the number read (0 at the end).
    int64_t (*Read)(void* User, void* Buffer, int64_t Count) noexcept = nullptr;
    // Writes Count bytes; returns the number written.
    int64_t (*Write)(void* User, const void* Buffer, int64_t Count) noexcept = nullptr;
    // Moves to Position (from the start of the image data); false on failure.
    bool (*Seek)(void* User, int64_t Position) noexcept = nullptr;
    // The current position (from the start of the image data).
    int64_t (*Tell)(void* User) noexcept = nullptr;
    void* User = nullptr;
    // Bytes of image data available to a reader (used to stop at the end).
    int64_t Length = 0;
};

// Procedures over a toolkit stream from its current position (the base):
// positions are counted from the base, Length is what follows it. Stream
// exceptions become short counts or failed seeks. The stream is borrowed and
// must outlive the procedures' use; the returned procedures point to Stream.
struct TJ2kStreamUser {
    classlib::TStream* Stream = nullptr;
    int64_t Base = 0;
};
TJ2kStreamProcs J2kStreamProcs(TJ2kStreamUser& User);

// Colour spaces as the codec reports them.
enum TJ2kColorSpace : int {
    j2kcsUnspecified = 0,  // a bare code stream, or a file box the codec does not know
    j2kcsRGB = 1,
    j2kcsGray = 2,
    j2kcsYCbCr = 3,
    j2kcsOther = 4,  // extended YCC, CMYK: not read by the toolkit
};

// Container of the written data.
enum TJ2kFormat : int { j2kfJP2 = 0, j2kfCodeStream = 1 };

struct TJ2kComponentInfo {
    uint32_t Left = 0;  // origin of the component's own grid
    uint32_t Top = 0;
    uint32_t HStep = 1;  // subsampling
    uint32_t VStep = 1;
    uint32_t Width = 0;  // samples
    uint32_t Height = 0;
    uint32_t Precision = 0;  // bits
    bool Signed = false;
    bool Alpha = false;  // an opacity channel
};

class TJ2kImage {
public:
    TJ2kImage();
    ~TJ2kImage();
    TJ2kImage(const TJ2kImage&) = delete;
    TJ2kImage& operator=(const TJ2kImage&) = delete;

    bool IsEmpty() const;
    // Size of the image area (bottom-right minus top-left).
    uint32_t Width() const;
    uint32_t Height() const;
    int NumComponents() const;
    TJ2kColorSpace ColorSpace() const;
    TJ2kComponentInfo Component(int Index) const;
    // Row-major samples of a component (Width x Height of the component);
    // nullptr before decoding or outside the list.
    const int32_t* Samples(int Index) const;
    // Stores one sample of a created image; positions outside the component
    // are ignored.
    void SetSample(int Index, uint32_t X, uint32_t Y, int32_t Value);

    struct TImpl;  // the codec's image, private to the glue unit
    TImpl* Impl() const { return impl_.get(); }

private:
    std::unique_ptr<TImpl> impl_;
};

// Decodes the JP2 file or code stream (told apart by its first bytes) into
// Image. With HeaderOnly only the sizes and components are read (Samples
// stays nullptr); the colour space and the opacity flags of a JP2 file are
// then not yet known (unspecified, none). Images whose decoded samples (4
// bytes each) fail the raster check fail before the codec allocates them;
// Failure (when given) then receives the check's reason.
bool J2kDecode(const TJ2kStreamProcs& Procs, bool HeaderOnly, TJ2kImage& Image, TPxReadFailure* Failure = nullptr);

// Creates Image: Count components of Width x Height samples of Precision
// bits, unsigned, steps 1, origin 0; the last one is an opacity channel when
// LastIsAlpha. Samples start at 0.
bool J2kCreateImage(TJ2kImage& Image, int Count, uint32_t Width, uint32_t Height, uint32_t Precision,
                    TJ2kColorSpace ColorSpace, bool LastIsAlpha);

// Encodes Image as Format. Options is the option text of the writer:
// blank-separated "name=value" items; "rate=r" asks for r times the size of
// the uncompressed samples (1 or more keeps every bit, with the reversible
// transform), "prg=lrcp" or "prg=rlcp" the progression order; other items
// are ignored.
bool J2kEncode(TJ2kImage& Image, TJ2kFormat Format, const std::string& Options, const TJ2kStreamProcs& Procs);

}  // namespace imaging
