// The start of the input, before the pass writes anything: a binary DXF
// file is refused whatever the switches; a UTF-8 byte order mark stands
// in front of the first line and says the texts are in UTF-8; the first
// line must be a group code (an optional minus and decimal digits, spaces
// around them allowed), else the input is no ASCII DXF file. The first
// line is read in pieces: a line held whole is one piece.
#pragma once

#include <cstddef>
#include <string_view>

#include "engine/rules/LineShape.h"

namespace dxfkonv {

// How a binary DXF file begins.
inline constexpr std::string_view kBinarySentinel{"AutoCAD Binary DXF\r\n\x1A\0", 22};
// The UTF-8 byte order mark.
inline constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// What the input's first bytes are.
enum class InputStart : unsigned char {
    Empty,     // no bytes at all: the input stays empty
    Binary,    // a binary DXF file: refused
    Marked,    // the byte order mark, then the first line
    Unmarked,  // the first line
};

// `head`: the input's first kBinarySentinel.size() bytes, or all of it
// where it is shorter.
InputStart ReadInputStart(std::string_view head);

// The first line (after the mark), as it comes in pieces.
class FirstLineReader {
public:
    // The longest group code the line may hold where it comes in pieces;
    // `longestWhole` is the longest line the caller takes whole, which
    // always counts.
    explicit FirstLineReader(std::size_t longestWhole = 0)
        : shape_(longestWhole > kLongestCode ? longestWhole : kLongestCode)
    {
    }

    void add(std::string_view piece) { shape_.add(piece); }

    // At the end of the line: whether it is a group code.
    bool groupCode() const;

    // The line's spaces and core, which make it up again where it is a
    // group code.
    const LineShape& shape() const { return shape_; }

    static constexpr std::size_t kLongestCode = 64 << 10;

private:
    LineShape shape_;
};

}  // namespace dxfkonv
