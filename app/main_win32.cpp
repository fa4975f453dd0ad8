// Start-up on Windows: the main window, the hidden progress window, then
// the message loop until the main window is closed. `dxfkonv PATH...`
// (Explorer's "Konvertovat v dxfkonv" passes one) starts in the first
// path's directory with the drawings named selected.
#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

#include "ui/win32/Dpi.h"
#include "ui/win32/FileChoice.h"
#include "ui/win32/MainWindow.h"
#include "ui/win32/ProgressWindow.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show)
{
    // A drive without a medium fails a call at once, with no box asking
    // for a disk.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    dxfkonv::win32::UsePerMonitorDpi();
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    dxfkonv::win32::MainWindow mainForm(dxfkonv::SystemFileSystem());
    if (!mainForm.Handle())
        return 1;  // no window could be made: nothing to wait for
    dxfkonv::win32::ProgressWindow pBarForm(mainForm.Handle());
    mainForm.SetProgressWindow(&pBarForm);

    ShowWindow(mainForm.Handle(), show);
    UpdateWindow(mainForm.Handle());
    const std::vector<std::string> paths = dxfkonv::win32::CommandLinePaths(GetCommandLineW());
    if (!paths.empty())
        mainForm.HandOver(paths);

    MSG msg{};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (mainForm.Handle() && mainForm.HandleDialogKeys(msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}
