// Shared set-up of the processing object's tests.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/Persistent.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxDefs.h"
#include "imaging/proc/ImgProc.h"
#include "imaging/proc/PxConvert.h"
#include "imaging/proc/PxConvertRows.h"
#include "support/ValueScope.h"

namespace proctest {

using namespace imaging;

// Counts the events of one processing object.
struct TEvents {
    int finish = 0;
    int progress100 = 0;
    std::vector<TPxUndoSource> saves;

    void OnFinish(classlib::TObject*) { ++finish; }
    void OnProgress(classlib::TObject*, int per)
    {
        if (per == 100)
            ++progress100;
    }
    void OnSave(classlib::TObject*, TPxUndoSource s) { saves.push_back(s); }

    void Hook(TImgProc& p)
    {
        p.OnFinishWork = classlib::TNotifyEvent(this, &TEvents::OnFinish);
        p.OnProgress = TPxProgressEvent(this, &TEvents::OnProgress);
        p.OnSaveUndo = TPxSaveUndoEvent(this, &TEvents::OnSave);
    }
};

class ProcFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        PxDefsInit();
        PxInstallPixelFormatConversion();
        PxBuildBitExpansion();
    }
};

// A px24RGB image whose pixel (x, y) is red x * 10, green y * 20, blue x + y.
inline void FillPattern(TPxBitmap& b)
{
    for (int y = 0; y < b.GetHeight(); ++y)
        for (int x = 0; x < b.GetWidth(); ++x)
            b.SetPixelRGB(x, y, TPxRGB{uint8_t(x + y), uint8_t(y * 20), uint8_t(x * 10)});
}

inline TPxRGB Pattern(int x, int y) { return TPxRGB{uint8_t(x + y), uint8_t(y * 20), uint8_t(x * 10)}; }

inline TPxRGB Inverted(TPxRGB c) { return TPxRGB{uint8_t(255 - c.b), uint8_t(255 - c.g), uint8_t(255 - c.r)}; }

// Files in a folder (not recursive).
inline int CountFiles(const std::wstring& Dir)
{
    int n = 0;
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileW((Dir + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            ++n;
    } while (::FindNextFileW(h, &fd));
    ::FindClose(h);
    return n;
}

// Temporary files of images go to Dir while the scope lives.
class TempFolderScope : public testsupport::TValueScope<std::wstring> {
public:
    explicit TempFolderScope(const std::wstring& Dir) : TValueScope(PxTempFolder, Dir + L"\\") {}
};

}  // namespace proctest
