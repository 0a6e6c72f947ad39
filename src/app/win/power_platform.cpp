#include "app/win/power_platform.h"

#include <windows.h>

namespace korvane {

namespace {

// One waitable timer handle, closed with the object.
class WaitableTimer {
  public:
    WaitableTimer() : handle_(CreateWaitableTimerW(nullptr, TRUE, nullptr)) {}
    ~WaitableTimer() {
        if (handle_)
            CloseHandle(handle_);
    }
    WaitableTimer(const WaitableTimer&) = delete;
    WaitableTimer& operator=(const WaitableTimer&) = delete;
    HANDLE get() const { return handle_; }

  private:
    HANDLE handle_;
};

class SystemPowerPlatform : public PowerPlatform {
  public:
    bool setWakeTimer(FileTime utc) override {
        if (!timer_.get())
            return false;
        // A positive due time is an absolute UTC file time.
        LARGE_INTEGER due;
        due.QuadPart = static_cast<LONGLONG>(utc);
        return SetWaitableTimer(timer_.get(), &due, 0, nullptr, nullptr, TRUE) != 0;
    }
    void cancelWakeTimer() override {
        if (timer_.get())
            CancelWaitableTimer(timer_.get());
    }
    void setSystemRequired(bool required) override {
        SetThreadExecutionState(required ? ES_CONTINUOUS | ES_SYSTEM_REQUIRED : ES_CONTINUOUS);
    }

  private:
    WaitableTimer timer_;
};

PowerPlatform* replacement = nullptr;

} // namespace

PowerPlatform& systemPowerPlatform() {
    static SystemPowerPlatform platform;
    return platform;
}

PowerPlatform& powerPlatform() {
    return replacement ? *replacement : systemPowerPlatform();
}

void setPowerPlatform(PowerPlatform* platform) {
    replacement = platform;
}

FileTime utcNow() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<FileTime>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

} // namespace korvane
