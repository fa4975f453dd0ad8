// Lines in and out of a pass: the reader, which hands out lines as views
// into large blocks (and the stretches made for them), and the writer,
// which collects the output lines into large writes. Part of the line
// pass; included by pass/LinePass.cpp only.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "engine/pass/LinePass.h"
#include "engine/rules/ColourRenumbering.h"
#include "engine/rules/DxfRules.h"
#include "engine/rules/FirstLine.h"
#include "engine/rules/TextRecoding.h"
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
    // Has the stretches of each block made for `sieve` on the reading
    // thread where the source has one.
    LineReader(ByteSource& source, std::size_t chunk, PassNeeds needs, std::size_t longestHeld)
        : source_(source), chunk_(chunk), longestHeld_(longestHeld),
          maker_(needs, scan::StretchMaker::placeAfter(chunk + kHeadroom + scan::kScanPadding)),
          marked_(source.takeBlockJob(&maker_)), buffer_(NewBlock(bufferSize()))
    {
    }

    ~LineReader()
    {
        if (marked_)
            source_.takeBlockJob(nullptr);
    }

    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // The first n bytes of the input (n at most kHeadroom), or all of it
    // when it is shorter, however the source hands them out. Only before
    // the first line is taken.
    std::string_view head(std::size_t n)
    {
        if (end_ == 0)
            refill();
        Block piece;
        while (end_ < n && !eof_) {
            // A short read: join the next piece on.
            if (!piece)
                piece = NewBlock(bufferSize());
            const std::size_t got = source_.readBuffer(piece, bufferSize(), chunk_);
            ++reads_;
            if (got == 0)
                eof_ = true;
            std::memcpy(buffer_.get() + end_, piece.get(), got);
            end_ += got;
            stretches_ = nullptr;  // made for the first piece alone
        }
        return {buffer_.get(), std::min(end_, n)};
    }

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
    [[gnu::noinline]] std::string_view readLine()
    {
        bool joining = false;
        joined_.clear();
        goesOn_ = false;
        for (;;) {
            if (begin_ == end_ && !refill())
                return joining ? std::string_view(joined_) : std::string_view();
            const std::size_t start = begin_;
            scan::LineEndCursor cursor(buffer_.get(), start, end_);
            const std::size_t lf = cursor.next();
            const bool ends = lf != end_;
            if (ends && !joining) {
                begin_ = lf + 1;
                return {buffer_.get() + start, lf - cursor.lastWasCrLf() - start};
            }
            // A CR without an LF right behind it (in this block) is dropped
            // and the line goes on; so does a line that runs past the block.
            const std::size_t stop = ends ? lf - cursor.lastWasCrLf() : cursor.stop(start);
            const std::size_t room = longestHeld_ - joined_.size();
            if (stop - start > room) {
                joined_.append(buffer_.get() + start, room);
                begin_ = start + room;
                goesOn_ = true;
                return joined_;
            }
            joined_.append(buffer_.get() + start, stop - start);
            if (ends) {
                begin_ = lf + 1;
                return joined_;
            }
            joining = true;
            begin_ = stop + (stop != end_);
        }
    }

    // Whether the line readLine() gave goes on past what it held.
    bool lineGoesOn() const { return goesOn_; }

    // The next bytes of a line that goes on, up to its end, the block's
    // end or a CR; true when the line ends with them.
    bool readPiece(std::string_view& piece)
    {
        if (begin_ == end_ && !refill()) {
            piece = {buffer_.get(), 0};  // no bytes, but somewhere all the same
            goesOn_ = false;
            return true;
        }
        const std::size_t start = begin_;
        scan::LineEndCursor cursor(buffer_.get(), start, end_);
        const std::size_t lf = cursor.next();
        if (lf != end_) {
            begin_ = lf + 1;
            piece = {buffer_.get() + start, lf - cursor.lastWasCrLf() - start};
            goesOn_ = false;
            return true;
        }
        const std::size_t stop = cursor.stop(start);
        begin_ = stop + (stop != end_);
        piece = {buffer_.get() + start, stop - start};
        return false;
    }

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
    std::size_t bufferSize() const
    {
        const std::size_t bytes = chunk_ + kHeadroom + scan::kScanPadding;
        return marked_ ? scan::StretchMaker::placeAfter(bytes) + scan::StretchMaker::room(chunk_ + kHeadroom) : bytes;
    }

    bool refill()
    {
        if (eof_)
            return false;
        offset_ += end_;
        begin_ = end_ = 0;
        while (end_ == 0) {
            const std::size_t n = source_.readBuffer(buffer_, bufferSize(), chunk_);
            ++reads_;
            if (n == 0) {
                eof_ = true;
                return false;
            }
            end_ = n;
        }
        stretches_ = marked_ ? maker_.stretchesOf(buffer_.get(), reads_, end_) : nullptr;
        return true;
    }

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
    LineWriter(ByteSink& sink, std::size_t chunk)
        : sink_(sink), chunk_(chunk), discards_(sink.discards()), buffer_(discards_ ? nullptr : NewBlock(chunk))
    {
    }

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
    void putRepeated(char c, std::uint64_t n)
    {
        if (discards_)
            return;
        std::array<char, 4096> bytes;
        bytes.fill(c);
        while (n != 0) {
            const std::size_t now = static_cast<std::size_t>(std::min<std::uint64_t>(n, bytes.size()));
            putRaw(bytes.data(), now);
            n -= now;
        }
    }

    // Keeps what is put from here on back, in memory, until
    // takeHeldBack(): the caller may write something in front of it. At
    // most kMostHeldBack bytes are kept: past that, they go out as they
    // came, and holdingBack() turns false.
    void holdBack() { holding_ = true; }
    bool holdingBack() const { return holding_; }
    // Ends keeping back and hands over what was kept, to be put again.
    std::string takeHeldBack()
    {
        holding_ = false;
        return std::move(heldBack_);
    }
    static constexpr std::size_t kMostHeldBack = std::size_t{1} << 20;

    void flush()
    {
        if (used_ != 0)
            sink_.writeBuffer(buffer_, used_, chunk_);
        used_ = 0;
    }

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
