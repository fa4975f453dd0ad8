// The program's message boxes and its default handler for errors.
#pragma once

#include <windows.h>

#include <exception>
#include <string>
#include <utility>

namespace dxfkonv::win32 {

// The program's short title, the message boxes' caption.
inline constexpr wchar_t kProgramTitle[] = L"dxfkonv";

// An error with the stop icon and an OK button, titled with the program's
// title; returns once it is closed.
void ShowErrorBox(HWND owner, const std::string& text);

// A question with the buttons "Ano" and "Ne", "Ne" the default; true for
// "Ano". The system's box, its buttons renamed as it opens, since their
// own words follow the system's language.
bool AskYesNo(HWND owner, const std::string& question);

// The default handler: what an event handler threw, in the error box, in
// the form logic's words.
void ShowFailure(HWND owner, std::exception_ptr failure);

// Runs an event handler; what it throws is shown by the default handler
// (never thrown on through the system's code), and the program goes on
// waiting for input.
template <typename Handler>
void RunHandler(HWND owner, Handler&& handler)
{
    try {
        std::forward<Handler>(handler)();
    } catch (...) {
        ShowFailure(owner, std::current_exception());
    }
}

}  // namespace dxfkonv::win32
