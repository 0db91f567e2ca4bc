#include "imaging/io/core/FileFormats.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "classlib/Streams.h"
#include "classlib/SysUtils.h"
#include "imaging/io/core/FormatTable.h"
#include "imaging/io/core/IOStartup.h"
#include "imaging/io/core/ReadGuard.h"
#include "imaging/model/PxFileText.h"

namespace imaging {

namespace {

// ---- the registry

using TRegistry = std::vector<std::unique_ptr<TPxFileFormatInfo>>;

std::unique_ptr<TRegistry>& Registry()
{
    static std::unique_ptr<TRegistry> registry;
    return registry;
}

struct TRoutines {
    TPxFormatReader Reader;
    TPxFormatWriter Writer;
};

// The toolkit's own routines by file type; function-local so that format
// units may register from their static initialisation.
std::map<TPxFileFormatId, TRoutines>& BuiltInRoutines()
{
    static std::map<TPxFileFormatId, TRoutines> routines;
    return routines;
}

TPxAvailableTest& HDPhotoAvailableTest()
{
    static TPxAvailableTest test = nullptr;
    return test;
}

TPxFileFormatInfo* BuiltInRowById(TPxFileFormatId type)
{
    if (!Registry())
        return nullptr;
    for (auto& row : *Registry())
        if (row->IsBuiltIn && row->TypeNumber == type)
            return row.get();
    return nullptr;
}

// Puts the registered routines of a built-in type into its live row, as far
// as the row's format is read or written by the toolkit.
void ApplyBuiltInRoutines(TPxFileFormatId type)
{
    TPxFileFormatInfo* row = BuiltInRowById(type);
    const TPxFormatDescription* def = PxFormatDescription(type);
    if (!row || !def)
        return;
    auto it = BuiltInRoutines().find(type);
    row->Reader = (def->Reads && it != BuiltInRoutines().end()) ? it->second.Reader : TPxFormatReader();
    row->Writer = (def->Writes && it != BuiltInRoutines().end()) ? it->second.Writer : TPxFormatWriter();
    if (type == ffGIF)
        PxSyncGIFFormatRow();
}

std::wstring Lower(const std::wstring& s) { return classlib::WideLowerCase(s); }

// An extension as the lists are compared with: lower case, one leading "."
// dropped.
std::wstring ComparableExtension(const std::wstring& Extension)
{
    std::wstring ext = Lower(Extension);
    if (!ext.empty() && ext[0] == L'.')
        ext.erase(0, 1);
    return ext;
}

// True when the ";"-separated List (read up to its first empty token) holds
// Ext, compared case-insensitively.
bool ListHolds(std::wstring List, const std::wstring& Ext)
{
    for (std::wstring token = PxNextExtensionToken(List); !token.empty(); token = PxNextExtensionToken(List))
        if (Lower(token) == Ext)
            return true;
    return false;
}

// ---- byte access for the content tests

// Restores a stream position on every way out; a failing seek is ignored
// (the stream is broken then anyway).
class TPositionGuard {
public:
    TPositionGuard(classlib::TStream& stream, int64_t pos) : stream_(stream), pos_(pos) {}
    ~TPositionGuard()
    {
        try {
            stream_.Seek(pos_, classlib::soBeginning);
        } catch (...) {
        }
    }
    TPositionGuard(const TPositionGuard&) = delete;
    TPositionGuard& operator=(const TPositionGuard&) = delete;

private:
    classlib::TStream& stream_;
    int64_t pos_;
};

// Reads up to count bytes at the absolute position pos into buf; the bytes
// that the stream does not hold are zero. Returns the number read.
int64_t ReadAt(classlib::TStream& s, int64_t pos, void* buf, int64_t count)
{
    std::memset(buf, 0, static_cast<size_t>(count));
    if (pos < 0 || count <= 0)
        return 0;
    s.Seek(pos, classlib::soBeginning);
    int64_t done = 0;
    auto* p = static_cast<uint8_t*>(buf);
    while (done < count) {
        const int64_t n = s.Read(p + done, count - done);
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

// The bytes up to the first zero within len form exactly text.
bool TextIs(const uint8_t* p, size_t len, const char* text)
{
    size_t n = 0;
    while (n < len && p[n] != 0)
        ++n;
    return n == std::strlen(text) && std::memcmp(p, text, n) == 0;
}

// ---- a minimal TIFF directory reader for the header tests

struct TIFDEntry {
    uint16_t Tag;
    uint16_t Type;
    uint32_t Count;
    uint32_t Value;  // the value word as a whole, in host order
};

struct TIFDHeader {
    bool LittleEndian = true;
    std::vector<TIFDEntry> Entries;

    const TIFDEntry* Find(uint16_t tag) const
    {
        for (const TIFDEntry& e : Entries)
            if (e.Tag == tag)
                return &e;
        return nullptr;
    }
    // The value of a tag as the directory reader gives it: SHORT and BYTE
    // from the half or byte of the value word that the byte order gives.
    uint32_t Value(uint16_t tag, uint32_t def) const
    {
        const TIFDEntry* e = Find(tag);
        if (!e)
            return def;
        if (e->Type == 3)
            return LittleEndian ? (e->Value & 0xFFFF) : (e->Value >> 16);
        if (e->Type == 1)
            return LittleEndian ? (e->Value & 0xFF) : (e->Value >> 24);
        return e->Value;
    }
};

// Reads the byte order and the first directory of a TIFF-structured stream
// at base (offsets are relative to base). False when the order mark is
// neither "II" nor "MM", or the directory is empty or not wholly inside the
// stream. firstIfd receives the first-directory offset.
bool ReadFirstIFD(classlib::TStream& s, int64_t base, int64_t size, TIFDHeader& ifd, uint32_t& firstIfd,
                  bool checkMMByte8)
{
    uint8_t h[9];
    if (ReadAt(s, base, h, 9) < 8)
        return false;
    if (h[0] == 'I' && h[1] == 'I')
        ifd.LittleEndian = true;
    else if (h[0] == 'M' && h[1] == 'M')
        ifd.LittleEndian = false;
    else
        return false;
    firstIfd = ifd.LittleEndian ? PxLe32(h + 4) : PxBe32(h + 4);
    if (base + static_cast<int64_t>(firstIfd) >= size)
        return false;
    if (!ifd.LittleEndian && checkMMByte8 && h[8] == 0xBA)
        return false;
    const int64_t at = base + firstIfd;
    uint8_t nb[2];
    if (ReadAt(s, at, nb, 2) < 2)
        return false;
    const uint16_t n = ifd.LittleEndian ? PxLe16(nb) : PxBe16(nb);
    if (n == 0 || at + 2 + int64_t(n) * 12 > size)
        return false;
    std::vector<uint8_t> raw(size_t(n) * 12);
    if (ReadAt(s, at + 2, raw.data(), int64_t(raw.size())) < int64_t(raw.size()))
        return false;
    ifd.Entries.resize(n);
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* e = raw.data() + i * 12;
        TIFDEntry& d = ifd.Entries[i];
        if (ifd.LittleEndian) {
            d = {PxLe16(e), PxLe16(e + 2), PxLe32(e + 4), PxLe32(e + 8)};
        } else {
            d = {PxBe16(e), PxBe16(e + 2), PxBe32(e + 4), PxBe32(e + 8)};
        }
    }
    return true;
}

bool IsIconDirectory(classlib::TStream& s, uint16_t wantedType)
{
    const int64_t p = s.GetPosition();
    TPositionGuard guard(s, p);
    const int64_t avail = s.GetSize() - p;
    if (avail < 23)
        return false;
    uint8_t h[6] = {};  // a short read leaves zeros, not stack bytes
    ReadAt(s, p, h, 6);
    const uint16_t count = PxLe16(h + 4);
    if (PxLe16(h) != 0 || PxLe16(h + 2) != wantedType || count == 0)
        return false;
    const int64_t tableEnd = 6 + int64_t(count) * 16;
    if (tableEnd > avail)
        return false;
    std::vector<uint8_t> table(size_t(count) * 16);
    ReadAt(s, p + 6, table.data(), int64_t(table.size()));
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* e = table.data() + size_t(i) * 16;
        const uint32_t afterEntry = 6 + (i + 1) * 16;
        if (e[3] != 0 || PxLe32(e + 8) == 0 || PxLe32(e + 12) < afterEntry)
            return false;
    }
    return true;
}

// ---- detection steps

// Every step starts with the test its format's description gives.
std::array<TPxContentTest, pdsCount>& ContentTests()
{
    static std::array<TPxContentTest, pdsCount> tests = [] {
        std::array<TPxContentTest, pdsCount> initial{};
        for (const TPxFormatDescription& d : PxFormatTable())
            if (d.Step >= 0 && d.Step < pdsCount)
                initial[d.Step] = d.StepTest;
        return initial;
    }();
    return tests;
}

bool RunStep(TPxDetectStep step, classlib::TStream& s, int64_t p)
{
    TPxContentTest test = ContentTests()[step];
    if (!test)
        return false;
    s.Seek(p, classlib::soBeginning);
    return test(s);
}

// The step of a description, when the stream is long enough for it.
bool RunFormatStep(const TPxFormatDescription& d, classlib::TStream& s, int64_t p, int64_t size)
{
    return d.Step >= 0 && d.Step < pdsCount && size > d.StepAbove && RunStep(d.Step, s, p);
}

const TPxFormatDescription* StepFormat(TPxDetectStep step)
{
    for (const TPxFormatDescription& d : PxFormatTable())
        if (d.Step == step)
            return &d;
    return nullptr;
}

TPxFileFormatId DetectAt(classlib::TStream& s, int64_t p)
{
    const int64_t size = s.GetSize();
    uint8_t h[16] = {};  // a short read leaves zeros, not stack bytes
    ReadAt(s, p, h, sizeof h);
    s.Seek(p, classlib::soBeginning);

    // Header tests: the I/O object's stream block headers and the fixed
    // signatures; they exclude each other by their first byte.
    for (const TPxFormatDescription& d : PxFormatTable()) {
        if (d.StreamTag && size > 12 && TextIs(h, 5, d.StreamTag))
            return d.Type;
        if (d.HeaderTest) {
            s.Seek(p, classlib::soBeginning);
            if (d.HeaderTest(s))
                return d.Type;
        }
    }

    // The steps in their order, then the registered rows, then camera raw.
    for (int step = 0; step <= pdsJPEGSearch; ++step) {
        const TPxFormatDescription* d = StepFormat(static_cast<TPxDetectStep>(step));
        if (d && RunFormatStep(*d, s, p, size))
            return d->Type;
    }

    for (int i = 0; i < PxFormatCount(); ++i) {
        TPxFileFormatInfo* row = PxFormatInfoByIndex(i);
        if (!row || !row->Tester)
            continue;
        s.Seek(p, classlib::soBeginning);
        if (row->Tester(&s, row->TypeNumber))
            return row->TypeNumber;
    }
    const TPxFormatDescription* raw = StepFormat(pdsCameraRaw);
    if (raw && RunFormatStep(*raw, s, p, size))
        return raw->Type;
    return ffUnknown;
}

}  // namespace

// ---- registry

void PxBuildFormatRegistry()
{
    PxFreeFormatRegistry();
    Registry() = std::make_unique<TRegistry>();
    for (const TPxFormatDescription& def : PxFormatTable()) {
        if (!def.Name)
            continue;
        if (def.Available) {
            const TPxAvailableTest available = def.Available();
            if (!(available && available()))
                continue;
        }
        auto row = std::make_unique<TPxFileFormatInfo>();
        row->TypeNumber = def.Type;
        row->DisplayName = def.Name;
        row->ExtensionList = def.Extensions;
        row->IsBuiltIn = true;
        row->PreviewPage = def.PreviewPage;
        row->Description = &def;
        Registry()->push_back(std::move(row));
    }
    for (const TPxFormatDescription& def : PxFormatTable())
        ApplyBuiltInRoutines(def.Type);
}

void PxFreeFormatRegistry() { Registry().reset(); }

bool PxFormatRegistryExists() { return Registry() != nullptr; }

bool PxRegisterFileFormat(TPxFileFormatInfo* Row)
{
    std::unique_ptr<TPxFileFormatInfo> owned(Row);
    if (!owned || !Registry())
        return false;
    Registry()->push_back(std::move(owned));
    return true;
}

void PxUnregisterFileFormat(TPxFileFormatId FileType)
{
    if (!Registry())
        return;
    TRegistry& rows = *Registry();
    for (auto it = rows.begin(); it != rows.end(); ++it) {
        if ((*it)->TypeNumber == FileType) {
            rows.erase(it);
            return;
        }
    }
}

int PxFormatCount() { return Registry() ? static_cast<int>(Registry()->size()) : 0; }

TPxFileFormatInfo* PxFormatInfoByIndex(int Index)
{
    if (Index < 0 || Index >= PxFormatCount())
        return nullptr;
    return (*Registry())[static_cast<size_t>(Index)].get();
}

TPxFileFormatInfo* PxFormatInfoById(TPxFileFormatId FileType)
{
    if (!Registry())
        return nullptr;
    for (auto& row : *Registry())
        if (row->TypeNumber == FileType)
            return row.get();
    return nullptr;
}

std::wstring PxNextExtensionToken(std::wstring& List)
{
    const size_t sep = List.find(L';');
    std::wstring token;
    if (sep == std::wstring::npos) {
        token = List;
        List.clear();
    } else {
        token = List.substr(0, sep);
        List.erase(0, sep + 1);
    }
    return token;
}

TPxFileFormatInfo* PxFormatInfoByExtension(const std::wstring& Extension)
{
    const std::wstring ext = ComparableExtension(Extension);
    if (ext.empty() || !Registry())
        return nullptr;
    for (auto& row : *Registry())
        if (ListHolds(row->ExtensionList, ext))
            return row.get();
    return nullptr;
}

int PxFormatExtensionCount(TPxFileFormatId FileType)
{
    const TPxFileFormatInfo* row = PxFormatInfoById(FileType);
    if (!row)
        return 0;
    std::wstring list = row->ExtensionList;
    int count = 0;
    while (!PxNextExtensionToken(list).empty())
        ++count;
    return count;
}

std::wstring PxFormatExtension(TPxFileFormatId FileType, int Index)
{
    const TPxFileFormatInfo* row = PxFormatInfoById(FileType);
    if (!row || Index < 0)
        return std::wstring();
    std::wstring list = row->ExtensionList;
    for (int i = 0;; ++i) {
        std::wstring token = PxNextExtensionToken(list);
        if (token.empty() || i == Index)
            return token;
    }
}

bool PxIsReadableFile(const std::wstring& FileName)
{
    const TPxFileFormatInfo* row = PxFormatInfoByExtension(PxExtractFileExt(FileName, false));
    return row && row->Reader;
}

void PxSetBuiltInFormatReader(TPxFileFormatId FileType, TPxFormatReader Reader)
{
    BuiltInRoutines()[FileType].Reader = std::move(Reader);
    ApplyBuiltInRoutines(FileType);
}

void PxSetBuiltInFormatWriter(TPxFileFormatId FileType, TPxFormatWriter Writer)
{
    BuiltInRoutines()[FileType].Writer = std::move(Writer);
    ApplyBuiltInRoutines(FileType);
}

void PxSyncGIFFormatRow()
{
    TPxFileFormatInfo* row = BuiltInRowById(ffGIF);
    if (!row)
        return;
    auto it = BuiltInRoutines().find(ffGIF);
    const bool known = it != BuiltInRoutines().end();
    row->Reader = (known && PxGlobalGIFLZWDecompress) ? it->second.Reader : TPxFormatReader();
    row->Writer = (known && PxGlobalGIFLZWCompress) ? it->second.Writer : TPxFormatWriter();
}

void PxSetHDPhotoAvailableTest(TPxAvailableTest Test) { HDPhotoAvailableTest() = Test; }

TPxAvailableTest PxGetHDPhotoAvailableTest() { return HDPhotoAvailableTest(); }

// ---- descriptions

const TPxFormatDescription* PxFormatDescription(TPxFileFormatId FileType)
{
    if (FileType == ffUnknown)
        return nullptr;
    for (const TPxFormatDescription& d : PxFormatTable())
        if (d.Type == FileType)
            return &d;
    return nullptr;
}

const TPxFormatDescription* PxFormatDescriptionBySaveExtension(const std::wstring& Extension)
{
    const std::wstring ext = ComparableExtension(Extension);
    if (ext.empty())
        return nullptr;
    for (const TPxFormatDescription& d : PxFormatTable())
        if (d.SaveExtensions && ListHolds(d.SaveExtensions, ext))
            return &d;
    return nullptr;
}

// ---- detection

TPxFileFormatId PxDetectStepFormat(TPxDetectStep Step)
{
    const TPxFormatDescription* d = StepFormat(Step);
    return d ? d->Type : ffUnknown;
}

TPxContentTest PxSetContentTest(TPxDetectStep Step, TPxContentTest Test)
{
    if (Step < 0 || Step >= pdsCount)
        return nullptr;
    return std::exchange(ContentTests()[Step], Test);
}

TPxContentTest PxGetContentTest(TPxDetectStep Step)
{
    return (Step >= 0 && Step < pdsCount) ? ContentTests()[Step] : nullptr;
}

TPxFileFormatId PxDetectStreamFormat(classlib::TStream& Stream)
{
    int64_t p = 0;
    try {
        p = Stream.GetPosition();
    } catch (...) {
        return ffUnknown;
    }
    TPositionGuard guard(Stream, p);
    try {
        return DetectAt(Stream, p);
    } catch (...) {
        return ffUnknown;
    }
}

namespace {

// The content's type reconciled with the extension of FileName.
TPxFileFormatId ReconcileWithExtension(TPxFileFormatId result, const std::wstring& FileName, bool Check)
{
    const TPxFileFormatInfo* row = PxFormatInfoByExtension(PxExtractFileExt(FileName, false));
    if (row && row->TypeNumber == ffRAW && result == ffTIFF)
        return ffRAW;
    if (row && !row->IsBuiltIn)
        return row->TypeNumber;
    if (Check && result != ffUnknown) {
        if (!row)
            return ffUnknown;
        // Icons and cursors share one file structure: either extension
        // agrees with either content.
        const bool iconRow = row->TypeNumber == ffICO || row->TypeNumber == ffCUR;
        if (iconRow && (result == ffICO || result == ffCUR))
            result = row->TypeNumber;
        if (row->TypeNumber != result)
            result = ffUnknown;
    }
    return result;
}

}  // namespace

TPxFileFormatId PxDetectFileFormat(const std::wstring& FileName, bool Check)
{
    TPxFileFormatId result = ffUnknown;
    try {
        if (!FileName.empty() && PxFileExists(FileName)) {
            TPxWideFileStream stream(FileName, classlib::fmOpenRead | classlib::fmShareDenyWrite);
            result = PxDetectStreamFormat(stream);
        }
    } catch (...) {
        result = ffUnknown;
    }
    return ReconcileWithExtension(result, FileName, Check);
}

TPxFileFormatId PxDetectFileContentFormat(classlib::TStream& Content, const std::wstring& FileName, bool Check)
{
    return ReconcileWithExtension(PxDetectStreamFormat(Content), FileName, Check);
}

// ---- content tests

bool PxIsAVI(classlib::TStream& Stream)
{
    const int64_t p = Stream.GetPosition();
    TPositionGuard guard(Stream, p);
    uint8_t h[12] = {};  // a short read leaves zeros, not stack bytes
    ReadAt(Stream, p, h, sizeof h);
    return std::memcmp(h, "RIFF", 4) == 0 && std::memcmp(h + 8, "AVI ", 4) == 0;
}

bool PxIsPCX(classlib::TStream& Stream)
{
    const int64_t p = Stream.GetPosition();
    TPositionGuard guard(Stream, p);
    uint8_t h[128];
    if (ReadAt(Stream, p, h, sizeof h) < int64_t(sizeof h))
        return false;
    const uint8_t version = h[1], encoding = h[2], bits = h[3], planes = h[65];
    // Version 1 does not exist; a Targa header with a 10-byte image ID has
    // its colour map type (0 or 1) here and its image type (1 or more, 2 or
    // more without colour map) as the encoding, so it never passes.
    if (h[0] != 10 || version > 5 || version == 1 || encoding > 1)
        return false;
    bool combination = false;
    switch (bits) {
    case 1: combination = planes >= 1 && planes <= 4; break;
    case 2:
    case 4: combination = planes == 1; break;
    case 8: combination = planes == 1 || planes == 3 || planes == 4; break;
    default: break;
    }
    if (!combination)
        return false;
    const uint16_t xmin = PxLe16(h + 4), ymin = PxLe16(h + 6), xmax = PxLe16(h + 8), ymax = PxLe16(h + 10);
    if (xmax < xmin || ymax < ymin)
        return false;
    const uint32_t width = uint32_t(xmax) - xmin + 1;
    const uint32_t rowBytes = (width * bits + 7) / 8;
    return PxLe16(h + 66) >= rowBytes;
}

namespace {

// The first directory of a TIFF header at the position P of a stream that
// holds more than the header's 8 bytes from there; false otherwise or when
// the directory cannot be read (Strict as ReadFirstIFD).
bool ReadFirstIFDAfterHeader(classlib::TStream& Stream, int64_t P, TIFDHeader& Ifd, bool Strict)
{
    const int64_t size = Stream.GetSize();
    if (size - P <= 8)
        return false;
    uint32_t first = 0;
    return ReadFirstIFD(Stream, P, size, Ifd, first, Strict);
}

}  // namespace

bool PxIsTIFF(classlib::TStream& Stream)
{
    const int64_t p = Stream.GetPosition();
    TPositionGuard guard(Stream, p);
    TIFDHeader ifd;
    if (!ReadFirstIFDAfterHeader(Stream, p, ifd, true))
        return false;
    return ifd.Find(256) && ifd.Find(257);
}

bool PxIsCameraRawTIFF(classlib::TStream& Stream)
{
    const int64_t p = Stream.GetPosition();
    TPositionGuard guard(Stream, p);
    TIFDHeader ifd;
    uint32_t first = 0;
    if (!ReadFirstIFD(Stream, p, Stream.GetSize(), ifd, first, false))
        return false;
    const TIFDEntry* dng = ifd.Find(50706);
    if (dng && dng->Type == 1 && dng->Count == 4)
        return true;
    const TIFDEntry* photometric = ifd.Find(262);
    if (photometric && photometric->Type == 3 && photometric->Count == 1) {
        const uint32_t v = ifd.Value(262, 0);
        if (v == 32803 || v == 34892)
            return true;
    }
    return ifd.Find(330) && ifd.Find(37398) && ifd.Value(256, 0) < 200 && ifd.Value(257, 0) < 200;
}

bool PxIsHDPhoto(classlib::TStream& Stream)
{
    const int64_t p = Stream.GetPosition();
    TPositionGuard guard(Stream, p);
    TIFDHeader ifd;
    if (!ReadFirstIFDAfterHeader(Stream, p, ifd, false) || !ifd.LittleEndian)
        return false;
    for (uint16_t tag : {48256, 48257, 48129, 48320, 48321})
        if (!ifd.Find(tag))
            return false;
    return true;
}

bool PxIsPNG(classlib::TStream& Stream)
{
    const int64_t p = Stream.GetPosition();
    TPositionGuard guard(Stream, p);
    uint8_t h[8] = {};  // a short read leaves zeros, not stack bytes
    ReadAt(Stream, p, h, sizeof h);
    return h[0] == 0x89 && h[1] == 'P' && h[2] == 'N' && h[3] == 'G';
}

bool PxIsDICOM(classlib::TStream& Stream)
{
    const int64_t p = Stream.GetPosition();
    TPositionGuard guard(Stream, p);
    uint8_t h[4];
    return ReadAt(Stream, p + 128, h, 4) == 4 && std::memcmp(h, "DICM", 4) == 0;
}

bool PxIsICO(classlib::TStream& Stream) { return IsIconDirectory(Stream, 1); }

bool PxIsCUR(classlib::TStream& Stream) { return IsIconDirectory(Stream, 2); }

bool PxIsTGA(classlib::TStream& Stream)
{
    const int64_t p = Stream.GetPosition();
    TPositionGuard guard(Stream, p);
    uint8_t h[18];
    if (ReadAt(Stream, p, h, sizeof h) < int64_t(sizeof h))
        return false;
    const uint8_t mapType = h[1], type = h[2], depth = h[16];
    const bool typeOk = type == 1 || type == 2 || type == 3 || type == 9 || type == 10 || type == 11;
    const bool depthOk = depth == 1 || depth == 4 || depth == 8 || depth == 16 || depth == 24 || depth == 32;
    return typeOk && depthOk && mapType <= 1 && PxLe16(h + 12) > 0 && PxLe16(h + 14) > 0;
}

bool PxIsPXM(classlib::TStream& Stream)
{
    const int64_t p = Stream.GetPosition();
    TPositionGuard guard(Stream, p);
    const int64_t size = Stream.GetSize();
    // Headers are short; a scan that has not settled after this many bytes
    // is not a header.
    const int64_t limit = std::min<int64_t>(size, p + (1 << 20));
    std::vector<uint8_t> buf(4096);
    int64_t bufStart = p, bufLen = 0, pos = p;
    auto byteAt = [&](int64_t at, uint8_t& b) -> bool {
        if (at >= limit)
            return false;
        if (at < bufStart || at >= bufStart + bufLen) {
            bufStart = at;
            bufLen = ReadAt(Stream, at, buf.data(), std::min<int64_t>(int64_t(buf.size()), limit - at));
            if (bufLen <= 0)
                return false;
        }
        b = buf[size_t(at - bufStart)];
        return true;
    };
    auto isWordChar = [](uint8_t c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    };
    // Next token: a comment (from "#" to the end of its line) or a run of
    // letters and digits.
    auto nextToken = [&](std::string& token, bool& comment) -> bool {
        uint8_t c = 0;
        for (;;) {
            if (!byteAt(pos, c))
                return false;
            if (c == '#' || isWordChar(c))
                break;
            ++pos;
        }
        token.clear();
        comment = c == '#';
        ++pos;
        if (comment) {
            while (byteAt(pos, c) && c != '\n' && c != '\r')
                ++pos;
            return true;
        }
        token.push_back(char(c));
        while (byteAt(pos, c) && isWordChar(c)) {
            if (token.size() < 32)
                token.push_back(char(c));
            ++pos;
        }
        return true;
    };
    auto number = [](const std::string& t) -> int64_t {
        int64_t v = 0;
        for (char c : t) {
            if (c < '0' || c > '9')
                return 0;
            v = std::min<int64_t>(v * 10 + (c - '0'), int64_t(1) << 40);
        }
        return v;
    };

    enum { stMagic, stWidth, stHeight, stMax } state = stMagic;
    bool bilevel = false;
    int64_t width = 0, height = 0;
    std::string token;
    bool comment = false;
    for (int tokens = 0; tokens < 501 && nextToken(token, comment); ++tokens) {
        if (comment)
            continue;
        if (state == stMagic) {
            if (token.size() != 2 || token[0] != 'P' || token[1] < '1' || token[1] > '6')
                return false;
            bilevel = token[1] == '1' || token[1] == '4';
            state = stWidth;
        } else if (state == stWidth) {
            width = number(token);
            if (width != 0)
                state = stHeight;
        } else if (state == stHeight) {
            height = number(token);
            if (bilevel)
                break;
            state = stMax;
        } else {
            break;
        }
    }
    return width > 0 && height > 0;
}

bool PxIsJP2(classlib::TStream& Stream)
{
    const int64_t p = Stream.GetPosition();
    TPositionGuard guard(Stream, p);
    uint8_t h[12] = {};  // a short read leaves zeros, not stack bytes
    ReadAt(Stream, p, h, sizeof h);
    return PxBe32(h) == 12 && PxBe32(h + 4) == 0x6A502020 && PxBe32(h + 8) == 0x0D0A870A;
}

bool PxIsJ2K(classlib::TStream& Stream)
{
    const int64_t p = Stream.GetPosition();
    TPositionGuard guard(Stream, p);
    uint8_t h[4] = {};  // a short read leaves zeros, not stack bytes
    ReadAt(Stream, p, h, sizeof h);
    return PxBe16(h) == 0xFF4F && PxBe16(h + 2) == 0xFF51;
}

bool PxIsDCX(classlib::TStream& Stream)
{
    const int64_t p = Stream.GetPosition();
    TPositionGuard guard(Stream, p);
    const int64_t size = Stream.GetSize();
    uint8_t h[4];
    if (ReadAt(Stream, p, h, 4) < 4 || PxLe32(h) != 0x3ADE68B1u)
        return false;
    std::vector<uint8_t> table(1024 * 4);
    const int64_t got = ReadAt(Stream, p + 4, table.data(), int64_t(table.size()));
    for (int64_t i = 0; i + 4 <= got; i += 4) {
        const uint32_t offset = PxLe32(table.data() + i);
        if (offset == 0)
            break;
        if (int64_t(offset) >= size)
            return false;
    }
    return true;
}

bool PxIsWMF(classlib::TStream& Stream)
{
    const int64_t p = Stream.GetPosition();
    TPositionGuard guard(Stream, p);
    uint8_t h[20] = {};
    ReadAt(Stream, p, h, sizeof h);
    const int64_t at = PxLe32(h) == 0x9AC6CDD7u ? p + 22 : p;
    uint8_t m[18];
    if (ReadAt(Stream, at, m, sizeof m) < int64_t(sizeof m))
        return false;
    return PxLe16(m) == 1 && PxLe16(m + 2) == 9 && PxLe16(m + 16) == 0;
}

bool PxIsEMF(classlib::TStream& Stream)
{
    const int64_t p = Stream.GetPosition();
    TPositionGuard guard(Stream, p);
    uint8_t h[100] = {};
    ReadAt(Stream, p, h, sizeof h);
    return PxLe32(h) == 1 && PxLe32(h + 40) == 0x464D4520u;
}

bool PxIsPSD(classlib::TStream& Stream)
{
    const int64_t p = Stream.GetPosition();
    TPositionGuard guard(Stream, p);
    uint8_t h[26];
    if (ReadAt(Stream, p, h, sizeof h) < int64_t(sizeof h))
        return false;
    const uint16_t channels = PxBe16(h + 12), depth = PxBe16(h + 22), mode = PxBe16(h + 24);
    return std::memcmp(h, "8BPS", 4) == 0 && PxBe16(h + 4) == 1 && channels >= 1 && channels <= 24 && depth >= 1 &&
           depth <= 16 && mode <= 9;
}

namespace {

// The first bytes at the position, zero where the stream ends.
void ReadHeader(classlib::TStream& Stream, uint8_t (&Header)[8])
{
    ReadAt(Stream, Stream.GetPosition(), Header, sizeof Header);
}

}  // namespace

bool PxHasGIFSignature(classlib::TStream& Stream)
{
    TPositionGuard guard(Stream, Stream.GetPosition());
    uint8_t h[8];
    ReadHeader(Stream, h);
    return Stream.GetSize() > 13 && h[0] == 'G' && h[1] == 'I' && h[2] == 'F';
}

bool PxHasBMPSignature(classlib::TStream& Stream)
{
    TPositionGuard guard(Stream, Stream.GetPosition());
    uint8_t h[8];
    ReadHeader(Stream, h);
    return Stream.GetSize() > 14 && PxLe16(h) == 0x4D42;
}

bool PxHasPCXStart(classlib::TStream& Stream)
{
    const int64_t size = Stream.GetSize();
    {
        TPositionGuard guard(Stream, Stream.GetPosition());
        uint8_t h[8];
        ReadHeader(Stream, h);
        if ((size > 12 && TextIs(h, 5, "PCX2")) || (size > 4 && TextIs(h, 4, "PCX")))
            return true;
    }
    return size > 128 && PxIsPCX(Stream);
}

int64_t PxFindJPEGStart(classlib::TStream& Stream, bool Search)
{
    const int64_t p = Stream.GetPosition();
    TPositionGuard guard(Stream, p);
    uint8_t h[152];
    const int64_t got = ReadAt(Stream, p, h, Search ? 152 : 3);
    const int64_t last = Search ? 149 : 0;
    for (int64_t i = 0; i <= last && i + 3 <= got; ++i)
        if (h[i] == 0xFF && h[i + 1] == 0xD8 && h[i + 2] == 0xFF)
            return Search ? p + i : 0;
    return -1;
}

}  // namespace imaging
