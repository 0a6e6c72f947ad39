#include <gtest/gtest.h>
#include <windows.h>

#include <dshow.h>

// DirectSound's identifiers are defined here rather than linked from its import library.
#include <initguid.h>

#include <dsound.h>

namespace {

// The graph's two sound renderers need a DirectSound device; the test prefix provides one
// through a null ALSA device, with no sound card on the machine.
TEST(PlatformAudio, DirectSoundHasADeviceAndItsRendererCanBeCreated) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    IDirectSound8* sound = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_DirectSound8, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectSound8,
                               reinterpret_cast<void**>(&sound)),
              S_OK);
    EXPECT_EQ(sound->Initialize(nullptr), DS_OK);
    sound->Release();

    IBaseFilter* renderer = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_DSoundRender, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               reinterpret_cast<void**>(&renderer)),
              S_OK);
    IBasicAudio* audio = nullptr;
    EXPECT_EQ(renderer->QueryInterface(IID_IBasicAudio, reinterpret_cast<void**>(&audio)), S_OK);
    if (audio)
        audio->Release();
    renderer->Release();
    CoUninitialize();
}

} // namespace
