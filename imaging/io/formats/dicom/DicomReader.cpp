#include "imaging/io/formats/dicom/DicomReader.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "classlib/Streams.h"
#include "classlib/SysUtils.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIOCounters.h"
#include "imaging/io/formats/j2k/J2kReader.h"
#include "imaging/io/formats/jpeg/JpegReader.h"
#include "imaging/io/formats/dicom/LosslessJpeg.h"
#include "imaging/io/core/ReadGuard.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxStreamUtils.h"

namespace imaging {

namespace {

// ---- data dictionary

struct TDictEntry {
    uint16_t Group;
    uint16_t Element;
    char VR[3];
};

// The elements whose value representation matters to the reader, and the
// common ones of the file meta, patient, study, series, equipment, image and
// pixel modules, ordered by group and element. Tags not listed are "xs":
// the file decides (explicit VR) or nothing is known (implicit VR).
constexpr TDictEntry kDictionary[] = {
    {0x0002, 0x0000, "UL"}, {0x0002, 0x0001, "OB"}, {0x0002, 0x0002, "UI"}, {0x0002, 0x0003, "UI"},
    {0x0002, 0x0010, "UI"}, {0x0002, 0x0012, "UI"}, {0x0002, 0x0013, "SH"}, {0x0002, 0x0016, "AE"},
    {0x0002, 0x0100, "UI"}, {0x0002, 0x0102, "OB"},
    {0x0008, 0x0000, "UL"}, {0x0008, 0x0005, "CS"}, {0x0008, 0x0008, "CS"}, {0x0008, 0x0012, "DA"},
    {0x0008, 0x0013, "TM"}, {0x0008, 0x0014, "UI"}, {0x0008, 0x0016, "UI"}, {0x0008, 0x0018, "UI"},
    {0x0008, 0x0020, "DA"}, {0x0008, 0x0021, "DA"}, {0x0008, 0x0022, "DA"}, {0x0008, 0x0023, "DA"},
    {0x0008, 0x002A, "DT"}, {0x0008, 0x0030, "TM"}, {0x0008, 0x0031, "TM"}, {0x0008, 0x0032, "TM"},
    {0x0008, 0x0033, "TM"}, {0x0008, 0x0050, "SH"}, {0x0008, 0x0060, "CS"}, {0x0008, 0x0064, "CS"},
    {0x0008, 0x0068, "CS"}, {0x0008, 0x0070, "LO"}, {0x0008, 0x0080, "LO"}, {0x0008, 0x0081, "ST"},
    {0x0008, 0x0090, "PN"}, {0x0008, 0x0100, "SH"}, {0x0008, 0x0102, "SH"}, {0x0008, 0x0104, "LO"},
    {0x0008, 0x0201, "SH"}, {0x0008, 0x1010, "SH"}, {0x0008, 0x1030, "LO"}, {0x0008, 0x1032, "SQ"},
    {0x0008, 0x103E, "LO"}, {0x0008, 0x1040, "LO"}, {0x0008, 0x1050, "PN"}, {0x0008, 0x1060, "PN"},
    {0x0008, 0x1070, "PN"}, {0x0008, 0x1090, "LO"}, {0x0008, 0x1110, "SQ"}, {0x0008, 0x1111, "SQ"},
    {0x0008, 0x1115, "SQ"}, {0x0008, 0x1120, "SQ"}, {0x0008, 0x1140, "SQ"}, {0x0008, 0x1150, "UI"},
    {0x0008, 0x1155, "UI"}, {0x0008, 0x1160, "IS"}, {0x0008, 0x2111, "ST"}, {0x0008, 0x2112, "SQ"},
    {0x0008, 0x9205, "CS"},
    {0x0010, 0x0000, "UL"}, {0x0010, 0x0010, "PN"}, {0x0010, 0x0020, "LO"}, {0x0010, 0x0021, "LO"},
    {0x0010, 0x0030, "DA"}, {0x0010, 0x0032, "TM"}, {0x0010, 0x0040, "CS"}, {0x0010, 0x1000, "LO"},
    {0x0010, 0x1001, "PN"}, {0x0010, 0x1010, "AS"}, {0x0010, 0x1020, "DS"}, {0x0010, 0x1030, "DS"},
    {0x0010, 0x2160, "SH"}, {0x0010, 0x21B0, "LT"}, {0x0010, 0x4000, "LT"},
    {0x0018, 0x0000, "UL"}, {0x0018, 0x0010, "LO"}, {0x0018, 0x0015, "CS"}, {0x0018, 0x0020, "CS"},
    {0x0018, 0x0021, "CS"}, {0x0018, 0x0022, "CS"}, {0x0018, 0x0023, "CS"}, {0x0018, 0x0024, "SH"},
    {0x0018, 0x0050, "DS"}, {0x0018, 0x0060, "DS"}, {0x0018, 0x0080, "DS"}, {0x0018, 0x0081, "DS"},
    {0x0018, 0x0082, "DS"}, {0x0018, 0x0083, "DS"}, {0x0018, 0x0084, "DS"}, {0x0018, 0x0085, "SH"},
    {0x0018, 0x0086, "IS"}, {0x0018, 0x0087, "DS"}, {0x0018, 0x0088, "DS"}, {0x0018, 0x0091, "IS"},
    {0x0018, 0x0095, "DS"}, {0x0018, 0x1000, "LO"}, {0x0018, 0x1020, "LO"}, {0x0018, 0x1030, "LO"},
    {0x0018, 0x1100, "DS"}, {0x0018, 0x1110, "DS"}, {0x0018, 0x1111, "DS"}, {0x0018, 0x1120, "DS"},
    {0x0018, 0x1130, "DS"}, {0x0018, 0x1140, "CS"}, {0x0018, 0x1150, "IS"}, {0x0018, 0x1151, "IS"},
    {0x0018, 0x1152, "IS"}, {0x0018, 0x1160, "SH"}, {0x0018, 0x1164, "DS"}, {0x0018, 0x1170, "IS"},
    {0x0018, 0x1190, "DS"}, {0x0018, 0x1210, "SH"}, {0x0018, 0x1250, "SH"}, {0x0018, 0x1310, "US"},
    {0x0018, 0x1312, "CS"}, {0x0018, 0x1314, "DS"}, {0x0018, 0x1316, "DS"}, {0x0018, 0x5100, "CS"},
    {0x0018, 0x6011, "SQ"},
    {0x0020, 0x0000, "UL"}, {0x0020, 0x000D, "UI"}, {0x0020, 0x000E, "UI"}, {0x0020, 0x0010, "SH"},
    {0x0020, 0x0011, "IS"}, {0x0020, 0x0012, "IS"}, {0x0020, 0x0013, "IS"}, {0x0020, 0x0020, "CS"},
    {0x0020, 0x0032, "DS"}, {0x0020, 0x0037, "DS"}, {0x0020, 0x0052, "UI"}, {0x0020, 0x0060, "CS"},
    {0x0020, 0x0100, "IS"}, {0x0020, 0x1002, "IS"}, {0x0020, 0x1040, "LO"}, {0x0020, 0x1041, "DS"},
    {0x0020, 0x4000, "LT"}, {0x0020, 0x9056, "SH"}, {0x0020, 0x9057, "UL"},
    {0x0028, 0x0000, "UL"}, {0x0028, 0x0002, "US"}, {0x0028, 0x0004, "CS"}, {0x0028, 0x0006, "US"},
    {0x0028, 0x0008, "IS"}, {0x0028, 0x0009, "AT"}, {0x0028, 0x0010, "US"}, {0x0028, 0x0011, "US"},
    {0x0028, 0x0014, "US"}, {0x0028, 0x0030, "DS"}, {0x0028, 0x0034, "IS"}, {0x0028, 0x0051, "CS"},
    {0x0028, 0x0100, "US"}, {0x0028, 0x0101, "US"}, {0x0028, 0x0102, "US"}, {0x0028, 0x0103, "US"},
    {0x0028, 0x0106, "xs"}, {0x0028, 0x0107, "xs"}, {0x0028, 0x0108, "xs"}, {0x0028, 0x0109, "xs"},
    {0x0028, 0x0120, "xs"}, {0x0028, 0x0121, "xs"}, {0x0028, 0x0300, "CS"}, {0x0028, 0x0301, "CS"},
    {0x0028, 0x1040, "CS"}, {0x0028, 0x1050, "DS"}, {0x0028, 0x1051, "DS"}, {0x0028, 0x1052, "DS"},
    {0x0028, 0x1053, "DS"}, {0x0028, 0x1054, "LO"}, {0x0028, 0x1055, "LO"}, {0x0028, 0x1056, "CS"},
    {0x0028, 0x1101, "xs"}, {0x0028, 0x1102, "xs"}, {0x0028, 0x1103, "xs"}, {0x0028, 0x1199, "UI"},
    {0x0028, 0x1201, "OW"}, {0x0028, 0x1202, "OW"}, {0x0028, 0x1203, "OW"}, {0x0028, 0x2110, "CS"},
    {0x0028, 0x2112, "DS"}, {0x0028, 0x2114, "CS"}, {0x0028, 0x3000, "SQ"}, {0x0028, 0x3002, "xs"},
    {0x0028, 0x3003, "LO"}, {0x0028, 0x3006, "xs"}, {0x0028, 0x3010, "SQ"}, {0x0028, 0x6040, "US"},
    {0x0028, 0x7FE0, "UR"},
    {0x0032, 0x000A, "CS"}, {0x0032, 0x1032, "PN"}, {0x0032, 0x1060, "LO"}, {0x0032, 0x1064, "SQ"},
    {0x0040, 0x0244, "DA"}, {0x0040, 0x0245, "TM"}, {0x0040, 0x0253, "SH"}, {0x0040, 0x0254, "LO"},
    {0x0040, 0x0260, "SQ"}, {0x0040, 0x0275, "SQ"}, {0x0040, 0x1001, "SH"}, {0x0040, 0xA730, "SQ"},
    {0x0054, 0x0016, "SQ"}, {0x0054, 0x0081, "US"}, {0x0054, 0x1001, "CS"}, {0x0054, 0x1002, "CS"},
    {0x0088, 0x0140, "UI"}, {0x0088, 0x0200, "SQ"},
    {0x2050, 0x0020, "CS"},
    {0x5200, 0x9229, "SQ"}, {0x5200, 0x9230, "SQ"},
    {0x7FE0, 0x0000, "UL"}, {0x7FE0, 0x0010, "xs"},
    {0xFFFA, 0xFFFA, "SQ"}, {0xFFFC, 0xFFFC, "OB"},
    {0xFFFE, 0xE000, "!!"}, {0xFFFE, 0xE00D, "!!"}, {0xFFFE, 0xE0DD, "!!"},
};

constexpr uint16_t kItemGroup = 0xFFFE;
constexpr uint16_t kItem = 0xE000;
constexpr uint16_t kSequenceDelimiter = 0xE0DD;
constexpr uint32_t kUndefinedLength = 0xFFFFFFFFu;

const char* const kImplicitLE = "1.2.840.10008.1.2";
const char* const kExplicitLE = "1.2.840.10008.1.2.1";
const char* const kExplicitBE = "1.2.840.10008.1.2.2";
const char* const kJPEGBaseline = "1.2.840.10008.1.2.4.50";
const char* const kJPEG2000 = "1.2.840.10008.1.2.4.91";
const char* const kLosslessSV1 = "1.2.840.10008.1.2.4.70";
const char* const kLossless = "1.2.840.10008.1.2.4.57";
const char* const kRLE = "1.2.840.10008.1.2.5";

// ---- the reader's state

struct TDICOMContext {
    TIOParamsVals* Params = nullptr;
    TPxBitmap* Bitmap = nullptr;
    TPxIOProgressInfo* Progress = nullptr;
    TPxBufferedReadStream* Input = nullptr;
    bool NoPreamble = false;
    bool LittleEndian = true;
    std::string TransferSyntax;
    int32_t SamplesPerPixel = 1;
    std::string Photometric;
    int32_t PlanarConfiguration = 0;
    int32_t Frames = 1;
    int32_t PixelRepresentation = 0;
    int32_t Columns = 0;
    int32_t Rows = 0;
    int32_t BitsAllocated = 0;
    int32_t BitsStored = 0;
    int32_t BytesPerSample = 0;
    std::vector<uint16_t> RedLUT, GreenLUT, BlueLUT;
    double WindowCentre = -1;
    double WindowWidth = -1;
    double RescaleIntercept = 0;
    double RescaleSlope = 1;
    // The length of the pixel data element (kUndefinedLength when
    // encapsulated).
    uint32_t PixelDataLength = 0;
    bool PixelDataMet = false;
};

// Little-endian fields at the stream's position (big-endian syntaxes swap
// them after).
bool ReadU16(classlib::TStream& In, uint16_t& Value)
{
    uint8_t b[2];
    if (!PxReadExact(In, b, 2))
        return false;
    Value = PxLe16(b);
    return true;
}

bool ReadU32(classlib::TStream& In, uint32_t& Value)
{
    uint8_t b[4];
    if (!PxReadExact(In, b, 4))
        return false;
    Value = PxLe32(b);
    return true;
}

std::string Trimmed(const uint8_t* Data, int64_t Length)
{
    std::string s(reinterpret_cast<const char*>(Data), static_cast<size_t>(Length));
    size_t end = s.find('\0');
    if (end != std::string::npos)
        s.resize(end);
    const size_t first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::string();
    const size_t last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

// The first value of a multi-valued decimal text; false when it does not
// parse as a whole.
bool FirstDecimal(const std::string& Text, double& Value)
{
    std::string first = Text.substr(0, Text.find('\\'));
    const size_t a = first.find_first_not_of(' ');
    if (a == std::string::npos)
        return false;
    first = first.substr(a, first.find_last_not_of(' ') - a + 1);
    char* end = nullptr;
    const double v = std::strtod(first.c_str(), &end);
    if (end == first.c_str() || *end != '\0')
        return false;
    Value = v;
    return true;
}

bool ParseInteger(const std::string& Text, int64_t& Value)
{
    if (Text.empty())
        return false;
    char* end = nullptr;
    const long long v = std::strtoll(Text.c_str(), &end, 10);
    if (end == Text.c_str() || *end != '\0')
        return false;
    Value = v;
    return true;
}

std::string UpperTrim(std::string s)
{
    const size_t a = s.find_first_not_of(' ');
    if (a == std::string::npos)
        return std::string();
    s = s.substr(a, s.find_last_not_of(' ') - a + 1);
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool IsUpperLetter(uint8_t c) { return c >= 'A' && c <= 'Z'; }

// Explicit value representations followed by two reserved bytes and a
// 32-bit length.
bool HasLongLength(const char* VR)
{
    static const char* const kLong[] = {"OB", "OD", "OF", "OL", "OV", "OW", "SQ", "SV", "UC", "UN", "UR", "UT", "UV"};
    for (const char* l : kLong)
        if (VR[0] == l[0] && VR[1] == l[1])
            return true;
    return false;
}

int ValueSize(const std::string& VR)
{
    if (VR == "SS" || VR == "US")
        return 2;
    if (VR == "UL" || VR == "SL" || VR == "FL")
        return 4;
    if (VR == "FD")
        return 8;
    return 1;
}

// Reports Trunc(Done / Total x 100) when it differs from the last value.
class TPercent {
public:
    explicit TPercent(TPxIOProgressInfo& Progress) : progress_(Progress) {}
    void Report(double Done, double Total)
    {
        if (Total <= 0)
            return;
        const int per = static_cast<int>(classlib::Trunc(Done / Total * 100));
        if (per != last_) {
            last_ = per;
            progress_.Progress(per);
        }
    }

private:
    TPxIOProgressInfo& progress_;
    int last_ = -1;
};

// ---- post-processing of decoded grey images

int ChannelsOf(TPxBitmap& Bitmap)
{
    switch (Bitmap.GetPixelFormat()) {
    case px8g:
    case px16g: return 1;
    case px24RGB: return 3;
    default: return 0;
    }
}

// Rescale, window and stretch every sample of a px8g, px16g or px24RGB
// image to 0..Max (255 or 65535 by the sample size).
void DICOMRescale(TDICOMContext& C, TPxBitmap& Bitmap)
{
    const int channels = ChannelsOf(Bitmap);
    if (channels == 0)
        return;
    const bool wide = Bitmap.GetPixelFormat() == px16g;
    const double maxValue = wide ? 65535.0 : 255.0;
    const int width = Bitmap.GetWidth(), height = Bitmap.GetHeight();
    const int64_t count = static_cast<int64_t>(width) * channels;
    const bool signedSamples = C.PixelRepresentation == 1;
    const double c = C.WindowCentre, w = C.WindowWidth;
    const bool windowing = c != -1 && w != -1;
    const double lower = static_cast<double>(classlib::Trunc(c - 0.5 - (w - 1) / 2));
    const double upper = static_cast<double>(classlib::Trunc(c - 0.5 + (w - 1) / 2));
    auto valueOf = [&](uint32_t s) {
        double x;
        if (wide)
            x = signedSamples ? static_cast<int16_t>(s) : static_cast<double>(s);
        else
            x = signedSamples ? static_cast<int8_t>(s) : static_cast<double>(s);
        double v = x * C.RescaleSlope + C.RescaleIntercept;
        if (windowing) {
            if (v <= lower)
                v = 0;
            else if (v >= upper)
                v = maxValue;
            else
                v = ((v - (c - 0.5)) / (w - 1) + 0.5) * maxValue;
        }
        return v;
    };
    auto sampleAt = [&](uint8_t* row, int64_t i) -> uint32_t {
        return wide ? reinterpret_cast<uint16_t*>(row)[i] : row[i];
    };
    auto store = [&](uint8_t* row, int64_t i, double v) {
        v = std::clamp(v, 0.0, maxValue);
        if (wide)
            reinterpret_cast<uint16_t*>(row)[i] = static_cast<uint16_t>(classlib::Trunc(v));
        else
            row[i] = static_cast<uint8_t>(classlib::Trunc(v));
    };
    TPxAccessScope access(Bitmap, pxAccessReadWrite);
    // The offset that lifts the smallest value to 0 is found first, so that
    // equal samples stay equal wherever they are.
    double offset = 0;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = Bitmap.GetScanline(y);
        for (int64_t i = 0; i < count; ++i) {
            const double v = valueOf(sampleAt(row, i));
            if (v < 0)
                offset = std::max(offset, -v);
        }
    }
    uint32_t smallest = 0xFFFFFFFFu, largest = 0;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = Bitmap.GetScanline(y);
        for (int64_t i = 0; i < count; ++i) {
            store(row, i, valueOf(sampleAt(row, i)) + offset);
            const uint32_t s = sampleAt(row, i);
            smallest = std::min(smallest, s);
            largest = std::max(largest, s);
        }
    }
    if (height == 0 || smallest == largest)
        return;
    const double range = static_cast<double>(largest) - smallest;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = Bitmap.GetScanline(y);
        for (int64_t i = 0; i < count; ++i)
            store(row, i, (static_cast<double>(sampleAt(row, i)) - smallest) / range * maxValue);
    }
}

void DICOMApplyMonochrome1(TDICOMContext& C, TPxBitmap& Bitmap)
{
    if (UpperTrim(C.Photometric) != "MONOCHROME1")
        return;
    const int channels = ChannelsOf(Bitmap);
    if (channels == 0)
        return;
    const int64_t bytes = static_cast<int64_t>(Bitmap.GetWidth()) * channels * (Bitmap.GetPixelFormat() == px16g ? 2 : 1);
    TPxAccessScope access(Bitmap, pxAccessReadWrite);
    for (int y = 0; y < Bitmap.GetHeight(); ++y) {
        uint8_t* row = Bitmap.GetScanline(y);
        for (int64_t i = 0; i < bytes; ++i)
            row[i] = static_cast<uint8_t>(~row[i]);
    }
}

void PostProcessGrey(TDICOMContext& C, TPxBitmap& Bitmap)
{
    if (C.SamplesPerPixel != 1)
        return;
    DICOMRescale(C, Bitmap);
    DICOMApplyMonochrome1(C, Bitmap);
}

// ---- frame data

bool IsNativeSyntax(const std::string& Syntax)
{
    return Syntax == kImplicitLE || Syntax == kExplicitLE || Syntax == kExplicitBE;
}

int64_t FrameBytes(const TDICOMContext& C)
{
    return static_cast<int64_t>(C.Columns) * C.Rows * C.SamplesPerPixel * C.BytesPerSample;
}

// Reads one item header; false when it is not an item or the data end.
bool ReadItem(classlib::TStream& In, uint32_t& Length)
{
    uint16_t g = 0, e = 0;
    if (!ReadU16(In, g) || !ReadU16(In, e) || g != kItemGroup || e != kItem)
        return false;
    return ReadU32(In, Length);
}

// Appends the fragment at the position (after its item header) to Data;
// false when it reaches past the end of the stream.
bool AppendFragment(classlib::TStream& In, uint32_t Length, std::vector<uint8_t>& Data)
{
    const int64_t left = In.GetSize() - In.GetPosition();
    if (static_cast<int64_t>(Length) > left)
        return false;
    const size_t at = Data.size();
    Data.resize(at + Length);
    return PxReadExact(In, Data.data() + at, Length);
}

// Collects the compressed data of frame Index from the encapsulated pixel
// data at the position (just after the pixel data element's header). A
// single-frame file takes every fragment up to the sequence delimiter; a
// frame of a multi-frame file takes the fragments up to the next frame's
// offset when the offset table gives them, else one fragment.
bool ReadEncapsulatedFrame(TDICOMContext& C, int Index, std::vector<uint8_t>& Data)
{
    classlib::TStream& in = *C.Input;
    const int64_t size = in.GetSize();
    uint32_t tableLength = 0;
    if (!ReadItem(in, tableLength))
        return false;
    const int64_t tableStart = in.GetPosition();
    if (static_cast<int64_t>(tableLength) > size - tableStart)
        return false;
    const int64_t firstFragment = tableStart + tableLength;
    std::vector<uint32_t> offsets;
    const int64_t wanted = std::min<int64_t>(tableLength / 4, static_cast<int64_t>(C.Frames));
    for (int64_t k = 0; k < wanted; ++k) {
        uint32_t o = 0;
        if (!ReadU32(in, o))
            return false;
        offsets.push_back(o);
    }
    int64_t frameEnd = -1;  // where the next frame's fragments start, when known
    if (Index < static_cast<int64_t>(offsets.size())) {
        const int64_t at = firstFragment + offsets[static_cast<size_t>(Index)];
        if (at > size)
            return false;
        in.SetPosition(at);
        if (Index + 1 < static_cast<int64_t>(offsets.size()))
            frameEnd = firstFragment + offsets[static_cast<size_t>(Index) + 1];
    } else {
        in.SetPosition(firstFragment);
        for (int k = 0; k < Index; ++k) {
            uint32_t length = 0;
            if (!ReadItem(in, length) || static_cast<int64_t>(length) > size - in.GetPosition())
                return false;
            in.Seek(length, classlib::soCurrent);
        }
    }
    uint32_t length = 0;
    if (!ReadItem(in, length) || !AppendFragment(in, length, Data))
        return false;
    const bool moreFragments = C.Frames == 1 || frameEnd >= 0;
    while (moreFragments) {
        const int64_t pos = in.GetPosition();
        if (frameEnd >= 0 && pos >= frameEnd)
            break;
        if (!ReadItem(in, length) || !AppendFragment(in, length, Data)) {
            in.SetPosition(pos);
            break;
        }
    }
    return true;
}

// ---- decoders of the transfer syntaxes

bool AllocateFor(TPxBitmap& Bitmap, const TDICOMContext& C, TPxPixelFormat Format)
{
    return Bitmap.Allocate(C.Columns, C.Rows, Format) && Bitmap.GetWidth() == C.Columns &&
           Bitmap.GetHeight() == C.Rows;
}

// Native samples at the position; false for a layout the reader does not
// decode or one it could not allocate.
bool DecodeNative(TDICOMContext& C, TPxBitmap& Bitmap)
{
    classlib::TStream& in = *C.Input;
    const int bps = C.BytesPerSample;
    const int stored = C.BitsStored;
    const int spp = C.SamplesPerPixel;
    if (bps < 1 || bps > 2 || stored < 1 || stored > 16 || (spp != 1 && spp != 3) || (spp == 3 && stored > 8))
        return false;
    const bool wide = stored > 8;
    if (!AllocateFor(Bitmap, C, spp == 3 ? px24RGB : wide ? px16g : px8g))
        return false;
    const int width = C.Columns, height = C.Rows;
    const int shift = wide ? 0 : 8 - stored;
    const uint32_t mask = stored >= 16 ? 0xFFFFu : ((1u << stored) - 1);
    std::vector<uint8_t> raw(static_cast<size_t>(width) * (spp == 3 && C.PlanarConfiguration != 1 ? 3 : 1) * bps);
    auto sample = [&](size_t i) -> uint32_t {
        if (bps == 1)
            return raw[i];
        const uint8_t a = raw[2 * i], b = raw[2 * i + 1];
        return C.LittleEndian ? static_cast<uint32_t>(a | (b << 8)) : static_cast<uint32_t>(b | (a << 8));
    };
    TPercent percent(*C.Progress);
    TPxAccessScope access(Bitmap, pxAccessReadWrite);
    if (spp == 3 && C.PlanarConfiguration == 1) {
        for (int p = 0; p < 3; ++p)
            for (int y = 0; y < height; ++y) {
                if (!PxReadExact(in, raw.data(), static_cast<int64_t>(raw.size())))
                    return false;
                TPxRGB* row = reinterpret_cast<TPxRGB*>(Bitmap.GetScanline(y));
                for (int x = 0; x < width; ++x) {
                    const uint8_t v = static_cast<uint8_t>((sample(x) & mask) << shift);
                    (p == 0 ? row[x].r : p == 1 ? row[x].g : row[x].b) = v;
                }
                percent.Report(static_cast<double>(p) * (height / 3) + y / 3, height);
            }
        return true;
    }
    for (int y = 0; y < height; ++y) {
        if (!PxReadExact(in, raw.data(), static_cast<int64_t>(raw.size())))
            return false;
        uint8_t* row = Bitmap.GetScanline(y);
        if (spp == 3) {
            TPxRGB* px = reinterpret_cast<TPxRGB*>(row);
            for (int x = 0; x < width; ++x) {
                px[x].r = static_cast<uint8_t>((sample(3 * x) & mask) << shift);
                px[x].g = static_cast<uint8_t>((sample(3 * x + 1) & mask) << shift);
                px[x].b = static_cast<uint8_t>((sample(3 * x + 2) & mask) << shift);
            }
        } else if (wide) {
            uint16_t* px = reinterpret_cast<uint16_t*>(row);
            for (int x = 0; x < width; ++x)
                px[x] = static_cast<uint16_t>(sample(x));
        } else {
            for (int x = 0; x < width; ++x)
                row[x] = static_cast<uint8_t>((sample(x) & mask) << shift);
        }
        percent.Report(y, height);
    }
    if (spp == 1) {
        if (wide)
            DICOMRescale(C, Bitmap);
        DICOMApplyMonochrome1(C, Bitmap);
    }
    return true;
}

bool DecodeRLE(TDICOMContext& C, TPxBitmap& Bitmap, const std::vector<uint8_t>& Data)
{
    const int spp = C.SamplesPerPixel;
    const int stored = C.BitsStored;
    int segmentsNeeded;
    TPxPixelFormat format;
    if (spp == 1 && stored <= 8) {
        segmentsNeeded = 1;
        format = px8g;
    } else if (spp == 1 && stored <= 16) {
        segmentsNeeded = 2;
        format = px16g;
    } else if (spp == 3 && stored <= 8) {
        segmentsNeeded = 3;
        format = px24RGB;
    } else {
        return false;
    }
    if (Data.size() < 64)
        return false;
    const uint32_t segments = PxLe32(Data.data());
    if (segments < static_cast<uint32_t>(segmentsNeeded) || segments > 15)
        return false;
    const int64_t pixels = static_cast<int64_t>(C.Columns) * C.Rows;
    // One two-byte run gives at most 128 bytes: the segments cannot fill
    // more than 64 times their size.
    if (pixels * segmentsNeeded > static_cast<int64_t>(Data.size()) * 64)
        return false;
    std::vector<std::vector<uint8_t>> planes(static_cast<size_t>(segmentsNeeded));
    for (int k = 0; k < segmentsNeeded; ++k) {
        const uint32_t start = PxLe32(Data.data() + 4 + 4 * k);
        uint32_t end = static_cast<uint32_t>(Data.size());
        if (static_cast<uint32_t>(k + 1) < segments) {
            const uint32_t next = PxLe32(Data.data() + 8 + 4 * k);
            if (next >= start && next <= end)
                end = next;
        }
        if (start < 64 || start > end)
            return false;
        planes[static_cast<size_t>(k)].assign(static_cast<size_t>(pixels), 0);
        TPxMemStream segment(Data.data() + start, end - start);
        DICOMUnpackRLE(&segment, planes[static_cast<size_t>(k)].data(), pixels);
    }
    if (!AllocateFor(Bitmap, C, format))
        return false;
    const int width = C.Columns;
    TPercent percent(*C.Progress);
    TPxAccessScope access(Bitmap, pxAccessReadWrite);
    for (int y = 0; y < C.Rows; ++y) {
        uint8_t* row = Bitmap.GetScanline(y);
        const size_t base = static_cast<size_t>(y) * width;
        for (int x = 0; x < width; ++x) {
            if (format == px8g) {
                row[x] = planes[0][base + x];
            } else if (format == px16g) {
                reinterpret_cast<uint16_t*>(row)[x] =
                    static_cast<uint16_t>((planes[0][base + x] << 8) | planes[1][base + x]);
            } else {
                TPxRGB& p = reinterpret_cast<TPxRGB*>(row)[x];
                p.r = planes[0][base + x];
                p.g = planes[1][base + x];
                p.b = planes[2][base + x];
            }
        }
        percent.Report(y, C.Rows);
    }
    PostProcessGrey(C, Bitmap);
    return true;
}

bool DecodeLossless(TDICOMContext& C, TPxBitmap& Bitmap, const std::vector<uint8_t>& Data)
{
    const int spp = C.SamplesPerPixel;
    const int stored = C.BitsStored;
    TPxPixelFormat format;
    if (spp == 1 && stored <= 8)
        format = px8g;
    else if (spp == 1 && stored <= 16)
        format = px16g;
    else if (spp == 3 && stored <= 8)
        format = px24RGB;
    else
        return false;
    const int64_t samples = static_cast<int64_t>(C.Columns) * C.Rows * spp;
    // Every sample takes at least one bit of coded data.
    if (samples > static_cast<int64_t>(Data.size()) * 8)
        return false;
    std::vector<uint8_t> out8;
    std::vector<uint16_t> out16;
    if (format == px16g)
        out16.assign(static_cast<size_t>(samples), 0);
    else
        out8.assign(static_cast<size_t>(samples), 0);
    TPxMemStream data(Data.data(), static_cast<int64_t>(Data.size()));
    if (!PxDecodeLosslessJPEG(&data, format == px16g ? out16.data() : nullptr, format == px16g ? nullptr : out8.data(),
                              samples, C.Progress->Handler, C.Progress->Sender, static_cast<int64_t>(Data.size())))
        return false;
    if (!AllocateFor(Bitmap, C, format))
        return false;
    const int width = C.Columns;
    {
        TPxAccessScope access(Bitmap, pxAccessReadWrite);
        for (int y = 0; y < C.Rows; ++y) {
            uint8_t* row = Bitmap.GetScanline(y);
            const size_t base = static_cast<size_t>(y) * width * spp;
            if (format == px16g) {
                std::memcpy(row, out16.data() + base, static_cast<size_t>(width) * 2);
            } else if (format == px8g) {
                std::memcpy(row, out8.data() + base, static_cast<size_t>(width));
            } else {
                TPxRGB* px = reinterpret_cast<TPxRGB*>(row);
                for (int x = 0; x < width; ++x) {
                    px[x].r = out8[base + 3 * x];
                    px[x].g = out8[base + 3 * x + 1];
                    px[x].b = out8[base + 3 * x + 2];
                }
            }
        }
    }
    PostProcessGrey(C, Bitmap);
    return true;
}

// JPEG baseline and JPEG 2000 go to the toolkit's readers of those formats
// with the frame's data as their stream.
void DecodeThroughReader(TDICOMContext& C, TPxBitmap& Bitmap, const std::vector<uint8_t>& Data, bool Jpeg2000)
{
    TPxMemStream data(Data.data(), static_cast<int64_t>(Data.size()));
    TIOParamsVals params(nullptr);
    params.NativePixelFormat = true;
    if (Jpeg2000) {
        PxReadJPEG2000(&data, &Bitmap, params, *C.Progress, false);
    } else {
        PxReadJPEG(&data, &Bitmap, {.NativePixelFormat = true}, *C.Progress, params);
    }
    if (C.Progress->Aborted() || Bitmap.IsEmpty())
        return;
    PostProcessGrey(C, Bitmap);
}

void DICOMReadPixels(TDICOMContext& C, TPxBitmap& Bitmap)
{
    TIOParamsVals& params = *C.Params;
    classlib::TStream& in = *C.Input;
    params.SetImageIndex(std::max(0, std::min(params.ImageIndex, C.Frames - 1)));
    const int index = params.ImageIndex;
    const int64_t start = in.GetPosition();
    uint16_t g = 0, e = 0;
    const bool itemFollows = ReadU16(in, g) && ReadU16(in, e) && g == kItemGroup && e == kItem;
    in.SetPosition(start);
    const bool native = IsNativeSyntax(C.TransferSyntax);
    // Before any decoder sizes a buffer: native and run-length frames are
    // bounded by the data left, the other codes by the caps (their readers
    // bound them further).
    TPxRasterCheck check;
    check.Width = C.Columns;
    check.Height = C.Rows;
    check.CodedBits = int64_t(std::max(C.SamplesPerPixel, 1)) * std::max(C.BitsStored, 1);
    check.StorageBits = 2 * (C.SamplesPerPixel == 3 ? 24 : C.BitsStored > 8 ? 16 : 8);  // planes, then the bitmap
    check.Coding = native ? TPxCoding::Raw : C.TransferSyntax == kRLE ? TPxCoding::PackBits : TPxCoding::Unbounded;
    check.DataBytes = in.GetSize() - start;
    if (!PxCheckRaster(check, *C.Progress))
        return;
    if (C.PixelDataLength == kUndefinedLength || (itemFollows && !native)) {
        std::vector<uint8_t> data;
        if (!ReadEncapsulatedFrame(C, index, data)) {
            C.Progress->Abort();
            return;
        }
        const std::string& ts = C.TransferSyntax;
        bool ok = true;
        if (ts == kJPEGBaseline || ts == kJPEG2000)
            DecodeThroughReader(C, Bitmap, data, ts == kJPEG2000);
        else if (ts == kLossless || ts == kLosslessSV1)
            ok = DecodeLossless(C, Bitmap, data);
        else if (ts == kRLE)
            ok = DecodeRLE(C, Bitmap, data);
        else
            ok = false;  // no decoder for this compression
        if (!ok)
            C.Progress->Abort();
        return;
    }
    // Native data: frames follow one another at their full size.
    const int64_t frame = FrameBytes(C);
    const int64_t left = in.GetSize() - start;
    if (frame <= 0 || (native && index > 0 && index > left / frame)) {
        C.Progress->Abort();
        return;
    }
    const int64_t skip = native ? index * frame : 0;
    if (skip + frame > left) {
        C.Progress->Abort();
        return;
    }
    in.SetPosition(start + skip);
    if (!DecodeNative(C, Bitmap))
        C.Progress->Abort();
}

// ---- the element walk

void Interpret(TDICOMContext& C, uint16_t Group, uint16_t Element, uint32_t Number, bool HasNumber,
               const uint8_t* Data, int64_t Length)
{
    auto text = [&] { return Data ? Trimmed(Data, Length) : std::string(); };
    auto number = [&](int32_t& Field) {
        if (HasNumber)
            Field = static_cast<int32_t>(Number);
    };
    auto bytesPerSample = [&] {
        C.BytesPerSample = std::max((C.BitsAllocated + 7) / 8, (C.BitsStored + 7) / 8);
    };
    auto decimal = [&](double& Field, double Unparsable, bool ZeroIsNone) {
        double v = 0;
        if (!FirstDecimal(text(), v) || (ZeroIsNone && v == 0))
            Field = Unparsable;
        else
            Field = v;
    };
    auto lut = [&](std::vector<uint16_t>& Table) {
        Table.clear();
        if (!Data)
            return;
        int64_t entries = Length / 2;
        if (C.BitsAllocated < 31)
            entries = std::min<int64_t>(entries, int64_t(1) << std::max(0, C.BitsAllocated));
        Table.resize(static_cast<size_t>(entries));
        for (int64_t k = 0; k < entries; ++k) {
            const uint16_t v = static_cast<uint16_t>(Data[2 * k] | (Data[2 * k + 1] << 8));
            Table[static_cast<size_t>(k)] = C.LittleEndian ? v : PxSwapBytes16(v);
        }
    };
    if (Group == 0x0002 && Element == 0x0010) {
        C.TransferSyntax = text();
        if (C.TransferSyntax == kExplicitBE)
            C.LittleEndian = false;
        return;
    }
    if (Group != 0x0028)
        return;
    switch (Element) {
    case 0x0002: number(C.SamplesPerPixel); break;
    case 0x0004: C.Photometric = text(); break;
    case 0x0006: number(C.PlanarConfiguration); break;
    case 0x0008: {
        int64_t frames = 0;
        C.Frames = ParseInteger(text(), frames) && frames >= 1 && frames <= 0x7FFFFFFF ? static_cast<int32_t>(frames) : 1;
        break;
    }
    case 0x0010: number(C.Rows); break;
    case 0x0011: number(C.Columns); break;
    case 0x0100:
        number(C.BitsAllocated);
        if (C.BitsStored == 0)
            C.BitsStored = C.BitsAllocated;
        bytesPerSample();
        break;
    case 0x0101:
        number(C.BitsStored);
        if (C.BitsAllocated == 0)
            C.BitsAllocated = C.BitsStored;
        bytesPerSample();
        break;
    case 0x0103: number(C.PixelRepresentation); break;
    case 0x1050: decimal(C.WindowCentre, -1, true); break;
    case 0x1051: decimal(C.WindowWidth, -1, false); break;
    // An unreadable rescale keeps the identity rather than turning the
    // image over.
    case 0x1052: decimal(C.RescaleIntercept, 0, false); break;
    case 0x1053: decimal(C.RescaleSlope, 1, false); break;
    case 0x1201: lut(C.RedLUT); break;
    case 0x1202: lut(C.GreenLUT); break;
    case 0x1203: lut(C.BlueLUT); break;
    default: break;
    }
}

void WalkElements(TDICOMContext& C, bool ParamsOnly)
{
    classlib::TStream& in = *C.Input;
    TIOParamsVals& params = *C.Params;
    const int64_t size = in.GetSize();
    int depth = 0;  // open sequences (and encapsulated data) of undefined length
    while (in.GetPosition() < size) {
        uint16_t group = 0, element = 0;
        if (!ReadU16(in, group) || !ReadU16(in, element))
            return;
        const bool swap = !C.LittleEndian && group != 0x0002;
        if (swap) {
            group = PxSwapBytes16(group);
            element = PxSwapBytes16(element);
        }
        std::string vr = PxDICOMDictionaryVR(group, element);
        uint8_t two[2];
        if (!PxReadExact(in, two, 2))
            return;
        uint32_t length = 0;
        if (group == 0x0002 || (IsUpperLetter(two[0]) && IsUpperLetter(two[1]))) {
            if (vr == "xs")
                vr.assign(reinterpret_cast<const char*>(two), 2);
            if (vr == "!!") {
                in.Seek(-2, classlib::soCurrent);
                if (!ReadU32(in, length))
                    return;
                if (swap)
                    length = PxSwapBytes32(length);
            } else if (HasLongLength(reinterpret_cast<const char*>(two))) {
                uint8_t reserved[2];
                if (!PxReadExact(in, reserved, 2) || !ReadU32(in, length))
                    return;
                if (swap)
                    length = PxSwapBytes32(length);
            } else {
                uint16_t l16 = 0;
                if (!ReadU16(in, l16))
                    return;
                length = swap ? PxSwapBytes16(l16) : l16;
            }
        } else {
            in.Seek(-2, classlib::soCurrent);
            if (!ReadU32(in, length))
                return;
            if (swap)
                length = PxSwapBytes32(length);
        }
        const bool undefined = length == kUndefinedLength;
        const int size1 = ValueSize(vr);

        if (group == 0x7FE0 && element == 0x0010 && depth == 0) {
            C.PixelDataLength = length;
            C.PixelDataMet = true;
            params.BitsPerSample = C.BitsStored;
            params.SamplesPerPixel = C.SamplesPerPixel;
            params.Width = params.OriginalWidth = C.Columns;
            params.Height = params.OriginalHeight = C.Rows;
            params.SetImageCount(C.Frames);
            params.DICOMTags->AddTag(group, element, static_cast<int32_t>(length), nullptr, vr);
            if (!ParamsOnly && C.Bitmap)
                DICOMReadPixels(C, *C.Bitmap);
            return;
        }

        std::unique_ptr<uint8_t[]> data;
        uint32_t numberValue = 0;
        bool hasNumber = false;
        const int64_t valueStart = in.GetPosition();
        if (!undefined && length > 0 && static_cast<int64_t>(length) < size) {
            if (static_cast<int64_t>(length) == size1 && (size1 == 1 || size1 == 2 || size1 == 4)) {
                uint8_t b[4] = {};
                if (PxReadExact(in, b, size1)) {
                    hasNumber = true;
                    if (size1 == 1)
                        numberValue = b[0];
                    else if (size1 == 2)
                        numberValue = PxGetU16(b, !swap);
                    else
                        numberValue = PxGetU32(b, !swap);
                }
                in.SetPosition(valueStart);
            }
            data.reset(new uint8_t[static_cast<size_t>(length) + 1]);
            std::memset(data.get(), 0, static_cast<size_t>(length) + 1);
            PxReadExact(in, data.get(), length);  // a short read keeps zeros; the walk then ends
        } else if (!undefined && length > 0) {
            in.SetPosition(size);  // a value beyond the data: the walk ends
        }
        const uint8_t* raw = data.get();
        params.DICOMTags->AddTag(group, element, undefined ? -1 : static_cast<int32_t>(length), std::move(data), vr);
        if (depth == 0 && raw)
            Interpret(C, group, element, numberValue, hasNumber, raw, length);
        else if (depth == 0 && !undefined)
            Interpret(C, group, element, 0, false, nullptr, 0);

        if (undefined && (vr == "SQ" || (group == 0x7FE0 && element == 0x0010)))
            ++depth;
        else if (group == kItemGroup && element == kSequenceDelimiter && depth > 0)
            --depth;
    }
}

}  // namespace

std::string PxDICOMDictionaryVR(uint16_t Group, uint16_t Element)
{
    for (const TDictEntry& d : kDictionary) {
        if (d.Group == Group && d.Element == Element)
            return std::string(d.VR, 2);
        if (d.Group > Group || (d.Group == Group && d.Element > Element))
            break;
    }
    return "xs";
}

void PxReadDICOM(classlib::TStream* Stream, TIOParamsVals& Params, TPxBitmap* Bitmap, bool ParamsOnly,
                 TPxIOProgressInfo& Progress)
{
    TDICOMContext c;
    c.Params = &Params;
    c.Progress = &Progress;
    if (!Stream) {
        Progress.Abort();
        return;
    }
    // A system bitmap cannot hold grey samples of 16 bits: decode aside.
    std::unique_ptr<TPxBitmap> temporary;
    if (Bitmap && !ParamsOnly && Bitmap->GetLocation() == pxTBitmap) {
        temporary = std::make_unique<TPxBitmap>();
        temporary->SetLocation(pxMemory);
        c.Bitmap = temporary.get();
    } else {
        c.Bitmap = Bitmap;
    }
    const int64_t start = Stream->GetPosition();
    TPxBufferedReadStream input(Stream, true, 8192);
    c.Input = &input;

    uint8_t magic[4] = {};
    if (input.GetSize() < 132 || input.Seek(128, classlib::soBeginning) != 128 || !PxReadExact(input, magic, 4) ||
        std::memcmp(magic, "DICM", 4) != 0) {
        input.SetPosition(0);
        c.NoPreamble = true;
    }
    WalkElements(c, ParamsOnly);
    // Data without a pixel data element hold no image: a read that wanted
    // pixels has failed.
    if (!ParamsOnly && Bitmap && !c.PixelDataMet)
        Progress.Fail(TPxReadFailure::NoImage);
    // Nor are data that give no image size: garbage walks as elements too,
    // so a parameter read fails on them as well.
    if (ParamsOnly && (c.Rows <= 0 || c.Columns <= 0))
        Progress.Fail(TPxReadFailure::Unreadable);

    if (temporary) {
        if (!temporary->IsEmpty() && !Progress.Aborted()) {
            if (temporary->GetPixelFormat() != px1g)
                temporary->SetPixelFormat(px24RGB);
            Bitmap->Assign(temporary.get());
        }
        temporary.reset();
    }
    Params.SetImageCount(c.Frames);
    // The caller's stream is left where the walk stopped.
    Stream->SetPosition(start + input.GetPosition());
}

int32_t PxCountDICOMFrames(classlib::TStream* Stream)
{
    const int64_t position = Stream->GetPosition();
    TIOParamsVals params(nullptr);
    bool aborting = false;
    TPxIOProgressInfo info;
    info.Aborting = &aborting;
    int32_t count = 0;
    try {
        PxReadDICOM(Stream, params, nullptr, true, info);
        count = aborting ? 0 : params.ImageCount;
    } catch (...) {
        Stream->SetPosition(position);
        throw;
    }
    Stream->SetPosition(position);
    return count;
}

int32_t PxCountDICOMFramesInFile(const std::wstring& FileName)
{
    classlib::TFileStream file(FileName, classlib::fmOpenRead | classlib::fmShareDenyWrite);
    return PxCountDICOMFrames(&file);
}

int64_t DICOMUnpackRLE(classlib::TStream* Stream, uint8_t* Output, int64_t ByteCount)
{
    int64_t produced = 0;
    uint8_t header = 0;
    while (produced < ByteCount && Stream->Read(&header, 1) == 1) {
        const int8_t h = static_cast<int8_t>(header);
        if (h >= 0) {
            const int64_t count = std::min<int64_t>(h + 1, ByteCount - produced);
            const int64_t got = Stream->Read(Output + produced, count);
            produced += got;
            if (got < count)
                break;
            if (count < h + 1)
                break;
        } else if (h != -128) {
            uint8_t value = 0;
            if (Stream->Read(&value, 1) != 1)
                break;
            const int64_t count = std::min<int64_t>(1 - h, ByteCount - produced);
            std::memset(Output + produced, value, static_cast<size_t>(count));
            produced += count;
        }
    }
    return produced;
}

// ---- installation

namespace {

void ReadDICOMRow(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool Preview,
                  TPxIOProgressInfo& Progress)
{
    PxReadDICOM(Stream, Params, Bitmap, Preview, Progress);
}

}  // namespace

void PxInstallDICOMFormat()
{
    PxSetBuiltInFormatReader(ffDICOM, ReadDICOMRow);
    PxSetFrameCounter(ffDICOM, PxCountDICOMFramesInFile);
}

}  // namespace imaging
