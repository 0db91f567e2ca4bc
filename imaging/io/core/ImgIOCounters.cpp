#include "imaging/io/core/ImgIOCounters.h"

#include <map>
#include <memory>
#include <mutex>

#include "classlib/Streams.h"
#include "classlib/SysUtils.h"
#include "imaging/io/platform/AviCheck.h"
#include "imaging/io/formats/tiff/TiffReader.h"

namespace imaging {

namespace {

std::mutex& CountersLock()
{
    static std::mutex lock;
    return lock;
}

std::map<TPxFileFormatId, TPxFileFrameCounter>& Counters()
{
    static std::map<TPxFileFormatId, TPxFileFrameCounter> counters;
    return counters;
}

TPxFileFrameCounter CounterOf(TPxFileFormatId FileType)
{
    std::lock_guard<std::mutex> guard(CountersLock());
    auto it = Counters().find(FileType);
    return it == Counters().end() ? nullptr : it->second;
}

// An AVI file (by name or content) that opens but fails the structure check:
// the video path's library would trust its sizes. A file that cannot be
// opened is left to the video path.
bool IsRefusedAVI(const std::wstring& FileName)
{
    std::unique_ptr<classlib::TFileStream> stream;
    try {
        stream = std::make_unique<classlib::TFileStream>(FileName, classlib::fmOpenRead | classlib::fmShareDenyWrite);
    } catch (...) {
        return false;
    }
    if (classlib::LowerCase(classlib::ExtractFileExt(FileName)) != L".avi" && !PxIsAVI(*stream))
        return false;
    return PxCheckAVIStructure(*stream) != TPxReadFailure::None;
}

}  // namespace

void PxSetFrameCounter(TPxFileFormatId FileType, TPxFileFrameCounter Counter)
{
    std::lock_guard<std::mutex> guard(CountersLock());
    if (Counter)
        Counters()[FileType] = Counter;
    else
        Counters().erase(FileType);
}

TPxFileFrameCounter PxGetFrameCounter(TPxFileFormatId FileType)
{
    std::lock_guard<std::mutex> guard(CountersLock());
    auto it = Counters().find(FileType);
    return it == Counters().end() ? nullptr : it->second;
}

int32_t PxCountTIFFPagesInFile(const std::wstring& FileName)
{
    classlib::TFileStream stream(FileName, classlib::fmOpenRead | classlib::fmShareDenyWrite);
    return PxCountTIFFPages(&stream);
}

int32_t PxCountFileFrames(const std::wstring& FileName)
{
    TPxFileFormatInfo* row = PxFormatInfoByExtension(classlib::ExtractFileExt(FileName));
    const TPxFileFormatId type = row ? row->TypeNumber : ffUnknown;
    const TPxFormatDescription* format = PxFormatDescription(type);
    if (type == ffUnknown || (format && format->Frames.Count == pxfcVideo)) {
        if (TPxFileFrameCounter video = CounterOf(ffUnknown))
            return IsRefusedAVI(FileName) ? 0 : video(FileName);
        return 0;
    }
    if (!format || format->Frames.Count != pxfcCounter)
        return 1;
    if (TPxFileFrameCounter counter = format->Frames.FileCounter ? format->Frames.FileCounter : CounterOf(type))
        return counter(FileName);
    throw classlib::EInvalidOperation(L"Frame count of " + row->DisplayName + L" files not available");
}

}  // namespace imaging
