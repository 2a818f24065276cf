#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace dazoroz::net {

// The receive buffer of the TCP port: bytes read from the socket wait here until they are
// delivered, cut into lines at the terminator, or handed over whole when the terminator is
// empty. Reads go straight into the free space and pieces are yielded in place, so receiving
// allocates nothing; the area is allocated only when the capacity is set.
class LineBuffer {
public:
    // A run of pending bytes inside the area; valid until the buffer is next changed.
    struct Piece {
        const char* bytes = nullptr;
        std::uint16_t length = 0;
    };

    LineBuffer() = default;
    LineBuffer(const LineBuffer&) = delete;
    LineBuffer& operator=(const LineBuffer&) = delete;

    // Reallocates the area for n bytes and empties the buffer. False when out of memory; the
    // buffer is then left as it was.
    bool setCapacity(std::uint16_t n) noexcept;
    // Replaces the terminator (any bytes, at most 65535; empty: no splitting). Pending bytes stay
    // and are searched with the new terminator. False when out of memory (the old one stays).
    bool setTerminator(std::string_view bytes) noexcept;

    void clear() noexcept { offset_ = count_ = 0; }
    // Where the next read goes: directly after the pending bytes, capacity - count bytes.
    std::span<char> freeSpace() noexcept;
    // The first n bytes of the free space become pending.
    void commit(std::size_t n) noexcept;
    bool full() const noexcept { return count_ == capacity_; }

    // The next complete line without its terminator (or, with no terminator, everything
    // pending). False when there is none; the pending bytes are then moved to the front.
    bool nextLine(Piece& piece) noexcept;
    // Every pending byte as one piece (possibly empty); the buffer is empty afterwards.
    Piece takeAll() noexcept;

    std::uint16_t capacity() const noexcept { return capacity_; }
    std::uint16_t count() const noexcept { return count_; }
    std::string_view terminator() const noexcept { return terminator_; }
    std::string_view pending() const noexcept {
        return {area_.get() + offset_, static_cast<std::size_t>(count_)};
    }

private:
    void compact() noexcept;

    std::unique_ptr<char[]> area_; // capacity + 1 bytes
    std::uint16_t capacity_ = 0;
    std::uint16_t offset_ = 0;
    std::uint16_t count_ = 0;
    std::string terminator_;
};

} // namespace dazoroz::net
