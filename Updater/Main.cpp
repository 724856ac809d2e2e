#include "System/Platform.h"
#include "Updater/UpdateRun.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    return OV::Updater::UpdateRun();
}
