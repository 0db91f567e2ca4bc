// TSpeedButton: a flat-faced tool button without a window of its own.
#pragma once

#include <memory>
#include <string>

#include "classlib/Bitmap.h"
#include "classlib/Controls.h"

namespace classlib {

// A button drawn on its parent's surface with a glyph and a caption.
// GroupIndex 0: a plain push button (Down stays false). Buttons of one
// parent sharing a non-zero GroupIndex act as a group: pressing one puts it
// down and the others of the group up; pressing the down one again puts it
// up only when AllowAllUp (shared by the group). A group of one is a toggle
// with AllowAllUp. Flat buttons show a raised edge only while the mouse is
// over them.
class TSpeedButton : public TGraphicControl {
public:
    explicit TSpeedButton(TComponent* AOwner);
    ~TSpeedButton() override;
    std::wstring ClassName() const override { return L"TSpeedButton"; }

    const std::wstring& GetCaption() const { return caption_; }
    void SetCaption(const std::wstring& Value);
    // The picture (owned); its bottom-left pixel's colour is transparent.
    TBitmap* GetGlyph() const { return glyph_.get(); }
    void SetGlyph(const TBitmap* Value) { glyph_->Assign(Value); }
    int GetGroupIndex() const { return groupIndex_; }
    void SetGroupIndex(int Value);
    bool GetDown() const { return down_; }
    // Ignored when it would put up the down button of a group without
    // AllowAllUp; forced false for GroupIndex 0.
    void SetDown(bool Value);
    bool GetAllowAllUp() const { return allowAllUp_; }
    void SetAllowAllUp(bool Value);
    bool GetFlat() const { return flat_; }
    void SetFlat(bool Value);
    // Pressed by the mouse now (drawn down).
    bool Pressed() const { return pressed_; }

    // Fires OnClick; after a press of the mouse the group state changes
    // first.
    void Click() override;
    void Dispatch(TMessage& Message) override;

protected:
    void Paint() override;
    void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;

private:
    void GlyphChanged(TObject* Sender);
    // The embossed grey twin of the glyph drawn while disabled; made on
    // first use after each change of the glyph, owned.
    TBitmap* DisabledGlyph();
    // Puts the other buttons of the group up / gives them AllowAllUp.
    void UpdateGroup(bool ShareAllowAllUp);

    std::wstring caption_;
    std::unique_ptr<TBitmap> glyph_;
    std::unique_ptr<TBitmap> disabledGlyph_;
    int groupIndex_ = 0;
    bool down_ = false;
    bool allowAllUp_ = false;
    bool flat_ = false;
    bool pressed_ = false;
    bool mouseOver_ = false;
};

}  // namespace classlib
