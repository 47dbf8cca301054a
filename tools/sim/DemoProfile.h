// The demo controller's configuration: a refrigerated truck of a cold chain with four
// temperature sensors and GPS, laid out in the four configuration blocks byte by byte as the
// controller keeps them. Built from the memory layout alone, like a real controller's memory.
#pragma once

#include "protocol/Frame.h"

namespace r4t8::sim {

// The recording interval the demo profile sets (minutes), which its history follows.
constexpr int kDemoRecordMinutes = 5;

// Writes the four configured blocks into `image`; the rest of it is left alone.
void FillDemoMemory(ConfigImage& image);

}  // namespace r4t8::sim
