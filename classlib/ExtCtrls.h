// TImage: a graphic control that shows a picture.
#pragma once

#include <memory>

#include "classlib/Controls.h"
#include "classlib/Picture.h"

namespace classlib {

// Shows its picture: unscaled at the top-left, or centred (Center), or scaled
// to the control (Stretch), keeping the aspect ratio when Proportional (which
// also shrinks, never enlarges, an unstretched picture that is too big).
// Any change of the picture or of the graphic it holds — including a change
// made to the held bitmap from outside, e.g. SetModified(true) — repaints the
// control. With AutoSize the control takes the picture's size on each change.
class TImage : public TGraphicControl {
public:
    explicit TImage(TComponent* Owner);
    ~TImage() override;
    std::wstring ClassName() const override { return L"TImage"; }

    // The picture (owned by the image).
    TPicture* GetPicture() const { return picture_.get(); }
    // Copies Value into the picture.
    void SetPicture(const TPicture* Value) { picture_->Assign(Value); }

    // The canvas of the picture's bitmap. An empty picture first gets a
    // bitmap of the control's size; a picture holding another graphic class
    // raises EInvalidOperation "Can only modify an image if it contains a
    // bitmap".
    TCanvas* GetCanvas();

    bool GetStretch() const { return stretch_; }
    void SetStretch(bool Value);
    bool GetCenter() const { return center_; }
    void SetCenter(bool Value);
    bool GetProportional() const { return proportional_; }
    void SetProportional(bool Value);
    bool GetTransparent() const { return transparent_; }
    void SetTransparent(bool Value);
    bool GetAutoSize() const { return autoSize_; }
    void SetAutoSize(bool Value);

    // Where Paint draws the picture, in the control's coordinates.
    RECT DestRect() const;

protected:
    void Paint() override;
    virtual void PictureChanged(TObject* Sender);

private:
    std::unique_ptr<TPicture> picture_;
    bool stretch_ = false;
    bool center_ = false;
    bool proportional_ = false;
    bool transparent_ = false;
    bool autoSize_ = false;
    bool drawing_ = false;
};

}  // namespace classlib
