// Input and output of a pass held in memory, for driving the line pass in
// pieces and making it fail on request.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

#include "engine/IoError.h"
#include "engine/pass/LinePass.h"

namespace dxfkonv::test {

// Hands out the input at most `step` bytes a call; read number `failAt`
// (counted from 1, 0 for none) and every one after it throw IoError(error).
class PiecewiseSource : public ByteSource {
public:
    PiecewiseSource(std::string_view data, std::size_t step, int failAt = 0, int error = 0)
        : all_(data), data_(data), step_(step), failAt_(failAt), error_(error)
    {
    }
    std::size_t read(char* buffer, std::size_t n) override
    {
        if (failAt_ != 0 && ++calls_ >= failAt_)
            throw IoError(error_);
        n = std::min({n, step_, data_.size()});
        std::copy_n(data_.data(), n, buffer);
        data_.remove_prefix(n);
        return n;
    }
    // Also at most `step` bytes a call; not counted as a read.
    std::size_t readAt(std::uint64_t offset, char* buffer, std::size_t n) override
    {
        const std::string_view rest = all_.substr(std::min<std::uint64_t>(offset, all_.size()));
        n = std::min({n, step_, rest.size()});
        std::copy_n(rest.data(), n, buffer);
        ++readsAt;
        return n;
    }
    int readsAt = 0;

private:
    const std::string_view all_;
    std::string_view data_;  // not read yet
    std::size_t step_;
    int failAt_;
    int error_;
    int calls_ = 0;
};

// Keeps what it is given in `text`; write number `failAt` (counted from 1,
// 0 for none) throws IoError(error) and keeps nothing.
class StringOut : public ByteSink {
public:
    explicit StringOut(int failAt = 0, int error = 0) : failAt_(failAt), error_(error) {}
    void write(const char* data, std::size_t n) override
    {
        if (++calls == failAt_)
            throw IoError(error_);
        text.append(data, n);
    }
    std::string text;
    int calls = 0;

private:
    int failAt_;
    int error_;
};

}  // namespace dxfkonv::test
