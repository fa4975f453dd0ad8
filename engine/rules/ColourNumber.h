// The value of a colour (group code 62) as written, and what its line
// becomes: the number renumbered, or the line as it is. One reader for
// every line, however the pass takes it: a line held whole is one piece,
// a line too long to hold comes in as many pieces as it needs.
//
// The grammar: spaces, then a sign or a hexadecimal prefix ("$", "x",
// "X", "0x", "0X"; none after a sign), then digits of the base. What
// follows the digits ends the number; where that is anything but spaces
// the sign is dropped. No digits read as 0. A number above 255 (however
// long) leaves the line exactly as written; any other goes out in decimal,
// through the colour table, negative where its sign stays and it is not 0.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "engine/rules/ColourRenumbering.h"

namespace dxfkonv {

// A colour number as it goes out: at most a sign and three digits.
using ColourText = std::array<char, 4>;

// What a colour's value line becomes.
struct ColourLine {
    std::string_view number;  // what replaces the line, in the caller's text; empty where the line stays
    bool renumbered = false;  // the number is another than the one written
};

class ColourNumberReader {
public:
    // What the line read so far says of the whole line.
    enum class Verdict {
        Open,    // spaces, a sign or prefix and digits up to 255 so far: the line may still stay
        Stays,   // the number passed 255: the line stays as written, whatever follows
        Number,  // the digits ended at 255 or less: a number goes out (its sign rests on what follows)
    };

    // The next piece of the line, without its line end.
    void add(std::string_view piece);

    Verdict verdict() const { return verdict_; }

    // At the end of the line: what it becomes, the number written into
    // `text`.
    ColourLine end(const ColourMap& map, ColourText& text) const;

private:
    friend ColourLine RenumberColourLine(std::string_view line, const ColourMap& map, ColourText& text);

    // add() and end(), also made part of RenumberColourLine(), which runs
    // for every colour line a drawing holds.
    void read(const char* p, const char* end);
    ColourLine outcome(const ColourMap& map, ColourText& text) const;

    enum class Phase : std::uint8_t { Spaces, Start, Zero, Digits, After, Done };

    Phase phase_ = Phase::Spaces;
    Verdict verdict_ = Verdict::Open;
    bool hex_ = false;
    bool negative_ = false;
    bool clean_ = true;  // nothing but spaces after the digits so far
    unsigned magnitude_ = 0;
};

// What a colour's value line held whole becomes.
ColourLine RenumberColourLine(std::string_view line, const ColourMap& map, ColourText& text);

}  // namespace dxfkonv
