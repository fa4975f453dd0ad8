// Reading and writing on threads of their own: while the system copies a
// block out of the input file and another into the work file, the pass
// converts the block between them. Blocks change hands whole, never copied.
#pragma once

#include <cstddef>
#include <exception>

#include "engine/pass/HandOff.h"
#include "engine/pass/LinePass.h"

namespace dxfkonv {

// Reads the next block from `source` while the one before it is used.
class ReadAheadSource final : public ByteSource {
public:
    explicit ReadAheadSource(ByteSource& source);
    // Waits for a read under way.
    ~ReadAheadSource() override;

    ReadAheadSource(const ReadAheadSource&) = delete;
    ReadAheadSource& operator=(const ReadAheadSource&) = delete;

    std::size_t read(char* buffer, std::size_t n) override;
    // Hands back the block read ahead and reads the next into the buffer given.
    std::size_t readBuffer(Block& buffer, std::size_t size, std::size_t capacity) override;
    // After the read under way, in the caller's thread.
    std::size_t readAt(std::uint64_t offset, char* buffer, std::size_t n) override;
    // The job runs on the reading thread, right after each read.
    bool takeBlockJob(BlockJob* job) override;

private:
    std::size_t fill(char* buffer, std::size_t size, std::size_t capacity, BlockJob* job);
    // Has the reading thread read the next block into block_.
    void readNext(std::size_t size, std::size_t capacity);

    ByteSource& source_;
    Block block_;  // being read, or read and waiting
    BlockJob* job_ = nullptr;
    std::size_t got_ = 0;
    bool ended_ = false;  // the source gave its last byte
    bool alone_ = false;  // no thread could be had: reads are made in the caller's
    std::exception_ptr failure_;
    // For read(): what is left of the last block.
    Block left_;
    std::size_t leftAt_ = 0;
    std::size_t leftEnd_ = 0;
    HandOff reader_;  // last: its job uses the members above
};

// Writes each full buffer to `target` while the next one is filled.
class WriteBehindSink final : public ByteSink {
public:
    explicit WriteBehindSink(ByteSink& target);
    // Waits for the buffer being written; a failure of it is dropped here,
    // so call finish() on the way that succeeds.
    ~WriteBehindSink() override;

    WriteBehindSink(const WriteBehindSink&) = delete;
    WriteBehindSink& operator=(const WriteBehindSink&) = delete;

    // Writes at once, after the buffer being written.
    void write(const char* data, std::size_t n) override;
    // Hands the buffer over and gives back the one written before it.
    void writeBuffer(Block& buffer, std::size_t n, std::size_t capacity) override;
    // Waits until all is written; throws the first failure of the target.
    void finish();
    bool discards() const override { return target_.discards(); }

private:
    void drain();

    ByteSink& target_;
    Block pending_;  // handed over, not yet written
    std::size_t pendingSize_ = 0;
    std::exception_ptr failure_;
    HandOff writer_;  // last: its job uses the members above
};

}  // namespace dxfkonv
