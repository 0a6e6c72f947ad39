#pragma once

#include "dshow/base_filter.h"
#include "dshow/base_pin.h"
#include "dshow/worker_thread.h"

#include <vector>

namespace korvane {

class CSourceStream;

// A source filter whose output pins are CSourceStream objects, each with its own worker
// thread. m_cStateLock is the filter's state lock (it also guards the pin array). The filter
// owns its streams: the ones still registered when it is destroyed are deleted with it.
class CSource : public CBaseFilter {
  public:
    CSource(const wchar_t* objectName, IUnknown* outer, REFCLSID clsid, HRESULT* phr = nullptr);
    ~CSource() override;

    int GetPinCount() override;
    CBasePin* GetPin(int index) override;

    HRESULT AddPin(CSourceStream* stream);
    HRESULT RemovePin(CSourceStream* stream);
    CCritSec* pStateLock() { return &m_cStateLock; }

  protected:
    // A filter released while still paused or running (a graph whose Run failed half-way,
    // released without Stop): the workers end here, while every pin is still whole, since a
    // worker filling a buffer while a derived pin's destructor runs would call a pure virtual.
    void FinalRelease() override;

    CCritSec m_cStateLock;
    std::vector<CSourceStream*> m_paStreams;
};

// An output pin of a CSource with a worker thread that fills and delivers buffers while the
// filter is paused or running. The thread starts when the filter leaves Stopped (Active) and
// ends when it stops (Inactive); both run under the filter's state lock. FillBuffer and the
// OnThread* hooks run on the worker thread without that lock.
class CSourceStream : public CAMThread, public CBaseOutputPin {
  public:
    enum Command : DWORD { CMD_INIT, CMD_PAUSE, CMD_RUN, CMD_STOP, CMD_EXIT };

    CSourceStream(const wchar_t* objectName, HRESULT* phr, CSource* filter, const wchar_t* pinName);
    ~CSourceStream() override;

    HRESULT Active() override;
    HRESULT Inactive() override;
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int position, CMediaType* pmt) override;
    // The single type of a pin that offers one; used by the position form at position 0.
    virtual HRESULT GetMediaType(CMediaType* pmt);

  protected:
    // Puts the next data into the sample: S_OK to deliver it, S_FALSE at the end of the
    // stream, an error to abort.
    virtual HRESULT FillBuffer(IMediaSample* sample) = 0;
    virtual HRESULT OnThreadCreate() { return S_OK; }
    virtual HRESULT OnThreadDestroy() { return S_OK; }
    virtual HRESULT OnThreadStartPlay() { return S_OK; }
    virtual HRESULT DoBufferProcessingLoop();
    DWORD ThreadProc() override;

    HRESULT Init() { return static_cast<HRESULT>(CallWorker(CMD_INIT)); }
    HRESULT Exit() { return static_cast<HRESULT>(CallWorker(CMD_EXIT)); }
    HRESULT RunWorker() { return static_cast<HRESULT>(CallWorker(CMD_RUN)); }
    HRESULT PauseWorker() { return static_cast<HRESULT>(CallWorker(CMD_PAUSE)); }
    HRESULT StopWorker() { return static_cast<HRESULT>(CallWorker(CMD_STOP)); }
    Command GetCommand() { return static_cast<Command>(GetRequest()); }
    bool CheckCommand(Command* command);

    CSource* m_pFilter;

  private:
    friend class CSource;
    void stopThread();
};

} // namespace korvane
