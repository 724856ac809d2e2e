// The progress window on its own thread, under the test prefix's null graphics driver: a real dialog from
// the test program's own resources, read back through window messages from this (the owner's) thread.
#include "System/ExitCodeException.h"
#include "System/Win32/HandleHolder.h"
#include "Updater/Ui/ProgressWindow.h"
#include "Updater/Ui/ResourceIds.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <cstdint>
#include <memory>
#include <string>

using OV::System::CExitCodeException;
using OV::System::Win32::CHandleHolder;
using OV::Updater::Ui::CProgressWindow;

namespace
{

constexpr DWORD kBoundMs = 10000; // every wait of these tests ends by then
constexpr wchar_t kTitle[] = L"Update";
constexpr wchar_t kChecking[] = L"Checking for updates...";

ULONGLONG Now()
{
    return ::GetTickCount64();
}

template <typename Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs = kBoundMs)
{
    const ULONGLONG start = Now();
    while (!condition())
    {
        if (Now() - start > timeoutMs)
            return false;
        ::Sleep(5);
    }
    return true;
}

std::wstring ReadStatusText(HWND dialog)
{
    wchar_t text[256] = {};
    ::GetDlgItemTextW(dialog, IDC_STATUS_TEXT, text, 256);
    return text;
}

LRESULT ReadPosition(HWND dialog)
{
    DWORD_PTR position = 0;
    if (!::SendMessageTimeoutW(::GetDlgItem(dialog, IDC_PROGRESS_BAR), PBM_GETPOS, 0, 0, SMTO_BLOCK, kBoundMs,
                               &position))
        return -1000;
    return static_cast<LRESULT>(position);
}

// The window's thread, opened by its id, to see it end.
CHandleHolder OpenWindowThread(HWND dialog)
{
    const DWORD threadId = ::GetWindowThreadProcessId(dialog, nullptr);
    return CHandleHolder(::OpenThread(SYNCHRONIZE, FALSE, threadId));
}

class ProgressWindowTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        CProgressWindow::SetPauseBeforeShowing(1000);
        CProgressWindow::SetMinimumShowTime(500);
    }
};

TEST_F(ProgressWindowTest, IsNeverShownWhenDestroyedWithinThePauseAndItsThreadEnds)
{
    CProgressWindow::SetPauseBeforeShowing(1500);
    CProgressWindow::SetMinimumShowTime(3000);
    auto window = std::make_unique<CProgressWindow>(kTitle, kChecking, true);
    const HWND dialog = window->GetDialogHandle();
    const CHandleHolder thread = OpenWindowThread(dialog);
    ASSERT_TRUE(thread);
    ::Sleep(300);
    EXPECT_FALSE(::IsWindowVisible(dialog));
    const ULONGLONG stopAt = Now();
    window.reset();
    // Never shown, so no minimum show time: it closes at once.
    EXPECT_LT(Now() - stopAt, 2500u);
    EXPECT_FALSE(::IsWindow(dialog));
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread.Get(), 0));
    EXPECT_EQ(nullptr, CProgressWindow::GetCurrent());
}

TEST_F(ProgressWindowTest, MakesItsDialogOnlyWhenAskedForBeforeThePause)
{
    CProgressWindow::SetPauseBeforeShowing(60000);
    constexpr wchar_t kOwnTitle[] = L"Update (made when asked for)";
    CProgressWindow window(kOwnTitle, kChecking, true);
    window.SetProgress(30);
    ::Sleep(300);
    EXPECT_EQ(nullptr, ::FindWindowW(L"#32770", kOwnTitle));

    const HWND dialog = window.GetDialogHandle();
    ASSERT_TRUE(::IsWindow(dialog));
    EXPECT_EQ(dialog, ::FindWindowW(L"#32770", kOwnTitle));
    EXPECT_FALSE(::IsWindowVisible(dialog));
    EXPECT_EQ(kChecking, ReadStatusText(dialog));
    EXPECT_TRUE(WaitUntil([&] { return ReadPosition(dialog) == 30; }))
        << "the position set before it was made";
}

TEST_F(ProgressWindowTest, IsShownAfterThePauseAndStaysTheMinimumShowTime)
{
    CProgressWindow::SetPauseBeforeShowing(400);
    CProgressWindow::SetMinimumShowTime(1500);
    const ULONGLONG createdAt = Now();
    CProgressWindow window(kTitle, kChecking, true);
    const HWND dialog = window.GetDialogHandle();
    EXPECT_FALSE(::IsWindowVisible(dialog));
    ASSERT_TRUE(WaitUntil([&] { return ::IsWindowVisible(dialog) != FALSE; }));
    const ULONGLONG shownAt = Now();
    EXPECT_GE(shownAt - createdAt, 350u);

    // Asked to close right after it appeared, it stays for the minimum show time.
    window.SignalStop();
    ::Sleep(600);
    EXPECT_TRUE(::IsWindowVisible(dialog));
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(dialog); }));
    EXPECT_GE(Now() - shownAt, 1300u);
    EXPECT_EQ(nullptr, window.GetDialogHandle());
}

TEST_F(ProgressWindowTest, ShowsWhatTheOwnerSetsAndCannotBeClosedByTheUser)
{
    CProgressWindow::SetPauseBeforeShowing(0);
    CProgressWindow window(kTitle, kChecking, true);
    const HWND dialog = window.GetDialogHandle();
    ASSERT_TRUE(WaitUntil([&] { return ::IsWindowVisible(dialog) != FALSE; }));
    wchar_t text[64] = {};
    ::GetWindowTextW(dialog, text, 64);
    EXPECT_STREQ(kTitle, text);
    EXPECT_EQ(kChecking, ReadStatusText(dialog));
    EXPECT_EQ(0, ::GetWindowLongPtrW(dialog, GWL_STYLE) & WS_SYSMENU) << "no system menu, so no close box";

    // Two texts within one step: the second one is what stays.
    window.SetStatusText(L"first");
    window.SetStatusText(L"Applying update...");
    EXPECT_TRUE(WaitUntil([&] { return ReadStatusText(dialog) == L"Applying update..."; }));
    // Other parts of the run post the message themselves; past 100 is 100.
    ::PostMessageW(dialog, CProgressWindow::kSetProgressMessage, 55, 0);
    EXPECT_TRUE(WaitUntil([&] { return ReadPosition(dialog) == 55; }));
    window.SetProgress(150);
    EXPECT_TRUE(WaitUntil([&] { return ReadPosition(dialog) == 100; }));

    DWORD_PTR result = 0;
    EXPECT_TRUE(::SendMessageTimeoutW(dialog, WM_CLOSE, 0, 0, SMTO_BLOCK, kBoundMs, &result));
    EXPECT_TRUE(::SendMessageTimeoutW(dialog, WM_COMMAND, IDCANCEL, 0, SMTO_BLOCK, kBoundMs, &result));
    ::PostMessageW(dialog, WM_KEYDOWN, VK_ESCAPE, 0); // Esc goes through the dialog's keyboard handling
    ::Sleep(300);
    EXPECT_TRUE(::IsWindowVisible(dialog));
    EXPECT_EQ(dialog, window.GetDialogHandle());
}

TEST_F(ProgressWindowTest, SecondWindowFailsWith0x202WhileOneExists)
{
    CProgressWindow first(kTitle, kChecking, false);
    std::uint32_t code = 0;
    try
    {
        CProgressWindow second(kTitle, kChecking, false);
    }
    catch (const CExitCodeException& failure)
    {
        code = failure.GetExitCode();
    }
    EXPECT_EQ(0x202u, code);
    EXPECT_EQ(&first, CProgressWindow::GetCurrent());
}

} // namespace
