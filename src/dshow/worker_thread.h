#pragma once

#include "dshow/sync.h"

#include <windows.h>

namespace korvane {

// A worker thread driven by synchronous requests: CallWorker posts one request and waits
// for the worker's Reply. m_AccessLock serialises callers; the request and reply words are
// handed over through the two events (m_EventSend stays set until Reply, so that a worker
// that saw a request with CheckRequest can still fetch it with GetRequest).
class CAMThread {
  public:
    CAMThread();
    virtual ~CAMThread();
    CAMThread(const CAMThread&) = delete;
    CAMThread& operator=(const CAMThread&) = delete;

    // Starts the thread; false when it runs already or cannot be created.
    bool Create();
    // Sends a request and waits for its reply; E_FAIL when no thread runs.
    DWORD CallWorker(DWORD request);
    // Waits for the thread to end, then forgets it.
    void Close();
    bool ThreadExists() const { return static_cast<bool>(m_hThread); }

    // Worker side.
    DWORD GetRequest();
    bool CheckRequest(DWORD* request);
    void Reply(DWORD result);

  protected:
    virtual DWORD ThreadProc() = 0;

    CCritSec m_AccessLock;

  private:
    static DWORD WINAPI InitialThreadProc(LPVOID self);

    CAMEvent m_EventSend{true};
    CAMEvent m_EventComplete{false};
    DWORD m_dwParam = 0;
    DWORD m_dwReturnVal = 0;
    UniqueHandle m_hThread;
};

} // namespace korvane
