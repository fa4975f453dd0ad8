#include "engine/rules/TextRecoding.h"

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

// "wl": bytes of 128 or more become "%%" and their decimal code.
std::size_t encodeEscapes(std::string_view line, std::string& out)
{
    const ByteTable& t = windowsToLatin();
    std::size_t lost = 0;
    const std::size_t n = line.size();
    std::size_t i = 0;
    while (i < n) {
        std::size_t j = i;
        while (j < n && isPlain(line[j]))
            ++j;
        out.append(line.data() + i, j - i);
        if (j == n)
            break;
        const auto c = static_cast<unsigned char>(line[j]);
        lost += t.lost[c];
        const unsigned r = t.recode[c];
        if (r < 128) {
            out += static_cast<char>(r);
        } else {
            const Escape5 escape = escapeOf(r);
            out.append(escape.data(), escape.size());
        }
        i = j + 1;
    }
    return lost;
}

// "lw": escapes and raw bytes become Windows 1250 bytes, or, with `utf8`,
// escapes become UTF-8 characters and raw bytes stay. The result is never
// longer than the line (an escape of a byte of 128 or more has at least
// five bytes, its character at most three), so it is written in place
// behind `out`.
template <bool utf8>
RecodedText decodeEscapes(std::string_view line, std::string& out)
{
    const ByteTable& t = latinToWindows();
    // Counted in locals, not in the result: the bytes written through `o`
    // could alias a result that lives in the caller's memory, and each
    // count would go to memory and back.
    std::size_t lost = 0;
    bool dosEscape = false;
    const std::size_t n = line.size();
    const std::size_t base = out.size();
    out.resize(base + n);
    char* const start = out.data() + base;
    char* o = start;
    auto put = [&](unsigned char c) {
        lost += t.lost[c];
        *o++ = static_cast<char>(t.recode[c]);
    };
    auto putEscaped = [&](unsigned value) {
        const auto c = static_cast<unsigned char>(value % 256);
        dosEscape |= c >= 128;
        if constexpr (utf8) {
            lost += t.lost[c];
            o += putUtf8(t.recode[c], o);
        } else {
            put(c);
        }
    };
    std::size_t i = 0;
    while (i < n) {
        // Plain bytes up to the next "%" or high byte stand for themselves;
        // copied as they are looked at, the runs being short. A drawing in
        // UTF-8 keeps its own high bytes too.
        while (i < n && (utf8 || isPlain(line[i])) && line[i] != '%')
            *o++ = line[i++];
        if (i == n)
            break;
        const auto c = static_cast<unsigned char>(line[i]);
        if (c != '%') {
            put(c == 0xA7 ? 0x85 : c);  // a raw 0xA7 is read as 0x85
            ++i;
            continue;
        }
        if (i + 1 == n || line[i + 1] != '%') {
            *o++ = '%';
            ++i;
            continue;
        }
        // "%%" at i. Of a run of three or more "%", the last two start the escape.
        while (n - i >= 3 && line[i + 2] == '%') {
            *o++ = '%';
            ++i;
        }
        // A lone "%%" at the end stays.
        if (n - i < 3) {
            std::memcpy(o, line.data() + i, n - i);
            o += n - i;
            break;
        }
        // Up to four digits give the code; no digits leave the "%%".
        std::size_t k = i + 2;
        unsigned value = 0;
        while (k < n && k - (i + 2) < 4 && isDigit(static_cast<unsigned char>(line[k]))) {
            value = value * 10 + static_cast<unsigned>(line[k] - '0');
            ++k;
        }
        if (k == i + 2) {
            *o++ = '%';
            *o++ = '%';
        } else {
            putEscaped(value);
        }
        i = k;
        // "%%c" is the diameter sign.
        if (!utf8 && i < n && line[i] == 'c' && o - start >= 2 && o[-1] == '%' && o[-2] == '%') {
            o -= 2;
            *o++ = static_cast<char>(0xDD);
            ++i;
        }
    }
    out.resize(base + static_cast<std::size_t>(o - start));
    return {lost, dosEscape};
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
    if (!latinToWindowsDirection)
        return {encodeEscapes(line, out), false};
    return bytes == TextBytes::Utf8 ? decodeEscapes<true>(line, out) : decodeEscapes<false>(line, out);
}

char16_t Cp1250Character(unsigned char c)
{
    return c < 128 ? c : kCp1250Upper[c - 128];
}

void PiecewiseRecoding::add(std::string_view piece)
{
    for (const char c : piece) {
        if (latinToWindows_)
            decode(static_cast<unsigned char>(c));
        else
            encode(static_cast<unsigned char>(c));
    }
}

void PiecewiseRecoding::finish()
{
    // As decodeEscapes() ends a text: a "%" or "%%" stays, digits decode.
    switch (escape_) {
    case Escape::None: break;
    case Escape::OnePercent: send('%'); break;
    case Escape::TwoPercent:
        send('%');
        send('%');
        break;
    case Escape::Digits:
        putEscaped(value_);
        break;
    }
    escape_ = Escape::None;
    flush(0);
}

// decodeEscapes() one byte at a time.
void PiecewiseRecoding::decode(unsigned char c)
{
    switch (escape_) {
    case Escape::None:
        if (c == '%') {
            escape_ = Escape::OnePercent;
        } else if (utf8_ || isPlain(static_cast<char>(c))) {
            send(static_cast<char>(c));
        } else {
            const unsigned char read = c == 0xA7 ? 0x85 : c;
            changed_ = changed_ || latinToWindows().recode[read] != c;
            put(read);
        }
        return;
    case Escape::OnePercent:
        if (c == '%') {
            escape_ = Escape::TwoPercent;
            return;
        }
        send('%');  // a lone "%"
        escape_ = Escape::None;
        decode(c);
        return;
    case Escape::TwoPercent:
        if (c == '%') {
            send('%');  // of three or more, the last two start the escape
            return;
        }
        if (isDigit(c)) {
            escape_ = Escape::Digits;
            digits_ = 1;
            value_ = c - '0';
            return;
        }
        send('%');  // no digits leave the "%%"
        send('%');
        escape_ = Escape::None;
        afterEscape(c);
        return;
    case Escape::Digits:
        if (isDigit(c) && digits_ < 4) {
            ++digits_;
            value_ = value_ * 10 + (c - '0');
            return;
        }
        putEscaped(value_);
        escape_ = Escape::None;
        afterEscape(c);
        return;
    }
}

// "%%c" is the diameter sign, where the escape's bytes end in "%%".
void PiecewiseRecoding::afterEscape(unsigned char c)
{
    if (c == 'c' && !utf8_ && emitted_ >= 2 && pending_[used_ - 1] == '%' && pending_[used_ - 2] == '%') {
        used_ -= 2;
        emitted_ -= 2;
        send(static_cast<char>(0xDD));
        changed_ = true;
        return;
    }
    decode(c);
}

// encodeEscapes() one byte at a time.
void PiecewiseRecoding::encode(unsigned char c)
{
    if (isPlain(static_cast<char>(c))) {
        send(static_cast<char>(c));
        return;
    }
    const ByteTable& t = windowsToLatin();
    lost_ += t.lost[c];
    changed_ = true;
    const unsigned r = t.recode[c];
    if (r < 128) {
        send(static_cast<char>(r));
        return;
    }
    for (const char e : escapeOf(r))
        send(e);
}

void PiecewiseRecoding::put(unsigned char c)
{
    const ByteTable& t = latinToWindows();
    lost_ += t.lost[c];
    send(static_cast<char>(t.recode[c]));
}

// The byte an escape names, as decodeEscapes() writes it.
void PiecewiseRecoding::putEscaped(unsigned value)
{
    const auto c = static_cast<unsigned char>(value % 256);
    changed_ = true;
    dosEscape_ = dosEscape_ || c >= 128;
    if (!utf8_) {
        put(c);
        return;
    }
    const ByteTable& t = latinToWindows();
    lost_ += t.lost[c];
    std::array<char, 3> bytes{};
    const std::size_t n = putUtf8(t.recode[c], bytes.data());
    for (std::size_t k = 0; k < n; ++k)
        send(bytes[k]);
}

void PiecewiseRecoding::send(char c)
{
    if (used_ == pending_.size())
        flush(2);
    pending_[used_++] = c;
    ++emitted_;
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
