#pragma once
// Colours of the displays as 0xRRGGBB, with the names the displays' settings use.

#include <cstdint>

using TColor = uint32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x800000;
constexpr TColor clGreen = 0x008000;
constexpr TColor clTeal = 0x008080;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0xFF0000;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0xFFFF00;
constexpr TColor clAqua = 0x00FFFF;
constexpr TColor clWhite = 0xFFFFFF;
