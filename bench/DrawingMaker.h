// Realistic ASCII DXF drawings of any size, made up on the spot: a header
// that declares code page 852, a layer table, and entities (texts with
// Latin II escapes and the diameter sign, lines, circles, polylines) in
// TARNIX colours, some of them negative. The same seed gives the same
// drawing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace dxfkonv::bench {

// Hands the drawing out in pieces of about 64 KiB; stops once at least
// `bytes` bytes have been given (the closing "EOF" line included).
void makeDrawing(std::size_t bytes, std::uint32_t seed, const std::function<void(std::string_view)>& sink);

// The same, in one string.
std::string makeDrawing(std::size_t bytes, std::uint32_t seed = 1);

}  // namespace dxfkonv::bench
