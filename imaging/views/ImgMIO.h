// TImgMIO: the per-entry file parameters of a thumbnail grid.
//
// This holds what the grid needs of its multi-image I/O object: one
// TIOParamsVals per grid entry, kept in step with the grid's entries through
// the grid's change record (insert, delete, move, swap), and the loading
// options the grid's loaders copy (AutoAdjustDPI). The multi-frame loaders of
// the object are not part of this unit.
//
// Ownership: the object owns its parameter objects. It is attached to at
// most one grid (TImgMView), which forgets it when it is freed and which it
// forgets when the grid is destroyed.
//
// Threads: the grid's loader threads write parameter objects under the
// grid's lock; the object's own operations take no lock and run on the
// grid's thread.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "classlib/Component.h"
#include "classlib/Events.h"
#include "imaging/model/PxDefs.h"

namespace imaging {

class TIOParamsVals;
class TImgMView;

class TImgMIO : public classlib::TComponent {
public:
    explicit TImgMIO(classlib::TComponent* Owner);
    ~TImgMIO() override;
    std::wstring ClassName() const override { return L"TImgMIO"; }

    bool AutoAdjustDPI = false;
    TPxProgressEvent OnProgress;
    classlib::TNotifyEvent OnFinishWork;

    TImgMView* GetAttachedMView() const { return view_; }
    // Registers with the grid (nullptr detaches) and grows the parameter
    // list to the grid's entry count.
    void SetAttachedMView(TImgMView* View);

    int GetParamsCount() const { return static_cast<int>(params_.size()); }
    // The parameters of entry Index; nullptr out of range.
    TIOParamsVals* GetParams(int Index);
    // A new parameter object whose encoding options come from the one at
    // Index (the last one when Index is at or past the end), inserted at
    // Index or appended.
    void InsertParams(int Index);
    void DeleteParams(int Index);
    void MoveParams(int Index, int NewIndex);
    void SwapParams(int A, int B);

private:
    void OnViewBitmapChange(classlib::TObject* Sender, bool Destroying);

    TImgMView* view_ = nullptr;
    intptr_t changeHandle_ = -1;
    std::vector<std::unique_ptr<TIOParamsVals>> params_;
};

}  // namespace imaging
