#include "engine/rules/ColourNumber.h"

namespace dxfkonv {

namespace {

// The value of a digit of the base, or -1 for any other character.
int digitValue(char c, bool hex)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (hex && c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (hex && c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The numbers 0 to 255 in decimal, right-aligned in 4 bytes, a minus
// before the digits: where a number starts with its sign and without.
struct Decimal {
    std::array<char, 4> text;
    std::uint8_t digits;
};

constexpr std::array<Decimal, 256> kDecimals = [] {
    std::array<Decimal, 256> decimals{};
    for (unsigned n = 0; n < 256; ++n) {
        Decimal& d = decimals[n];
        d.text = {' ', ' ', ' ', ' '};
        unsigned rest = n;
        std::size_t at = d.text.size();
        do {
            d.text[--at] = static_cast<char>('0' + rest % 10);
            rest /= 10;
        } while (rest != 0);
        d.digits = static_cast<std::uint8_t>(d.text.size() - at);
        d.text[at - 1] = '-';
    }
    return decimals;
}();

}  // namespace

[[gnu::always_inline]] inline void ColourNumberReader::read(const char* p, const char* const end)
{
    // Each phase takes what it can of the piece and hands on to the next
    // where the piece goes on; a piece may end in any of them.
    while (p != end) {
        switch (phase_) {
        case Phase::Spaces:
            while (p != end && *p == ' ')
                ++p;
            if (p == end)
                return;
            phase_ = Phase::Start;
            [[fallthrough]];
        case Phase::Start:
            if (*p == '+' || *p == '-') {
                negative_ = *p == '-';
                ++p;
            } else if (*p == '$' || *p == 'x' || *p == 'X') {
                hex_ = true;
                ++p;
            } else if (*p == '0') {
                // Perhaps the prefix "0x"; else a digit that adds nothing.
                phase_ = Phase::Zero;
                ++p;
                continue;
            }
            phase_ = Phase::Digits;
            continue;
        case Phase::Zero:
            if (*p == 'x' || *p == 'X') {
                hex_ = true;
                ++p;
            }
            phase_ = Phase::Digits;
            [[fallthrough]];
        case Phase::Digits:
            for (; p != end; ++p) {
                const int digit = digitValue(*p, hex_);
                if (digit < 0)
                    break;
                // Past 255 the exact value no longer matters: the line stays.
                magnitude_ = magnitude_ * (hex_ ? 16 : 10) + static_cast<unsigned>(digit);
                if (magnitude_ > 255) {
                    verdict_ = Verdict::Stays;
                    phase_ = Phase::Done;
                    return;
                }
            }
            if (p == end)
                return;
            verdict_ = Verdict::Number;
            phase_ = Phase::After;
            [[fallthrough]];
        case Phase::After:
            // Spaces end the number like the end of the line does; anything
            // else drops the sign, and then the rest does not matter.
            while (p != end && *p == ' ')
                ++p;
            if (p == end)
                return;
            clean_ = false;
            phase_ = Phase::Done;
            return;
        case Phase::Done:
            return;
        }
    }
}

[[gnu::always_inline]] inline ColourLine ColourNumberReader::outcome(const ColourMap& map, ColourText& text) const
{
    if (verdict_ == Verdict::Stays)
        return {};
    const unsigned colour = map[magnitude_];
    const Decimal& decimal = kDecimals[colour];
    text = decimal.text;
    const std::size_t start = text.size() - decimal.digits - (negative_ && clean_ && magnitude_ != 0);
    return {{text.data() + start, text.size() - start}, colour != magnitude_};
}

void ColourNumberReader::add(std::string_view piece)
{
    read(piece.data(), piece.data() + piece.size());
}

ColourLine ColourNumberReader::end(const ColourMap& map, ColourText& text) const
{
    return outcome(map, text);
}

ColourLine RenumberColourLine(std::string_view line, const ColourMap& map, ColourText& text)
{
    ColourNumberReader reader;
    reader.read(line.data(), line.data() + line.size());
    return reader.outcome(map, text);
}

}  // namespace dxfkonv
