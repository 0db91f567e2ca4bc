// The TImage attachment of the processing object.
#include "classlib/Bitmap.h"
#include "classlib/ExtCtrls.h"
#include "classlib/Picture.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/proc/ImgProc.h"

namespace imaging {

// At attachment the picture is given a bitmap when it holds none or another
// graphic class. Later the bitmap it holds now is taken; a graphic of
// another class put into the picture since is left alone (nullptr).
classlib::TBitmap* TImgProc::TImagePictureBitmap(bool Create)
{
    if (!attachedTImage_)
        return nullptr;
    classlib::TPicture* picture = attachedTImage_->GetPicture();
    if (!picture)
        return nullptr;
    if (Create || !picture->GetGraphic())
        return picture->GetBitmap();
    return dynamic_cast<classlib::TBitmap*>(picture->GetGraphic());
}

void TImgProc::SetAttachedTImage(classlib::TImage* Value)
{
    if (!Value) {
        // Only the own wrapper of a TImage is emptied: a view's or a
        // caller's image is not touched by clearing this property.
        if (!attachedTImage_)
            return;
        ReleaseTImage(true);
        wrappedVcl_ = nullptr;
        if (bitmap_ && ownsBitmap_)
            bitmap_->FreeImage(true);
        return;
    }
    DetachView();
    ReleaseTImage(true);
    // The picture's bitmap is wrapped by an own image, never by a borrowed one.
    if (!ownsBitmap_ || !bitmap_)
        UseOwnBitmap();
    attachedTImage_ = Value;
    attachedTImageComponent_ = Value;
    FreeNotification(Value);
    wrappedVcl_ = TImagePictureBitmap(true);
    bitmap_->AttachVclBitmap(wrappedVcl_, true);
}

}  // namespace imaging
