// ConvertText on any byte string. The first byte picks the direction, the
// rest is the value line.
//
// Checked for every input:
// - the result equals the step-by-step rendition of the rules
//   (LiteralRecoding.h), and ConvertTextInto counts the same lost bytes;
// - any direction string other than "lw" behaves as "wl";
// - "wl" output is plain ASCII, "lw" output is never longer than its input;
// - a text without "%" encoded ("wl") and decoded again ("lw") has its
//   length back, and every byte whose two table entries are inverses of
//   each other comes back as it was, unless a digit follows an escape.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/rules/TextRecoding.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/LiteralRecoding.h"

namespace {

using namespace dxfkonv;
using namespace dxfkonv::fuzz;

const char* const kOtherDirections[] = {"", "LW", "wL", "xx", "lw ", "sa"};

void checkRoundTrip(const std::string& text)
{
    if (text.find('%') != std::string::npos)
        return;
    const std::string encoded = ConvertText(kWindowsToLatin, text);
    const std::string back = ConvertText(kLatinToWindows, encoded);

    // An escape followed by a digit takes that digit in when decoded (up
    // to four are read): "\xE9" "5" becomes "%%1305". The format cannot
    // say otherwise, so such texts only keep their length bound.
    const ByteMap& wl = literalWindowsToLatin();
    const ByteMap& lw = literalLatinToWindows();
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const char next = text[i + 1];
        if (c >= 128 && wl.has[c] && next >= '0' && next <= '9') {
            FUZZ_CHECK(back.size() <= text.size());
            return;
        }
    }

    FUZZ_CHECK(back.size() == text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 128) {
            FUZZ_CHECK(back[i] == text[i]);
            continue;
        }
        const bool inverse = wl.has[c] && lw.has[wl.to[c]] && lw.to[wl.to[c]] == c;
        if (inverse)
            FUZZ_CHECK(back[i] == text[i]);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const unsigned selector = data[0];
    const std::string line(reinterpret_cast<const char*>(data + 1), size - 1);

    // Both directions against the literal rendition.
    std::size_t lostLiteral = 0;
    const std::string decodedLiteral = literalDecode(line, lostLiteral);
    const std::string decoded = ConvertText(kLatinToWindows, line);
    FUZZ_CHECK_EQ_STR(decoded, decodedLiteral);
    std::string into = "keep:";
    const std::size_t lostDecode = ConvertTextInto(true, line, into);
    FUZZ_CHECK_EQ_STR(into, "keep:" + decodedLiteral);
    FUZZ_CHECK(lostDecode == lostLiteral);
    FUZZ_CHECK(decoded.size() <= line.size());

    lostLiteral = 0;
    const std::string encodedLiteral = literalEncode(line, lostLiteral);
    const std::string encoded = ConvertText(kWindowsToLatin, line);
    FUZZ_CHECK_EQ_STR(encoded, encodedLiteral);
    into.clear();
    const std::size_t lostEncode = ConvertTextInto(false, line, into);
    FUZZ_CHECK_EQ_STR(into, encodedLiteral);
    FUZZ_CHECK(lostEncode == lostLiteral);
    for (char c : encoded)
        FUZZ_CHECK(static_cast<unsigned char>(c) < 128);
    FUZZ_CHECK(encoded.size() <= 5 * line.size());

    // Any other direction string is "wl".
    const char* other = kOtherDirections[selector % (sizeof kOtherDirections / sizeof kOtherDirections[0])];
    FUZZ_CHECK_EQ_STR(ConvertText(other, line), encoded);

    // ConvertChar agrees with the tables.
    for (char ch : line) {
        const auto c = static_cast<unsigned char>(ch);
        const ByteMap& lw = literalLatinToWindows();
        const ByteMap& wl = literalWindowsToLatin();
        FUZZ_CHECK(ConvertChar(kLatinToWindows, c) == (lw.has[c] ? lw.to[c] : c));
        FUZZ_CHECK(ConvertChar(kWindowsToLatin, c) == (wl.has[c] ? wl.to[c] : c));
        FUZZ_CHECK(ConvertChar(other, c) == (wl.has[c] ? wl.to[c] : c));
    }

    checkRoundTrip(line);
    return 0;
}
