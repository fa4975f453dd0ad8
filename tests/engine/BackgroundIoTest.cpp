// Reading ahead and writing behind on threads of their own: the bytes, their
// order and the failures all come through as without them.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "MemoryStreams.h"
#include "engine/pass/BackgroundIo.h"
#include "engine/IoError.h"
#include "engine/pass/LinePass.h"

using namespace dxfkonv;
using dxfkonv::test::PiecewiseSource;
using dxfkonv::test::StringOut;

namespace {

std::string drawing(std::size_t bytes)
{
    std::mt19937 rng(812);
    static const char* const lines[] = {"  0", "LINE", "  1", "%%130 %%160", " 62", "    -5", " 10", "1.5",
                                        "  8", "0", "  1", "\xE9\xA7"};
    std::string s = "  0\r\n";  // a DXF file starts with a group code
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
        PiecewiseSource file(input, step);
        ReadAheadSource source(file);
        StringOut target;
        WriteBehindSink sink(target);
        const PassReport report = ConvertStream(source, sink, input.size(), {});
        sink.finish();
        EXPECT_TRUE(target.text == expected) << "step " << step;
        EXPECT_EQ(report.lines, alone.lines);
        EXPECT_EQ(report.textsRecoded, alone.textsRecoded);
    }
    // Plain reads from a source read ahead.
    PiecewiseSource file(input, 1000);
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
        PiecewiseSource file(input, 1 << 20, 3, kFileAccessDenied);
        ReadAheadSource source(file);
        StringOut target;
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
        PiecewiseSource source(input, 1 << 20);
        StringOut target(2, kDiskFull);
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
        PiecewiseSource file(input, 1 << 20);
        ReadAheadSource source(file);
        StringOut target;
        WriteBehindSink sink(target);
        Block block = NewBlock((1 << 20) + 64);
        EXPECT_GT(source.readBuffer(block, (1 << 20) + 64, 1 << 20), 0u);
        sink.writeBuffer(block, 100, (1 << 20) + 64);
    }
}

TEST(BackgroundIo, BlockJobSeesEveryBlockInOrderUntilTakenBack)
{
    // The job runs on each block before it is handed out, in the order of
    // the input, with the buffer's size; once taken back it runs no more.
    const std::string input = drawing(1 << 20);
    struct Job final : ByteSource::BlockJob {
        void run(char* buffer, std::size_t n, std::size_t size) override
        {
            seen.append(buffer, n);
            sizes.push_back(size);
            buffer[n] = '!';  // the job may write past the bytes read
        }
        std::string seen;
        std::vector<std::size_t> sizes;
    } job;
    PiecewiseSource file(input, 100000);
    ReadAheadSource source(file);
    ASSERT_TRUE(source.takeBlockJob(&job));
    std::string got;
    Block block = NewBlock(200000);
    for (int i = 0; i < 5; ++i) {
        const std::size_t n = source.readBuffer(block, 200000, 150000);
        ASSERT_EQ(block[n], '!');
        got.append(block.get(), n);
    }
    source.takeBlockJob(nullptr);
    const std::size_t seenBefore = job.seen.size();
    while (const std::size_t n = source.readBuffer(block, 200000, 150000))
        got.append(block.get(), n);
    EXPECT_TRUE(got == input);
    // The block read ahead while the job was taken back was seen by it.
    EXPECT_TRUE(job.seen == input.substr(0, seenBefore));
    EXPECT_LE(seenBefore, 600000u);
    EXPECT_GE(seenBefore, 500000u);
    EXPECT_TRUE(std::all_of(job.sizes.begin(), job.sizes.end(), [](std::size_t s) { return s == 200000; }));
}
