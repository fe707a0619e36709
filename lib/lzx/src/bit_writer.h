// Writes the LZX bit order: 16-bit little-endian words, each filled from its
// most significant bit down; multi-bit fields go most significant bit first.
#pragma once
#include <cassert>
#include <cstdint>
#include <vector>

namespace lzx {

class bit_writer {
  public:
    explicit bit_writer(std::vector<uint8_t> &out) : out_(out) {}

    // Appends the low `bits` bits of value (at most 32; value has no higher bits).
    void put(uint32_t value, uint32_t bits) {
        assert(bits <= 32 && (bits == 32 || value >> bits == 0));
        acc_ = (acc_ << bits) | value;
        pending_ += bits;
        while (pending_ >= 16) {
            pending_ -= 16;
            uint32_t word = static_cast<uint32_t>(acc_ >> pending_) & 0xFFFF;
            out_.push_back(static_cast<uint8_t>(word));
            out_.push_back(static_cast<uint8_t>(word >> 8));
        }
    }

    // Zero bits up to the next word boundary (none when already there).
    void align() {
        if (pending_ != 0) put(0, 16 - pending_);
    }

    // Raw bytes; only valid on a word boundary.
    void put_bytes(const uint8_t *data, uint32_t size) {
        assert(pending_ == 0);
        out_.insert(out_.end(), data, data + size);
    }

    // Bits written so far, relative to the start of the buffer.
    uint64_t bit_count() const { return uint64_t(out_.size()) * 8 + pending_; }
    uint32_t bits_in_word() const { return pending_; }

  private:
    std::vector<uint8_t> &out_;
    uint64_t acc_ = 0;
    uint32_t pending_ = 0;
};

}  // namespace lzx
