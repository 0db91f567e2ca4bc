#include "imaging/io/formats/dicom/LosslessJpeg.h"

#include <cstddef>
#include <utility>
#include <vector>

#include "classlib/SysUtils.h"

namespace imaging {

namespace {

struct THuffman {
    bool Defined = false;
    uint8_t Bits[17] = {};  // codes of each length 1..16
    std::vector<uint8_t> Values;
    int32_t MinCode[17] = {}, MaxCode[18] = {}, ValPtr[17] = {};

    void Build()
    {
        int32_t code = 0, k = 0;
        for (int l = 1; l <= 16; ++l) {
            ValPtr[l] = k;
            MinCode[l] = code;
            code += Bits[l];
            k += Bits[l];
            MaxCode[l] = Bits[l] ? code - 1 : -1;
            code <<= 1;
        }
        MaxCode[17] = 0x7FFFFFFF;
    }
};

class TBitReader {
public:
    TBitReader(const uint8_t* Data, size_t Size, size_t Pos) : data_(Data), size_(Size), pos_(Pos) {}

    // One bit; past the end of the data (or at a marker) zeros are given and
    // counted, so the caller can tell a frame that ran out of data.
    int Bit()
    {
        if (bitsLeft_ == 0) {
            current_ = NextByte();
            bitsLeft_ = 8;
        }
        --bitsLeft_;
        return (current_ >> bitsLeft_) & 1;
    }
    int Bits(int n)
    {
        int v = 0;
        for (int i = 0; i < n; ++i)
            v = (v << 1) | Bit();
        return v;
    }
    // Drops the rest of the byte and reads an expected restart marker.
    void Restart()
    {
        bitsLeft_ = 0;
        if (atMarker_ && pos_ + 1 < size_ && data_[pos_] == 0xFF && data_[pos_ + 1] >= 0xD0 && data_[pos_ + 1] <= 0xD7) {
            pos_ += 2;
            atMarker_ = false;
        } else if (!atMarker_) {
            // Find the marker ourselves (padding bits may remain).
            while (pos_ + 1 < size_ && !(data_[pos_] == 0xFF && data_[pos_ + 1] >= 0xD0 && data_[pos_ + 1] <= 0xD7))
                ++pos_;
            if (pos_ + 1 < size_)
                pos_ += 2;
        }
    }
    size_t Position() const { return pos_; }
    int64_t Overrun() const { return overrun_; }

private:
    uint8_t NextByte()
    {
        if (atMarker_ || pos_ >= size_) {
            ++overrun_;
            return 0;
        }
        uint8_t b = data_[pos_];
        if (b == 0xFF) {
            if (pos_ + 1 < size_ && data_[pos_ + 1] == 0x00) {
                pos_ += 2;
                return 0xFF;
            }
            atMarker_ = true;  // a marker ends the coded data
            ++overrun_;
            return 0;
        }
        ++pos_;
        return b;
    }

    const uint8_t* data_;
    size_t size_;
    size_t pos_;
    int bitsLeft_ = 0;
    uint8_t current_ = 0;
    bool atMarker_ = false;
    int64_t overrun_ = 0;
};

int DecodeCategory(TBitReader& In, const THuffman& T)
{
    int32_t code = In.Bit();
    int l = 1;
    while (l <= 16 && code > T.MaxCode[l]) {
        code = (code << 1) | In.Bit();
        ++l;
    }
    if (l > 16)
        return -1;
    const size_t k = static_cast<size_t>(T.ValPtr[l] + code - T.MinCode[l]);
    return k < T.Values.size() ? T.Values[k] : -1;
}

// What the markers before the coded data say.
struct TFrame {
    int Precision = 0, Height = 0, Width = 0, Components = 0;
    bool Lossless = false, FrameSeen = false;
    THuffman Tables[4];
    int RestartInterval = 0;
    int ScanComponents = 0, Predictor = 0;
    int TableOf[4] = {0, 0, 0, 0};
    size_t ScanData = 0;  // where the coded data start; 0 without a scan
};

// Reads the Huffman tables of a DHT segment [Seg, SegEnd); false when one
// is malformed.
bool ReadTables(const std::vector<uint8_t>& Buf, size_t Seg, size_t SegEnd, TFrame& F)
{
    size_t q = Seg;
    while (q < SegEnd) {
        if (q + 17 > SegEnd)
            return false;
        const int id = Buf[q] & 0x0F;
        THuffman t;
        t.Defined = true;
        int total = 0;
        for (int l = 1; l <= 16; ++l) {
            t.Bits[l] = Buf[q + l];
            total += t.Bits[l];
        }
        if (total > 17 || q + 17 + static_cast<size_t>(total) > SegEnd)
            return false;
        t.Values.assign(Buf.begin() + static_cast<std::ptrdiff_t>(q + 17),
                        Buf.begin() + static_cast<std::ptrdiff_t>(q + 17 + total));
        for (uint8_t v : t.Values)
            if (v > 16)
                return false;
        if (id > 3)
            return false;
        t.Build();
        F.Tables[id] = t;
        q += 17 + static_cast<size_t>(total);
    }
    return true;
}

// Walks the markers up to the start of the first scan's coded data; false
// for a segment that is cut short or malformed, or a second scan.
bool ReadMarkers(const std::vector<uint8_t>& Buf, TFrame& F)
{
    const size_t n = Buf.size();
    auto be16 = [&](size_t p) { return static_cast<int>((Buf[p] << 8) | Buf[p + 1]); };
    size_t p = 0;
    while (p + 1 < n) {
        if (Buf[p] != 0xFF) {
            ++p;
            continue;
        }
        const uint8_t m = Buf[p + 1];
        if (m == 0xFF) {
            ++p;
            continue;
        }
        p += 2;
        if (m == 0xD8 || m == 0x01 || (m >= 0xD0 && m <= 0xD7))
            continue;
        if (m == 0xD9)
            break;
        if (p + 2 > n)
            return false;
        const int length = be16(p);
        if (length < 2 || p + static_cast<size_t>(length) > n)
            return false;
        const size_t seg = p + 2, segEnd = p + static_cast<size_t>(length);
        if (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) {
            if (length < 8)
                return false;
            F.Precision = Buf[seg];
            F.Height = be16(seg + 1);
            F.Width = be16(seg + 3);
            F.Components = Buf[seg + 5];
            F.Lossless = m == 0xC3;
            F.FrameSeen = true;
        } else if (m == 0xC4) {
            if (!ReadTables(Buf, seg, segEnd, F))
                return false;
        } else if (m == 0xDD) {
            if (length < 4)
                return false;
            F.RestartInterval = be16(seg);
        } else if (m == 0xDA) {
            if (F.ScanData != 0 || length < 3)
                return false;
            F.ScanComponents = Buf[seg];
            if (F.ScanComponents < 1 || F.ScanComponents > 4 || length < 6 + 2 * F.ScanComponents)
                return false;
            for (int k = 0; k < F.ScanComponents; ++k)
                F.TableOf[k] = Buf[seg + 2 + 2 * k] >> 4;
            F.Predictor = Buf[seg + 1 + 2 * F.ScanComponents];
            F.ScanData = segEnd;
            break;  // the coded data follow
        }
        p = segEnd;
    }
    return true;
}

}  // namespace

bool PxDecodeLosslessJPEG(classlib::TStream* Stream, uint16_t* Output16, uint8_t* Output8, int64_t OutputCount,
                          const TPxProgressEvent& Handler, classlib::TObject* Sender, int64_t ByteCount)
{
    if (!Stream || ByteCount < 32 || (Output16 == nullptr) == (Output8 == nullptr))
        return false;
    if (ByteCount > Stream->GetSize() - Stream->GetPosition())
        return false;
    std::vector<uint8_t> buf(static_cast<size_t>(ByteCount));
    if (Stream->Read(buf.data(), ByteCount) != ByteCount)
        return false;
    const size_t n = buf.size();

    TFrame f;
    if (!ReadMarkers(buf, f))
        return false;
    if (!f.FrameSeen || !f.Lossless || f.ScanData == 0 || f.Predictor < 1 || f.Predictor > 7 || f.Width <= 0 ||
        f.Height <= 0)
        return false;
    if (f.ScanComponents != f.Components || f.Precision < 2 || f.Precision > 16)
        return false;
    const int width = f.Width, height = f.Height, components = f.Components, predictor = f.Predictor;
    const bool eight = components == 1 && f.Precision <= 8 && Output8;
    const bool triple = components == 3 && f.Precision <= 8 && Output8;
    const bool sixteen = components == 1 && f.Precision > 8 && Output16;
    if (!eight && !triple && !sixteen)
        return false;
    const int64_t samples = static_cast<int64_t>(width) * height * components;
    if (samples > OutputCount)
        return false;
    const THuffman* useTable[4];
    for (int k = 0; k < components; ++k) {
        const THuffman& t = f.Tables[f.TableOf[k] & 3];
        useTable[k] = t.Defined ? &t : (f.Tables[0].Defined ? &f.Tables[0] : nullptr);
        if (!useTable[k])
            return false;
    }

    TBitReader bits(buf.data(), n, f.ScanData);
    const int initial = 1 << (f.Precision - 1);
    const uint32_t mask = (1u << f.Precision) - 1;
    int lastPercent = -1;
    int64_t mcus = 0;
    bool restartRow = false;  // a restart happened in the current row
    std::vector<int> previous(static_cast<size_t>(width) * components), current(previous.size());
    for (int y = 0; y < height; ++y) {
        restartRow = false;
        for (int x = 0; x < width; ++x) {
            // After a restart the row goes on as the first row of a scan.
            const bool resetHere = f.RestartInterval > 0 && mcus % f.RestartInterval == 0;
            if (resetHere && mcus > 0) {
                bits.Restart();
                restartRow = true;
            }
            for (int k = 0; k < components; ++k) {
                const size_t i = static_cast<size_t>(x) * components + k;
                int predicted;
                if (resetHere || (y == 0 && x == 0)) {
                    predicted = initial;
                } else if (y == 0 || restartRow) {
                    predicted = current[i - components];
                } else if (x == 0) {
                    predicted = previous[i];
                } else {
                    const int ra = current[i - components], rb = previous[i], rc = previous[i - components];
                    switch (predictor) {
                    case 1: predicted = ra; break;
                    case 2: predicted = rb; break;
                    case 3: predicted = rc; break;
                    case 4: predicted = ra + rb - rc; break;
                    case 5: predicted = ra + ((rb - rc) >> 1); break;
                    case 6: predicted = rb + ((ra - rc) >> 1); break;
                    default: predicted = (ra + rb) >> 1; break;
                    }
                }
                const int category = DecodeCategory(bits, *useTable[k]);
                if (category < 0)
                    return false;
                int diff = 0;
                if (category == 16) {
                    diff = 32768;
                } else if (category > 0) {
                    diff = bits.Bits(category);
                    if (diff < (1 << (category - 1)))
                        diff -= (1 << category) - 1;
                }
                current[i] = static_cast<int>(static_cast<uint32_t>(predicted + diff) & 0xFFFFu & mask);
            }
            ++mcus;
        }
        if (bits.Overrun() > 2)
            return false;  // the coded data ended before the frame
        const size_t base = static_cast<size_t>(y) * width * components;
        for (size_t i = 0; i < current.size(); ++i) {
            if (sixteen)
                Output16[base + i] = static_cast<uint16_t>(current[i]);
            else
                Output8[base + i] = static_cast<uint8_t>(current[i]);
        }
        std::swap(previous, current);
        if (Handler) {
            const int per = static_cast<int>(classlib::Trunc(static_cast<double>(bits.Position()) / n * 100));
            if (per != lastPercent) {
                lastPercent = per;
                Handler(Sender, per);
            }
        }
    }
    return true;
}

}  // namespace imaging
