// The toolkit's registry of image file formats and the recognition of a
// format from a stream's content or a file's content and extension.
//
// The registry is one ordered list of TPxFileFormatInfo rows, built by the
// I/O unit's start-up (PxBuildFormatRegistry) and freed by its shut-down
// (PxFreeFormatRegistry); it owns its rows. Nothing guards it: it is built
// before other code runs and changed afterwards only by the application's
// own registration calls on the main thread. Lookups never raise; they
// return nullptr, 0 or empty text.
//
// Built-in rows. Every built-in row exists from the start. Its Reader and
// Writer are the toolkit's own routines for that file type, which the
// format's install function sets with PxSetBuiltInFormatReader/Writer; every
// install function is called from one place, PxInstallBuiltInFormats
// (FormatTable.h), which a program calls once before the toolkit starts.
// Until then the routines stay empty, so the row reports "cannot
// read"/"cannot write" and the dispatch fails cleanly. A routine is only put
// into a row whose format the toolkit reads (or writes) at all: the CUR row
// never gets a writer, the PostScript and PDF rows never get readers. The
// GIF row follows the GIF LZW hooks as well (PxSyncGIFFormatRow). Built-in
// rows have no Tester: built-in formats are recognised by
// PxDetectStreamFormat itself, from their descriptions.
//
// Registered rows (IsBuiltIn false) carry the application's routines, which
// the dispatch and the detection call.
//
// Descriptions. Everything the toolkit does with a built-in format is said
// by its description (TPxFormatDescription), one per format in the format
// table (FormatTable.h): its name and extensions, where its content tests
// stand in the detection, how the I/O object loads and saves it (entries,
// load options, save conversion, stream block tag) and how its frames are
// counted and read. A built-in row points at its description; the detection,
// the I/O object's dispatch, the frame counters and the multi-image loaders
// look the format up there instead of switching over file types.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "classlib/Persistent.h"
#include "classlib/Stream.h"

namespace imaging {

class TPxBitmap;
class TIOParamsVals;
class TImgIO;
struct TPxIOProgressInfo;
struct TPxFormatDescription;

// The file-type number of a format; 0 means none or unknown.
using TPxFileFormatId = int32_t;

constexpr TPxFileFormatId ffUnknown = 0;
constexpr TPxFileFormatId ffTIFF = 1;
constexpr TPxFileFormatId ffGIF = 2;
constexpr TPxFileFormatId ffJPEG = 3;
constexpr TPxFileFormatId ffPCX = 4;
constexpr TPxFileFormatId ffBMP = 5;
constexpr TPxFileFormatId ffICO = 6;
constexpr TPxFileFormatId ffCUR = 7;
constexpr TPxFileFormatId ffPNG = 8;
constexpr TPxFileFormatId ffWMF = 9;
constexpr TPxFileFormatId ffEMF = 10;
constexpr TPxFileFormatId ffTGA = 11;
constexpr TPxFileFormatId ffPXM = 12;
constexpr TPxFileFormatId ffJP2 = 13;
constexpr TPxFileFormatId ffJ2K = 14;
constexpr TPxFileFormatId ffAVI = 15;  // no registry row
constexpr TPxFileFormatId ffWBMP = 16;
constexpr TPxFileFormatId ffPS = 17;
constexpr TPxFileFormatId ffPDF = 18;
constexpr TPxFileFormatId ffDCX = 19;
constexpr TPxFileFormatId ffRAW = 20;      // camera raw
constexpr TPxFileFormatId ffRawData = 21;  // raw pixel data; its row lists no extension
constexpr TPxFileFormatId ffPSD = 24;
constexpr TPxFileFormatId ffPXV = 25;  // vector objects
constexpr TPxFileFormatId ffLYR = 26;  // layers
constexpr TPxFileFormatId ffALL = 27;  // layers and objects
constexpr TPxFileFormatId ffDICOM = 28;
constexpr TPxFileFormatId ffHDP = 29;  // HD Photo

// Reader of a row: decodes one image from Stream's position into Bitmap and
// fills Params; with Preview set it reads only the parameters. Reports
// failure by setting the aborting flag of Progress (it may raise on stream
// errors; the dispatch handles both).
using TPxFormatReader = std::function<void(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params,
                                           bool Preview, TPxIOProgressInfo& Progress)>;
// Writer of a row: writes Bitmap at Stream's position with the options of
// Params; failure sets the aborting flag of Progress.
using TPxFormatWriter =
    std::function<void(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress)>;
// Content test of a registered row: true when the data at Stream's position
// is of the row's format. The detection restores the position afterwards.
using TPxFormatTester = std::function<bool(classlib::TStream* Stream, TPxFileFormatId FileType)>;

// One row of the registry.
class TPxFileFormatInfo : public classlib::TObject {
public:
    std::wstring ClassName() const override { return L"TPxFileFormatInfo"; }

    TPxFileFormatId TypeNumber = 0;
    std::wstring DisplayName;
    // Extensions without dots separated by ";" (read up to the first empty
    // token).
    std::wstring ExtensionList;
    // True for the toolkit's rows, false for rows an application registers.
    bool IsBuiltIn = false;
    // The bit of the format's page in the parameter-preview dialog, 0 when
    // it has none.
    uint16_t PreviewPage = 0;
    TPxFormatReader Reader;  // empty: the format cannot be read
    TPxFormatWriter Writer;  // empty: the format cannot be written
    TPxFormatTester Tester;  // empty: no content test of its own
    // The format's description (built-in rows; nullptr for registered rows).
    // Static data owned by the format table.
    const TPxFormatDescription* Description = nullptr;
};

// ---- the registry

// Creates the list and appends the built-in rows in their fixed order (the
// HD Photo row only when the HD Photo unit has declared the platform codec
// available, see PxSetHDPhotoAvailableTest). A registry that exists is
// freed first.
void PxBuildFormatRegistry();
// Frees every row and the list. Lookups afterwards find nothing.
void PxFreeFormatRegistry();
// True between PxBuildFormatRegistry and PxFreeFormatRegistry.
bool PxFormatRegistryExists();

// Appends Row to the end of the list; the registry owns it from then on
// (also when there is no registry: then the row is deleted at once and
// false returned).
bool PxRegisterFileFormat(TPxFileFormatInfo* Row);
// Removes the first row with that number and frees it; nothing when none.
void PxUnregisterFileFormat(TPxFileFormatId FileType);

// Number of rows, and row i in list order (nullptr outside 0..count-1).
int PxFormatCount();
TPxFileFormatInfo* PxFormatInfoByIndex(int Index);

// The first row with that number, or nullptr.
TPxFileFormatInfo* PxFormatInfoById(TPxFileFormatId FileType);
// The first row, in list order, one of whose extensions equals Extension
// (compared case-insensitively; one leading "." is dropped); nullptr when
// none.
TPxFileFormatInfo* PxFormatInfoByExtension(const std::wstring& Extension);
// Number of extensions of the row of that number (0 without a row).
int PxFormatExtensionCount(TPxFileFormatId FileType);
// Extension i (from 0) of the row of that number, as written in the row;
// empty past the end or without a row.
std::wstring PxFormatExtension(TPxFileFormatId FileType, int Index);
// Splits the first ";"-separated token off List: returns the token and
// leaves the rest (after the ";") in List; an empty List gives an empty
// token.
std::wstring PxNextExtensionToken(std::wstring& List);

// True when the extension of FileName has a row whose reader is set.
bool PxIsReadableFile(const std::wstring& FileName);

// ---- routines of the built-in rows

// Installs the toolkit's own reader or writer of a built-in file type. The
// routine is remembered across registry rebuilds and put into the live row
// at once when the registry exists, provided the toolkit reads (or writes)
// that format at all. An empty routine removes it.
void PxSetBuiltInFormatReader(TPxFileFormatId FileType, TPxFormatReader Reader);
void PxSetBuiltInFormatWriter(TPxFileFormatId FileType, TPxFormatWriter Writer);

// Gives the GIF row the installed GIF reader only while the I/O unit's GIF
// LZW decoder hook is set, and the GIF writer only while the encoder hook is
// set; empty otherwise. Called by the build and whenever the hooks change.
void PxSyncGIFFormatRow();

// The HD Photo row is built only when this test (installed by the HD Photo
// unit) says the platform codec is available; without a test it is left out.
using TPxAvailableTest = bool (*)();
void PxSetHDPhotoAvailableTest(TPxAvailableTest Test);
TPxAvailableTest PxGetHDPhotoAvailableTest();

// ---- detection

// A content test: true when the data at the stream's position is of the
// test's format. A test may move the position (the detection restores it)
// and may raise (the detection then ends with 0).
using TPxContentTest = bool (*)(classlib::TStream& Stream);

// The content tests of step 8 of the detection, in the order they run, and
// the two later steps (the JPEG start search and the camera-raw test). The
// decoder-free tests below are installed from the start; the camera-raw test
// and the three stream tests of the views are installed by their units
// (PxSetContentTest); an empty step is passed over.
enum TPxDetectStep : int {
    pdsHDPhoto = 0,   // 29
    pdsTIFF,          // 1: a TIFF header that is not camera raw
    pdsPNG,           // 8, tried only when the stream holds more than 8 bytes
    pdsDICOM,         // 28
    pdsICO,           // 6
    pdsCUR,           // 7
    pdsTGA,           // 11
    pdsPXM,           // 12
    pdsJP2,           // 13
    pdsJ2K,           // 14
    pdsAVI,           // 15
    pdsDCX,           // 19
    pdsWMF,           // 9
    pdsEMF,           // 10
    pdsPSD,           // 24
    pdsVect,          // 25, vector-object stream
    pdsLayers,        // 26, layers stream
    pdsVectAll,       // 27, layers and objects
    pdsJPEGSearch,    // 3, the JPEG start marker within the first 150 bytes
    pdsCameraRaw,     // 20, tried last, after the registered rows
    pdsCount
};

// The file type a step gives when its test is true (the description that
// holds the step).
TPxFileFormatId PxDetectStepFormat(TPxDetectStep Step);
// Replaces the test of a step (nullptr empties it); returns the old one.
TPxContentTest PxSetContentTest(TPxDetectStep Step, TPxContentTest Test);
TPxContentTest PxGetContentTest(TPxDetectStep Step);

// The file type of the data at Stream's position, 0 when unknown. The
// position is left where it was, whatever happens; exceptions of the tests
// end the detection with 0.
TPxFileFormatId PxDetectStreamFormat(classlib::TStream& Stream);
// The file type of a file by its content reconciled with its extension; with
// Check set, content and extension must agree (else 0). Never raises.
TPxFileFormatId PxDetectFileFormat(const std::wstring& FileName, bool Check);
// The same for a file whose bytes are Content (read from its position; the
// position is left where it was): nothing is opened.
TPxFileFormatId PxDetectFileContentFormat(classlib::TStream& Content, const std::wstring& FileName, bool Check);

// ---- decoder-free content tests (each restores the position; none raises
// on short data, they answer false)

// "RIFF" at the position and "AVI " 8 bytes further.
bool PxIsAVI(classlib::TStream& Stream);
// Byte 0 is 10 (manufacturer), the encoding byte 0 or 1, bits per pixel
// 1, 2, 4 or 8, and 1 to 4 colour planes in a combination that exists; the
// 128-byte header must be present.
bool PxIsPCX(classlib::TStream& Stream);
// TIFF header tests: a TIFF whose first directory holds width and height; a
// TIFF holding camera raw data (DNG, colour-filter or linear raw data, or a
// TIFF/EP thumbnail directory); an HD Photo file.
bool PxIsTIFF(classlib::TStream& Stream);
bool PxIsCameraRawTIFF(classlib::TStream& Stream);
bool PxIsHDPhoto(classlib::TStream& Stream);
// The first 4 bytes of the PNG signature (89 50 4E 47).
bool PxIsPNG(classlib::TStream& Stream);
// "DICM" 128 bytes after the position.
bool PxIsDICOM(classlib::TStream& Stream);
// Icon (type 1) and cursor (type 2) directories.
bool PxIsICO(classlib::TStream& Stream);
bool PxIsCUR(classlib::TStream& Stream);
// Targa header: image type 1, 2, 3, 9, 10 or 11, depth 1, 4, 8, 16, 24 or
// 32, colour map type 0 or 1, width and height above 0.
bool PxIsTGA(classlib::TStream& Stream);
// Portable bitmap/greymap/pixmap "P1" to "P6" with positive width and height.
bool PxIsPXM(classlib::TStream& Stream);
// JPEG 2000 file signature box; JPEG 2000 code stream (SOC then SIZ).
bool PxIsJP2(classlib::TStream& Stream);
bool PxIsJ2K(classlib::TStream& Stream);
// Multi-page PCX: the magic and a page table inside the stream.
bool PxIsDCX(classlib::TStream& Stream);
// Windows metafile (plain or placeable) and enhanced metafile headers.
bool PxIsWMF(classlib::TStream& Stream);
bool PxIsEMF(classlib::TStream& Stream);
// Photoshop header: "8BPS", version 1, 1..24 channels, depth 1..16, mode 0..9.
bool PxIsPSD(classlib::TStream& Stream);
// With Search: the absolute position of the first FF D8 FF that starts
// within 150 bytes of the position, else -1; without: 0 when the data at
// the position start with FF D8 FF, else -1.
int64_t PxFindJPEGStart(classlib::TStream& Stream, bool Search);
// The fixed header tests that run before every step of the detection, each
// with the minimum stream size it needs (the size of the whole stream):
// "GIF" (more than 13 bytes); "BM" (more than 14); a PCX stream block tag,
// "PCX2" (more than 12) or "PCX" (more than 4), or PxIsPCX (more than 128).
// They exclude each other by their first byte, so their order is free.
bool PxHasGIFSignature(classlib::TStream& Stream);
bool PxHasBMPSignature(classlib::TStream& Stream);
bool PxHasPCXStart(classlib::TStream& Stream);

// ---- descriptions

// Options of the I/O object's load frame (bit flags): no default resolution
// for a file without one; no resolution adjustment; the attached view does
// not take the file's resolution; the background colour is set from the
// GIF transparent (else background) colour; the data is a layered document
// (its layers may go into an attached view with layers).
enum : uint32_t {
    pxlfNoDefaultDpi = 1,
    pxlfNoAdjust = 2,
    pxlfNoViewDpi = 4,
    pxlfGIFBackground = 8,
    pxlfLayers = 16
};
// How the load frame hands the data to the reader: directly, or through an
// 8 KB read buffer whose offsets count from the stream's start or from the
// position as PxBufferedReadFromPosition says, or always from the position.
enum TPxLoadBuffer : uint8_t { pxlbNone, pxlbAsSet, pxlbFromPosition };
// The data size the load frame tells the reader: none (-1), the bytes from
// the position to the end, the whole stream's size.
enum TPxLoadSize : uint8_t { pxlsNone, pxlsRemaining, pxlsWhole };
// The stream block header (StreamTag) a stream load expects: none; one that
// must be there while StreamHeaders is set; one taken when it is there,
// whatever StreamHeaders says; one that must be there while StreamHeaders is
// set, the description's tag or any tag of the same first three letters
// (the older 4-byte form, whose data follows it).
enum TPxLoadBlock : uint8_t { pxbkNone, pxbkRequired, pxbkOptional, pxbkRequiredOrShort };
// Conversion of the image handed to a writer (on a copy): none; to px24RGB
// unless px24RGB or px1g; the same but also keeping pxRGB48.
enum TPxSaveConversion : uint8_t { pxscNone, pxscTo24, pxscTo24Keep48 };
// Save options (bit flags): the writer gets a mask of the alpha channel; a
// stream block header is written only when the writer succeeded; a stream
// save empties the stream first; a view with layers is written with every
// layer.
enum : uint32_t { pxsfMask = 1, pxsfHeaderIfOk = 2, pxsfTruncate = 4, pxsfLayers = 8 };

// Entries of the I/O object: its load and save frames, or a load of the
// format's own (metafiles, view data).
using TPxIOFileLoad = void (*)(TImgIO& IO, const std::wstring& FileName, TPxFileFormatId FileType);
using TPxIOStreamLoad = void (*)(TImgIO& IO, classlib::TStream* Stream, TPxFileFormatId FileType);
using TPxIOFileSave = void (*)(TImgIO& IO, const std::wstring& FileName, TPxFileFormatId FileType);
using TPxIOStreamSave = void (*)(TImgIO& IO, classlib::TStream* Stream, TPxFileFormatId FileType);

// Counts the pages (frames, images) of a file of one format; exceptions of
// the file or the format pass to the caller.
using TPxFileFrameCounter = int32_t (*)(const std::wstring& FileName);
// Counts the frames of the data at the stream's position and restores it.
using TPxStreamFrameCounter = int32_t (*)(classlib::TStream* Stream);
// Reads frame Params.ImageIndex of the data at the stream's position into
// Bitmap and Params. Failure sets the aborting flag of Progress; a
// transparency mask is handed over in Progress.Mask (owned by the caller);
// Count receives the frame count when the read tells it.
using TPxFrameReader = void (*)(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params,
                                TPxIOProgressInfo& Progress, int32_t& Count);

// How the frames of a file are counted by PxCountFileFrames: one frame; the
// format's own counter, else the one installed with PxSetFrameCounter
// (ImgIOCounters.h; none installed raises); the video path.
enum TPxFrameCount : uint8_t { pxfcOne, pxfcCounter, pxfcVideo };

struct TPxFrameEntry {
    TPxFrameCount Count = pxfcOne;
    TPxFileFrameCounter FileCounter = nullptr;
    // "Read frame N" of the multi-image loaders; nullptr: the format is
    // loaded there as one image.
    TPxFrameReader Read = nullptr;
    // Frames counted on the stream before reading; nullptr: the reads tell.
    TPxStreamFrameCounter CountOnStream = nullptr;
    bool ReadWhenNone = false;  // read once when none were counted
    bool DefaultDpi = false;    // frames without resolution get the default
    bool MaySkip = false;       // a failing frame may be skipped instead of ending the load
    bool Timed = false;         // frames carry a delay and a background colour
};

// How the load frame reads a file and a stream of a format: the read
// buffer, the data size told to the reader, the stream block header; and
// steps of the format's own: before a file load, after a load that
// succeeded, and the file type whose reader reads the data instead
// (ffUnknown or the format's own: none).
struct TPxLoadEntry {
    TPxLoadBuffer FileBuffer = pxlbNone;
    TPxLoadBuffer StreamBuffer = pxlbNone;
    TPxLoadSize FileSize = pxlsNone;
    TPxLoadSize StreamSize = pxlsNone;
    TPxLoadBlock StreamBlock = pxbkNone;
    void (*BeforeFile)(TImgIO& IO) = nullptr;
    void (*Loaded)(TImgIO& IO) = nullptr;
    TPxFileFormatId (*ReadAs)() = nullptr;
};

struct TPxFormatDescription {
    TPxFileFormatId Type = ffUnknown;
    // The registry row: display name (nullptr: the format has no row),
    // extensions, whether the toolkit reads and writes it at all, and the
    // preview page.
    const wchar_t* Name = nullptr;
    const wchar_t* Extensions = L"";
    bool Reads = false;
    bool Writes = false;
    uint16_t PreviewPage = 0;
    // The getter of the test that must pass for the row to be built (read
    // at every build); nullptr: always built.
    TPxAvailableTest (*Available)() = nullptr;

    // Detection: a fixed header test run before the steps; the format's
    // step (its place in the order, pdsCount: none) with the step's initial
    // test; the step runs only on streams longer than StepAbove bytes.
    TPxContentTest HeaderTest = nullptr;
    TPxDetectStep Step = pdsCount;
    TPxContentTest StepTest = nullptr;
    int64_t StepAbove = -1;

    // Loads by the I/O object: file and stream entries (GivenOnly: only when
    // the caller named the file type), options of the load frame, whether a
    // parameters-only read tells the reader the data size, and the rest of
    // what the load frame does for the format.
    TPxIOFileLoad FileLoad = nullptr;
    bool FileLoadGivenOnly = false;
    TPxIOStreamLoad StreamLoad = nullptr;
    bool StreamLoadGivenOnly = false;
    uint32_t FileLoadFlags = 0;
    uint32_t StreamLoadFlags = 0;
    bool ParamsDataSize = false;
    TPxLoadEntry Load = {};

    // Saves by the I/O object: the extensions a file save by name sends to
    // the file entry (";"-separated, without dots), the entries, the
    // conversions of file and stream saves, the save options and the tag of
    // the stream block header (nullptr: none).
    const wchar_t* SaveExtensions = nullptr;
    TPxIOFileSave FileSave = nullptr;
    TPxIOStreamSave StreamSave = nullptr;
    TPxSaveConversion FileSaveConversion = pxscNone;
    TPxSaveConversion StreamSaveConversion = pxscNone;
    uint32_t SaveFlags = 0;
    const char* StreamTag = nullptr;

    TPxFrameEntry Frames = {};

    // What the file parameters' format description adds to the name
    // (compression, colour space, version); nullptr: nothing.
    std::wstring (*ParamsDetail)(const TIOParamsVals& Params) = nullptr;
};

// The description of a file type, nullptr when the toolkit has none.
const TPxFormatDescription* PxFormatDescription(TPxFileFormatId FileType);
// The description whose save extensions hold Extension (case-insensitive,
// one leading "." dropped); nullptr when none.
const TPxFormatDescription* PxFormatDescriptionBySaveExtension(const std::wstring& Extension);

}  // namespace imaging
