#include "ui/win32/MessageBoxes.h"

#include "ui/logic/Messages.h"
#include "engine/platform/win32/Utf16.h"

namespace dxfkonv::win32 {

namespace {

// The hook that renames the buttons of the next message box this thread
// opens, and goes as soon as it has.
thread_local HHOOK tRenameHook = nullptr;

LRESULT CALLBACK renameButtons(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE) {
        const auto box = reinterpret_cast<HWND>(wParam);
        wchar_t className[16] = {};
        GetClassNameW(box, className, 16);
        if (lstrcmpW(className, L"#32770") == 0) {
            SetDlgItemTextW(box, IDYES, L"&Ano");
            SetDlgItemTextW(box, IDNO, L"&Ne");
            UnhookWindowsHookEx(tRenameHook);
            tRenameHook = nullptr;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

void ShowErrorBox(HWND owner, const std::string& text)
{
    MessageBoxW(owner, WideLoosely(text).c_str(), kProgramTitle, MB_ICONSTOP | MB_OK);
}

bool AskYesNo(HWND owner, const std::string& question)
{
    tRenameHook = SetWindowsHookExW(WH_CBT, renameButtons, nullptr, GetCurrentThreadId());
    const int answer = MessageBoxW(owner, WideLoosely(question).c_str(), kProgramTitle,
                                   MB_ICONQUESTION | MB_YESNO | MB_DEFBUTTON2);
    if (tRenameHook) {
        UnhookWindowsHookEx(tRenameHook);
        tRenameHook = nullptr;
    }
    return answer == IDYES;
}

void ShowFailure(HWND owner, std::exception_ptr failure)
{
    ShowErrorBox(owner, FailureText(std::move(failure)));
}

}  // namespace dxfkonv::win32
