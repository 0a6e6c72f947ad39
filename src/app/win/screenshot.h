#pragma once

namespace korvane {

// Saves the picture the renderer shows as "<folder>\<channel> DD-MM hh-mm-ss.bmp" in the
// screenshot folder. Silently writes nothing before the first picture or when the file
// cannot be created.
void takeScreenshot();

} // namespace korvane
