#pragma once

// How the renderer stand-in and the allocator-presenter stand-in find each other. The
// renderer holds the presenter it is advised (as the platform's does); the presenter only
// keeps a plain pointer back, which the renderer clears before it lets the presenter go, so
// the pair never forms a reference cycle.

#include <windows.h>

#include <unknwn.h>

namespace korvane::testbed {

// {4B6F7276-616E-4501-9E51-546573746222}
inline constexpr IID kIidRendererLink = {
    0x4b6f7276, 0x616e, 0x4501, {0x9e, 0x51, 0x54, 0x65, 0x73, 0x74, 0x62, 0x22}};
// {4B6F7276-616E-4501-9E51-546573746223}
inline constexpr IID kIidPresenterLink = {
    0x4b6f7276, 0x616e, 0x4501, {0x9e, 0x51, 0x54, 0x65, 0x73, 0x74, 0x62, 0x23}};

// On the renderer stand-in.
struct IRendererLink : IUnknown {
    // The presenter's rendering preferences were set; called under the presenter's lock.
    virtual void STDMETHODCALLTYPE PresenterPrefsSet(DWORD prefs) = 0;
};

// On the allocator-presenter stand-in.
struct IPresenterLink : IUnknown {
    // The renderer that now uses this presenter; not counted.
    virtual void STDMETHODCALLTYPE AttachRenderer(IRendererLink* renderer) = 0;
    // The renderer lets the presenter go; nothing happens when another one took it since.
    virtual void STDMETHODCALLTYPE DetachRenderer(IRendererLink* renderer) = 0;
    // S_OK with the rendering preferences once they were set, S_FALSE before.
    virtual HRESULT STDMETHODCALLTYPE GetPrefsIfSet(DWORD* prefs) = 0;
};

} // namespace korvane::testbed
