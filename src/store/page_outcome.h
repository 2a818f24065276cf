#pragma once

namespace dazoroz::store {

// What became of one page to one recipient.
enum class Outcome { unknown, accepted, refused, failed, cancelled };

// As the history's "outcome" column spells it.
constexpr const char* outcomeName(Outcome outcome) noexcept {
    switch (outcome) {
    case Outcome::accepted:
        return "accepted";
    case Outcome::refused:
        return "refused";
    case Outcome::failed:
        return "failed";
    case Outcome::cancelled:
        return "cancelled";
    case Outcome::unknown:
        break;
    }
    return "unknown";
}

} // namespace dazoroz::store
