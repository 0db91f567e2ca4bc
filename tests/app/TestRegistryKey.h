// A private registry key for settings tests: a fresh key below
// HKEY_CURRENT_USER\Software with "User" and "Machine" places under it, and
// the whole key deleted again when the object goes out of scope.
#pragma once

#include <windows.h>

#include <string>

#include "app/Settings.h"
#include "classlib/Registry.h"

namespace testsupport {

class TestRegistryKey {
public:
    TestRegistryKey()
    {
        static unsigned counter = 0;
        base_ = L"\\Software\\VelmoTest-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                std::to_wstring(++counter);
        places_.User = {HKEY_CURRENT_USER, base_ + L"\\User"};
        places_.Machine = {HKEY_CURRENT_USER, base_ + L"\\Machine"};
    }
    ~TestRegistryKey()
    {
        classlib::TRegistry reg;
        reg.DeleteKey(base_);
    }
    TestRegistryKey(const TestRegistryKey&) = delete;
    TestRegistryKey& operator=(const TestRegistryKey&) = delete;

    const album::TSettingsPlaces& Places() const { return places_; }

    // Writes a string value at the machine-wide place.
    void SetMachineString(const std::wstring& Name, const std::wstring& Value) const
    {
        classlib::TRegistry reg;
        reg.OpenKey(places_.Machine.Key, true);
        reg.WriteString(Name, Value);
    }
    // A registry object opened at the per-user place (created when missing).
    void OpenUser(classlib::TRegistry& Reg) const { Reg.OpenKey(places_.User.Key, true); }

private:
    std::wstring base_;
    album::TSettingsPlaces places_;
};

}  // namespace testsupport
