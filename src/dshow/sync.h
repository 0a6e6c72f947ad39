#pragma once

#include <windows.h>

namespace korvane {

// A recursive critical section, as the filter classes use for their state locks.
class CCritSec {
  public:
    CCritSec() { InitializeCriticalSection(&cs_); }
    ~CCritSec() { DeleteCriticalSection(&cs_); }
    CCritSec(const CCritSec&) = delete;
    CCritSec& operator=(const CCritSec&) = delete;

    void Lock() { EnterCriticalSection(&cs_); }
    void Unlock() { LeaveCriticalSection(&cs_); }

  private:
    CRITICAL_SECTION cs_;
};

// Holds a CCritSec for the lifetime of the scope.
class CAutoLock {
  public:
    explicit CAutoLock(CCritSec* lock) : lock_(lock) { lock_->Lock(); }
    ~CAutoLock() { lock_->Unlock(); }
    CAutoLock(const CAutoLock&) = delete;
    CAutoLock& operator=(const CAutoLock&) = delete;

  private:
    CCritSec* lock_;
};

// Owns a kernel handle (thread, event) and closes it once.
class UniqueHandle {
  public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : h_(h) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : h_(other.h_) { other.h_ = nullptr; }
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset();
            h_ = other.h_;
            other.h_ = nullptr;
        }
        return *this;
    }

    HANDLE get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }
    void reset(HANDLE h = nullptr) {
        if (h_)
            CloseHandle(h_);
        h_ = h;
    }

  private:
    HANDLE h_ = nullptr;
};

// A Win32 event: auto-reset unless asked for manual reset.
class CAMEvent {
  public:
    explicit CAMEvent(bool manualReset = false)
        : h_(CreateEventW(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr)) {}

    HANDLE handle() const { return h_.get(); }
    bool valid() const { return static_cast<bool>(h_); }
    void Set() { SetEvent(h_.get()); }
    void Reset() { ResetEvent(h_.get()); }
    bool Wait(DWORD timeoutMs = INFINITE) {
        return WaitForSingleObject(h_.get(), timeoutMs) == WAIT_OBJECT_0;
    }
    // Non-blocking test; consumes the signal of an auto-reset event.
    bool Check() { return Wait(0); }

  private:
    UniqueHandle h_;
};

} // namespace korvane
