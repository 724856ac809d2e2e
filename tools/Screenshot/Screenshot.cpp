// Shows the real progress window in one language, as a run does while downloading (title string 101,
// status string 103, position 40), so that scripts/screenshots.sh can capture it.
//
//   Screenshot.exe <locale name> <ready file> [hold ms]
//
// Once the window is up and painted it writes "x y width height" (the window's screen rectangle) to the
// ready file, then keeps the window up for the hold time (default 5000 ms) and exits.
#include "System/Platform.h"
#include "Updater/Ui/ProgressWindow.h"
#include "Updater/Ui/ResourceIds.h"
#include "Updater/Ui/StringTable.h"

#include <cstdio>
#include <cwchar>
#include <string>

using OV::Updater::Ui::CProgressWindow;
using OV::Updater::Ui::CStringTable;

namespace
{

constexpr DWORD kDefaultHoldMs = 5000;
constexpr DWORD kShowTimeoutMs = 10000;
constexpr DWORD kPaintSettleMs = 500;

bool WriteReadyFile(const wchar_t* path, const RECT& rect)
{
    FILE* file = _wfopen(path, L"w");
    if (file == nullptr)
        return false;
    std::fprintf(file, "%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left,
                 rect.bottom - rect.top);
    return std::fclose(file) == 0;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    if (__argc < 3)
        return 2;
    const std::wstring locale = __wargv[1];
    const wchar_t* readyFile = __wargv[2];
    const DWORD holdMs =
        __argc > 3 ? static_cast<DWORD>(std::wcstoul(__wargv[3], nullptr, 10)) : kDefaultHoldMs;

    const CStringTable strings(locale);
    CProgressWindow::SetPauseBeforeShowing(0);
    CProgressWindow::SetMinimumShowTime(0);
    CProgressWindow window(strings.LoadString(IDS_TITLE), strings.LoadString(IDS_STATUS_DOWNLOADING), true);
    window.SetProgress(40);

    const HWND dialog = window.GetDialogHandle();
    const ULONGLONG start = ::GetTickCount64();
    while (!::IsWindowVisible(dialog))
    {
        if (::GetTickCount64() - start > kShowTimeoutMs)
            return 1;
        ::Sleep(20);
    }
    ::Sleep(kPaintSettleMs);
    RECT rect = {};
    if (!::GetWindowRect(dialog, &rect) || !WriteReadyFile(readyFile, rect))
        return 1;
    ::Sleep(holdMs);
    return 0;
}
