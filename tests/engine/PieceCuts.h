// The ways a test hands a reader of the rule book one line in pieces:
// whole, cut in two at every byte, and one byte at a time. A reader that
// takes a value in pieces must come to the same verdict every way.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dxfkonv::testing {

struct Cutting {
    std::string how;  // for the failure message
    std::vector<std::string_view> pieces;
};

inline std::vector<Cutting> EveryCutting(std::string_view line)
{
    std::vector<Cutting> all;
    all.push_back({"whole", {line}});
    for (std::size_t cut = 0; cut <= line.size(); ++cut)
        all.push_back({"cut at " + std::to_string(cut), {line.substr(0, cut), line.substr(cut)}});
    Cutting bytes{"byte by byte", {}};
    for (std::size_t i = 0; i < line.size(); ++i)
        bytes.pieces.push_back(line.substr(i, 1));
    all.push_back(std::move(bytes));
    return all;
}

}  // namespace dxfkonv::testing
