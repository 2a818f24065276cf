#include "cli/printable.h"

namespace dazoroz::cli {

std::string_view withoutLineEnd(std::string_view reply) {
    while (!reply.empty() && (reply.back() == '\r' || reply.back() == '\n')) {
        reply.remove_suffix(1);
    }
    return reply;
}

} // namespace dazoroz::cli
