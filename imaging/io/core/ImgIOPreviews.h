// The parameter-preview dialog as the I/O objects drive it.
//
// The dialog itself is a form of the display controls; the I/O objects sit
// below them and reach it through this interface and a factory that the
// dialog's unit installs. TImgIO::DoPreviews and the multi-image object's
// DoPreviews fill it, let OnIOPreview see it, show it modally and release it.
//
// Ownership: the factory returns a dialog owned by the caller (released
// when the unique_ptr goes). A source image given to the dialog stays the
// caller's and is detached (SetSourceImage(nullptr)) before the release.
//
// Without an installed factory there is no dialog: DoPreviews answers false
// unless an OnDoPreviews handler took the call.
//
// Threads: main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "imaging/model/PxDefs.h"

namespace classlib {
class TComponent;
class TFont;
class TForm;
}  // namespace classlib

namespace imaging {

class TIOParamsVals;
class TPxBitmap;

class TPxIOPreviewsDialog {
public:
    virtual ~TPxIOPreviewsDialog() = default;
    // The form shown (handed to OnIOPreview).
    virtual classlib::TForm* GetForm() = 0;
    virtual void SetDefaultLockPreview(bool Value) = 0;
    virtual void SetApplyButtonVisible(bool Value) = 0;
    // The parameters the dialog edits in place, and the source file's name
    // (empty when not given).
    virtual void SetParams(TIOParamsVals* Params, const std::wstring& FileName) = 0;
    virtual void SetSimplified(bool Value) = 0;
    virtual void SetPageControlHeight(int Value) = 0;
    virtual void SetFormHeight(int Value) = 0;
    virtual void SetBilevelMethod(uint8_t Value) = 0;
    virtual void ApplyLanguage(TMsgLanguage Language) = 0;
    virtual void SetFont(const classlib::TFont* Font) = 0;
    // Shows Image (not owned; nullptr detaches) in the source view and
    // updates it; the result view is cleared by ClearResult.
    virtual void SetSourceImage(TPxBitmap* Image) = 0;
    virtual void ClearResult() = 0;
    // The pages to show; false when there is nothing to show.
    virtual bool SetPages(uint16_t Pages) = 0;
    // Modal show; the modal result (1 OK).
    virtual int ShowModal() = 0;
};

using TPxIOPreviewsFactory = std::unique_ptr<TPxIOPreviewsDialog> (*)(classlib::TComponent* Owner);
// Installs the dialog's factory (nullptr: no dialog).
void PxSetIOPreviewsFactory(TPxIOPreviewsFactory Factory);
TPxIOPreviewsFactory PxGetIOPreviewsFactory();

// Shows a filled dialog on Pages and releases it: BeforeShow (may be empty)
// sees the form first; the source image is detached afterwards, also when
// showing raises. True when the dialog had pages and was confirmed.
bool PxRunIOPreviews(std::unique_ptr<TPxIOPreviewsDialog> Dialog, uint16_t Pages,
                     const std::function<void(classlib::TForm* Form)>& BeforeShow);

}  // namespace imaging
