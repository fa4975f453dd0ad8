// Recoding of text values between Latin II escapes and Windows 1250 bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "engine/Switches.h"

namespace dxfkonv {

using BytePair = std::pair<std::uint8_t, std::uint8_t>;

// The two recoding tables as listed (input byte, output byte); bytes
// without an entry map to themselves.
extern const std::array<BytePair, 93> kLatinToWindowsPairs;
extern const std::array<BytePair, 94> kWindowsToLatinPairs;

// One byte through the direction's table ("lw", anything else is "wl").
unsigned char ConvertChar(const TextDirection& direction, unsigned char c);

// Recodes one group-1 value. "wl" writes every byte of 128 or more as
// "%%" + its Latin II code in decimal; "lw" decodes the escapes (and
// "%%c", the diameter sign) into Windows 1250 bytes. A byte of 128 or more
// that has no counterpart becomes a space.
std::string ConvertText(const TextDirection& direction, std::string_view line);

// The same, appending to `out`; returns how many bytes became spaces
// because the target code page has no counterpart for them.
std::size_t ConvertTextInto(bool latinToWindows, std::string_view line, std::string& out);

}  // namespace dxfkonv
