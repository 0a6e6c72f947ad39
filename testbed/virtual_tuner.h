#pragma once

// A virtual DVB-T tuner: committing a frequency plays <folder>/<frequency in kHz>.ts, paced
// by its PCR at broadcast rate times a speed factor and looping; a frequency without a file
// gives no signal and no data. The folder comes from the environment variable
// KORVANE_TESTBED_DIR, else from the value "Dossier" of HKCU\Software\Korvane\Testbed, else
// the folder "muxes" beside the DLL; the speed from KORVANE_TESTBED_SPEED or "Vitesse".

#include "dshow/base_pin.h"
#include "dshow/source.h"
#include "testbed_guids.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace korvane::testbed {

// While the manual-reset event of this name followed by "-" and the process identifier of
// the tuner's process (created by a test) is set, the process's tuners deliver nothing, as
// with the antenna pulled out; reset, delivery resumes. Tests running side by side do not
// reach each other's tuners.
inline constexpr const wchar_t* kSignalLossEvent = L"Local\\KorvaneTestbedSignalLoss";

class VirtualTuner;

class AntennaPin : public CBaseInputPin {
  public:
    AntennaPin(VirtualTuner* filter, CCritSec* lock, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    // The network provider's buffers carry nothing; S_FALSE tells its worker to stop
    // delivering, so that it waits instead of spinning on empty buffers.
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample*) override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE EndOfStream() override { return S_OK; }
};

// What is being played; shared by the control interfaces (user-interface thread) and the
// capture thread, guarded by `lock`.
struct TuningState {
    CCritSec lock;
    ULONG pendingFrequency = 0;
    ULONG frequency = 0; // kHz, committed
    ULONG bandwidth = 8;
    ULONG multiplier = 1000;
    bool signal = false;
    double speed = 1.0;
    unsigned generation = 0; // moves at every commit
    std::wstring path;
};

class TransportStream : public CSourceStream {
  public:
    TransportStream(HRESULT* phr, VirtualTuner* filter, const GUID& subtype);
    ~TransportStream() override;
    HRESULT GetMediaType(CMediaType* pmt) override;
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) override;

  protected:
    HRESULT FillBuffer(IMediaSample* sample) override;
    HRESULT OnThreadStartPlay() override;

  private:
    bool waitUntil(double wallSeconds); // false when a command arrived meanwhile
    void reopen(const std::wstring& path);
    VirtualTuner* tuner_;
    GUID subtype_;
    FILE* file_ = nullptr;
    unsigned generation_ = ~0u;
    bool referenced_ = false;
    // The signal-loss switch of the tests, once it exists (see signalLost).
    HANDLE signalLoss_ = nullptr;
    ULONGLONG signalCheckedAt_ = 0;
    bool lost_ = false;
    bool signalLost();
    uint64_t refPcr_ = 0;
    uint64_t lastPcr_ = 0;
    double refWall_ = 0;
    double speed_ = 1.0;
};

// The tuner's fault switches, read when it is created.
struct TunerFaults {
    bool noDeviceControl = false;
    bool noTopology = false;
    bool noStatisticsNode = false;
    bool frequencyOnTwoNodes = false;
    bool statisticsFail = false;
    bool runFails = false;
    static TunerFaults current();
};

// A second node that also lists the frequency interface (switch "tuner-frequency-on-two-
// nodes"): the demodulator's own setting, a COM object of its own, which holds a value and
// tunes nothing. A program that took it instead of the first node would tune nowhere.
class DemodulatorNode : public CUnknown, public IBDA_FrequencyFilter {
  public:
    DemodulatorNode() : CUnknown(L"Demodulator node", nullptr) {}
    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE put_Autotune(ULONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_Autotune(ULONG* v) override { return answer(v, 0); }
    HRESULT STDMETHODCALLTYPE put_Frequency(ULONG frequency) override;
    HRESULT STDMETHODCALLTYPE get_Frequency(ULONG* frequency) override;
    HRESULT STDMETHODCALLTYPE put_Polarity(Polarisation) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_Polarity(Polarisation* p) override;
    HRESULT STDMETHODCALLTYPE put_Range(ULONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_Range(ULONG* v) override { return answer(v, 0); }
    HRESULT STDMETHODCALLTYPE put_Bandwidth(ULONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_Bandwidth(ULONG* mhz) override { return answer(mhz, 8); }
    HRESULT STDMETHODCALLTYPE put_FrequencyMultiplier(ULONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_FrequencyMultiplier(ULONG* m) override { return answer(m, 1000); }

  private:
    static HRESULT answer(ULONG* out, ULONG value);
    volatile LONG frequency_ = 0;
};

class VirtualTuner : public CSource,
                     public IBDA_Topology,
                     public IBDA_DeviceControl,
                     public IBDA_FrequencyFilter,
                     public IBDA_SignalStatistics {
  public:
    static CUnknown* CreateUsb(IUnknown* outer, HRESULT* phr);
    static CUnknown* CreateCard(IUnknown* outer, HRESULT* phr);
    ~VirtualTuner() override;
    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    int GetPinCount() override { return 2; }
    CBasePin* GetPin(int index) override;
    // Both fail under the switch "tuner-run-fails".
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;

    // IBDA_Topology
    HRESULT STDMETHODCALLTYPE GetNodeTypes(ULONG* count, ULONG max, ULONG types[]) override;
    HRESULT STDMETHODCALLTYPE GetNodeDescriptors(ULONG* count, ULONG max,
                                                 BDANODE_DESCRIPTOR descriptors[]) override;
    HRESULT STDMETHODCALLTYPE GetNodeInterfaces(ULONG nodeType, ULONG* count, ULONG max,
                                                GUID interfaces[]) override;
    HRESULT STDMETHODCALLTYPE GetPinTypes(ULONG* count, ULONG max, ULONG types[]) override;
    HRESULT STDMETHODCALLTYPE GetTemplateConnections(ULONG* count, ULONG max,
                                                     BDA_TEMPLATE_CONNECTION conns[]) override;
    HRESULT STDMETHODCALLTYPE CreatePin(ULONG, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeletePin(ULONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetMediaType(ULONG, AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetMedium(ULONG, REGPINMEDIUM*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateTopology(ULONG, ULONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetControlNode(ULONG inputPin, ULONG outputPin, ULONG nodeType,
                                             IUnknown** node) override;

    // IBDA_DeviceControl
    HRESULT STDMETHODCALLTYPE StartChanges() override;
    HRESULT STDMETHODCALLTYPE CheckChanges() override;
    HRESULT STDMETHODCALLTYPE CommitChanges() override;
    HRESULT STDMETHODCALLTYPE GetChangeState(ULONG* state) override;

    // IBDA_FrequencyFilter
    HRESULT STDMETHODCALLTYPE put_Autotune(ULONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_Autotune(ULONG* v) override;
    HRESULT STDMETHODCALLTYPE put_Frequency(ULONG frequency) override;
    HRESULT STDMETHODCALLTYPE get_Frequency(ULONG* frequency) override;
    HRESULT STDMETHODCALLTYPE put_Polarity(Polarisation) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_Polarity(Polarisation* p) override;
    HRESULT STDMETHODCALLTYPE put_Range(ULONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_Range(ULONG* v) override;
    HRESULT STDMETHODCALLTYPE put_Bandwidth(ULONG mhz) override;
    HRESULT STDMETHODCALLTYPE get_Bandwidth(ULONG* mhz) override;
    HRESULT STDMETHODCALLTYPE put_FrequencyMultiplier(ULONG m) override;
    HRESULT STDMETHODCALLTYPE get_FrequencyMultiplier(ULONG* m) override;

    // IBDA_SignalStatistics
    HRESULT STDMETHODCALLTYPE put_SignalStrength(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_SignalStrength(LONG* strength) override;
    HRESULT STDMETHODCALLTYPE put_SignalQuality(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_SignalQuality(LONG* quality) override;
    HRESULT STDMETHODCALLTYPE put_SignalPresent(BOOLEAN) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_SignalPresent(BOOLEAN* present) override;
    HRESULT STDMETHODCALLTYPE put_SignalLocked(BOOLEAN) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_SignalLocked(BOOLEAN* locked) override;
    HRESULT STDMETHODCALLTYPE put_SampleTime(LONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_SampleTime(LONG* ms) override;

    TuningState& Tuning() { return tuning_; }

  private:
    VirtualTuner(IUnknown* outer, HRESULT* phr, REFCLSID clsid, const GUID& subtype);
    // The interfaces listed on a node type of the topology.
    std::vector<GUID> nodeInterfaces(ULONG nodeType) const;
    ULONG nodeTypeCount() const;
    const TunerFaults faults_;
    TuningState tuning_;
    std::unique_ptr<AntennaPin> antenna_;
    bool changing_ = false;
};

// Where the multiplex files are looked for, and how fast they play.
std::wstring testbedFolder();
double testbedSpeed();

} // namespace korvane::testbed
