// A slow, step-by-step rendition of the text recoding rules, with tables
// of its own. It consumes the line from its front exactly as the rules are
// worded, so the fuzzers can hold the engine's table-driven, index-based
// recoding against it byte for byte.
#pragma once

#include <array>
#include <cstddef>
#include <string>

namespace dxfkonv::fuzz {

struct ByteMap {
    std::array<bool, 256> has{};
    std::array<unsigned char, 256> to{};
};

// Latin II to Windows 1250.
inline const ByteMap& literalLatinToWindows()
{
    static const ByteMap m = [] {
        static const int pairs[][2] = {
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
            {252, 216}, {253, 248}};
        ByteMap r;
        for (const auto& p : pairs) {
            r.has[static_cast<std::size_t>(p[0])] = true;
            r.to[static_cast<std::size_t>(p[0])] = static_cast<unsigned char>(p[1]);
        }
        return r;
    }();
    return m;
}

// Windows 1250 to Latin II.
inline const ByteMap& literalWindowsToLatin()
{
    static const ByteMap m = [] {
        static const int pairs[][2] = {
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
            {253, 236}, {254, 238}, {255, 250}};
        ByteMap r;
        for (const auto& p : pairs) {
            r.has[static_cast<std::size_t>(p[0])] = true;
            r.to[static_cast<std::size_t>(p[0])] = static_cast<unsigned char>(p[1]);
        }
        return r;
    }();
    return m;
}

// One byte through a table with the space rule: a byte of 128 or more
// without an entry becomes a space (and is counted as lost).
inline unsigned char literalByte(const ByteMap& m, unsigned char c, std::size_t& lost)
{
    if (m.has[c])
        return m.to[c];
    if (c >= 128) {
        ++lost;
        return ' ';
    }
    return c;
}

// "wl": every byte through the table; results of 128 or more as "%%" and
// the decimal code.
inline std::string literalEncode(const std::string& line, std::size_t& lost)
{
    std::string out;
    for (char ch : line) {
        const unsigned char r = literalByte(literalWindowsToLatin(), static_cast<unsigned char>(ch), lost);
        if (r >= 128)
            out += "%%" + std::to_string(r);
        else
            out += static_cast<char>(r);
    }
    return out;
}

// "lw" turns an escape that decodes to a line break ("%%10", "%%13") into
// a space, counted as lost: a text line cannot hold one. (Raw line break
// bytes never reach a text from a file; given directly they stay.)
inline unsigned char literalDecodedByte(const ByteMap& m, unsigned char c, std::size_t& lost)
{
    if (c == '\n' || c == '\r') {
        ++lost;
        return ' ';
    }
    return literalByte(m, c, lost);
}

// "lw": consumes the line from its front, one escape per round.
inline std::string literalDecode(std::string in, std::size_t& lost)
{
    const ByteMap& m = literalLatinToWindows();
    for (char& ch : in)
        if (static_cast<unsigned char>(ch) == 0xA7)
            ch = static_cast<char>(0x85);
    std::string out;
    while (!in.empty()) {
        // Bytes before the next "%%", one at a time.
        std::size_t before = in.find("%%");
        if (before == std::string::npos)
            before = in.size();
        for (std::size_t k = 0; k < before; ++k) {
            const auto c = static_cast<unsigned char>(in.front());
            in.erase(0, 1);
            out += static_cast<char>(literalByte(m, c, lost));
        }
        // Extra leading "%" of a longer run.
        while (in.rfind("%%%", 0) == 0) {
            out += in.front();
            in.erase(0, 1);
        }
        if (in.size() < 3) {
            out += in;
            in.clear();
            break;
        }
        std::string digits;
        while (in.size() >= 3 && in[2] >= '0' && in[2] <= '9' && digits.size() < 4) {
            digits += in[2];
            in.erase(2, 1);
        }
        if (digits.empty())
            out += "%%";
        else
            out += static_cast<char>(
                literalDecodedByte(m, static_cast<unsigned char>(std::stoi(digits) % 256), lost));
        in.erase(0, 2);
        if (out.size() >= 2 && out.compare(out.size() - 2, 2, "%%") == 0 && !in.empty() && in.front() == 'c') {
            out.resize(out.size() - 2);
            in.erase(0, 1);
            out += static_cast<char>(0xDD);
        }
    }
    return out;
}

}  // namespace dxfkonv::fuzz
