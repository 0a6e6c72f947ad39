// The testbed COM server: class factories, and registration of the stand-ins under the
// platform's class identifiers and of the virtual devices in their BDA categories.

#include "allocator_presenter.h"
#include "decoders/decoders.h"
#include "demux_filter.h"
#include "dshow/com_ptr.h"
#include "dshow/unknown.h"
#include "filter_registration.h"
#include "receiver_filter.h"
#include "section_reader.h"
#include "statistics_page.h"
#include "testbed_guids.h"
#include "video_renderer.h"
#include "virtual_tuner.h"

#include <string>

namespace korvane::testbed {

namespace {

HMODULE g_module = nullptr;
volatile LONG g_locks = 0;

using Creator = CUnknown* (*)(IUnknown*, HRESULT*);

struct ClassEntry {
    const CLSID* clsid;
    const wchar_t* name;
    Creator create;
    const GUID* category; // null: a plain COM class
};

const ClassEntry kClasses[] = {
    {&kClsidMpeg2Demultiplexer, L"MPEG-2 Demultiplexer (testbed)", &DemuxFilter::CreateInstance,
     nullptr},
    {&kClsidMpeg2Data, L"MPEG-2 Sections and Tables (testbed)", &SectionReader::CreateInstance,
     nullptr},
    {&kClsidUsbTuner, L"Korvane Testbed Tuner USB", &VirtualTuner::CreateUsb,
     &kCategoryBdaNetworkTuner},
    {&kClsidCardTuner, L"Korvane Testbed Tuner PCI", &VirtualTuner::CreateCard,
     &kCategoryBdaNetworkTuner},
    {&kClsidReceiver, L"Korvane Testbed Receiver", &ReceiverFilter::CreateInstance,
     &kCategoryBdaReceiver},
    {&kClsidVideoMixingRenderer, L"Video Mixing Renderer (testbed)", &VideoRenderer::CreateInstance,
     nullptr},
    {&kClsidAllocPresenter, L"Allocator-presenter (testbed)", &AllocatorPresenter::CreateInstance,
     nullptr},
    {&kClsidStatisticsPage, L"Korvane Testbed Statistics Page", &StatisticsPage::CreateInstance,
     nullptr},
    // Decoders: registered in the DirectShow filter category by registerDecoderFilters.
    {&kClsidMpeg2VideoDecoder, kMpeg2VideoDecoderName, &createMpeg2VideoDecoder, nullptr},
    {&kClsidH264VideoDecoder, kH264VideoDecoderName, &createH264VideoDecoder, nullptr},
    {&kClsidMpegAudioDecoder, kMpegAudioDecoderName, &createMpegAudioDecoder, nullptr},
    {&kClsidAc3AudioDecoder, kAc3AudioDecoderName, &createAc3AudioDecoder, nullptr},
};

class ClassFactory : public IClassFactory {
  public:
    explicit ClassFactory(const ClassEntry& entry) : entry_(entry) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG n = InterlockedDecrement(&refs_);
        if (n == 0)
            delete this;
        return ULONG(n);
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer && riid != IID_IUnknown)
            return E_NOINTERFACE;
        HRESULT hr = S_OK;
        CUnknown* object = entry_.create(outer, &hr);
        if (!object)
            return FAILED(hr) ? hr : E_OUTOFMEMORY;
        // Hold the object while asking, so a failed query destroys it.
        object->NonDelegatingAddRef();
        if (SUCCEEDED(hr))
            hr = object->NonDelegatingQueryInterface(riid, ppv);
        object->NonDelegatingRelease();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock)
            InterlockedIncrement(&g_locks);
        else
            InterlockedDecrement(&g_locks);
        return S_OK;
    }

  private:
    virtual ~ClassFactory() = default;
    const ClassEntry& entry_;
    volatile LONG refs_ = 0;
};

std::wstring guidText(const GUID& g) {
    wchar_t text[64] = {};
    StringFromGUID2(g, text, 64);
    return text;
}

bool set_value(HKEY key, const wchar_t* name, const std::wstring& value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          DWORD((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

HRESULT registerClass(const ClassEntry& entry, const std::wstring& dll) {
    std::wstring path = L"CLSID\\" + guidText(*entry.clsid);
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    bool ok = set_value(key, nullptr, entry.name);
    HKEY server = nullptr;
    ok = ok && RegCreateKeyExW(key, L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr, &server,
                               nullptr) == ERROR_SUCCESS;
    if (server) {
        ok = ok && set_value(server, nullptr, dll) && set_value(server, L"ThreadingModel", L"Both");
        RegCloseKey(server);
    }
    RegCloseKey(key);
    return ok ? S_OK : SELFREG_E_CLASS;
}

// The devices appear in their BDA categories, as the system device enumerator lists them.
HRESULT registerDevice(IFilterMapper2* mapper, const ClassEntry& entry) {
    bool receiver = entry.clsid == &kClsidReceiver;
    bool bdaTransport = entry.clsid != &kClsidCardTuner;
    const REGPINTYPES antenna = {&kTypeBdaAntenna, &GUID_NULL};
    const REGPINTYPES transport = {&kTypeStream, &kSubtypeMpeg2Transport};
    const REGPINTYPES stream[] = {
        {&kTypeStream, bdaTransport ? &kSubtypeBdaTransport : &kSubtypeMpeg2Transport}};
    return registerTwoPinFilter(mapper, *entry.clsid, entry.name, entry.category, entry.name,
                                MERIT_DO_NOT_USE, L"Antenne", {receiver ? &transport : &antenna, 1},
                                L"MPEG-2 Transport", stream);
}

} // namespace

long testbedObjectCount() {
    return liveObjectCount();
}

} // namespace korvane::testbed

using namespace korvane::testbed;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    for (const ClassEntry& entry : kClasses) {
        if (*entry.clsid == clsid) {
            auto* factory = new ClassFactory(entry);
            factory->AddRef();
            HRESULT hr = factory->QueryInterface(riid, ppv);
            factory->Release();
            return hr;
        }
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() {
    return testbedObjectCount() == 0 && g_locks == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() {
    wchar_t path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameW(g_module, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return E_FAIL;
    for (const ClassEntry& entry : kClasses) {
        HRESULT hr = registerClass(entry, path);
        if (FAILED(hr))
            return hr;
    }
    HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HRESULT hr = S_OK;
    {
        korvane::ComPtr<IFilterMapper2> mapper;
        hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IFilterMapper2, mapper.putVoid());
        if (SUCCEEDED(hr)) {
            for (const ClassEntry& entry : kClasses) {
                if (entry.category && SUCCEEDED(hr))
                    hr = registerDevice(mapper.get(), entry);
            }
            if (SUCCEEDED(hr))
                hr = registerDecoderFilters(mapper.get());
        }
    }
    if (SUCCEEDED(init))
        CoUninitialize();
    return hr;
}

STDAPI DllUnregisterServer() {
    HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        korvane::ComPtr<IFilterMapper2> mapper;
        if (SUCCEEDED(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_IFilterMapper2, mapper.putVoid()))) {
            for (const ClassEntry& entry : kClasses) {
                if (entry.category)
                    mapper->UnregisterFilter(entry.category, entry.name, *entry.clsid);
            }
            unregisterDecoderFilters(mapper.get());
        }
    }
    if (SUCCEEDED(init))
        CoUninitialize();
    for (const ClassEntry& entry : kClasses) {
        std::wstring path = L"CLSID\\" + guidText(*entry.clsid);
        RegDeleteTreeW(HKEY_CLASSES_ROOT, path.c_str());
    }
    return S_OK;
}

// Objects of the testbed alive in this process, for leak tests.
extern "C" long TestbedLiveObjects() {
    return testbedObjectCount();
}
