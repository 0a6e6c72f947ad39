#include "dshow/source.h"

#include <algorithm>

namespace korvane {

CSource::CSource(const wchar_t* objectName, IUnknown* outer, REFCLSID clsid, HRESULT*)
    : CBaseFilter(objectName, outer, &m_cStateLock, clsid) {}

CSource::~CSource() {
    // Each stream's destructor removes it from the array.
    while (!m_paStreams.empty())
        delete m_paStreams.back();
}

void CSource::FinalRelease() {
    // No other reference is left, so nothing changes the array meanwhile.
    for (CSourceStream* stream : m_paStreams)
        stream->stopThread();
}

int CSource::GetPinCount() {
    CAutoLock lock(&m_cStateLock);
    return static_cast<int>(m_paStreams.size());
}

CBasePin* CSource::GetPin(int index) {
    CAutoLock lock(&m_cStateLock);
    if (index < 0 || index >= static_cast<int>(m_paStreams.size()))
        return nullptr;
    return m_paStreams[static_cast<std::size_t>(index)];
}

HRESULT CSource::AddPin(CSourceStream* stream) {
    CAutoLock lock(&m_cStateLock);
    m_paStreams.push_back(stream);
    IncrementPinVersion();
    return S_OK;
}

HRESULT CSource::RemovePin(CSourceStream* stream) {
    CAutoLock lock(&m_cStateLock);
    auto it = std::find(m_paStreams.begin(), m_paStreams.end(), stream);
    if (it == m_paStreams.end())
        return S_FALSE;
    m_paStreams.erase(it);
    IncrementPinVersion();
    return S_OK;
}

CSourceStream::CSourceStream(const wchar_t* objectName, HRESULT* phr, CSource* filter,
                             const wchar_t* pinName)
    : CBaseOutputPin(objectName, filter, filter->pStateLock(), phr, pinName), m_pFilter(filter) {
    filter->AddPin(this);
}

CSourceStream::~CSourceStream() {
    // A filter released while still active (a graph that was never stopped) must not leave
    // the worker running on a destroyed object.
    stopThread();
    m_pFilter->RemovePin(this);
}

void CSourceStream::stopThread() {
    if (!ThreadExists())
        return;
    // Decommitting first wakes a worker that waits for a buffer.
    if (m_pAllocator)
        m_pAllocator->Decommit();
    StopWorker();
    Exit();
    Close();
}

HRESULT CSourceStream::Active() {
    CAutoLock lock(m_pFilter->pStateLock());
    if (m_pFilter->IsActive())
        return S_FALSE;
    if (!IsConnected())
        return S_OK;
    HRESULT hr = CBaseOutputPin::Active();
    if (FAILED(hr))
        return hr;
    if (ThreadExists())
        return E_UNEXPECTED;
    if (!Create())
        return E_FAIL;
    hr = Init();
    if (FAILED(hr)) {
        Close();
        return hr;
    }
    return PauseWorker();
}

HRESULT CSourceStream::Inactive() {
    CAutoLock lock(m_pFilter->pStateLock());
    if (!IsConnected())
        return S_OK;
    // Decommit before stopping, so that a worker blocked in GetDeliveryBuffer returns.
    HRESULT hr = CBaseOutputPin::Inactive();
    if (FAILED(hr))
        return hr;
    if (ThreadExists()) {
        hr = StopWorker();
        if (FAILED(hr))
            return hr;
        hr = Exit();
        if (FAILED(hr))
            return hr;
        Close();
    }
    return S_OK;
}

HRESULT CSourceStream::CheckMediaType(const CMediaType* pmt) {
    CAutoLock lock(m_pFilter->pStateLock());
    CMediaType mine;
    if (FAILED(GetMediaType(&mine)))
        return E_FAIL;
    return mine == *pmt ? S_OK : E_FAIL;
}

HRESULT CSourceStream::GetMediaType(int position, CMediaType* pmt) {
    if (position < 0)
        return E_INVALIDARG;
    if (position > 0)
        return VFW_S_NO_MORE_ITEMS;
    return GetMediaType(pmt);
}

HRESULT CSourceStream::GetMediaType(CMediaType*) {
    return E_UNEXPECTED;
}

bool CSourceStream::CheckCommand(Command* command) {
    DWORD request = 0;
    if (!CheckRequest(&request))
        return false;
    *command = static_cast<Command>(request);
    return true;
}

DWORD CSourceStream::ThreadProc() {
    Command command;
    do {
        command = GetCommand();
        if (command != CMD_INIT)
            Reply(static_cast<DWORD>(E_UNEXPECTED));
    } while (command != CMD_INIT);

    HRESULT hr = OnThreadCreate();
    if (FAILED(hr)) {
        OnThreadDestroy();
        Reply(static_cast<DWORD>(hr));
        return 1;
    }
    Reply(S_OK);

    do {
        command = GetCommand();
        switch (command) {
        case CMD_EXIT:
        case CMD_STOP:
            Reply(S_OK);
            break;
        case CMD_RUN:
        case CMD_PAUSE:
            Reply(S_OK);
            DoBufferProcessingLoop();
            break;
        default:
            Reply(static_cast<DWORD>(E_NOTIMPL));
            break;
        }
    } while (command != CMD_EXIT);

    return FAILED(OnThreadDestroy()) ? 1 : 0;
}

HRESULT CSourceStream::DoBufferProcessingLoop() {
    OnThreadStartPlay();
    Command command;
    do {
        while (!CheckCommand(&command)) {
            IMediaSample* sample = nullptr;
            HRESULT hr = GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
            if (FAILED(hr)) {
                // Decommitted: a stop request is on its way.
                Sleep(1);
                continue;
            }
            hr = FillBuffer(sample);
            if (hr == S_OK) {
                hr = Deliver(sample);
                sample->Release();
                // The downstream filter wants no more data: wait for the next command.
                if (hr != S_OK)
                    return S_OK;
            } else if (hr == S_FALSE) {
                sample->Release();
                DeliverEndOfStream();
                return S_OK;
            } else {
                sample->Release();
                DeliverEndOfStream();
                m_pFilter->NotifyEvent(EC_ERRORABORT, hr, 0);
                return hr;
            }
        }
        // Run and Pause while already streaming only need an answer; Stop and Exit end the
        // loop and are answered by ThreadProc.
        if (command == CMD_RUN || command == CMD_PAUSE)
            Reply(S_OK);
        else if (command != CMD_STOP && command != CMD_EXIT)
            Reply(static_cast<DWORD>(E_UNEXPECTED));
    } while (command != CMD_STOP && command != CMD_EXIT);
    return S_FALSE;
}

} // namespace korvane
