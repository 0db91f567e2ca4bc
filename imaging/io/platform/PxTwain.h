#pragma once
// The scanner session's teardown. No flow of the program loads the scanner
// source manager or creates its proxy window; the settings object still
// releases both when it goes, in case a caller set them, and logs each step
// to its log file when one is named.

#include <windows.h>

#include <string>

namespace imaging {

class TPxTWainParams;

// The state of one scanner session.
struct TPxTWSession {
    HWND ParentWindow = nullptr;    // the window the source's dialogs belong to
    int State = 1;                  // 1: no source manager loaded
    HWND ProxyWindow = nullptr;     // hidden window that parents the source
    HMODULE SourceManager = nullptr;  // the loaded source-manager library
    std::wstring LogFileName;       // empty: no log
};

// A fresh session: the active window as parent, state 1, nothing loaded.
void PxTW_InitSession(TPxTWSession& Session);

// Appends "<short date> <time> : <Text>" and a line break to the session's
// log file; does nothing without a log-file name. A log that cannot be
// written is skipped silently: logging never fails a teardown.
void PxTW_Log(const TPxTWSession& Session, const std::wstring& Text);

// Destroys the proxy window (when it is still a window) and clears it.
void DestroyProxyWindow(TPxTWSession& Session);

// Frees the source-manager library, clears it and returns to state 1.
void PxTW_UnloadSourceManager(TPxTWSession& Session);

// Takes the settings' proxy window and source manager into a fresh session,
// releases what is set and clears both fields of the settings.
void PxTW_Teardown(TPxTWainParams& Params);

}  // namespace imaging
