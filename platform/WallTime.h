#pragma once
// A moment of the wall clock, as files and recording names know it.

#include <chrono>

using WallTime = std::chrono::system_clock::time_point;
