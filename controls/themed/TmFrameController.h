// Non-visual services of the themed controls: the frame controller that
// pushes one set of frame and colour settings to every control linked to it,
// the interface through which themed controls take those settings, the
// shared blink timer of the status panes, and the storage settings component.
//
// Threads: all of it belongs to the main thread (the blink timer fires there).
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Component.h"
#include "classlib/Controls.h"
#include "classlib/ExtCtrls.h"
#include "controls/themed/TmCommon.h"

namespace themed {

// The settings of a frame controller by number; fcpAll stands for all.
enum TTmFrameControllerProperty : uint8_t {
    fcpColor,
    fcpFocusColor,
    fcpDisabledColor,
    fcpReadOnlyColor,
    fcpReadOnlyColorOnFocus,
    fcpParentColor,
    fcpFlatButtonColor,
    fcpFlatButtons,
    fcpFrameColor,
    fcpFrameHotColor,
    fcpFrameHotTrack,
    fcpFrameHotStyle,
    fcpFrameSides,
    fcpFrameStyle,
    fcpFrameVisible,
    fcpFramingPreference,
    fcpAll
};
// A set of settings 0-15: bit n for setting n.
using TTmFrameControllerNotifications = uint16_t;
constexpr TTmFrameControllerNotifications fcnAll = 0xFFFF;
constexpr TTmFrameControllerNotifications FrameNotification(TTmFrameControllerProperty P)
{
    return static_cast<TTmFrameControllerNotifications>(1u << P);
}

enum TFramingPreference : uint8_t { fpCustomFraming, fpXPThemes };

// The property names of the settings 0-15, as linked controls publish them.
extern const wchar_t* const TmFrameControllerPropertyNames[fcpAll];

// A control's published properties as seen by name: what a frame controller
// writes into a control that is not a frame-controller client. Values are
// ordinals: colours as TColor, Booleans 0/1, enumerations by position, sets
// as bit masks.
class ITmPublishedProperties {
public:
    virtual bool HasPublishedProperty(const std::wstring& Name) const = 0;
    virtual int64_t GetPublishedProperty(const std::wstring& Name) const = 0;
    virtual void SetPublishedProperty(const std::wstring& Name, int64_t Value) = 0;

protected:
    ~ITmPublishedProperties() = default;
};

// Implemented by the themed panels, progress bars and status panes: they read
// the controller's settings themselves, filtered by their own notification
// set. The controller never deletes a client through this interface.
constexpr GUID IID_ITmFrameControllerClient = {
    0x64B1C9EA, 0xC954, 0x428A, {0x95, 0xC4, 0x4E, 0xA2, 0xEB, 0x0F, 0x1E, 0x16}};
class ITmFrameControllerClient {
public:
    virtual void UpdateFrameController() = 0;

protected:
    ~ITmFrameControllerClient() = default;
};

class TTmRegIniFile;

// Pushes its settings to the linked controls. It does not own them: a control
// unlinks itself (RemoveControl) when it is destroyed or linked elsewhere,
// and links a free notification to hear of the controller's destruction.
class TTmFrameController : public classlib::TComponent {
public:
    explicit TTmFrameController(classlib::TComponent* AOwner);
    ~TTmFrameController() override;
    std::wstring ClassName() const override { return L"TTmFrameController"; }

    void Assign(const classlib::TPersistent* Source) override;

    void AddControl(classlib::TControl* Control);
    void RemoveControl(classlib::TControl* Control);
    int GetControlCount() const { return controls_ ? static_cast<int>(controls_->size()) : 0; }
    void BeginUpdate() { ++updateCount_; }
    void EndUpdate();
    void NotifyControls(TTmFrameControllerProperty Setting);
    void UpdateControl(classlib::TControl* Control, TTmFrameControllerProperty Setting);
    static TTmFrameControllerNotifications GetNotifications(classlib::TControl* Control);

    // The value of one setting as an ordinal (the form linked controls get).
    int64_t GetSettingValue(TTmFrameControllerProperty Setting) const;

    TColor GetColor() const { return color_; }
    void SetColor(TColor Value);
    bool GetParentColor() const { return parentColor_; }
    void SetParentColor(bool Value);
    TColor GetFlatButtonColor() const { return flatButtonColor_; }
    void SetFlatButtonColor(TColor Value);
    bool GetFlatButtons() const { return flatButtons_; }
    void SetFlatButtons(bool Value);
    TColor GetDisabledColor() const { return disabledColor_; }
    void SetDisabledColor(TColor Value);
    TColor GetReadOnlyColor() const { return readOnlyColor_; }
    void SetReadOnlyColor(TColor Value);
    bool GetReadOnlyColorOnFocus() const { return readOnlyColorOnFocus_; }
    void SetReadOnlyColorOnFocus(bool Value);
    TColor GetFocusColor() const { return focusColor_; }
    void SetFocusColor(TColor Value);
    TColor GetFrameColor() const { return frameColor_; }
    void SetFrameColor(TColor Value);
    TColor GetFrameHotColor() const { return frameHotColor_; }
    void SetFrameHotColor(TColor Value);
    bool GetFrameHotTrack() const { return frameHotTrack_; }
    void SetFrameHotTrack(bool Value);
    TFrameStyle GetFrameHotStyle() const { return frameHotStyle_; }
    void SetFrameHotStyle(TFrameStyle Value);
    TSides GetFrameSides() const { return frameSides_; }
    void SetFrameSides(TSides Value);
    TFrameStyle GetFrameStyle() const { return frameStyle_; }
    void SetFrameStyle(TFrameStyle Value);
    bool GetFrameVisible() const { return frameVisible_; }
    void SetFrameVisible(bool Value);
    TFramingPreference GetFramingPreference() const { return framingPreference_; }
    void SetFramingPreference(TFramingPreference Value);
    // Not owned; cleared when that component goes away.
    TTmRegIniFile* GetRegIniFile() const { return regIniFile_; }
    void SetRegIniFile(TTmRegIniFile* Value);

    // Settings of old form files, read and translated (never written):
    // "FrameFlat" (Boolean as 0/1), "FrameFocusStyle" (a frame style name),
    // "FrameFlatStyle" (read and dropped). Returns false for other names.
    bool ReadObsoleteProperty(const std::wstring& Name, const std::wstring& Value);

protected:
    void Loaded() override;
    void Notification(classlib::TComponent* AComponent, classlib::TOperation Operation) override;

private:
    int updateCount_ = 0;
    TColor color_ = classlib::clWindow;
    bool parentColor_ = false;
    TColor flatButtonColor_ = classlib::clBtnFace;
    bool flatButtons_ = true;
    TColor disabledColor_ = classlib::clBtnFace;
    TColor readOnlyColor_ = classlib::clInfoBk;
    bool readOnlyColorOnFocus_ = false;
    TColor focusColor_ = classlib::clWindow;
    TColor frameColor_ = classlib::clBtnShadow;
    TColor frameHotColor_ = classlib::clBtnShadow;
    bool frameHotTrack_ = false;
    TFrameStyle frameHotStyle_ = fsFlatBold;
    TSides frameSides_ = sdAllSides;
    TFrameStyle frameStyle_ = fsFlat;
    bool frameVisible_ = false;
    TFramingPreference framingPreference_ = fpXPThemes;
    std::unique_ptr<std::vector<classlib::TControl*>> controls_;
    TTmRegIniFile* regIniFile_ = nullptr;
};

// Messages of the blink timer: "are you blinking?" (result 1 for yes) and
// "show blink state WParam" (0 normal colour, 1 blink colour).
constexpr UINT CM_TMISBLINKING = 0xB3E8;
constexpr UINT CM_TMBLINK = 0xB3E9;

// The controls that blink in step, switched by one timer. The list does not
// own the controls: each removes itself before it is destroyed.
class TTmBlinkingControlsList : public classlib::TObject {
public:
    TTmBlinkingControlsList();
    ~TTmBlinkingControlsList() override;
    TTmBlinkingControlsList(const TTmBlinkingControlsList&) = delete;
    TTmBlinkingControlsList& operator=(const TTmBlinkingControlsList&) = delete;
    std::wstring ClassName() const override { return L"TTmBlinkingControlsList"; }

    void AddControl(classlib::TControl* Control);
    // The control must be listed (EListError otherwise).
    void RemoveControl(classlib::TControl* Control);
    int Count() const { return static_cast<int>(controls_.size()); }

    // 0: normal colour shown, 1: blink colour shown.
    uint8_t GetBlinkState() const { return state_; }
    uint16_t GetIntervalOff() const { return intervalOff_; }
    void SetIntervalOff(uint16_t Value) { intervalOff_ = Value; }
    uint16_t GetIntervalOn() const { return intervalOn_; }
    void SetIntervalOn(uint16_t Value) { intervalOn_ = Value; }
    // The interval the timer runs with now.
    unsigned GetTimerInterval() const { return timer_->GetInterval(); }

    // The timer's handler: switches the state and tells the blinking controls.
    void TimerFired(classlib::TObject* Sender = nullptr);

private:
    uint8_t state_ = 1;
    uint16_t intervalOff_ = 500;
    uint16_t intervalOn_ = 500;
    std::unique_ptr<classlib::TTimer> timer_;
    std::vector<classlib::TControl*> controls_;
};

// The shared blink list: created by the first status pane
// (TmAcquireBlinkList), freed by TmReleaseBlinkList once no control is listed
// (the pointer is then null again).
extern TTmBlinkingControlsList* TmBlinkingControls;
TTmBlinkingControlsList* TmAcquireBlinkList();
void TmReleaseBlinkList();

enum TTmIniFileEncoding : uint8_t { feDefault, feUTF8, feUnicode };
enum TTmPathType : uint8_t { ptIniFile, ptRegistry };
enum TTmRegKey : uint8_t {
    hkeyClassesRoot,
    hkeyCurrentUser,
    hkeyLocalMachine,
    hkeyUsers,
    hkeyPerformanceData,
    hkeyCurrentConfig,
    hkeyDynData
};
enum TTmRegAccessKey : uint8_t {
    keyQueryValue,
    keySetValue,
    keyCreateSubKey,
    keyEnumerateSubKeys,
    keyNotify,
    keyCreateLink,
    keyRead,
    keyWrite,
    keyExecute,
    keyAllAccess
};
// Set of TTmRegAccessKey: bit n for key n.
using TTmRegAccess = uint16_t;
enum TTmSpecialFolder : uint8_t { sfNone, sfUserAppDataRoaming, sfUserAppDataLocal, sfUserDocuments, sfProgramData };

// Where settings would be stored. It only holds the place: every change sets
// the refresh flag so that a user of the storage opens it anew.
class TTmRegIniFile : public classlib::TComponent {
public:
    explicit TTmRegIniFile(classlib::TComponent* AOwner) : TComponent(AOwner) {}
    std::wstring ClassName() const override { return L"TTmRegIniFile"; }

    TTmIniFileEncoding GetFileEncoding() const { return fileEncoding_; }
    void SetFileEncoding(TTmIniFileEncoding Value);
    const std::wstring& GetPath() const { return path_; }
    void SetPath(const std::wstring& Value);
    TTmPathType GetPathType() const { return pathType_; }
    void SetPathType(TTmPathType Value);
    TTmRegKey GetRegKey() const { return regKey_; }
    void SetRegKey(TTmRegKey Value);
    TTmRegAccess GetRegAccess() const { return regAccess_; }
    void SetRegAccess(TTmRegAccess Value);
    TTmSpecialFolder GetSpecialFolder() const { return specialFolder_; }
    void SetSpecialFolder(TTmSpecialFolder Value);

    bool GetRefreshStorage() const { return refreshStorage_; }
    void SetRefreshStorage(bool Value) { refreshStorage_ = Value; }

private:
    TTmIniFileEncoding fileEncoding_ = feDefault;
    std::wstring path_;
    TTmPathType pathType_ = ptIniFile;
    TTmRegKey regKey_ = hkeyCurrentUser;
    TTmRegAccess regAccess_ = 1u << keyAllAccess;
    TTmSpecialFolder specialFolder_ = sfNone;
    bool refreshStorage_ = true;
};

}  // namespace themed
