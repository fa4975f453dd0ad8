#include "engine/rules/TextRecoding.h"

#include <algorithm>
#include <cstring>

namespace dxfkonv {

const std::array<BytePair, 93> kLatinToWindowsPairs{{
    {128, 199}, {129, 252}, {130, 233}, {131, 226}, {132, 228}, {133, 249}, {134, 230},
    {135, 231}, {136, 179}, {137, 235}, {138, 213}, {139, 245}, {140, 238}, {141, 143},
    {142, 196}, {143, 198}, {144, 201}, {145, 197}, {146, 205}, {147, 244}, {148, 246},
    {149, 188}, {150, 190}, {151, 140}, {152, 156}, {153, 214}, {154, 220}, {155, 141},
    {156, 157}, {157, 163}, {158, 215}, {159, 232}, {160, 225}, {161, 237}, {162, 243},
    {163, 250}, {164, 165}, {165, 185}, {166, 142}, {167, 158}, {168, 202}, {169, 234},
    {171, 159}, {172, 200}, {173, 186}, {174, 187}, {175, 171}, {181, 193}, {182, 194},
    {183, 204}, {184, 170}, {189, 175}, {190, 191}, {198, 195}, {199, 227}, {207, 164},
    {208, 240}, {209, 208}, {210, 207}, {211, 203}, {212, 239}, {213, 210}, {214, 205},
    {215, 206}, {216, 236}, {221, 222}, {222, 217}, {224, 211}, {225, 223}, {226, 212},
    {228, 241}, {229, 242}, {230, 138}, {231, 154}, {232, 192}, {233, 218}, {234, 224},
    {235, 219}, {236, 253}, {237, 221}, {238, 254}, {239, 180}, {241, 189}, {242, 178},
    {243, 161}, {244, 162}, {245, 249}, {246, 247}, {247, 184}, {250, 183}, {251, 251},
    {252, 216}, {253, 248},}};

const std::array<BytePair, 94> kWindowsToLatinPairs{{
    {138, 230}, {140, 151}, {141, 155}, {142, 166}, {143, 141}, {154, 231}, {156, 152},
    {157, 156}, {158, 167}, {159, 171}, {161, 243}, {162, 244}, {163, 157}, {164, 207},
    {165, 164}, {167, 245}, {170, 184}, {171, 175}, {175, 189}, {178, 242}, {179, 136},
    {180, 239}, {183, 250}, {184, 247}, {185, 165}, {186, 173}, {187, 174}, {188, 149},
    {189, 241}, {190, 150}, {191, 190}, {192, 232}, {193, 181}, {194, 182}, {195, 198},
    {196, 142}, {197, 145}, {198, 143}, {199, 128}, {200, 172}, {201, 144}, {202, 168},
    {203, 211}, {204, 183}, {205, 214}, {206, 215}, {207, 210}, {208, 209}, {210, 213},
    {211, 224}, {212, 226}, {213, 138}, {214, 153}, {215, 158}, {216, 252}, {217, 222},
    {218, 233}, {219, 235}, {220, 154}, {221, 237}, {222, 221}, {223, 225}, {224, 234},
    {225, 160}, {226, 131}, {227, 199}, {228, 132}, {229, 146}, {230, 134}, {231, 135},
    {232, 159}, {233, 130}, {234, 169}, {235, 137}, {236, 216}, {237, 161}, {238, 140},
    {239, 212}, {240, 208}, {241, 228}, {242, 229}, {243, 162}, {244, 147}, {245, 139},
    {246, 148}, {247, 246}, {248, 253}, {249, 133}, {250, 163}, {251, 251}, {252, 129},
    {253, 236}, {254, 238}, {255, 250},}};

namespace {

// A direction's table as a 256-entry lookup, with the space rule folded
// in: `recode` gives what ConvertText puts out for a byte, `mapped` what
// ConvertChar gives, and `lost` marks bytes that became spaces.
struct ByteTable {
    std::array<unsigned char, 256> mapped{};
    std::array<unsigned char, 256> recode{};
    std::array<bool, 256> lost{};

    template <std::size_t N>
    explicit ByteTable(const std::array<BytePair, N>& pairs)
    {
        std::array<bool, 256> hasEntry{};
        for (int c = 0; c < 256; ++c)
            mapped[c] = static_cast<unsigned char>(c);
        for (const auto& [from, to] : pairs) {
            mapped[from] = to;
            hasEntry[from] = true;
        }
        for (int c = 0; c < 256; ++c) {
            lost[c] = c >= 128 && !hasEntry[c];
            recode[c] = lost[c] ? static_cast<unsigned char>(' ') : mapped[c];
        }
    }
};

const ByteTable& latinToWindows()
{
    static const ByteTable table = [] {
        ByteTable t(kLatinToWindowsPairs);
        // An escape may decode to a line break, which a text line cannot
        // hold: it would split the line and shift every group code after it.
        for (unsigned char c : {'\n', '\r'}) {
            t.recode[c] = ' ';
            t.lost[c] = true;
        }
        return t;
    }();
    return table;
}

const ByteTable& windowsToLatin()
{
    static const ByteTable table(kWindowsToLatinPairs);
    return table;
}

// Windows 1250 from 128 on, as the code page defines it.
constexpr std::array<char16_t, 128> kCp1250Upper{
    0x20AC, 0x0000, 0x201A, 0x0000, 0x201E, 0x2026, 0x2020, 0x2021,
    0x0000, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,
    0x0000, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0000, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7,
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};

// The UTF-8 bytes of a Windows 1250 byte's character (the byte itself
// below 128) at `o`; returns how many.
std::size_t putUtf8(unsigned char c, char* o)
{
    if (c < 128) {
        *o = static_cast<char>(c);
        return 1;
    }
    const char32_t u = kCp1250Upper[c - 128];
    if (u < 0x800) {
        o[0] = static_cast<char>(0xC0 | (u >> 6));
        o[1] = static_cast<char>(0x80 | (u & 0x3F));
        return 2;
    }
    o[0] = static_cast<char>(0xE0 | (u >> 12));
    o[1] = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
    o[2] = static_cast<char>(0x80 | (u & 0x3F));
    return 3;
}

bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }

bool isPlain(char c) { return static_cast<unsigned char>(c) < 128; }

// The Latin II escape of a byte: "%%" and its three decimal digits.
using Escape5 = std::array<char, 5>;
Escape5 escapeOf(unsigned r)
{
    return {'%', '%', static_cast<char>('0' + r / 100), static_cast<char>('0' + r / 10 % 10),
            static_cast<char>('0' + r % 10)};
}

// The byte an escape names, at `o` as the text's bytes are written;
// returns the end.
template <bool utf8>
char* putEscaped(const ByteTable& t, unsigned value, char* o, std::size_t& lost, bool& dosEscape)
{
    const auto c = static_cast<unsigned char>(value % 256);
    dosEscape |= c >= 128;
    lost += t.lost[c];
    if constexpr (utf8)
        return o + putUtf8(t.recode[c], o);
    *o = static_cast<char>(t.recode[c]);
    return o + 1;
}

}  // namespace

unsigned char ConvertChar(const TextDirection& direction, unsigned char c)
{
    const ByteTable& t = direction == kLatinToWindows ? latinToWindows() : windowsToLatin();
    return t.mapped[c];
}

std::size_t ConvertTextInto(bool latinToWindowsDirection, std::string_view line, std::string& out)
{
    return RecodeTextInto(latinToWindowsDirection, TextBytes::Cp1250, line, out).lost;
}

RecodedText RecodeTextInto(bool latinToWindowsDirection, TextBytes bytes, std::string_view line, std::string& out)
{
    TextRecoder recoder(latinToWindowsDirection, bytes);
    if (!latinToWindowsDirection) {
        // A text that may grow fivefold goes out through a buffer on the
        // stack, in pieces it has room for (no escape spans two of them).
        std::array<char, 1024> buffer;
        while (!line.empty()) {
            const std::size_t n = std::min(line.size(), recoder.fits(buffer.size()));
            const char* const end = recoder.add(line.substr(0, n), buffer.data());
            out.append(buffer.data(), static_cast<std::size_t>(end - buffer.data()));
            line.remove_prefix(n);
        }
        return {recoder.lost(), false};
    }
    const std::size_t base = out.size();
    // The text is one piece, written in place behind `out`: "lw" never
    // makes it longer.
    out.resize(base + line.size());
    char* const start = out.data() + base;
    char* const end = recoder.finish(recoder.add(line, start));
    out.resize(base + static_cast<std::size_t>(end - start));
    return {recoder.lost(), recoder.dosEscape()};
}

char16_t Cp1250Character(unsigned char c)
{
    return c < 128 ? c : kCp1250Upper[c - 128];
}

char* TextRecoder::add(std::string_view piece, char* o)
{
    const char* const p = piece.data();
    const char* const end = p + piece.size();
    char* const from = o;
    if (!latinToWindows_)
        o = encode(p, end, o);
    else
        o = utf8_ ? decode<true>(p, end, o) : decode<false>(p, end, o);
    written_ += static_cast<std::uint64_t>(o - from);
    return o;
}

// "lw": escapes and raw bytes become Windows 1250 bytes, or, in UTF-8,
// escapes become UTF-8 characters and raw bytes stay. An escape is "%%"
// (the last two of a run of "%") and one to four digits, its byte the
// number modulo 256; "%%" without digits stays, and so does a lone "%".
// "%%c" where the escape's bytes end in "%%" is the diameter sign (not in
// UTF-8, which shows it as the sign itself). A raw 0xA7 is read as 0x85.
template <bool utf8>
char* TextRecoder::decode(const char* p, const char* const end, char* o)
{
    const ByteTable& t = latinToWindows();
    // Kept in locals while the piece is read, not in the members: the
    // bytes written through `o` could alias them, and each change would go
    // to memory and back.
    Escape escape = escape_;
    unsigned digits = digits_;
    unsigned value = value_;
    std::size_t lost = lost_;
    bool changed = changed_;
    bool dosEscape = dosEscape_;
    char* const from = o;
    auto put = [&](unsigned char c) {
        lost += t.lost[c];
        *o++ = static_cast<char>(t.recode[c]);
    };
    // After an escape, or a "%%" that stays: whether `c` makes the
    // diameter sign of the last two bytes written.
    auto diameter = [&](char c) {
        if (utf8 || c != 'c' || written_ + static_cast<std::uint64_t>(o - from) < 2 || o[-1] != '%' || o[-2] != '%')
            return false;
        o[-2] = static_cast<char>(0xDD);
        --o;
        changed = true;
        return true;
    };
    // The states below are where an escape stands; each goes straight on
    // to the next as the bytes come, and the piece may end in any of them.
    switch (escape) {
    case Escape::None: goto none;
    case Escape::OnePercent: goto onePercent;
    case Escape::TwoPercent: goto twoPercent;
    case Escape::Digits: goto moreDigits;
    }
none:
    // Plain bytes up to the next "%" or high byte stand for themselves;
    // copied as they are looked at, the runs being short. A drawing in
    // UTF-8 keeps its own high bytes too.
    while (p != end && (utf8 || isPlain(*p)) && *p != '%')
        *o++ = *p++;
    if (p == end) {
        escape = Escape::None;
        goto done;
    }
    if (*p != '%') {
        const auto c = static_cast<unsigned char>(*p++);
        const unsigned char read = c == 0xA7 ? 0x85 : c;
        changed = changed || t.recode[read] != c;
        put(read);
        goto none;
    }
    ++p;
onePercent:
    if (p == end) {
        escape = Escape::OnePercent;
        goto done;
    }
    if (*p != '%') {
        *o++ = '%';  // a lone "%"
        goto none;
    }
    ++p;
twoPercent:
    if (p == end) {
        escape = Escape::TwoPercent;
        goto done;
    }
    if (*p == '%') {
        *o++ = '%';  // of three or more, the last two start the escape
        ++p;
        goto twoPercent;
    }
    if (!isDigit(static_cast<unsigned char>(*p))) {
        *o++ = '%';  // no digits leave the "%%"
        *o++ = '%';
        p += diameter(*p);
        goto none;
    }
    digits = 1;
    value = static_cast<unsigned>(*p++ - '0');
moreDigits:
    // Up to four digits; the byte after them ends the escape.
    for (;;) {
        if (p == end) {
            escape = Escape::Digits;
            goto done;
        }
        if (digits == 4 || !isDigit(static_cast<unsigned char>(*p)))
            break;
        ++digits;
        value = value * 10 + static_cast<unsigned>(*p++ - '0');
    }
    o = putEscaped<utf8>(t, value, o, lost, dosEscape);
    changed = true;
    p += diameter(*p);
    goto none;
done:
    escape_ = escape;
    digits_ = digits;
    value_ = value;
    lost_ = lost;
    changed_ = changed;
    dosEscape_ = dosEscape;
    return o;
}

// "wl": bytes of 128 or more become "%%" and their decimal code.
char* TextRecoder::encode(const char* p, const char* const end, char* o)
{
    const ByteTable& t = windowsToLatin();
    std::size_t lost = lost_;
    bool changed = changed_;
    while (p != end) {
        const char* plain = p;
        while (plain != end && isPlain(*plain))
            ++plain;
        std::memcpy(o, p, static_cast<std::size_t>(plain - p));
        o += plain - p;
        p = plain;
        if (p == end)
            break;
        const auto c = static_cast<unsigned char>(*p++);
        lost += t.lost[c];
        changed = true;
        const unsigned r = t.recode[c];
        if (r < 128) {
            *o++ = static_cast<char>(r);
        } else {
            const Escape5 escape = escapeOf(r);
            std::memcpy(o, escape.data(), escape.size());
            o += escape.size();
        }
    }
    lost_ = lost;
    changed_ = changed;
    return o;
}

char* TextRecoder::finish(char* o)
{
    // The end of the text ends an escape: a "%" or "%%" stays, digits
    // decode.
    char* const from = o;
    switch (escape_) {
    case Escape::None: break;
    case Escape::OnePercent: *o++ = '%'; break;
    case Escape::TwoPercent:
        *o++ = '%';
        *o++ = '%';
        break;
    case Escape::Digits:
        changed_ = true;
        o = utf8_ ? putEscaped<true>(latinToWindows(), value_, o, lost_, dosEscape_)
                  : putEscaped<false>(latinToWindows(), value_, o, lost_, dosEscape_);
        break;
    }
    escape_ = Escape::None;
    written_ += static_cast<std::uint64_t>(o - from);
    return o;
}

void PiecewiseRecoding::add(std::string_view piece)
{
    while (!piece.empty()) {
        // The pending bytes written first where they leave room for less
        // than half their size of the piece.
        if (recoder_.fits(pending_.size() - used_) < std::min(piece.size(), pending_.size() / 2))
            flush(2);
        const std::size_t n = std::min(piece.size(), recoder_.fits(pending_.size() - used_));
        used_ = static_cast<std::size_t>(recoder_.add(piece.substr(0, n), pending_.data() + used_) - pending_.data());
        piece.remove_prefix(n);
    }
}

void PiecewiseRecoding::finish()
{
    if (pending_.size() - used_ < TextRecoder::kKeptEscape)
        flush(2);
    used_ = static_cast<std::size_t>(recoder_.finish(pending_.data() + used_) - pending_.data());
    flush(0);
}

// Writes all but the last `keep` bytes not yet written.
void PiecewiseRecoding::flush(std::size_t keep)
{
    if (used_ <= keep)
        return;
    out_.write(pending_.data(), used_ - keep);
    std::memmove(pending_.data(), pending_.data() + used_ - keep, keep);
    used_ = keep;
}

std::string ConvertText(const TextDirection& direction, std::string_view line)
{
    std::string out;
    out.reserve(line.size() * 2);
    ConvertTextInto(direction == kLatinToWindows, line, out);
    return out;
}

}  // namespace dxfkonv
