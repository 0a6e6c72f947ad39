#pragma once

// The platform's DirectShow declarations: interfaces, result codes, event codes, GUIDs.
#include <windows.h>

#include <dshow.h>
