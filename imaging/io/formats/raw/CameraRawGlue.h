// The camera-raw decoder behind a plain interface, so that the decoder's
// headers (which pull in the socket headers of the platform) stay out of
// the units that include windows.h.
//
// TPxRawDecoder identifies a camera raw file read from a classlib::TStream
// and decodes its sensor data into an image of four 16-bit values per pixel
// (red, green, blue, and a fourth value the caller may use), white-balanced,
// demosaiced and converted to sRGB primaries, still linear (no gamma, no
// brightness scaling, Fuji SuperCCD images left in their 45-degree layout).
//
// Ownership: the decoder owns its image; the stream is borrowed and must
// outlive Identify and Decode. Threads: one decoder per call; decoders on
// different threads share nothing.
// Failure: Identify returns false for data the decoder does not recognise;
// Decode raises classlib::Exception with the decoder's message (also when
// cancelled).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "classlib/Stream.h"

namespace imaging {

// The options handed to the decoder before identification.
struct TPxRawDecodeOptions {
    bool HalfSize = false;          // colour-filter images at half size, no demosaicing
    double RedScale = 1.0;          // multipliers applied after the white balance
    double BlueScale = 1.0;
    bool QuickInterpolate = true;   // bilinear instead of gradient demosaicing
    bool UseAutoWB = false;
    bool UseCameraWB = false;
    bool FourColorRGB = false;
};

class TPxRawDecoder {
public:
    TPxRawDecoder();
    ~TPxRawDecoder();
    TPxRawDecoder(const TPxRawDecoder&) = delete;
    TPxRawDecoder& operator=(const TPxRawDecoder&) = delete;

    // Forgets the identification, the image and the stream.
    void Clear();
    // Identifies the data of Stream from its position 0 (the whole stream is
    // the file). True when a camera is recognised; the fields below are then
    // set.
    bool Identify(classlib::TStream* Stream, const TPxRawDecodeOptions& Options);
    // Changes the quick-interpolation switch between Identify and Decode.
    void SetQuickInterpolate(bool Value);

    // ---- after Identify
    std::string Make, Model, Model2;
    int RawWidth = 0, RawHeight = 0;
    int Width = 0, Height = 0;  // the visible image
    uint32_t Filters = 0;       // colour-filter pattern, 0 for none
    bool Foveon = false;
    int FujiWidth = 0;          // 0 unless a Fuji SuperCCD sensor
    int XMag = 1, YMag = 1;     // horizontal and vertical pixel magnification

    // Unpacks and processes the sensor data. Progress receives 70 after the
    // colour scaling and 85 after the conversion to RGB; Cancelled is polled
    // at the decoder's stages (true stops the decode with an exception).
    void Decode(const std::function<void(int)>& Progress, const std::function<bool()>& Cancelled);

    // ---- after Decode: ImageHeight rows of ImageWidth pixels of four
    // values; the decoder owns them (valid until Clear or destruction).
    int ImageWidth = 0;
    int ImageHeight = 0;
    uint16_t (*Image)[4] = nullptr;

private:
    struct TImpl;
    std::unique_ptr<TImpl> impl_;
};

}  // namespace imaging
