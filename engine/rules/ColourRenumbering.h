// Colour numbers between the TARNIX and AutoCAD numberings.
#pragma once

#include <array>
#include <utility>

#include "engine/rules/Switches.h"

namespace dxfkonv {

using ColourPair = std::pair<int, int>;

// The four tables as listed (number, its counterpart).
extern const std::array<ColourPair, 12> kColours16TarnixToAutocad;
extern const std::array<ColourPair, 12> kColours16AutocadToTarnix;
extern const std::array<ColourPair, 16> kColours256TarnixToAutocad;
extern const std::array<ColourPair, 16> kColours256AutocadToTarnix;

// Maps a colour number 0..255 through the table that palette16 and the
// direction ("sa" or "as") choose; a number the table does not list is
// returned unchanged, and so is anything outside 0..255.
int ConvertColor(const ColourDirection& direction, int colour, bool palette16);

// The same mapping as a table of all 256 numbers.
using ColourMap = std::array<unsigned char, 256>;
const ColourMap& ColourMapFor(const ColourDirection& direction, bool palette16);

}  // namespace dxfkonv
