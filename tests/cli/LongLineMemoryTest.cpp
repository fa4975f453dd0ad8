// dxfkonv-cli on drawings with lines of any length: its peak memory, as
// the system measures it for the process, stays bounded.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "CliProcess.h"
#include "TestFiles.h"

using namespace dxfkonv::test;

namespace {

// What a normal drawing needs (7.6 MiB) and some room.
constexpr long kMostKiB = 16 * 1024;
// AddressSanitizer reserves terabytes of shadow memory and keeps freed
// memory in quarantine: under it neither the limit nor the peak says
// anything about the converter, and only its output is checked.
#if defined(DXFKONV_SANITIZED)
constexpr bool kMemoryMeasured = false;
#else
constexpr bool kMemoryMeasured = true;
#endif

struct Measured {
    int code = -1;
    long peakKiB = 0;
};

// Runs dxfkonv-cli with `args` and measures its peak resident memory; its
// address space is limited to 1 GiB besides, so that a line held whole
// fails outright.
Measured runMeasured(std::vector<std::string> args)
{
    args.insert(args.begin(), "-q");
    ChildSetup setup;
    if (kMemoryMeasured)
        setup.addressSpaceLimit = rlim_t{1} << 30;
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    const int streams[3] = {null, null, STDERR_FILENO};
    const pid_t pid = start(std::move(args), streams, setup);
    close(null);
    Measured m;
    rusage usage{};
    if (pid > 0) {
        const int status = waitFor(pid, &usage);
        m.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        m.peakKiB = usage.ru_maxrss;
    }
    return m;
}

// A file of `head` followed by zero bytes up to `size`, which take no
// room on the disk.
void writeSparse(const std::string& path, const std::string& head, off_t size)
{
    writeFile(path, head);
    ASSERT_EQ(truncate(path.c_str(), size), 0);
}

// A file made of pieces, each written `times` times.
struct Piece {
    std::string bytes;
    std::size_t times = 1;
};
void writePieces(const std::string& path, const std::vector<Piece>& pieces)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    for (const Piece& p : pieces) {
        // In blocks of about 1 MiB.
        std::string block;
        const std::size_t perBlock = std::max<std::size_t>(1, (1u << 20) / p.bytes.size());
        for (std::size_t i = 0; i < std::min(perBlock, p.times); ++i)
            block += p.bytes;
        for (std::size_t left = p.times; left != 0;) {
            const std::size_t now = std::min(left, perBlock);
            std::fwrite(block.data(), 1, now * p.bytes.size(), f);
            left -= now;
        }
    }
    ASSERT_EQ(std::fclose(f), 0);
}

std::string readRange(const std::string& path, off_t from, std::size_t n)
{
    std::string s(n, '\0');
    const int fd = open(path.c_str(), O_RDONLY);
    const ssize_t got = pread(fd, s.data(), n, from);
    close(fd);
    s.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return s;
}

off_t sizeOf(const std::string& path)
{
    struct stat st{};
    return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

}  // namespace

TEST(LongLineMemory, GigabytesWithoutALineEndInADryRun)
{
    TempDir dir;
    const off_t gib = off_t{1} << 30;
    const struct {
        const char* name;
        std::string head;
        off_t size;
    } cases[] = {
        // A drawing, then zero bytes as a crash on a USB stick leaves them.
        {"drawing and zeros", "  0\r\nSECTION\r\n  2\r\nENTITIES\r\n 62\r\n5\r\n  0\r\nEOF\r\n", 2 * gib},
        // A text of a gigabyte with no line end, and a colour.
        {"text", "  0\r\nTEXT\r\n  1\r\n", gib / 2},
        {"colour", "  0\r\nLINE\r\n 62\r\n", gib / 2},
        // Inside the code-page header.
        {"code page", "  9\r\n$DWGCODEPAGE\r\n  3\r\nANSI_852", gib / 2},
    };
    for (const auto& c : cases) {
        const std::string path = dir.file("big.dxf");
        writeSparse(path, c.head, c.size);
        const Measured m = runMeasured({"-n", path});
        EXPECT_EQ(m.code, 0) << c.name;
        if (kMemoryMeasured) {
            EXPECT_LT(m.peakKiB, kMostKiB) << c.name;
        }
        std::printf("%s: %ld KiB\n", c.name, m.peakKiB);
        unlink(path.c_str());
    }
}

TEST(LongLineMemory, LongLinesConvertedToAFile)
{
    TempDir dir;
    const std::size_t n = std::size_t{48} << 20;
    const std::string eof = "\r\n  0\r\nEOF\r\n";
    const struct {
        const char* name;
        std::vector<Piece> input;
        std::string expectedHead, expectedTail;
        off_t expectedSize;
    } cases[] = {
        {"text of escapes", {{"  0\r\nTEXT\r\n  1\r\n"}, {"%%130", n / 5}, {eof}},
         "  0\r\nTEXT\r\n  1\r\n\xE9\xE9", "\xE9\r\n  0\r\nEOF\r\n", static_cast<off_t>(16 + n / 5 + 12)},
        {"negative colour, then spaces", {{" 62\r\n-5"}, {" ", n}, {eof}}, " 62\r\n-4\r\n  0",
         " 62\r\n-4\r\n  0\r\nEOF\r\n", 19},
        {"colour past 255 after zeros", {{" 62\r\n"}, {"0", n}, {"300" + eof}}, " 62\r\n000", "0300" + eof,
         static_cast<off_t>(5 + n + 3 + 12)},
        {"code of spaces around 1", {{"  0\r\nTEXT\r\n"}, {" ", n}, {"1"}, {" ", n}, {"\r\n%%130\r\n"}},
         "  0\r\nTEXT\r\n   ", "    \r\n\xE9\r\n", static_cast<off_t>(11 + 2 * n + 1 + 2 + 3)},
        // A line of the code-page run too varied to hold, read ahead to
        // its end.
        {"code-page run line, ANSI at its end", {{"  9\r\n$DWGCODEPAGE\r\n  4\r\n"}, {"xy", n / 2}, {"ansi" + eof}},
         "  9\r\n$DWGCODEPAGE\r\n  4\r\nANSI_1250\r\n", "ANSI_1250\r\n  0\r\nEOF\r\n", 24 + 11 + 10},
        {"code-page run line, ANSI early, a dollar late",
         {{"  9\r\n$DWGCODEPAGE\r\n  4\r\nANSI"}, {"xy", n / 2}, {"$" + eof}}, "  9\r\n$DWGCODEPAGE\r\n  4\r\nANSIxy",
         "xy$\r\n  0\r\nEOF\r\n", static_cast<off_t>(24 + 4 + n + 1 + 12)},
    };
    for (const auto& c : cases) {
        const std::string in = dir.file("long.dxf");
        const std::string out = dir.file("out.dxf");
        writePieces(in, c.input);
        const Measured m = runMeasured({"-o", out, in});
        EXPECT_EQ(m.code, 0) << c.name;
        if (kMemoryMeasured) {
            EXPECT_LT(m.peakKiB, kMostKiB) << c.name;
        }
        std::printf("%s: %ld KiB\n", c.name, m.peakKiB);
        const off_t size = sizeOf(out);
        EXPECT_EQ(size, c.expectedSize) << c.name;
        EXPECT_EQ(readRange(out, 0, c.expectedHead.size()), c.expectedHead) << c.name;
        EXPECT_EQ(readRange(out, size - static_cast<off_t>(c.expectedTail.size()), c.expectedTail.size()),
                  c.expectedTail)
            << c.name;
        unlink(in.c_str());
        unlink(out.c_str());
    }
}
