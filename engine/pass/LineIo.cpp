// The reader and the writer of a pass (see pass/LineIo.h): blocks read
// and lines cut out of them, lines put together across blocks, and the
// output gathered into full blocks.
#include "engine/pass/LineIo.h"

#include <array>
#include <cstring>

namespace dxfkonv::linepass {

using scan::LineEndCursor;
using scan::StretchMaker;

LineReader::LineReader(ByteSource& source, std::size_t chunk, PassNeeds needs, std::size_t longestHeld)
    : source_(source), chunk_(chunk), longestHeld_(longestHeld),
      maker_(needs, StretchMaker::placeAfter(chunk + kHeadroom + scan::kScanPadding)),
      marked_(source.takeBlockJob(&maker_)), buffer_(NewBlock(bufferSize()))
{
}

LineReader::~LineReader()
{
    if (marked_)
        source_.takeBlockJob(nullptr);
}

std::string_view LineReader::head(std::size_t n)
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

std::string_view LineReader::readLine()
{
    bool joining = false;
    joined_.clear();
    goesOn_ = false;
    for (;;) {
        if (begin_ == end_ && !refill())
            return joining ? std::string_view(joined_) : std::string_view();
        const std::size_t start = begin_;
        LineEndCursor cursor(buffer_.get(), start, end_);
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

bool LineReader::readPiece(std::string_view& piece)
{
    if (begin_ == end_ && !refill()) {
        piece = {buffer_.get(), 0};  // no bytes, but somewhere all the same
        goesOn_ = false;
        return true;
    }
    const std::size_t start = begin_;
    LineEndCursor cursor(buffer_.get(), start, end_);
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

std::size_t LineReader::bufferSize() const
{
    const std::size_t bytes = chunk_ + kHeadroom + scan::kScanPadding;
    return marked_ ? StretchMaker::placeAfter(bytes) + StretchMaker::room(chunk_ + kHeadroom) : bytes;
}

bool LineReader::refill()
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

LineWriter::LineWriter(ByteSink& sink, std::size_t chunk)
    : sink_(sink), chunk_(chunk), discards_(sink.discards()), buffer_(discards_ ? nullptr : NewBlock(chunk))
{
}

void LineWriter::putRepeated(char c, std::uint64_t n)
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

std::string LineWriter::takeHeldBack()
{
    holding_ = false;
    return std::move(heldBack_);
}

void LineWriter::flush()
{
    if (used_ != 0)
        sink_.writeBuffer(buffer_, used_, chunk_);
    used_ = 0;
}

}  // namespace dxfkonv::linepass
