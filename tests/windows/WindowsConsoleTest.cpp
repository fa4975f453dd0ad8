// The command line's output on Windows: characters to a console,
// whatever its code page. (The UTF-8 bytes of redirected output are
// checked by WindowsCliTest.cpp.)
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>

#include "WindowsTestSupport.h"
#include "engine/platform/Console.h"

using namespace dxfkonv;
using namespace dxfkonv::test;

namespace {

const struct {
    const char* utf8;
    const wchar_t* shown;
} kTexts[] = {{"Příliš žluťoučký kůň úpěl ďábelské ódy", L"Příliš žluťoučký kůň úpěl ďábelské ódy"},
              {"výkres-č.dxf: recoded 4 texts", L"výkres-č.dxf: recoded 4 texts"}};

}  // namespace

// Run only as the child of TextReachesAConsoleAsItsCharacters: a console
// of its own, in the DOS code page, as its standard output; the text
// written is read back from the console's screen. Exits 0 when each line
// shows as it should, else with the number of the first that does not;
// 100 when the console has no screen.
TEST(ConsoleChild, DISABLED_WritesToAConsoleOfItsOwn)
{
    ::FreeConsole();
    ASSERT_TRUE(::AllocConsole());
    ::SetConsoleOutputCP(852);
    const HANDLE screen = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(screen, INVALID_HANDLE_VALUE);
    DWORD mode = 0;
    if (!::GetConsoleMode(screen, &mode))
        ::ExitProcess(100);
    ::SetStdHandle(STD_OUTPUT_HANDLE, screen);
    if (!IsTerminal(StandardStream::kOutput))
        ::ExitProcess(101);
    SHORT row = 0;
    for (const auto& text : kTexts) {
        ++row;
        // Each line starts at the left edge of the next row.
        if (WriteText(StandardStream::kOutput, std::string(text.utf8) + "\n") != 0)
            ::ExitProcess(200 + static_cast<UINT>(row));
        std::wstring shown(wcslen(text.shown), L'\0');
        DWORD read = 0;
        ::ReadConsoleOutputCharacterW(screen, shown.data(), static_cast<DWORD>(shown.size()), COORD{0, SHORT(row - 1)},
                                      &read);
        if (shown != text.shown)
            ::ExitProcess(static_cast<UINT>(row));
    }
    ::ExitProcess(0);
}

TEST(WindowsConsole, TextReachesAConsoleAsItsCharacters)
{
    const Finished child = runTestAlone(L"ConsoleChild.DISABLED_WritesToAConsoleOfItsOwn");
    EXPECT_FALSE(child.timedOut);
    if (child.status == 100)
        GTEST_SKIP() << "the console made has no screen to write to (Wine without a display)";
    EXPECT_EQ(child.status, 0u) << child.out;
}

TEST(WindowsConsole, RedirectedOutputIsNoTerminal)
{
    // This program's output goes to ctest's pipe, or to a file.
    EXPECT_FALSE(IsTerminal(StandardStream::kOutput));
}
