#include "store/secret_line.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace dazoroz::store {

std::string SecretLine::failure() const {
    if (error != 0)
        return std::strerror(error);
    if (tooLong)
        return "its first line is longer than " + std::to_string(kSecretLineLimit) + " bytes";
    return {};
}

SecretLine readSecretLine(const std::filesystem::path& file) {
    SecretLine result;
    // Blocking: a pipe is read as its writer writes.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        result.error = errno;
        return result;
    }
    std::string& line = result.line;
    std::array<char, 512> chunk{};
    for (;;) {
        const ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            result.error = errno;
        if (n <= 0)
            break;
        line.append(chunk.data(), static_cast<std::size_t>(n));
        if (const auto end = line.find('\n'); end != std::string::npos) {
            line.resize(end);
            break;
        }
        if (line.size() > kSecretLineLimit)
            break;
    }
    ::close(fd);
    if (line.ends_with('\r'))
        line.pop_back();
    result.tooLong = line.size() > kSecretLineLimit;
    if (!result.ok())
        line.clear();
    return result;
}

} // namespace dazoroz::store
