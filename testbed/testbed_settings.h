#pragma once

// Settings of the testbed: each is an environment variable, else a text value of
// HKEY_CURRENT_USER\Software\Korvane\Testbed (then the same key under HKEY_LOCAL_MACHINE).
// Fault switches let tests reach every failure path of the program; a trace file lets a
// test that drives the whole program from outside see what the platform was asked to do.

#include <windows.h>

#include <string>

namespace korvane::testbed {

// The environment variable `variable` when set, else the registry value `value`, else "".
std::wstring testbedSetting(const wchar_t* variable, const wchar_t* value);

// One switch per failure a test must be able to provoke. They are read when the object
// concerned is created (so a test sets them before building its graph), from the variable
// KORVANE_TESTBED_FAULTS or the registry value "Pannes": names separated by commas, spaces
// or semicolons, as listed in faultName.
enum class Fault {
    RendererNotCreatable,         // the VMR stand-in's class factory fails
    RendererNoFilterConfig,       // no IVMRFilterConfig
    RendererNoAllocatorNotify,    // no IVMRSurfaceAllocatorNotify
    PresenterPrefsFail,           // IVMRImagePresenterConfig::SetRenderingPrefs fails
    RendererNoDeinterlaceControl, // no IVMRDeinterlaceControl
    DeinterlaceCountFails,        // the first GetNumberOfDeinterlaceModes fails
    DeinterlaceGuidFails,         // the GUID fetch (second call) fails
    SetDeinterlaceModeFails,      // SetDeinterlaceMode fails
    RendererNoWindowlessControl,  // no IVMRWindowlessControl
    RendererNoAspectRatioControl, // no IVMRAspectRatioControl
    VideoDecoderRefusesRenderer,  // connects to the demultiplexer, not to the renderer
    AudioDecoderRefusesRenderer,  // MPEG audio decoder, same
    Ac3DecoderRefusesRenderer,    // AC-3 decoder, same
    TunerNoDeviceControl,         // no IBDA_DeviceControl
    TunerNoTopology,              // no IBDA_Topology
    TunerNoStatisticsNode,        // the topology has no signal-statistics node
    TunerFrequencyOnTwoNodes,     // the frequency interface is listed on two node types
    TunerStatisticsFail,          // get_SignalQuality and get_SignalStrength fail
    TunerRunFails,                // the tuner refuses to run (Run fails part-way)
    TodaysDecodersMissing,        // the decoders refuse H.264 and E-AC-3 input
    Count
};

// The name of a switch as written in the setting, for example "renderer-not-creatable".
const wchar_t* faultName(Fault fault);

// Whether the switch is on now.
bool faultActive(Fault fault);

// Appends one line "<ms> <text>" to the file named by KORVANE_TESTBED_TRACE, flushed at
// once; <ms> is GetTickCount. Does nothing when the variable is not set. printf format.
void trace(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

} // namespace korvane::testbed
