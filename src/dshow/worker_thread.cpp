#include "dshow/worker_thread.h"

namespace korvane {

CAMThread::CAMThread() = default;

CAMThread::~CAMThread() {
    Close();
}

bool CAMThread::Create() {
    CAutoLock lock(&m_AccessLock);
    if (ThreadExists())
        return false;
    HANDLE h = CreateThread(nullptr, 0, &CAMThread::InitialThreadProc, this, 0, nullptr);
    if (!h)
        return false;
    m_hThread.reset(h);
    return true;
}

DWORD WINAPI CAMThread::InitialThreadProc(LPVOID self) {
    // The worker may call COM objects of the graph (allocators, downstream pins).
    HRESULT hrCom = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    DWORD result = static_cast<CAMThread*>(self)->ThreadProc();
    if (SUCCEEDED(hrCom))
        CoUninitialize();
    return result;
}

DWORD CAMThread::CallWorker(DWORD request) {
    CAutoLock lock(&m_AccessLock);
    if (!ThreadExists())
        return static_cast<DWORD>(E_FAIL);
    m_dwParam = request;
    m_EventSend.Set();
    m_EventComplete.Wait();
    return m_dwReturnVal;
}

void CAMThread::Close() {
    if (m_hThread) {
        WaitForSingleObject(m_hThread.get(), INFINITE);
        m_hThread.reset();
    }
}

DWORD CAMThread::GetRequest() {
    m_EventSend.Wait();
    return m_dwParam;
}

bool CAMThread::CheckRequest(DWORD* request) {
    if (WaitForSingleObject(m_EventSend.handle(), 0) != WAIT_OBJECT_0)
        return false;
    if (request)
        *request = m_dwParam;
    return true;
}

void CAMThread::Reply(DWORD result) {
    m_dwReturnVal = result;
    // The request is done: CheckRequest must not see it again.
    m_EventSend.Reset();
    m_EventComplete.Set();
}

} // namespace korvane
