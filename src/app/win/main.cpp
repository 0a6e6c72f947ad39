#include "app/win/session.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    return korvane::runProgram(instance, showCommand);
}
