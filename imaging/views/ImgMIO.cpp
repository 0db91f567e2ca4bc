#include "imaging/views/ImgMIO.h"

#include <algorithm>

#include "imaging/io/IOParams.h"
#include "imaging/views/ImgMView.h"

namespace imaging {

TImgMIO::TImgMIO(classlib::TComponent* Owner) : classlib::TComponent(Owner) {}

TImgMIO::~TImgMIO()
{
    if (view_) {
        view_->RemoveBitmapChangeEvent(changeHandle_);
        if (view_->mio_ == this)
            view_->mio_ = nullptr;
    }
}

void TImgMIO::SetAttachedMView(TImgMView* View)
{
    if (view_ == View)
        return;
    if (view_)
        view_->RemoveBitmapChangeEvent(changeHandle_);
    view_ = View;
    changeHandle_ = -1;
    if (!view_)
        return;
    changeHandle_ = view_->RegisterBitmapChangeEvent(TPxBitmapChangeEvent(this, &TImgMIO::OnViewBitmapChange), this);
    while (GetParamsCount() < view_->GetImageCount())
        InsertParams(GetParamsCount());
}

TIOParamsVals* TImgMIO::GetParams(int Index)
{
    if (Index < 0 || Index >= GetParamsCount())
        return nullptr;
    return params_[static_cast<size_t>(Index)].get();
}

void TImgMIO::InsertParams(int Index)
{
    auto p = std::make_unique<TIOParamsVals>(nullptr);
    if (!params_.empty()) {
        const int from = std::clamp(Index, 0, GetParamsCount() - 1);
        p->AssignCompressionOptions(params_[static_cast<size_t>(from)].get());
    }
    if (Index < 0 || Index >= GetParamsCount())
        params_.push_back(std::move(p));
    else
        params_.insert(params_.begin() + Index, std::move(p));
}

void TImgMIO::DeleteParams(int Index)
{
    if (Index < 0 || Index >= GetParamsCount())
        return;
    params_.erase(params_.begin() + Index);
}

void TImgMIO::MoveParams(int Index, int NewIndex)
{
    if (Index < 0 || Index >= GetParamsCount() || NewIndex < 0 || NewIndex == Index)
        return;
    auto p = std::move(params_[static_cast<size_t>(Index)]);
    params_.erase(params_.begin() + Index);
    if (NewIndex >= GetParamsCount())
        params_.push_back(std::move(p));
    else
        params_.insert(params_.begin() + NewIndex, std::move(p));
}

void TImgMIO::SwapParams(int A, int B)
{
    if (A < 0 || B < 0 || A >= GetParamsCount() || B >= GetParamsCount())
        return;
    std::swap(params_[static_cast<size_t>(A)], params_[static_cast<size_t>(B)]);
}

void TImgMIO::OnViewBitmapChange(classlib::TObject*, bool Destroying)
{
    if (!view_)
        return;
    if (Destroying) {
        view_ = nullptr;
        changeHandle_ = -1;
        return;
    }
    switch (view_->GetLastChangeKind()) {
    case 1:
        InsertParams(view_->GetLastChangeIndex());
        break;
    case 2:
        DeleteParams(view_->GetLastChangeIndex());
        break;
    case 3:
        MoveParams(view_->GetLastChangeIndex(), view_->GetLastChangeIndex2());
        break;
    case 4:
        SwapParams(view_->GetLastChangeIndex(), view_->GetLastChangeIndex2());
        break;
    default:
        break;
    }
}

}  // namespace imaging
