#include "net/line_buffer.h"

#include <cstring>
#include <new>

namespace dazoroz::net {

bool LineBuffer::setCapacity(std::uint16_t n) noexcept {
    std::unique_ptr<char[]> area(new (std::nothrow) char[std::size_t{n} + 1]);
    if (!area) {
        return false;
    }
    area_ = std::move(area);
    capacity_ = n;
    clear();
    return true;
}

bool LineBuffer::setTerminator(std::string_view bytes) noexcept {
    if (bytes.size() > 0xFFFF) {
        return false;
    }
    try {
        terminator_.assign(bytes);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void LineBuffer::compact() noexcept {
    if (offset_ != 0) {
        std::memmove(area_.get(), area_.get() + offset_, count_);
        offset_ = 0;
    }
}

std::span<char> LineBuffer::freeSpace() noexcept {
    if (!area_) {
        return {};
    }
    compact();
    return {area_.get() + count_, static_cast<std::size_t>(capacity_ - count_)};
}

void LineBuffer::commit(std::size_t n) noexcept {
    const std::size_t room = static_cast<std::size_t>(capacity_ - offset_ - count_);
    count_ = static_cast<std::uint16_t>(count_ + (n < room ? n : room));
}

bool LineBuffer::nextLine(Piece& piece) noexcept {
    if (terminator_.empty()) {
        if (count_ == 0) {
            return false;
        }
        piece = takeAll();
        return true;
    }
    const std::size_t t = terminator_.size();
    if (count_ >= t) {
        const char* first = area_.get() + offset_;
        const char* last = first + (count_ - t); // the last position a match may start at
        const char lead = terminator_.front();
        for (const char* at = first; at <= last; ++at) {
            at = static_cast<const char*>(
                std::memchr(at, lead, static_cast<std::size_t>(last - at) + 1));
            if (at == nullptr) {
                break;
            }
            if (std::memcmp(at, terminator_.data(), t) == 0) {
                const auto i = static_cast<std::uint16_t>(at - first);
                piece = {first, i};
                const auto drop = static_cast<std::uint16_t>(i + t);
                offset_ = static_cast<std::uint16_t>(offset_ + drop);
                count_ = static_cast<std::uint16_t>(count_ - drop);
                return true;
            }
        }
    }
    compact();
    return false;
}

LineBuffer::Piece LineBuffer::takeAll() noexcept {
    const Piece piece{area_ ? area_.get() + offset_ : nullptr, count_};
    clear();
    return piece;
}

} // namespace dazoroz::net
