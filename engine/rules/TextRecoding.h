// Recoding of text values between Latin II escapes and Windows 1250 bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "engine/rules/Switches.h"

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

// How a text decoded "lw" is written: as Windows 1250 bytes, or, in a
// drawing whose texts are in UTF-8, its own bytes as they are and each
// escape's Windows 1250 character in UTF-8 ("%%c" then stays, since such a
// drawing shows it as the diameter sign itself).
enum class TextBytes : unsigned char { Cp1250, Utf8 };

struct RecodedText {
    std::size_t lost = 0;    // bytes that became spaces
    bool dosEscape = false;  // an escape with digits named a byte of 128 or more
};

// ConvertTextInto() with the bytes of the "lw" result chosen (a "wl" text
// is always written as Latin II escapes), and what the decode saw.
RecodedText RecodeTextInto(bool latinToWindows, TextBytes bytes, std::string_view line, std::string& out);

// The Unicode character of a Windows 1250 byte; 0 for the five bytes the
// code page leaves undefined.
char16_t Cp1250Character(unsigned char c);

// The recoding of one text, read as it comes in pieces cut anywhere (a
// text held whole is one piece) and written at the place the caller gives.
// Only an escape not yet ended is kept from one piece to the next.
class TextRecoder {
public:
    TextRecoder(bool latinToWindows, TextBytes bytes) : latinToWindows_(latinToWindows), utf8_(bytes == TextBytes::Utf8)
    {
    }

    // The most bytes of a piece whose recoding fits in `room` bytes: an
    // escape kept from the piece before and the piece's bytes ("lw"), or
    // five bytes for each ("wl").
    std::size_t fits(std::size_t room) const
    {
        return latinToWindows_ ? (room > kKeptEscape ? room - kKeptEscape : 0) : room / 5;
    }

    // Recodes the piece at `o`, which has the room it fits in; returns the end
    // of what it wrote. Where this text has been written to before, its
    // last two bytes so far lie just before `o`: "%%c" may take them back
    // into the diameter sign.
    char* add(std::string_view piece, char* o);
    // At the end of the text: writes what is kept (kKeptEscape bytes at
    // most) at `o`; returns the end.
    char* finish(char* o);

    std::size_t lost() const { return lost_; }  // bytes that became spaces
    bool changed() const { return changed_; }   // the text came out different from what went in
    bool dosEscape() const { return dosEscape_; }  // as RecodedText::dosEscape

    static constexpr std::size_t kKeptEscape = 6;

private:
    // Where an escape stands after the bytes so far ("lw"): none, "%",
    // "%%", or "%%" and 1 to 4 digits.
    enum class Escape : unsigned char { None, OnePercent, TwoPercent, Digits };

    template <bool utf8>
    char* decode(const char* p, const char* end, char* o);
    char* encode(const char* p, const char* end, char* o);

    const bool latinToWindows_;
    const bool utf8_;
    Escape escape_ = Escape::None;
    unsigned digits_ = 0;
    unsigned value_ = 0;
    std::size_t lost_ = 0;
    bool changed_ = false;
    bool dosEscape_ = false;
    std::uint64_t written_ = 0;  // bytes of the recoded text so far
};

// The same recoding for a text too long to hold: it comes in pieces, cut
// anywhere, and goes out in short runs of bytes as it is recoded. Only the
// few bytes an escape may still need are kept from one piece to the next.
class PiecewiseRecoding {
public:
    class Out {
    public:
        virtual void write(const char* data, std::size_t n) = 0;

    protected:
        ~Out() = default;
    };

    PiecewiseRecoding(bool latinToWindows, Out& out, TextBytes bytes = TextBytes::Cp1250)
        : recoder_(latinToWindows, bytes), out_(out)
    {
    }

    void add(std::string_view piece);
    // At the end of the text: writes what is still kept.
    void finish();

    // Bytes that became spaces, as ConvertTextInto() counts them.
    std::size_t lost() const { return recoder_.lost(); }
    // Whether the text came out different from what went in.
    bool changed() const { return recoder_.changed(); }
    // As RecodedText::dosEscape.
    bool dosEscape() const { return recoder_.dosEscape(); }

private:
    void flush(std::size_t keep);

    TextRecoder recoder_;
    Out& out_;
    // The recoded bytes not yet written; the last two stay while "%%c"
    // may still turn them into the diameter sign.
    std::array<char, 4096> pending_{};
    std::size_t used_ = 0;
};

}  // namespace dxfkonv
