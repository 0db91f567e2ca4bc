#include "controls/themed/TmFrameController.h"

#include <algorithm>

#include "classlib/SysUtils.h"
#include "controls/themed/TmFrameProperties.h"

namespace themed {

using classlib::TControl;

const wchar_t* const TmFrameControllerPropertyNames[fcpAll] = {
    L"Color",           L"FocusColor",    L"DisabledColor", L"ReadOnlyColor", L"ReadOnlyColorOnFocus",
    L"ParentColor",     L"FlatButtonColor", L"FlatButtons", L"FrameColor",    L"FrameHotColor",
    L"FrameHotTrack",   L"FrameHotStyle", L"FrameSides",    L"FrameStyle",    L"FrameVisible",
    L"FramingPreference"};

// ------------------------------------------------------- frame controller

TTmFrameController::TTmFrameController(classlib::TComponent* AOwner) : TComponent(AOwner) {}

TTmFrameController::~TTmFrameController() = default;

void TTmFrameController::AddControl(TControl* Control)
{
    if (!Control)
        return;
    if (!controls_)
        controls_ = std::make_unique<std::vector<TControl*>>();
    if (std::find(controls_->begin(), controls_->end(), Control) != controls_->end())
        return;
    controls_->push_back(Control);
    UpdateControl(Control, fcpAll);
}

void TTmFrameController::RemoveControl(TControl* Control)
{
    if (!controls_)
        return;
    auto it = std::find(controls_->begin(), controls_->end(), Control);
    if (it != controls_->end())
        controls_->erase(it);
    if (controls_->empty())
        controls_.reset();
}

void TTmFrameController::EndUpdate()
{
    if (--updateCount_ <= 0) {
        updateCount_ = 0;
        NotifyControls(fcpAll);
    }
}

void TTmFrameController::NotifyControls(TTmFrameControllerProperty Setting)
{
    if (updateCount_ > 0 || !controls_)
        return;
    // A control may unlink itself while it is updated: work on a copy and
    // skip controls no longer listed.
    std::vector<TControl*> list = *controls_;
    for (TControl* c : list) {
        if (!controls_ || std::find(controls_->begin(), controls_->end(), c) == controls_->end())
            continue;
        UpdateControl(c, Setting);
    }
}

TTmFrameControllerNotifications TTmFrameController::GetNotifications(TControl* Control)
{
    auto* props = dynamic_cast<ITmPublishedProperties*>(Control);
    if (props && props->HasPublishedProperty(L"FrameControllerNotifications"))
        return static_cast<TTmFrameControllerNotifications>(
            props->GetPublishedProperty(L"FrameControllerNotifications") & 0xFFFF);
    return fcnAll;
}

int64_t TTmFrameController::GetSettingValue(TTmFrameControllerProperty Setting) const
{
    switch (Setting) {
    case fcpColor: return color_;
    case fcpFocusColor: return focusColor_;
    case fcpDisabledColor: return disabledColor_;
    case fcpReadOnlyColor: return readOnlyColor_;
    case fcpReadOnlyColorOnFocus: return readOnlyColorOnFocus_;
    case fcpParentColor: return parentColor_;
    case fcpFlatButtonColor: return flatButtonColor_;
    case fcpFlatButtons: return flatButtons_;
    case fcpFrameColor: return frameColor_;
    case fcpFrameHotColor: return frameHotColor_;
    case fcpFrameHotTrack: return frameHotTrack_;
    case fcpFrameHotStyle: return frameHotStyle_;
    case fcpFrameSides: return frameSides_;
    case fcpFrameStyle: return frameStyle_;
    case fcpFrameVisible: return frameVisible_;
    case fcpFramingPreference: return framingPreference_;
    default: return 0;
    }
}

void TTmFrameController::UpdateControl(TControl* Control, TTmFrameControllerProperty Setting)
{
    if (!Control)
        return;
    const TTmFrameControllerNotifications mask = GetNotifications(Control);
    if (auto* client = dynamic_cast<ITmFrameControllerClient*>(Control)) {
        client->UpdateFrameController();
        return;
    }
    auto* props = dynamic_cast<ITmPublishedProperties*>(Control);
    if (!props)
        return;
    auto write = [&](TTmFrameControllerProperty p) {
        const wchar_t* name = TmFrameControllerPropertyNames[p];
        if ((mask & FrameNotification(p)) && props->HasPublishedProperty(name))
            props->SetPublishedProperty(name, GetSettingValue(p));
    };
    if (Setting != fcpAll) {
        if (Setting < fcpAll)
            write(Setting);
        return;
    }
    write(fcpParentColor);
    if (!parentColor_)
        write(fcpColor);
    static const TTmFrameControllerProperty kRest[] = {
        fcpDisabledColor, fcpReadOnlyColor, fcpReadOnlyColorOnFocus, fcpFocusColor, fcpFlatButtonColor,
        fcpFlatButtons,   fcpFrameColor,    fcpFrameHotColor,        fcpFrameHotTrack, fcpFrameHotStyle,
        fcpFrameSides,    fcpFrameStyle,    fcpFrameVisible,         fcpFramingPreference};
    for (TTmFrameControllerProperty p : kRest)
        write(p);
}

void TTmFrameController::SetColor(TColor Value)
{
    if (Value == color_)
        return;
    if (focusColor_ == color_)
        focusColor_ = Value;
    color_ = Value;
    parentColor_ = false;
    NotifyControls(fcpColor);
}

void TTmFrameController::SetParentColor(bool Value)
{
    if (Value == parentColor_)
        return;
    parentColor_ = Value;
    NotifyControls(fcpParentColor);
    if (!Value)
        NotifyControls(fcpColor);
}

void TTmFrameController::SetFlatButtonColor(TColor Value)
{
    if (TmStore(flatButtonColor_, Value))
        NotifyControls(fcpFlatButtonColor);
}

void TTmFrameController::SetFlatButtons(bool Value)
{
    if (TmStore(flatButtons_, Value))
        NotifyControls(fcpFlatButtons);
}

void TTmFrameController::SetDisabledColor(TColor Value)
{
    if (TmStore(disabledColor_, Value))
        NotifyControls(fcpDisabledColor);
}

void TTmFrameController::SetReadOnlyColor(TColor Value)
{
    if (TmStore(readOnlyColor_, Value))
        NotifyControls(fcpReadOnlyColor);
}

void TTmFrameController::SetReadOnlyColorOnFocus(bool Value)
{
    if (TmStore(readOnlyColorOnFocus_, Value))
        NotifyControls(fcpReadOnlyColorOnFocus);
}

void TTmFrameController::SetFocusColor(TColor Value)
{
    if (TmStore(focusColor_, Value))
        NotifyControls(fcpFocusColor);
}

void TTmFrameController::SetFrameColor(TColor Value)
{
    if (TmStore(frameColor_, Value))
        NotifyControls(fcpFrameColor);
}

void TTmFrameController::SetFrameHotColor(TColor Value)
{
    if (TmStore(frameHotColor_, Value))
        NotifyControls(fcpFrameHotColor);
}

void TTmFrameController::SetFrameHotTrack(bool Value)
{
    if (Value == frameHotTrack_)
        return;
    if (Value) {
        SetFrameVisible(true);
        if (!(GetComponentState() & classlib::csLoading))
            frameSides_ = sdAllSides;
    }
    frameHotTrack_ = Value;
    NotifyControls(fcpFrameHotTrack);
}

void TTmFrameController::SetFrameHotStyle(TFrameStyle Value)
{
    if (TmStore(frameHotStyle_, Value))
        NotifyControls(fcpFrameHotStyle);
}

void TTmFrameController::SetFrameSides(TSides Value)
{
    if (TmStore(frameSides_, Value))
        NotifyControls(fcpFrameSides);
}

void TTmFrameController::SetFrameStyle(TFrameStyle Value)
{
    if (TmStore(frameStyle_, Value))
        NotifyControls(fcpFrameStyle);
}

void TTmFrameController::SetFrameVisible(bool Value)
{
    if (TmStore(frameVisible_, Value))
        NotifyControls(fcpFrameVisible);
}

void TTmFrameController::SetFramingPreference(TFramingPreference Value)
{
    if (TmStore(framingPreference_, Value))
        NotifyControls(fcpFramingPreference);
}

void TTmFrameController::SetRegIniFile(TTmRegIniFile* Value)
{
    if (Value == regIniFile_)
        return;
    if (regIniFile_)
        RemoveFreeNotification(regIniFile_);
    regIniFile_ = Value;
    if (Value)
        FreeNotification(Value);
}

void TTmFrameController::Assign(const classlib::TPersistent* Source)
{
    auto* src = dynamic_cast<const TTmFrameController*>(Source);
    if (!src) {
        TComponent::Assign(Source);
        return;
    }
    BeginUpdate();
    try {
        SetColor(src->color_);
        SetDisabledColor(src->disabledColor_);
        SetReadOnlyColor(src->readOnlyColor_);
        SetReadOnlyColorOnFocus(src->readOnlyColorOnFocus_);
        SetFlatButtonColor(src->flatButtonColor_);
        SetFlatButtons(src->flatButtons_);
        SetFocusColor(src->focusColor_);
        SetFrameColor(src->frameColor_);
        SetFrameHotColor(src->frameHotColor_);
        SetFrameHotStyle(src->frameHotStyle_);
        SetFrameHotTrack(src->frameHotTrack_);
        SetFrameSides(src->frameSides_);
        SetFrameStyle(src->frameStyle_);
        SetFrameVisible(src->frameVisible_);
        SetFramingPreference(src->framingPreference_);
        SetParentColor(src->parentColor_);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TTmFrameController::Loaded()
{
    TComponent::Loaded();
    NotifyControls(fcpAll);
}

void TTmFrameController::Notification(classlib::TComponent* AComponent, classlib::TOperation Operation)
{
    TComponent::Notification(AComponent, Operation);
    if (Operation == classlib::opRemove && AComponent == regIniFile_)
        regIniFile_ = nullptr;
}

bool TTmFrameController::ReadObsoleteProperty(const std::wstring& Name, const std::wstring& Value)
{
    const std::wstring name = classlib::WideUpperCase(Name);
    if (name == L"FRAMEFLAT") {
        const std::wstring v = classlib::WideUpperCase(Value);
        bool flat;
        if (v == L"TRUE" || v == L"1")
            flat = true;
        else if (v == L"FALSE" || v == L"0")
            flat = false;
        else
            throw classlib::EReadError(L"Invalid property value");
        frameHotTrack_ = flat;
        if (flat) {
            frameStyle_ = fsStatus;
            frameHotStyle_ = fsLowered;
        }
        return true;
    }
    if (name == L"FRAMEFOCUSSTYLE") {
        static const wchar_t* const kNames[fsFlatBold + 1] = {
            L"FSNONE",         L"FSFLAT",    L"FSGROOVE",   L"FSBUMP",   L"FSLOWERED",  L"FSBUTTONDOWN",
            L"FSRAISED",       L"FSBUTTONUP", L"FSSTATUS",  L"FSPOPUP",  L"FSFLATBOLD"};
        const std::wstring v = classlib::WideUpperCase(Value);
        for (int i = 0; i <= fsFlatBold; ++i)
            if (v == kNames[i]) {
                frameHotStyle_ = static_cast<TFrameStyle>(i);
                return true;
            }
        throw classlib::EReadError(L"Invalid property value");
    }
    if (name == L"FRAMEFLATSTYLE")
        return true;
    return false;
}

// ----------------------------------------------------------- blink list

TTmBlinkingControlsList* TmBlinkingControls = nullptr;

TTmBlinkingControlsList::TTmBlinkingControlsList() : timer_(std::make_unique<classlib::TTimer>(nullptr))
{
    timer_->SetInterval(intervalOff_);
    timer_->SetOnTimer(classlib::TNotifyEvent(this, &TTmBlinkingControlsList::TimerFired));
    timer_->SetEnabled(true);
}

TTmBlinkingControlsList::~TTmBlinkingControlsList() = default;

void TTmBlinkingControlsList::AddControl(TControl* Control) { controls_.push_back(Control); }

void TTmBlinkingControlsList::RemoveControl(TControl* Control)
{
    auto it = std::find(controls_.begin(), controls_.end(), Control);
    if (it == controls_.end())
        throw classlib::EListError(L"Control is not in the blink list");
    controls_.erase(it);
}

void TTmBlinkingControlsList::TimerFired(classlib::TObject*)
{
    if (state_ == 1) {
        state_ = 0;
        timer_->SetInterval(intervalOff_);
    } else {
        state_ = 1;
        timer_->SetInterval(intervalOn_);
    }
    // A control may leave the list while it is told: work on a copy and skip
    // controls no longer listed.
    std::vector<TControl*> list = controls_;
    for (TControl* c : list) {
        if (std::find(controls_.begin(), controls_.end(), c) == controls_.end())
            continue;
        if (c->Perform(CM_TMISBLINKING, 0, 0) == 1)
            c->Perform(CM_TMBLINK, state_, 0);
    }
}

TTmBlinkingControlsList* TmAcquireBlinkList()
{
    if (!TmBlinkingControls)
        TmBlinkingControls = new TTmBlinkingControlsList();
    return TmBlinkingControls;
}

void TmReleaseBlinkList()
{
    if (TmBlinkingControls && TmBlinkingControls->Count() == 0) {
        delete TmBlinkingControls;
        TmBlinkingControls = nullptr;
    }
}

// ------------------------------------------------------ storage settings

void TTmRegIniFile::SetFileEncoding(TTmIniFileEncoding Value)
{
    if (TmStore(fileEncoding_, Value))
        refreshStorage_ = true;
}

void TTmRegIniFile::SetPath(const std::wstring& Value)
{
    if (TmStore(path_, Value))
        refreshStorage_ = true;
}

void TTmRegIniFile::SetPathType(TTmPathType Value)
{
    if (TmStore(pathType_, Value))
        refreshStorage_ = true;
}

void TTmRegIniFile::SetRegKey(TTmRegKey Value)
{
    if (TmStore(regKey_, Value))
        refreshStorage_ = true;
}

void TTmRegIniFile::SetRegAccess(TTmRegAccess Value)
{
    if (TmStore(regAccess_, Value))
        refreshStorage_ = true;
}

void TTmRegIniFile::SetSpecialFolder(TTmSpecialFolder Value)
{
    if (TmStore(specialFolder_, Value))
        refreshStorage_ = true;
}

}  // namespace themed
