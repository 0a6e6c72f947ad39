#pragma once

#include "common/date_time.h"

namespace korvane {

// The few power calls the scheduler makes, behind an interface so that a test can watch
// them. Main thread only: the execution state belongs to the thread that sets it.
class PowerPlatform {
  public:
    virtual ~PowerPlatform() = default;
    // Wakes the machine (and signals the timer) at a UTC time; replaces the previous one.
    // False when the system refused (the timer then stays unset).
    virtual bool setWakeTimer(FileTime utc) = 0;
    virtual void cancelWakeTimer() = 0;
    // True: the system must not sleep while this holds (ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    // false: back to the normal idle rules (ES_CONTINUOUS alone).
    virtual void setSystemRequired(bool required) = 0;
};

// The system's own: a waitable timer set with resume, SetThreadExecutionState.
PowerPlatform& systemPowerPlatform();

// What the scheduler calls: the system's, unless a test put its own in place (null: back to
// the system's).
PowerPlatform& powerPlatform();
void setPowerPlatform(PowerPlatform* platform);

// The UTC time now, as a file-time count.
FileTime utcNow();

} // namespace korvane
