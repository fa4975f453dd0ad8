#include "engine/rules/ColourRenumbering.h"

namespace dxfkonv {

constexpr std::array<ColourPair, 12> kColours16TarnixToAutocad{{
    {1, 11}, {3, 91}, {4, 131}, {5, 171}, {6, 211}, {9, 1}, {10, 32}, {11, 3}, {12, 4},
    {13, 5}, {14, 6}, {15, 9},}};

constexpr std::array<ColourPair, 12> kColours16AutocadToTarnix{{
    {1, 9}, {3, 11}, {4, 12}, {5, 13}, {6, 14}, {9, 15}, {11, 1}, {32, 10}, {91, 3}, {131, 4},
    {171, 5}, {211, 6},}};

constexpr std::array<ColourPair, 16> kColours256TarnixToAutocad{{
    {1, 7}, {2, 1}, {3, 3}, {4, 5}, {5, 4}, {6, 6}, {7, 32}, {8, 9}, {9, 8}, {10, 11},
    {11, 91}, {12, 171}, {13, 131}, {14, 211}, {15, 2}, {16, 16},}};

constexpr std::array<ColourPair, 16> kColours256AutocadToTarnix{{
    {1, 2}, {2, 15}, {3, 3}, {4, 5}, {5, 4}, {6, 6}, {7, 1}, {8, 9}, {9, 8}, {11, 10},
    {16, 16}, {32, 7}, {91, 11}, {131, 13}, {171, 12}, {211, 14},}};

namespace {

template <std::size_t N>
constexpr ColourMap makeMap(const std::array<ColourPair, N>& pairs)
{
    ColourMap map{};
    for (int c = 0; c < 256; ++c)
        map[c] = static_cast<unsigned char>(c);
    for (const auto& [from, to] : pairs)
        map[from] = static_cast<unsigned char>(to);
    return map;
}

}  // namespace

const ColourMap& ColourMapFor(const ColourDirection& direction, bool palette16)
{
    static constexpr ColourMap t16sa = makeMap(kColours16TarnixToAutocad);
    static constexpr ColourMap t16as = makeMap(kColours16AutocadToTarnix);
    static constexpr ColourMap t256sa = makeMap(kColours256TarnixToAutocad);
    static constexpr ColourMap t256as = makeMap(kColours256AutocadToTarnix);
    const bool toAutocad = direction == "sa";
    return palette16 ? (toAutocad ? t16sa : t16as) : (toAutocad ? t256sa : t256as);
}

int ConvertColor(const ColourDirection& direction, int colour, bool palette16)
{
    if (colour < 0 || colour > 255)
        return colour;
    return ColourMapFor(direction, palette16)[static_cast<std::size_t>(colour)];
}

}  // namespace dxfkonv
