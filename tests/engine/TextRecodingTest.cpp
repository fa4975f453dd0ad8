// The recoding tables and the escape rules of text values.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/rules/TextRecoding.h"

using namespace dxfkonv;

namespace {

// The tables as the product's documentation lists them.
const char* const kListedLatinToWindows =
    "128->199, 129->252, 130->233, 131->226, 132->228, 133->249, 134->230, 135->231, 136->179, "
    "137->235, 138->213, 139->245, 140->238, 141->143, 142->196, 143->198, 144->201, 145->197, "
    "146->205, 147->244, 148->246, 149->188, 150->190, 151->140, 152->156, 153->214, 154->220, "
    "155->141, 156->157, 157->163, 158->215, 159->232, 160->225, 161->237, 162->243, 163->250, "
    "164->165, 165->185, 166->142, 167->158, 168->202, 169->234, 171->159, 172->200, 173->186, "
    "174->187, 175->171, 181->193, 182->194, 183->204, 184->170, 189->175, 190->191, 198->195, "
    "199->227, 207->164, 208->240, 209->208, 210->207, 211->203, 212->239, 213->210, 214->205, "
    "215->206, 216->236, 221->222, 222->217, 224->211, 225->223, 226->212, 228->241, 229->242, "
    "230->138, 231->154, 232->192, 233->218, 234->224, 235->219, 236->253, 237->221, 238->254, "
    "239->180, 241->189, 242->178, 243->161, 244->162, 245->249, 246->247, 247->184, 250->183, "
    "251->251, 252->216, 253->248";
const char* const kListedWindowsToLatin =
    "138->230, 140->151, 141->155, 142->166, 143->141, 154->231, 156->152, 157->156, 158->167, "
    "159->171, 161->243, 162->244, 163->157, 164->207, 165->164, 167->245, 170->184, 171->175, "
    "175->189, 178->242, 179->136, 180->239, 183->250, 184->247, 185->165, 186->173, 187->174, "
    "188->149, 189->241, 190->150, 191->190, 192->232, 193->181, 194->182, 195->198, 196->142, "
    "197->145, 198->143, 199->128, 200->172, 201->144, 202->168, 203->211, 204->183, 205->214, "
    "206->215, 207->210, 208->209, 210->213, 211->224, 212->226, 213->138, 214->153, 215->158, "
    "216->252, 217->222, 218->233, 219->235, 220->154, 221->237, 222->221, 223->225, 224->234, "
    "225->160, 226->131, 227->199, 228->132, 229->146, 230->134, 231->135, 232->159, 233->130, "
    "234->169, 235->137, 236->216, 237->161, 238->140, 239->212, 240->208, 241->228, 242->229, "
    "243->162, 244->147, 245->139, 246->148, 247->246, 248->253, 249->133, 250->163, 251->251, "
    "252->129, 253->236, 254->238, 255->250";

std::map<int, int> parseListing(const std::string& text)
{
    std::map<int, int> pairs;
    std::istringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        const auto arrow = item.find("->");
        pairs[std::stoi(item.substr(0, arrow))] = std::stoi(item.substr(arrow + 2));
    }
    return pairs;
}

std::string bytes(std::initializer_list<int> list)
{
    std::string s;
    for (int b : list)
        s += static_cast<char>(b);
    return s;
}

std::string lw(const std::string& s) { return ConvertText("lw", s); }
std::string wl(const std::string& s) { return ConvertText("wl", s); }

}  // namespace

TEST(TextTables, EveryByteMapsAsListed)
{
    const auto listedLw = parseListing(kListedLatinToWindows);
    const auto listedWl = parseListing(kListedWindowsToLatin);
    ASSERT_EQ(listedLw.size(), 93u);
    ASSERT_EQ(listedWl.size(), 94u);
    for (int c = 0; c < 256; ++c) {
        const auto l = listedLw.find(c);
        const auto w = listedWl.find(c);
        EXPECT_EQ(ConvertChar("lw", static_cast<unsigned char>(c)), l == listedLw.end() ? c : l->second)
            << "lw " << c;
        EXPECT_EQ(ConvertChar("wl", static_cast<unsigned char>(c)), w == listedWl.end() ? c : w->second)
            << "wl " << c;
    }
    EXPECT_EQ(kLatinToWindowsPairs.size(), listedLw.size());
    EXPECT_EQ(kWindowsToLatinPairs.size(), listedWl.size());
}

TEST(TextTables, AnyOtherDirectionActsAsWindowsToLatin)
{
    EXPECT_EQ(ConvertChar("xx", 138), 230);
    EXPECT_EQ(ConvertChar("LW", 138), 230);
    EXPECT_EQ(ConvertText("", bytes({0xE9})), "%%130");
}

TEST(TextTables, CzechLettersRoundTripThroughBothDirections)
{
    // Every letter of the Czech alphabet has entries that undo each other.
    const std::string czech = "\xe1\xc1\xe8\xc8\xef\xcf\xe9\xc9\xec\xcc\xed\xcd\xf2\xd2\xf3\xd3\xf8\xd8"
                              "\x9a\x8a\x9d\x8d\xfa\xda\xf9\xd9\xfd\xdd\x9e\x8e";
    EXPECT_EQ(lw(wl(czech)), czech);
    for (const auto& [from, to] : kWindowsToLatinPairs) {
        if (ConvertChar("lw", to) == from) {
            const std::string one(1, static_cast<char>(from));
            EXPECT_EQ(lw(wl(one)), one);
        }
    }
}

TEST(TextTables, CzechSentenceInDosEscapesDecodesToWindows1250)
{
    const std::string dos = "P%%253%%161li%%231 %%167lu%%156ou%%159k%%236 k%%133%%229 %%163p%%216l "
                            "%%212%%160belsk%%130 %%162dy";
    const std::string windows = "P\xf8\xedli\x9a \x9elu\x9dou\xe8k\xfd k\xf9\xf2 \xfap\xecl \xef\xe1" "belsk\xe9 \xf3" "dy";
    EXPECT_EQ(lw(dos), windows);
    EXPECT_EQ(wl(windows), dos);
}

TEST(EncodeToEscapes, HighBytesBecomeEscapesAndTheRestStays)
{
    EXPECT_EQ(wl(bytes({0xE9})), "%%130");
    EXPECT_EQ(wl(bytes({0x80})), " ");  // no counterpart
    EXPECT_EQ(wl("Ab1"), "Ab1");
    EXPECT_EQ(wl("%%c"), "%%c");
    EXPECT_EQ(wl("%%130"), "%%130");
    EXPECT_EQ(wl(bytes({0xFB})), "%%251");
    EXPECT_EQ(wl(bytes({0xB7})), "%%250");
    EXPECT_EQ(wl(bytes({0xFF})), "%%250");
    EXPECT_EQ(wl(""), "");
    EXPECT_EQ(wl(bytes({'a', 0, 'b'})), bytes({'a', 0, 'b'}));
}

TEST(DecodeEscapes, EscapesBecomeBytes)
{
    EXPECT_EQ(lw("%%130"), bytes({0xE9}));
    EXPECT_EQ(lw("%%c12"), bytes({0xDD, '1', '2'}));
    EXPECT_EQ(lw("%%C"), "%%C");
    EXPECT_EQ(lw("%%d"), "%%d");
    EXPECT_EQ(lw("%%p"), "%%p");
    EXPECT_EQ(lw("%%200"), " ");  // 200 has no counterpart
    EXPECT_EQ(lw("%%251"), bytes({251}));
    EXPECT_EQ(lw("%%167"), bytes({158}));
    EXPECT_EQ(lw("%%0"), bytes({0}));
    EXPECT_EQ(lw("A%%10B%%13C"), "A B C");  // a line break cannot stand in a text line
    EXPECT_EQ(ConvertChar("lw", 10), 10);
    EXPECT_EQ(lw("%%256"), bytes({0}));
    EXPECT_EQ(lw("x%%65y"), "xAy");
    EXPECT_EQ(lw(""), "");
}

TEST(DecodeEscapes, PercentRunsAndShortTails)
{
    EXPECT_EQ(lw("%%"), "%%");
    EXPECT_EQ(lw("ab%%"), "ab%%");
    EXPECT_EQ(lw("%"), "%");
    EXPECT_EQ(lw("%%%130"), bytes({'%', 0xE9}));
    EXPECT_EQ(lw("%%%%130"), bytes({'%', '%', 0xE9}));
    EXPECT_EQ(lw("%%%"), "%%%");
    EXPECT_EQ(lw("%%1000"), bytes({192}));    // 1000 mod 256 = 232
    EXPECT_EQ(lw("%%12345"), bytes({207, '5'}));  // four digits at most: 1234 mod 256 = 210
    EXPECT_EQ(lw("%%1"), bytes({1}));
    EXPECT_EQ(lw("%%cc"), bytes({0xDD, 'c'}));
    EXPECT_EQ(lw("%%%c"), bytes({'%', 0xDD}));
}

TEST(DecodeEscapes, RawBytes)
{
    EXPECT_EQ(lw(bytes({0xA7})), bytes({249}));  // read as 0x85
    EXPECT_EQ(lw(bytes({0x85})), bytes({249}));
    EXPECT_EQ(lw(bytes({0xB0})), " ");
    EXPECT_EQ(lw(bytes({0xF5})), bytes({249}));
    EXPECT_EQ(lw(bytes({146})), bytes({205}));
    EXPECT_EQ(lw(bytes({214})), bytes({205}));
    EXPECT_EQ(lw(bytes({251})), bytes({251}));
}

TEST(DecodeEscapes, LostBytesAreCounted)
{
    std::string out;
    EXPECT_EQ(ConvertTextInto(true, bytes({0xB0, 'a', 0xB1}) + "%%200%%130", out), 3u);
    EXPECT_EQ(out, bytes({' ', 'a', ' ', ' ', 0xE9}));
    out.clear();
    EXPECT_EQ(ConvertTextInto(false, bytes({0x80, 0xE9, 0x81}), out), 2u);
    EXPECT_EQ(out, " %%130 ");
}

namespace {

struct Collected final : PiecewiseRecoding::Out {
    void write(const char* data, std::size_t n) override { text.append(data, n); }
    std::string text;
};

struct Piecewise {
    std::string text;
    std::size_t lost;
    bool changed;
    bool dosEscape;
};

// A text recoded in pieces cut at `cuts` (offsets, in order).
Piecewise recodeCut(bool latinToWindows, std::string_view text, const std::vector<std::size_t>& cuts,
                    TextBytes bytes = TextBytes::Cp1250)
{
    Collected out;
    PiecewiseRecoding recoding(latinToWindows, out, bytes);
    std::size_t from = 0;
    for (const std::size_t cut : cuts) {
        recoding.add(text.substr(from, cut - from));
        from = cut;
    }
    recoding.add(text.substr(from));
    recoding.finish();
    return {out.text, recoding.lost(), recoding.changed(), recoding.dosEscape()};
}

}  // namespace

TEST(PiecewiseRecoding, CutAnywhereAsWhole)
{
    // Each text cut once at every offset, and into single bytes.
    const struct {
        bool latinToWindows;
        std::string in;
        std::string out;
        std::size_t lost;
    } cases[] = {
        {true, "%%130x", "\xE9x", 0},
        {true, "%%%130", "%\xE9", 0},
        {true, "%%%%c", "%%\xDD", 0},
        {true, "%%37%%37c", "\xDD", 0},  // two escapes of "%" and a "c" make the diameter sign
        {true, "%%%37c", "\xDD", 0},     // a "%" before the escape of "%" too
        {true, "a%%37c", "a%c", 0},
        {true, "%%12345", "\xCF" "5", 0},  // four digits at most: 1234 % 256 = 210
        {true, "%%", "%%", 0},
        {true, "%", "%", 0},
        {true, "%a%", "%a%", 0},
        {true, "%%c12", "\xDD" "12", 0},
        {true, "%%10", " ", 1},
        {true, "\xA7\xB0", "\xF9 ", 1},
        {true, "%%0%%", std::string(1, '\0') + "%%", 0},
        {true, "", "", 0},
        {true, "%%1234c", "\xCF" "c", 0},  // four digits end the escape; its byte is no "%%"
        {true, "%%%%%", "%%%%%", 0},
        {true, "x%%37%%c", "x%\xDD", 0},
        {false, "\xE9x", "%%130x", 0},
        {false, "\xA4", "%%207", 0},
        {false, "\x80", " ", 1},
        {false, "\x9A" "a", "%%231a", 0},
        {false, "plain %%", "plain %%", 0},
    };
    for (const auto& c : cases) {
        std::string whole = "kept";
        EXPECT_EQ(RecodeTextInto(c.latinToWindows, TextBytes::Cp1250, c.in, whole).lost, c.lost) << c.in;
        EXPECT_EQ(whole, "kept" + c.out) << c.in;
        for (std::size_t cut = 0; cut <= c.in.size(); ++cut) {
            const Piecewise got = recodeCut(c.latinToWindows, c.in, {cut});
            EXPECT_EQ(got.text, c.out) << c.in << " cut at " << cut;
            EXPECT_EQ(got.lost, c.lost) << c.in;
            EXPECT_EQ(got.changed, c.out != c.in) << c.in;
        }
        std::vector<std::size_t> everyByte;
        for (std::size_t i = 1; i < c.in.size(); ++i)
            everyByte.push_back(i);
        EXPECT_EQ(recodeCut(c.latinToWindows, c.in, everyByte).text, c.out) << c.in;
    }
}

// Texts longer than the bytes the recoding keeps before it writes them:
// an escape, and "%%c" taking back the two bytes before it, across the
// point where they go out, and "wl" texts five times as long out as in.
TEST(PiecewiseRecoding, LongTextsAcrossWhatIsKept)
{
    for (std::size_t before = 4080; before < 4100; ++before) {
        const std::string in = std::string(before, 'a') + "%%%37c%%130";
        const std::string out = std::string(before, 'a') + "\xDD\xE9";
        for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{4096}, in.size()}) {
            std::vector<std::size_t> cuts;
            for (std::size_t at = piece; at < in.size(); at += piece)
                cuts.push_back(at);
            const Piecewise got = recodeCut(true, in, cuts);
            ASSERT_EQ(got.text, out) << before << " in pieces of " << piece;
            ASSERT_TRUE(got.changed);
        }
    }
    std::string in;
    std::string out;
    for (int i = 0; i < 3000; ++i) {
        in += "x\xE9";
        out += "x%%130";
    }
    for (const std::size_t piece : {std::size_t{1}, std::size_t{1000}, in.size()}) {
        std::vector<std::size_t> cuts;
        for (std::size_t at = piece; at < in.size(); at += piece)
            cuts.push_back(at);
        ASSERT_EQ(recodeCut(false, in, cuts).text, out) << "in pieces of " << piece;
    }
}

TEST(PiecewiseRecoding, AgreesWithTheWholeTextForEveryShape)
{
    // Texts of the bytes the escape rules look at, cut at random.
    std::mt19937 rng(130);
    const std::string alphabet = "%%%%0123456789cCx \xA7\xE9\x80\xFF";
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        for (std::size_t n = rng() % 24; n != 0; --n)
            text += alphabet[rng() % alphabet.size()];
        std::vector<std::size_t> cuts;
        for (std::size_t i = 1; i < text.size(); ++i)
            if (rng() % 3 == 0)
                cuts.push_back(i);
        for (const bool latinToWindows : {true, false}) {
            for (const TextBytes bytes : {TextBytes::Cp1250, TextBytes::Utf8}) {
                std::string whole;
                const RecodedText recoded = RecodeTextInto(latinToWindows, bytes, text, whole);
                const Piecewise got = recodeCut(latinToWindows, text, cuts, bytes);
                ASSERT_EQ(got.text, whole) << text;
                ASSERT_EQ(got.lost, recoded.lost) << text;
                ASSERT_EQ(got.changed, whole != text) << text;
                ASSERT_EQ(got.dosEscape, recoded.dosEscape) << text;
            }
        }
    }
}

TEST(Utf8Texts, EscapesBecomeTheirCharacterAndBytesStay)
{
    const struct {
        std::string in;
        std::string out;
        std::size_t lost;
        bool dosEscape;
    } cases[] = {
        {"P%%253%%161li%%159", "P\xC5\x99\xC3\xADli\xC4\x8D", 0, true},  // "Příli" and "č"
        {"\xC5\x99\xA7\xE9", "\xC5\x99\xA7\xE9", 0, false},             // its own bytes, none read as 852
        {"%%c x%%%37c", "%%c x%%c", 0, false},                              // no diameter sign made
        {"%%200", " ", 1, true},                                            // no counterpart: a space
        {"%%10%%13", "  ", 2, false},                                       // no line breaks in a text
        {"%%384", "\xC3\x87", 0, true},                                     // 128: Ç
        {"%%127%%256", "\x7F" + std::string(1, '\0'), 0, false},
        {"%%151%%155", "\xC5\x9A\xC5\xA4", 0, true},                         // Ś Ť
        {"50%% %%", "50%% %%", 0, false},
    };
    for (const auto& c : cases) {
        std::string out;
        const RecodedText got = RecodeTextInto(true, TextBytes::Utf8, c.in, out);
        EXPECT_EQ(out, c.out) << c.in;
        EXPECT_EQ(got.lost, c.lost) << c.in;
        EXPECT_EQ(got.dosEscape, c.dosEscape) << c.in;
        std::vector<std::size_t> everyByte;
        for (std::size_t cut = 0; cut <= c.in.size(); ++cut) {
            const Piecewise cutOnce = recodeCut(true, c.in, {cut}, TextBytes::Utf8);
            EXPECT_EQ(cutOnce.text, c.out) << c.in << " cut at " << cut;
            EXPECT_EQ(cutOnce.lost, c.lost) << c.in << " cut at " << cut;
            EXPECT_EQ(cutOnce.dosEscape, c.dosEscape) << c.in << " cut at " << cut;
            if (cut != 0 && cut != c.in.size())
                everyByte.push_back(cut);
        }
        EXPECT_EQ(recodeCut(true, c.in, everyByte, TextBytes::Utf8).text, c.out) << c.in;
    }
}

TEST(Utf8Texts, TheDecodeNeverYieldsAByteTheCodePageLeavesUndefined)
{
    for (const auto& [from, to] : kLatinToWindowsPairs)
        EXPECT_NE(Cp1250Character(to), u'\0') << int(from) << " gives " << int(to);
    EXPECT_EQ(Cp1250Character(0x8A), u'\u0160');
    EXPECT_EQ(Cp1250Character(0x80), u'\u20AC');
    EXPECT_EQ(Cp1250Character(0x81), u'\0');
    EXPECT_EQ(Cp1250Character(0xFF), u'\u02D9');
}
