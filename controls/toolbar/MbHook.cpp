#include "controls/toolbar/MbHook.h"

#include <array>
#include <memory>
#include <vector>

namespace toolbar {

namespace {

// One user of a procedure; users form a list from the newest to older ones.
struct THookUserData {
    THookUserData* Older = nullptr;
    const void* Client = nullptr;
    uint8_t HookKinds = 0;
};

struct THookProcData {
    TMbHookProc Callback = nullptr;
    TMbHookCodes EventCodes = 0;
    THookUserData* NewestUser = nullptr;
    // Set when the entry leaves the list, so that a dispatch holding it
    // skips it.
    bool Removed = false;
    ~THookProcData()
    {
        while (NewestUser) {
            THookUserData* older = NewestUser->Older;
            delete NewestUser;
            NewestUser = older;
        }
    }
};

struct THookInfo {
    std::array<HHOOK, 3> HookHandles{};
    std::array<int32_t, 3> HookCounts{};
};

// Entries are shared with running dispatches, which keep a snapshot of the
// list: an entry removed by a procedure stays alive until they are done.
using TProcList = std::vector<std::shared_ptr<THookProcData>>;

thread_local std::unique_ptr<THookInfo> tHookInfo;
thread_local std::unique_ptr<TProcList> tProcList;

LRESULT CALLBACK CallWndProcHook(int Code, WPARAM WParam, LPARAM LParam);
LRESULT CALLBACK CBTHook(int Code, WPARAM WParam, LPARAM LParam);
LRESULT CALLBACK GetMessageHook(int Code, WPARAM WParam, LPARAM LParam);

const std::array<HOOKPROC, 3> kHookProcs{&CallWndProcHook, &CBTHook, &GetMessageHook};
const std::array<int, 3> kHookKinds{WH_CALLWNDPROC, WH_CBT, WH_GETMESSAGE};

uint8_t TypesOfCodes(TMbHookCodes Codes)
{
    uint8_t types = 0;
    if (Codes & (hcActivate | hcActivateApp | hcWindowPosChanged)) types |= 1u << htCallWndProc;
    if (Codes & hcDestroyWindow) types |= 1u << htCBT;
    if (Codes & hcGetMessage) types |= 1u << htGetMessage;
    return types;
}

void MbAddHooks(uint8_t Types, uint8_t& Installed)
{
    if (!tHookInfo) tHookInfo = std::make_unique<THookInfo>();
    THookInfo& info = *tHookInfo;
    for (int t = 0; t < 3; ++t)
        if ((Types & (1u << t)) && !(Installed & (1u << t))) {
            ++info.HookCounts[static_cast<std::size_t>(t)];
            Installed |= static_cast<uint8_t>(1u << t);
        }
    for (int t = 0; t < 3; ++t) {
        const auto i = static_cast<std::size_t>(t);
        if ((Installed & (1u << t)) && !info.HookHandles[i])
            info.HookHandles[i] = ::SetWindowsHookExW(kHookKinds[i], kHookProcs[i], nullptr, ::GetCurrentThreadId());
    }
}

HHOOK HandleOf(int Type) { return tHookInfo ? tHookInfo->HookHandles[static_cast<std::size_t>(Type)] : nullptr; }

// Calls every live entry with Code; the list may change meanwhile.
void Dispatch(int Code, HWND Wnd, WPARAM WParam, LPARAM LParam)
{
    if (!tProcList) return;
    const TProcList snapshot = *tProcList;
    for (const std::shared_ptr<THookProcData>& entry : snapshot) {
        try {
            if (entry->Removed || !(entry->EventCodes & (1u << Code))) continue;
            entry->Callback(Code, Wnd, WParam, LParam);
        } catch (...) {
            // A failing procedure does not stop the others or the chain.
        }
    }
}

LRESULT CALLBACK CallWndProcHook(int Code, WPARAM WParam, LPARAM LParam)
{
    if (Code == HC_ACTION && tProcList) {
        const auto* m = reinterpret_cast<const CWPSTRUCT*>(LParam);
        int code = -1;
        if (m->message == WM_ACTIVATE) code = 0;
        else if (m->message == WM_ACTIVATEAPP) code = 1;
        else if (m->message == WM_WINDOWPOSCHANGED) code = 2;
        if (code >= 0) Dispatch(code, m->hwnd, m->wParam, m->lParam);
    }
    return ::CallNextHookEx(HandleOf(htCallWndProc), Code, WParam, LParam);
}

LRESULT CALLBACK CBTHook(int Code, WPARAM WParam, LPARAM LParam)
{
    if (Code == HCBT_DESTROYWND && tProcList) Dispatch(3, reinterpret_cast<HWND>(WParam), 0, 0);
    return ::CallNextHookEx(HandleOf(htCBT), Code, WParam, LParam);
}

LRESULT CALLBACK GetMessageHook(int Code, WPARAM WParam, LPARAM LParam)
{
    if (Code == HC_ACTION && tProcList) Dispatch(4, nullptr, WParam, LParam);
    return ::CallNextHookEx(HandleOf(htGetMessage), Code, WParam, LParam);
}

}  // namespace

void MbHookRegister(const void* User, TMbHookProc Proc, TMbHookCodes Codes)
{
    if (!tProcList) tProcList = std::make_unique<TProcList>();
    for (const std::shared_ptr<THookProcData>& entry : *tProcList) {
        if (entry->Callback != Proc) continue;
        for (THookUserData* u = entry->NewestUser; u; u = u->Older)
            if (u->Client == User) {
                MbAddHooks(TypesOfCodes(Codes), u->HookKinds);
                return;
            }
        auto* user = new THookUserData{entry->NewestUser, User, 0};
        entry->NewestUser = user;
        MbAddHooks(TypesOfCodes(Codes), user->HookKinds);
        return;
    }
    auto user = std::make_unique<THookUserData>();
    user->Client = User;
    tProcList->reserve(tProcList->size() + 1);
    auto entry = std::make_shared<THookProcData>();
    entry->Callback = Proc;
    entry->EventCodes = Codes;
    entry->NewestUser = user.release();
    tProcList->push_back(entry);
    MbAddHooks(TypesOfCodes(Codes), entry->NewestUser->HookKinds);
}

void MbHookUnregister(const void* User, TMbHookProc Proc)
{
    if (!tProcList) return;
    for (auto it = tProcList->begin(); it != tProcList->end(); ++it) {
        THookProcData& entry = **it;
        if (entry.Callback != Proc) continue;
        THookUserData* newer = nullptr;
        THookUserData* node = entry.NewestUser;
        while (node && node->Client != User) {
            newer = node;
            node = node->Older;
        }
        if (!node) return;
        if (newer) newer->Older = node->Older;
        else entry.NewestUser = node->Older;
        const uint8_t types = node->HookKinds;
        delete node;
        if (!entry.NewestUser) {
            entry.Removed = true;
            tProcList->erase(it);
        }
        MbRemoveHooks(types, false);
        if (tProcList->empty()) tProcList.reset();
        return;
    }
}

void MbRemoveHooks(uint8_t Types, bool Force)
{
    if (!tHookInfo) return;
    THookInfo& info = *tHookInfo;
    for (int t = 0; t < 3; ++t) {
        const auto i = static_cast<std::size_t>(t);
        if (!(Types & (1u << t))) continue;
        if (!Force) --info.HookCounts[i];
        if (info.HookHandles[i] && (Force || info.HookCounts[i] == 0)) {
            ::UnhookWindowsHookEx(info.HookHandles[i]);
            info.HookHandles[i] = nullptr;
        }
    }
    bool empty = true;
    for (std::size_t i = 0; i < 3; ++i)
        if (info.HookCounts[i] != 0 || info.HookHandles[i]) empty = false;
    if (empty) tHookInfo.reset();
}

int MbHookCount(int Type) { return tHookInfo ? tHookInfo->HookCounts[static_cast<std::size_t>(Type)] : 0; }
bool MbHookInstalled(int Type) { return HandleOf(Type) != nullptr; }
bool MbHookStateExists() { return tHookInfo || tProcList; }
int MbHookProcCount() { return tProcList ? static_cast<int>(tProcList->size()) : 0; }

}  // namespace toolbar
