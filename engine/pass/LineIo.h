// Lines in and out of a pass: the reader, which hands out lines as views
// into large blocks (and the stretches made for them), and the writer,
// which collects the output lines into large writes. Part of the line
// pass (pass/PassState.h); the writer's common cases are inline here for
// the fast path, the rest is in pass/LineIo.cpp.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "engine/pass/LinePass.h"
#include "engine/rules/DxfRules.h"
#include "engine/rules/FirstLine.h"
#include "engine/scan/Stretches.h"

namespace dxfkonv::linepass {

constexpr std::size_t kMaxChunk = 1 << 20;
constexpr std::size_t kMinChunk = 4096;
static_assert(kMaxChunk % kBlockAlign == 0, "a full output block can go straight to a disk");
// The start of the input, when it comes in small pieces, is joined into
// the first block, which may then run up to this far past a chunk.
constexpr std::size_t kHeadroom = 32;

static_assert(kBinarySentinel.size() <= kHeadroom && kUtf8Mark.size() <= kBinarySentinel.size());

// Blocks of 1 MiB, or less for an input known to be smaller.
inline std::size_t chunkFor(std::uint64_t inputSize)
{
    if (inputSize == 0 || inputSize >= kMaxChunk)
        return kMaxChunk;
    return std::max<std::size_t>(static_cast<std::size_t>(inputSize) + 1, kMinChunk);
}
// An input shorter than this never moves the gauge.
constexpr std::uint64_t kMinProgressInput = 128;

// Reads lines out of large blocks. A line is handed out as a view into the
// block when it lies whole in it, and assembled in `joined_` otherwise (a
// line across two blocks, or one with a CR inside). The view stays valid
// until the next call.
class LineReader {
public:
    // Has the stretches of each block made for `needs` on the reading
    // thread where the source has one.
    LineReader(ByteSource& source, std::size_t chunk, PassNeeds needs, std::size_t longestHeld);
    ~LineReader();

    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // The first n bytes of the input (n at most kHeadroom), or all of it
    // when it is shorter, however the source hands them out. Only before
    // the first line is taken.
    std::string_view head(std::size_t n);

    // No more bytes at all.
    bool physicalEnd()
    {
        return begin_ == end_ && !refill();
    }

    // End of the input for the outer loop: no more bytes, or, where a
    // group code is due, a line that starts with the DOS end-of-file mark.
    bool atEndOfInput(bool atCodePosition)
    {
        if (physicalEnd())
            return true;
        return atCodePosition && EndsInput(buffer_.get() + begin_);
    }

    // The next line without its terminator; empty at the end of the input.
    // A line that lies whole in the block is handed out whole; one that
    // has to be put together is, up to the longest the reader holds: then
    // lineGoesOn() tells that the rest comes from readPiece().
    std::string_view readLine();

    // Whether the line readLine() gave goes on past what it held.
    bool lineGoesOn() const { return goesOn_; }

    // The next bytes of a line that goes on, up to its end, the block's
    // end or a CR; true when the line ends with them.
    bool readPiece(std::string_view& piece);

    // Bytes of the input from `offset` on, read ahead of the lines: where
    // the lines stand stays as it is.
    std::size_t readAt(std::uint64_t offset, char* buffer, std::size_t n) { return source_.readAt(offset, buffer, n); }

    // How many bytes of the input the lines taken so far spanned.
    std::uint64_t consumed() const { return offset_ + begin_; }

    // The unread part of the current block, for scanning in place; the
    // bytes after end() may be read but mean nothing.
    const char* data() const { return buffer_.get(); }
    std::size_t begin() const { return begin_; }
    std::size_t end() const { return end_; }
    std::uint64_t offset() const { return offset_; }

    // The lines up to `position` in the block were taken by the scan.
    void consumeTo(std::size_t position) { begin_ = position; }

    // The stretches of the block made on the reading thread, if any.
    const scan::Stretch* stretches() const { return stretches_; }

private:
    std::size_t bufferSize() const;
    bool refill();

    ByteSource& source_;
    const std::size_t chunk_;
    const std::size_t longestHeld_;  // of a line put together
    scan::StretchMaker maker_;
    const bool marked_;  // the source has maker_ make the stretches
    Block buffer_;
    const scan::Stretch* stretches_ = nullptr;  // of the block in the buffer
    std::uint64_t reads_ = 0;   // made so far
    std::size_t begin_ = 0;     // next unread byte in the buffer
    std::size_t end_ = 0;       // bytes held in the buffer
    std::uint64_t offset_ = 0;  // file offset of buffer_[0]
    bool eof_ = false;
    bool goesOn_ = false;  // the line handed out last goes on
    std::string joined_;
};

// Collects output lines, each with CR LF, into large writes.
class LineWriter {
public:
    LineWriter(ByteSink& sink, std::size_t chunk);

    void put(std::string_view line)
    {
        if (discards_)
            return;
        if (holding_) {
            putRaw(line.data(), line.size());
            putRaw("\r\n", 2);
            return;
        }
        if (used_ + line.size() + 2 <= chunk_) {
            char* p = buffer_.get() + used_;
            std::memcpy(p, line.data(), line.size());
            p[line.size()] = '\r';
            p[line.size() + 1] = '\n';
            used_ += line.size() + 2;
            return;
        }
        putRaw(line.data(), line.size());
        putRaw("\r\n", 2);
    }

    // Bytes that go out as they are. The buffer goes to the sink full, so
    // that all but the last are of the same size.
    void putRaw(const char* data, std::size_t n)
    {
        if (discards_)
            return;
        if (holding_) {
            if (heldBack_.size() + n <= kMostHeldBack) {
                heldBack_.append(data, n);
                return;
            }
            // Too much to keep back: it goes out as it came after all.
            holding_ = false;
            const std::string kept = takeHeldBack();
            putRaw(kept.data(), kept.size());
        }
        while (used_ + n >= chunk_) {
            const std::size_t take = chunk_ - used_;
            std::memcpy(buffer_.get() + used_, data, take);
            used_ = chunk_;
            flush();
            data += take;
            n -= take;
        }
        std::memcpy(buffer_.get() + used_, data, n);
        used_ += n;
    }

    // n times the byte c, as they are.
    void putRepeated(char c, std::uint64_t n);

    // Keeps what is put from here on back, in memory, until
    // takeHeldBack(): the caller may write something in front of it. At
    // most kMostHeldBack bytes are kept: past that, they go out as they
    // came, and holdingBack() turns false.
    void holdBack() { holding_ = true; }
    bool holdingBack() const { return holding_; }
    // Ends keeping back and hands over what was kept, to be put again.
    std::string takeHeldBack();
    static constexpr std::size_t kMostHeldBack = std::size_t{1} << 20;

    void flush();

private:
    ByteSink& sink_;
    const std::size_t chunk_;
    const bool discards_;  // nothing need be put together for the sink
    Block buffer_;
    std::size_t used_ = 0;
    bool holding_ = false;
    std::string heldBack_;
};

}  // namespace dxfkonv::linepass
