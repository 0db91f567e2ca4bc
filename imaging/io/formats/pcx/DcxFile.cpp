#include "imaging/io/formats/pcx/DcxFile.h"

#include <algorithm>
#include <limits>

#include "classlib/Streams.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/formats/pcx/PcxReader.h"
#include "imaging/io/formats/pcx/PcxWriter.h"
#include "imaging/io/core/ReadGuard.h"
#include "imaging/model/PxFileText.h"
#include "imaging/model/PxStreamUtils.h"

namespace imaging {

namespace {

void Put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Puts the stream back where it was, also when an exception leaves.
class TPositionKeeper {
public:
    explicit TPositionKeeper(classlib::TStream* Stream) : s_(Stream), pos_(Stream->GetPosition()) {}
    ~TPositionKeeper()
    {
        try {
            s_->SetPosition(pos_);
        } catch (...) {
        }
    }
    TPositionKeeper(const TPositionKeeper&) = delete;
    TPositionKeeper& operator=(const TPositionKeeper&) = delete;

private:
    classlib::TStream* s_;
    int64_t pos_;
};

}  // namespace

int PxReadDCXTable(classlib::TStream* Stream, std::vector<uint32_t>& Table)
{
    Table.assign(PxDCXMaxPages, 0);
    uint8_t bytes[PxDCXMaxPages * 4];
    const int64_t got = std::max<int64_t>(Stream->Read(bytes, sizeof bytes), 0);
    int count = 0;
    while (count < PxDCXMaxPages && (count + 1) * 4 <= got) {
        const uint32_t offset = PxLe32(bytes + 4 * count);
        if (offset == 0)
            break;
        Table[count++] = offset;
    }
    return count;
}

std::vector<int64_t> PxDCXPageLengths(const std::vector<uint32_t>& Table, int Count, int64_t StreamSize)
{
    Count = std::clamp<int>(Count, 0, static_cast<int>(Table.size()));
    std::vector<int64_t> lengths(static_cast<size_t>(Count), 0);
    for (int i = 0; i < Count; ++i) {
        const uint32_t offset = Table[i];
        int64_t end = StreamSize;
        uint32_t nearest = std::numeric_limits<uint32_t>::max();
        bool found = false;
        for (int j = 0; j < Count; ++j) {
            if (j != i && Table[j] > offset && (!found || Table[j] < nearest)) {
                nearest = Table[j];
                found = true;
            }
        }
        if (found)
            end = nearest;
        lengths[i] = std::max<int64_t>(end - offset, 0);
    }
    return lengths;
}

int PxCountDCXPages(classlib::TStream* Stream)
{
    TPositionKeeper keep(Stream);
    Stream->SetPosition(Stream->GetPosition() + 4);
    std::vector<uint32_t> table;
    return PxReadDCXTable(Stream, table);
}

int32_t PxCountDCXPagesInFile(const std::wstring& FileName)
{
    classlib::TFileStream stream(FileName, classlib::fmOpenRead | classlib::fmShareDenyWrite);
    return PxCountDCXPages(&stream);
}

void PxReadDCX(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress,
               bool Preview)
{
    try {
        const int64_t base = Stream->GetPosition();
        if (!PxIsDCX(*Stream))
            return Progress.Fail(TPxReadFailure::BadHeader);
        Stream->SetPosition(base + 4);
        std::vector<uint32_t> table;
        const int count = PxReadDCXTable(Stream, table);
        if (count == 0)
            return Progress.Fail(TPxReadFailure::NoImage);
        const int index = std::clamp(Params.DCXImageIndex, 0, count - 1);
        Params.SetImageIndex(index);
        Progress.Count = count;
        const std::vector<int64_t> lengths = PxDCXPageLengths(table, count, Stream->GetSize() - base);
        Stream->SetPosition(base + table[index]);
        PxReadPCX(Stream, Bitmap, Params, lengths[index], Progress, Preview);
    } catch (...) {
        Progress.Abort();
    }
}

void PxWriteDCX(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress)
{
    TPxAbortFlagScope abortScope(Progress);
    bool& aborting = *Progress.Aborting;

    // The pages the stream holds now.
    const int64_t size = Stream->GetSize();
    std::vector<uint32_t> table;
    int count = 0;
    std::vector<int64_t> lengths;
    if (size > 0) {
        Stream->SetPosition(0);
        if (!PxIsDCX(*Stream)) {
            aborting = true;
            return;
        }
        Stream->SetPosition(4);
        count = PxReadDCXTable(Stream, table);
        lengths = PxDCXPageLengths(table, count, size);
    }
    const int index = Params.DCXImageIndex;
    const bool adds = index >= 0 && index <= count;
    if (adds && count + 1 > PxDCXMaxPages) {
        // The page table could not list the new page.
        aborting = true;
        return;
    }

    // The new file, built in memory: magic, room for the table (with its
    // closing 0 entry), then the pages.
    classlib::TMemoryStream file;
    uint8_t magic[4];
    Put32(magic, PxDCXMagic);
    file.WriteBuffer(magic, 4);
    const int entries = count + 2;
    std::vector<uint8_t> tableBytes(static_cast<size_t>(entries) * 4, 0);
    file.WriteBuffer(tableBytes.data(), static_cast<int64_t>(tableBytes.size()));
    int noted = 0;
    auto note = [&]() {
        const int64_t at = file.GetPosition();
        if (at > std::numeric_limits<uint32_t>::max())
            return false;
        Put32(tableBytes.data() + 4 * noted++, static_cast<uint32_t>(at));
        return true;
    };
    for (int p = 0;; ++p) {
        if (p == index) {
            if (!note()) {
                aborting = true;
                return;
            }
            PxWritePCX(&file, Bitmap, Params, Progress);
            if (aborting)
                return;
        }
        if (p == count)
            break;
        if (!note()) {
            aborting = true;
            return;
        }
        Stream->SetPosition(table[p]);
        if (lengths[p] > 0 && PxCopyStream(&file, Stream, lengths[p]) != lengths[p]) {
            aborting = true;
            return;
        }
    }
    file.SetPosition(4);
    file.WriteBuffer(tableBytes.data(), static_cast<int64_t>(tableBytes.size()));

    Stream->SetSize(0);
    Stream->SetPosition(0);
    PxSafeStreamWrite(Stream, aborting, file.GetMemory(), file.GetSize());
}

}  // namespace imaging
