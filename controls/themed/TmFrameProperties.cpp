#include "controls/themed/TmFrameProperties.h"

namespace themed {

TTmFrameProperties::TTmFrameProperties(classlib::TControl& Control, const TTmFrameValues& Initial,
                                       TTmFrameChangeEvent OnChange)
    : control_(Control), values_(Initial), onChange_(OnChange)
{
}

TTmFrameProperties::~TTmFrameProperties()
{
    if (frameController_)
        frameController_->RemoveControl(&control_);
}

void TTmFrameProperties::Changed(TTmFrameProperty Which)
{
    if (onChange_)
        onChange_(Which);
    else
        control_.Invalidate();
}

void TTmFrameProperties::SetTransparent(bool Value)
{
    if (!TmStore(values_.Transparent, Value))
        return;
    if (Value)
        control_.ControlStyle &= ~classlib::csOpaque;
    else
        control_.ControlStyle |= classlib::csOpaque;
    Changed(fbTransparent);
}

void TTmFrameProperties::SetFrameController(TTmFrameController* Value)
{
    if (Value == frameController_)
        return;
    if (frameController_)
        frameController_->RemoveControl(&control_);
    frameController_ = Value;
    if (Value) {
        Value->AddControl(&control_);
        Value->FreeNotification(&control_);
    }
}

void TTmFrameProperties::Notification(classlib::TComponent* AComponent, classlib::TOperation Operation)
{
    if (Operation == classlib::opRemove && AComponent == frameController_)
        frameController_ = nullptr;
}

bool TTmFrameProperties::Follows(TTmFrameControllerProperty Setting) const
{
    return frameController_ && frameController_->GetFrameVisible() && (notifications_ & FrameNotification(Setting));
}

bool TTmFrameProperties::TakeControllerFrame(bool Sides)
{
    if (!frameController_ || !frameController_->GetFrameVisible())
        return false;
    if (Follows(fcpFrameStyle))
        values_.BorderOuter = frameController_->GetFrameStyle();
    if (Sides && Follows(fcpFrameSides))
        values_.BorderSides = frameController_->GetFrameSides();
    if (Follows(fcpFrameColor)) {
        values_.FlatColor = frameController_->GetFrameColor();
        values_.FlatColorAdjustment = 0;
    }
    return true;
}

namespace {
const wchar_t* const kNotificationsName = L"FrameControllerNotifications";
const wchar_t* const kTransparentName = L"Transparent";
}  // namespace

bool TTmFrameProperties::HasPublishedProperty(const std::wstring& Name, bool WithTransparent) const
{
    return Name == kNotificationsName || (WithTransparent && Name == kTransparentName);
}

int64_t TTmFrameProperties::GetPublishedProperty(const std::wstring& Name) const
{
    if (Name == kNotificationsName)
        return notifications_;
    if (Name == kTransparentName)
        return values_.Transparent;
    return 0;
}

bool TTmFrameProperties::SetPublishedProperty(const std::wstring& Name, int64_t Value)
{
    if (Name != kNotificationsName)
        return false;
    notifications_ = static_cast<TTmFrameControllerNotifications>(Value);
    return true;
}

}  // namespace themed
