#include "bench/DrawingMaker.h"

#include <array>
#include <cstdio>

namespace dxfkonv::bench {

namespace {

constexpr std::size_t kPiece = 64 * 1024;

// Small, fast and the same everywhere.
class Random {
public:
    explicit Random(std::uint32_t seed) : state_(seed * 2654435761u + 1) {}
    std::uint32_t next()
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    std::uint32_t below(std::uint32_t n) { return next() % n; }

private:
    std::uint32_t state_;
};

const std::array<const char*, 10> kTexts = {
    "P%%253%%161li%%231 %%167lu%%156ou%%159k%%236 k%%133%%229 %%163p%%216l %%212%%160belsk%%130 %%162dy",
    "V%%236kres %%159. ",
    "Pr%%133m%%216r trubky: %%c ",
    "%%230KODA, %%252e%%159kovice, %%172SN 01 3130",
    "M%%162stek p%%253es %%159eku, km ",
    "Kan%%160l DN 300 - %%156achta %%159. ",
    "Podlah%%160: dla%%247ba, sp%%160d 2 %%%",
    "Obvodov%%130 zdivo tl. 450 mm",
    "Stropn%%161 deska %%c 12 / ",
    "POZN%%181MKA: viz v%%236kres ",
};

const std::array<const char*, 6> kLayers = {"0", "TEXTY", "POPISY", "OSY", "KOTY", "STENY"};

class Writer {
public:
    Writer(std::size_t limit, const std::function<void(std::string_view)>& sink) : limit_(limit), sink_(sink)
    {
        piece_.reserve(kPiece + 1024);
    }

    void line(std::string_view s)
    {
        piece_.append(s);
        piece_.append("\r\n");
        if (piece_.size() >= kPiece)
            flush();
    }
    void pair(std::string_view code, std::string_view value)
    {
        line(code);
        line(value);
    }
    void number(std::string_view code, double v)
    {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.4f", v);
        pair(code, buf);
    }
    void colour(int c)
    {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%6d", c);
        pair(" 62", buf);
    }
    bool full() const { return given_ + piece_.size() >= limit_; }
    void flush()
    {
        if (piece_.empty())
            return;
        sink_(piece_);
        given_ += piece_.size();
        piece_.clear();
    }

private:
    std::size_t limit_;
    const std::function<void(std::string_view)>& sink_;
    std::string piece_;
    std::size_t given_ = 0;
};

void header(Writer& w)
{
    w.pair("  0", "SECTION");
    w.pair("  2", "HEADER");
    w.pair("  9", "$ACADVER");
    w.pair("  1", "AC1009");
    w.pair("  9", "$DWGCODEPAGE");
    w.pair("  3", "ANSI_852");
    w.pair("  9", "$INSBASE");
    w.number(" 10", 0);
    w.number(" 20", 0);
    w.number(" 30", 0);
    w.pair("  9", "$EXTMIN");
    w.number(" 10", 0);
    w.number(" 20", 0);
    w.pair("  9", "$EXTMAX");
    w.number(" 10", 42000);
    w.number(" 20", 29700);
    w.pair("  0", "ENDSEC");
    w.pair("  0", "SECTION");
    w.pair("  2", "TABLES");
    w.pair("  0", "TABLE");
    w.pair("  2", "LAYER");
    w.pair(" 70", "     6");
    int c = 1;
    for (const char* layer : kLayers) {
        w.pair("  0", "LAYER");
        w.pair("  2", layer);
        w.pair(" 70", "     0");
        w.colour(c == 6 ? -c : c);
        w.pair("  6", "CONTINUOUS");
        ++c;
    }
    w.pair("  0", "ENDTAB");
    w.pair("  0", "ENDSEC");
    w.pair("  0", "SECTION");
    w.pair("  2", "ENTITIES");
}

void entity(Writer& w, Random& r, std::uint32_t n)
{
    const char* layer = kLayers[r.below(kLayers.size())];
    const int colour = static_cast<int>(r.below(17));
    const double x = r.below(4200000) / 100.0;
    const double y = r.below(2970000) / 100.0;
    switch (r.below(8)) {
    case 0:
    case 1:
    case 2: {
        w.pair("  0", "TEXT");
        w.pair("  8", layer);
        w.colour(colour);
        w.number(" 10", x);
        w.number(" 20", y);
        w.number(" 30", 0);
        w.number(" 40", 2.5);
        std::string text = kTexts[r.below(kTexts.size())];
        text += std::to_string(n % 1000);
        w.pair("  1", text);
        break;
    }
    case 3:
        w.pair("  0", "CIRCLE");
        w.pair("  8", layer);
        w.colour(colour);
        w.number(" 10", x);
        w.number(" 20", y);
        w.number(" 30", 0);
        w.number(" 40", 1 + r.below(50000) / 100.0);
        break;
    case 4: {
        w.pair("  0", "POLYLINE");
        w.pair("  8", layer);
        w.colour(colour);
        w.pair(" 66", "     1");
        const std::uint32_t vertices = 2 + r.below(4);
        for (std::uint32_t v = 0; v < vertices; ++v) {
            w.pair("  0", "VERTEX");
            w.pair("  8", layer);
            w.number(" 10", x + v * 10.0);
            w.number(" 20", y - v * 5.0);
        }
        w.pair("  0", "SEQEND");
        break;
    }
    default:
        w.pair("  0", "LINE");
        w.pair("  8", layer);
        w.colour(colour);
        w.number(" 10", x);
        w.number(" 20", y);
        w.number(" 30", 0);
        w.number(" 11", x + r.below(100000) / 100.0);
        w.number(" 21", y + r.below(100000) / 100.0);
        w.number(" 31", 0);
        break;
    }
}

}  // namespace

void makeDrawing(std::size_t bytes, std::uint32_t seed, const std::function<void(std::string_view)>& sink)
{
    Writer w(bytes, sink);
    Random r(seed);
    header(w);
    for (std::uint32_t n = 0; !w.full(); ++n)
        entity(w, r, n);
    w.pair("  0", "ENDSEC");
    w.pair("  0", "EOF");
    w.flush();
}

std::string makeDrawing(std::size_t bytes, std::uint32_t seed)
{
    std::string all;
    all.reserve(bytes + 1024);
    makeDrawing(bytes, seed, [&](std::string_view piece) { all.append(piece); });
    return all;
}

}  // namespace dxfkonv::bench
