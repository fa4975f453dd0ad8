#include "Quote.h"

#include <locale.h>
#include <wctype.h>

#include <cstddef>
#include <cwctype>

namespace dxfkonv::cli {

namespace {

#ifdef _WIN32
// Whether a character prints, by the C library's tables, which Windows
// keeps for UTF-16 units: a character beyond them (an emoji) prints.
bool printable(char32_t c)
{
    return c > 0xFFFF || std::iswprint(static_cast<wint_t>(c)) != 0;
}
#else
// Whether a character prints, by the C library's tables for UTF-8 (the
// ones ls consults there), whatever locale the user runs in.
bool printable(char32_t c)
{
    static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    if (utf8 == locale_t{})
        return c >= 0xA0;  // no tables: only the control characters stand out
    return ::iswprint_l(static_cast<wint_t>(c), utf8) != 0;
}
#endif

// The length of the UTF-8 character `s` starts with, and the character;
// 0 when its first byte starts none (a stray or overlong byte, a
// surrogate, a character cut short or beyond U+10FFFF).
std::size_t utf8Character(std::string_view s, char32_t& c)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    char32_t least = 0;
    if (lead < 0x80) {
        c = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        c = lead & 0x1Fu;
        least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        c = lead & 0x0Fu;
        least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        c = lead & 0x07u;
        least = 0x10000;
    } else {
        return 0;
    }
    if (s.size() < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (byte(i) & 0x3Fu);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    return length;
}

// What a character of a name asks of its quoting.
struct Character {
    std::string_view bytes;
    bool special = false;     // the name must be quoted
    bool doubleSafe = true;   // may stand between double quotes as it is
    bool escaped = false;     // written as $'...'
};

// Calls `use` with each character of `name` in turn: a byte, or a whole
// UTF-8 character, or one byte that is not UTF-8.
template <typename Use>
void eachCharacter(std::string_view name, Use use)
{
    for (std::size_t at = 0; at < name.size();) {
        Character c;
        char32_t code = 0;
        const std::size_t length = utf8Character(name.substr(at), code);
        c.bytes = name.substr(at, length == 0 ? 1 : length);
        if (length == 0 || code < 0x20 || code == 0x7F || (code >= 0x80 && !printable(code))) {
            c.special = c.escaped = true;
            c.doubleSafe = false;
        } else if (code < 0x80) {
            switch (code) {
            case ' ':
            case '\'':
                c.special = true;
                break;
            case '#':
            case '~':
                // Special to the shell at the start of a word only.
                c.special = at == 0;
                c.doubleSafe = c.special;
                break;
            case '{':
            case '}':
                c.special = name.size() == 1;
                c.doubleSafe = c.special;
                break;
            case '!': case '"': case '$': case '&': case '(': case ')': case '*': case ';': case '<':
            case '=': case '>': case '?': case '[': case '^': case '`': case '|':
                c.special = true;
                c.doubleSafe = false;
                break;
            case '\\':
#ifndef _WIN32
                c.special = true;
                c.doubleSafe = false;
#endif
                // (On Windows the separator of paths, which its shells
                // take as it is.)
                break;
            default:
                break;
            }
        }
        use(c);
        at += c.bytes.size();
    }
}

void appendEscape(std::string& out, unsigned char byte)
{
    out += '\\';
    switch (byte) {
    case '\a': out += 'a'; return;
    case '\b': out += 'b'; return;
    case '\f': out += 'f'; return;
    case '\n': out += 'n'; return;
    case '\r': out += 'r'; return;
    case '\t': out += 't'; return;
    case '\v': out += 'v'; return;
    default:
        out += static_cast<char>('0' + (byte >> 6));
        out += static_cast<char>('0' + ((byte >> 3) & 7));
        out += static_cast<char>('0' + (byte & 7));
    }
}

}  // namespace

std::string QuoteName(std::string_view name)
{
    bool special = name.empty();
    bool doubleSafe = true;
    bool singleQuote = false;
    eachCharacter(name, [&](const Character& c) {
        special |= c.special;
        doubleSafe &= c.doubleSafe;
        singleQuote |= c.bytes == "'";
    });
    if (!special)
        return std::string(name);
    if (singleQuote && doubleSafe)
        return '"' + std::string(name) + '"';
    std::string out = "'";
    bool escaping = false;  // within $'...'
    eachCharacter(name, [&](const Character& c) {
        if (c.escaped) {
            if (!escaping)
                out += "'$'";
            escaping = true;
            for (const char byte : c.bytes)
                appendEscape(out, static_cast<unsigned char>(byte));
            return;
        }
        if (c.bytes == "'") {
            out += "'\\''";
        } else {
            if (escaping)
                out += "''";
            out += c.bytes;
        }
        escaping = false;
    });
    return out + '\'';
}

}  // namespace dxfkonv::cli
