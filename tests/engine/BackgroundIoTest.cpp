// Reading ahead and writing behind on threads of their own: the bytes, their
// order and the failures all come through as without them.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "engine/BackgroundIo.h"
#include "engine/IoError.h"
#include "engine/LinePass.h"

using namespace dxfkonv;

namespace {

// Gives at most `step` bytes a call; fails with `error` from call `failAt` on.
class ScriptedSource : public ByteSource {
public:
    ScriptedSource(std::string_view data, std::size_t step, int failAt = 0, int error = 0)
        : data_(data), step_(step), failAt_(failAt), error_(error)
    {
    }
    std::size_t read(char* buffer, std::size_t n) override
    {
        if (++calls_ == failAt_)
            throw IoError(error_);
        n = std::min({n, step_, data_.size()});
        std::copy_n(data_.data(), n, buffer);
        data_.remove_prefix(n);
        return n;
    }

private:
    std::string_view data_;
    std::size_t step_;
    int calls_ = 0;
    int failAt_;
    int error_;
};

// Keeps what it is given; fails with `error` on write `failAt`.
class ScriptedSink : public ByteSink {
public:
    explicit ScriptedSink(int failAt = 0, int error = 0) : failAt_(failAt), error_(error) {}
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

std::string drawing(std::size_t bytes)
{
    std::mt19937 rng(812);
    static const char* const lines[] = {"  0", "LINE", "  1", "%%130 %%160", " 62", "    -5", " 10", "1.5",
                                        "  8", "0", "  1", "\xE9\xA7"};
    std::string s;
    while (s.size() < bytes) {
        s += lines[rng() % std::size(lines)];
        s += rng() % 9 == 0 ? "\n" : "\r\n";
    }
    // One text longer than a read block, so that the pass writes it past
    // its own buffer.
    s += "  1\r\n" + std::string(1 << 21, 'x') + "\r\n";
    return s;
}

}  // namespace

TEST(BackgroundIo, PassThroughBothThreadsGivesTheSameBytes)
{
    const std::string input = drawing(3 << 20);
    PassReport alone;
    const std::string expected = ConvertBuffer(input, {}, &alone);
    for (std::size_t step : {std::size_t{1} << 20, std::size_t{4093}}) {
        ScriptedSource file(input, step);
        ReadAheadSource source(file);
        ScriptedSink target;
        WriteBehindSink sink(target);
        const PassReport report = ConvertStream(source, sink, input.size(), {});
        sink.finish();
        EXPECT_TRUE(target.text == expected) << "step " << step;
        EXPECT_EQ(report.lines, alone.lines);
        EXPECT_EQ(report.textsRecoded, alone.textsRecoded);
    }
    // Plain reads from a source read ahead.
    ScriptedSource file(input, 1000);
    ReadAheadSource source(file);
    std::string got;
    char buffer[777];
    while (const std::size_t n = source.read(buffer, sizeof buffer))
        got.append(buffer, n);
    EXPECT_TRUE(got == input);
}

TEST(BackgroundIo, FailuresComeThroughAndStopTheFlow)
{
    const std::string input = drawing(4 << 20);
    // A read that fails on the thread is thrown to the pass, with its number.
    {
        ScriptedSource file(input, 1 << 20, 3, kFileAccessDenied);
        ReadAheadSource source(file);
        ScriptedSink target;
        try {
            ConvertStream(source, target, input.size(), {});
            FAIL() << "the failed read went unnoticed";
        } catch (const IoError& e) {
            EXPECT_EQ(e.code(), kFileAccessDenied);
        }
    }
    // A write that fails on the thread is thrown by a later hand-over or by
    // finish(); nothing is written after it.
    {
        ScriptedSource source(input, 1 << 20);
        ScriptedSink target(2, kDiskFull);
        WriteBehindSink sink(target);
        try {
            ConvertStream(source, sink, input.size(), {});
            sink.finish();
            FAIL() << "the failed write went unnoticed";
        } catch (const IoError& e) {
            EXPECT_EQ(e.code(), kDiskFull);
        }
        EXPECT_EQ(target.calls, 2);
    }
    // Giving up half-way waits for the threads and leaves nothing running.
    {
        ScriptedSource file(input, 1 << 20);
        ReadAheadSource source(file);
        ScriptedSink target;
        WriteBehindSink sink(target);
        std::unique_ptr<char[]> block(new char[(1 << 20) + 64]);
        EXPECT_GT(source.readBuffer(block, (1 << 20) + 64, 1 << 20), 0u);
        sink.writeBuffer(block, 100, (1 << 20) + 64);
    }
}
