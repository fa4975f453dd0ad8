// The line loop of a conversion pass, free of any file handling: it reads
// bytes from a ByteSource and writes the converted lines to a ByteSink, so
// the file pass, the tests, the command line and the fuzzers all drive the
// very same code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/Blocks.h"
#include "engine/rules/Switches.h"

namespace dxfkonv {

// A buffer that changes hands between the pass and its source or sink,
// aligned to 4096 bytes so that a disk can take it straight from memory.
struct BlockDelete {
    void operator()(char* p) const;
};
using Block = std::unique_ptr<char[], BlockDelete>;
// A new block of `size` bytes, all zero.
Block NewBlock(std::size_t size);

// Supplies the input. read() fills up to n bytes and returns how many it
// gave, 0 only at the end of the input; failures are thrown as IoError.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::size_t read(char* buffer, std::size_t n) = 0;

    // Up to n bytes of the input from `offset` on (0 is its first byte), 0
    // only at its end, wherever read() stands, which it leaves as it is:
    // the pass reads a line ahead this way where what it writes of the
    // line's start depends on the line's end and the line is too long to
    // hold. Failures are thrown as IoError, and the pass fails with them.
    virtual std::size_t readAt(std::uint64_t offset, char* buffer, std::size_t n) = 0;

    // As read(), into the start of a buffer of `size` bytes, at most
    // `capacity` of them; may instead hand back another buffer of the same
    // size, filled, keeping the one given. What lies past the bytes given
    // may then hold anything. By default the buffer stays and read() fills it.
    virtual std::size_t readBuffer(Block& buffer, std::size_t size, std::size_t capacity)
    {
        static_cast<void>(size);
        return read(buffer.get(), capacity);
    }

    // Work on every buffer that readBuffer() hands out (see Blocks.h).
    using BlockJob = dxfkonv::BlockJob;

    // Asks the source to do `job` on the buffers it reads from now on, on
    // a thread of its own, and returns whether it will; nullptr ends that,
    // once a buffer under way is done. By default a source does no job:
    // its caller does the work itself.
    virtual bool takeBlockJob(BlockJob* job)
    {
        static_cast<void>(job);
        return false;
    }
};

// Takes the output. write() takes all n bytes or throws IoError.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual void write(const char* data, std::size_t n) = 0;

    // Takes the first n bytes of a full buffer of `capacity` bytes, and may
    // keep the buffer to write it later, leaving another of the same size
    // in its place. Everything still goes out in the order given. By
    // default the bytes are written at once and the buffer stays.
    virtual void writeBuffer(Block& buffer, std::size_t n, std::size_t capacity)
    {
        static_cast<void>(capacity);
        write(buffer.get(), n);
    }

    // Whether the sink throws away whatever it is given (a dry run), so
    // that the output need not be put together at all.
    virtual bool discards() const { return false; }
};

// Told whole percentages 0..100 as the pass gets through its input; only
// new values are passed on.
using ProgressSink = std::function<void(int percent)>;

// What a pass did, for the command line's report.
struct PassReport {
    static constexpr std::size_t kMaxLostLines = 10;

    bool found = true;                    // false: the file was not there (nothing done)
    bool repeated = false;                // the batch had converted it already (nothing done)
    bool pending = false;                 // its last steps still run: the outcome comes through the batch
    bool ownerKept = true;                // the replaced file has its old owner
    bool groupKept = true;                // ... and its old group
    bool modeKept = true;                 // ... and its permissions (and other attributes)
    std::uint64_t lines = 0;              // lines read
    std::uint64_t textsRecoded = 0;       // group-1 values that came out different
    std::uint64_t coloursRenumbered = 0;  // group-62 values given another number
    std::uint64_t codePagesSet = 0;       // $DWGCODEPAGE values written
    std::uint64_t charsLost = 0;          // bytes with no counterpart, written as spaces
    // The drawing declares the code page this pass writes and its texts are
    // not in the DOS convention: it was converted before. The pass converts
    // it all the same; whoever replaces a drawing refuses it unless told
    // to convert it again.
    bool alreadyConverted = false;
    std::vector<std::uint64_t> lostCharLines;  // first line numbers (1-based) of those

    bool changedAnything() const { return textsRecoded || coloursRenumbered || codePagesSet; }
};

// Converts the whole input. inputSize is the input's length in bytes as
// far as it is known (0 when it is not; progress is then not reported).
//
// Lines end at LF; every CR is dropped from a line; every line written ends
// with CR LF. Code and value lines alternate from the first line on; only
// a line at a code position is taken for a group code, and only such a
// line, when it starts with the byte 0x1A (the DOS end-of-file mark), ends
// the input. The first line (after a UTF-8 byte order mark, which goes out
// again in front of it) must be a group code, spaces around it allowed:
// else the input is refused with Refusal(kNotAsciiDxf), nothing written.
PassReport ConvertStream(ByteSource& in, ByteSink& out, std::uint64_t inputSize,
                         const ConversionSwitches& switches, const ProgressSink& progress = {});

// Lines longer than this are taken in pieces: however long a line is, the
// pass holds no more of it than this.
constexpr std::size_t kLongLine = 64 << 10;

// ConvertStream() with lines taken in pieces from `longLine` bytes on
// instead (for the tests: the way long lines go, tried on short ones).
PassReport ConvertStreamInPieces(ByteSource& in, ByteSink& out, std::uint64_t inputSize,
                                 const ConversionSwitches& switches, std::size_t longLine,
                                 const ProgressSink& progress = {});

// Convenience for tests and tools: converts a whole buffer in memory.
std::string ConvertBuffer(std::string_view input, const ConversionSwitches& switches,
                          PassReport* report = nullptr, const ProgressSink& progress = {});

}  // namespace dxfkonv
