#pragma once

#include <cstdint>
#include <string>

namespace korvane {

// The working directory followed by "\config.ini", computed again at each call.
std::wstring configPath();

// Fills appConfig() from config.ini and applies the stored priority.
void loadConfig();
// Writes every setting to config.ini; the channel index, priority and window rectangle
// come from the running program. A failed write is told once until a write succeeds again;
// the settings stay in memory.
void saveConfig();

// Sets the process priority class for one of the four priority commands and, while the
// main window has its menu, checks that command's item and clears the other three.
void applyPriority(uint16_t command);
// The priority command last applied.
uint16_t appliedPriority();

} // namespace korvane
