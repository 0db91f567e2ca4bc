// The frame properties the themed controls share: the border frames and
// their colours, the flat frame colour, the visual style, transparency and
// the link to a frame controller.
//
// A control holds one block and publishes the properties it uses under its
// own names, delegating to the block (TTmFramedControl and TTmBorderedControl
// publish the ones the controls share). A setter stores a changed value and
// then redraws the control: by default it invalidates it; a control that
// must lay itself out or repaint at once gives the block a change handler,
// which then does the redrawing instead. Setting an unchanged value does
// nothing.
//
// The block does not own the frame controller: it links the control to it,
// and unlinks the control when the block is destroyed or linked elsewhere.
// Main thread only, like the control.
#pragma once

#include <cstdint>
#include <string>

#include "classlib/Controls.h"
#include "classlib/Events.h"
#include "controls/themed/TmCommon.h"
#include "controls/themed/TmFrameController.h"

namespace themed {

// Sets Field to Value; false (and nothing done) when it already holds it.
template <class T>
bool TmStore(T& Field, T Value)
{
    if (Field == Value)
        return false;
    Field = Value;
    return true;
}

// The properties of a frame block, as a change handler is told them.
enum TTmFrameProperty : uint8_t {
    fbBorderColor,
    fbBorderInner,
    fbBorderOuter,
    fbBorderSides,
    fbBorderHighlight,
    fbBorderShadow,
    fbBorderWidth,
    fbFlatColor,
    fbFlatColorAdjustment,
    fbVisualStyle,
    fbTransparent
};

using TTmFrameChangeEvent = classlib::TEvent<void(TTmFrameProperty Which)>;

// The values of a frame block; the members' initial values are the common
// defaults, a control states where it differs.
struct TTmFrameValues {
    TColor BorderColor = classlib::clBtnFace;
    TFrameStyleEx BorderInner = fsNone;
    // The outer (or only) frame.
    TFrameStyleEx BorderOuter = fsNone;
    TSides BorderSides = sdAllSides;
    TColor BorderHighlight = classlib::clBtnHighlight;
    TColor BorderShadow = classlib::clBtnShadow;
    int BorderWidth = 0;
    TColor FlatColor = classlib::clBtnShadow;
    int FlatColorAdjustment = 30;
    TTmVisualStyle VisualStyle = vsWinXP;
    bool Transparent = false;
};

class TTmFrameProperties {
public:
    // Control is the owner of the block (it must outlive it); OnChange, when
    // given, redraws it after a change instead of the plain invalidation.
    TTmFrameProperties(classlib::TControl& Control, const TTmFrameValues& Initial,
                       TTmFrameChangeEvent OnChange = nullptr);
    ~TTmFrameProperties();
    TTmFrameProperties(const TTmFrameProperties&) = delete;
    TTmFrameProperties& operator=(const TTmFrameProperties&) = delete;

    const TTmFrameValues& Values() const { return values_; }
    // The stored values for writing without redrawing: for a control that
    // takes several settings at once and redraws once itself.
    TTmFrameValues& Stored() { return values_; }

    TColor GetBorderColor() const { return values_.BorderColor; }
    void SetBorderColor(TColor Value) { Store(values_.BorderColor, Value, fbBorderColor); }
    TFrameStyleEx GetBorderInner() const { return values_.BorderInner; }
    void SetBorderInner(TFrameStyleEx Value) { Store(values_.BorderInner, Value, fbBorderInner); }
    TFrameStyleEx GetBorderOuter() const { return values_.BorderOuter; }
    void SetBorderOuter(TFrameStyleEx Value) { Store(values_.BorderOuter, Value, fbBorderOuter); }
    TSides GetBorderSides() const { return values_.BorderSides; }
    void SetBorderSides(TSides Value) { Store(values_.BorderSides, Value, fbBorderSides); }
    TColor GetBorderHighlight() const { return values_.BorderHighlight; }
    void SetBorderHighlight(TColor Value) { Store(values_.BorderHighlight, Value, fbBorderHighlight); }
    TColor GetBorderShadow() const { return values_.BorderShadow; }
    void SetBorderShadow(TColor Value) { Store(values_.BorderShadow, Value, fbBorderShadow); }
    // Stored as given: a control that wants no negative widths clamps first.
    int GetBorderWidth() const { return values_.BorderWidth; }
    void SetBorderWidth(int Value) { Store(values_.BorderWidth, Value, fbBorderWidth); }
    TColor GetFlatColor() const { return values_.FlatColor; }
    void SetFlatColor(TColor Value) { Store(values_.FlatColor, Value, fbFlatColor); }
    int GetFlatColorAdjustment() const { return values_.FlatColorAdjustment; }
    void SetFlatColorAdjustment(int Value) { Store(values_.FlatColorAdjustment, Value, fbFlatColorAdjustment); }
    TTmVisualStyle GetVisualStyle() const { return values_.VisualStyle; }
    void SetVisualStyle(TTmVisualStyle Value) { Store(values_.VisualStyle, Value, fbVisualStyle); }
    // A transparent control is not opaque (csOpaque is cleared while it is).
    bool GetTransparent() const { return values_.Transparent; }
    void SetTransparent(bool Value);

    TTmFrameController* GetFrameController() const { return frameController_; }
    // Unlinks the control from the old controller and links it to the new
    // one, which then updates it at once.
    void SetFrameController(TTmFrameController* Value);
    TTmFrameControllerNotifications GetFrameControllerNotifications() const { return notifications_; }
    void SetFrameControllerNotifications(TTmFrameControllerNotifications Value) { notifications_ = Value; }
    // The control's Notification: forgets a controller that goes away.
    void Notification(classlib::TComponent* AComponent, classlib::TOperation Operation);

    // Whether the control listens to the controller's setting: it has a
    // controller that shows frames, and the notification set names it.
    bool Follows(TTmFrameControllerProperty Setting) const;
    // Takes the settings of the controller the control listens to, without
    // redrawing: its frame style as the outer frame, its frame colour as the
    // flat colour (no adjustment) and, with Sides, its sides. False (nothing
    // taken) without a controller that shows frames.
    bool TakeControllerFrame(bool Sides);

    // The block's published properties: "FrameControllerNotifications", and
    // "Transparent" where the control publishes it (WithTransparent). Get
    // answers 0 for other names; Set takes only the notification set and
    // answers false for other names (transparency goes through the control's
    // own setter).
    bool HasPublishedProperty(const std::wstring& Name, bool WithTransparent) const;
    int64_t GetPublishedProperty(const std::wstring& Name) const;
    bool SetPublishedProperty(const std::wstring& Name, int64_t Value);
    // Set for a control that publishes "Transparent": the notification set
    // goes here, the transparency through Control's own SetTransparent.
    template <class TControl>
    void SetPublishedPropertyOf(TControl& Control, const std::wstring& Name, int64_t Value)
    {
        if (!SetPublishedProperty(Name, Value) && Name == L"Transparent")
            Control.SetTransparent(Value != 0);
    }

private:
    template <class T>
    void Store(T& Field, T Value, TTmFrameProperty Which)
    {
        if (TmStore(Field, Value))
            Changed(Which);
    }
    void Changed(TTmFrameProperty Which);

    classlib::TControl& control_;
    TTmFrameValues values_;
    TTmFrameChangeEvent onChange_;
    TTmFrameController* frameController_ = nullptr;
    TTmFrameControllerNotifications notifications_ = fcnAll;
};

// Publishes what every themed control shows of its frame block: the flat
// frame colour and the frame controller link. A control derives from it
// after its control base class, passing itself as the block's control.
class TTmFramedControl {
public:
    TColor GetFlatColor() const { return frame_.GetFlatColor(); }
    virtual void SetFlatColor(TColor Value) { frame_.SetFlatColor(Value); }
    int GetFlatColorAdjustment() const { return frame_.GetFlatColorAdjustment(); }
    virtual void SetFlatColorAdjustment(int Value) { frame_.SetFlatColorAdjustment(Value); }
    TTmFrameController* GetFrameController() const { return frame_.GetFrameController(); }
    virtual void SetFrameController(TTmFrameController* Value) { frame_.SetFrameController(Value); }
    TTmFrameControllerNotifications GetFrameControllerNotifications() const
    {
        return frame_.GetFrameControllerNotifications();
    }
    void SetFrameControllerNotifications(TTmFrameControllerNotifications Value)
    {
        frame_.SetFrameControllerNotifications(Value);
    }

protected:
    TTmFramedControl(classlib::TControl& Control, const TTmFrameValues& Initial,
                     TTmFrameChangeEvent OnChange = nullptr)
        : frame_(Control, Initial, OnChange)
    {
    }
    ~TTmFramedControl() = default;

    TTmFrameProperties frame_;
};

// Adds the border frames and their colour (panels and progress bars).
class TTmBorderedControl : public TTmFramedControl {
public:
    TColor GetBorderColor() const { return frame_.GetBorderColor(); }
    virtual void SetBorderColor(TColor Value) { frame_.SetBorderColor(Value); }
    TFrameStyleEx GetBorderInner() const { return frame_.GetBorderInner(); }
    virtual void SetBorderInner(TFrameStyleEx Value) { frame_.SetBorderInner(Value); }
    TFrameStyleEx GetBorderOuter() const { return frame_.GetBorderOuter(); }
    virtual void SetBorderOuter(TFrameStyleEx Value) { frame_.SetBorderOuter(Value); }

protected:
    using TTmFramedControl::TTmFramedControl;
    ~TTmBorderedControl() = default;
};

}  // namespace themed
