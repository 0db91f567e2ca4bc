// One test's run of the real program: the set-up and clean-up every
// end-to-end test shares.
//
// The program keeps its settings under HKCU\Software\Grembolt\Velmo\1.4;
// the key is removed before and after each run so the program starts on its
// defaults. A finished album is opened with the shell's browser, which a
// run can point at a program that does nothing.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "Driver.h"

namespace e2e {

inline constexpr wchar_t kSettingsKey[] = L"Software\\Grembolt\\Velmo\\1.4";

// The Velmo.exe to drive: VELMO_E2E_EXE when set (a Windows path), else the
// one this build made; always with backslashes.
std::wstring AppExe();
// The folder of AppExe(), with its closing backslash.
std::wstring ProgramFolder();
// The text after "Key=" in the translation file File beside the program
// (UTF-8); empty when the file has no such line.
std::wstring TranslationText(const wchar_t* File, const std::wstring& Key);

// The shell browser's "Browsers" value set to a program that does nothing
// for the life of the object; the old value (or its absence) back at the end.
class TQuietBrowser {
public:
    TQuietBrowser();
    ~TQuietBrowser();
    TQuietBrowser(const TQuietBrowser&) = delete;
    TQuietBrowser& operator=(const TQuietBrowser&) = delete;

private:
    bool had_ = false;
    std::wstring old_;
};

enum class TBrowser { Shell, Quiet };

// The settings key removed on construction; Start() starts the program;
// Finish() (or the destructor) closes it, answering Yes to any question,
// and removes the key again. With TBrowser::Quiet the shell's browser is
// quiet from construction until the object goes.
class TRoadRun {
public:
    explicit TRoadRun(TBrowser Browser = TBrowser::Shell);
    ~TRoadRun();
    TRoadRun(const TRoadRun&) = delete;
    TRoadRun& operator=(const TRoadRun&) = delete;

    // Starts AppExe() and waits for its main window; false with Error set
    // when it does not come.
    bool Start(std::wstring& Error);
    // Closes the program if it runs and removes the settings key; a second
    // call only removes the key again.
    void Finish();

    // The window of the main form's component Name; a missing one fails the
    // test by name.
    HWND Control(const wchar_t* Name);

    // Answers the program's message boxes with OK (Yes where there is no
    // OK) until a build is over: Start enabled again and five seconds
    // without a message, or the program gone. Returns the messages; each is
    // also saved as a screenshot (Screenshot).
    std::vector<std::wstring> WaitBuildOver(DWORD TimeoutMs);
    // Answers with OK every message box of the program that shows within
    // TimeoutMs; returns their texts.
    std::vector<std::wstring> AnswerMessages(DWORD TimeoutMs);

    TProgram app;

private:
    std::unique_ptr<TQuietBrowser> browser_;
};

}  // namespace e2e
