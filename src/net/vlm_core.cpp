#include "net/vlm_core.h"

namespace dazoroz::net {

EComponentError::EComponentError(int code, const std::string& description)
    : std::runtime_error(std::to_string(code) + ": " + description), Code(code) {}

std::exception_ptr TvlmCore::CreateError(int code, const std::string& message) const {
    return std::make_exception_ptr(EComponentError(code, message));
}

void TvlmCore::RaiseError(int code, const std::string& message) const {
    std::rethrow_exception(CreateError(code, message));
}

} // namespace dazoroz::net
