#pragma once

// The password files of dazoroz-send and dazoroz-snppd: the secret is the file's first line.

#include <cstddef>
#include <filesystem>
#include <string>

namespace dazoroz::store {

// The most of a first line that is read.
inline constexpr std::size_t kSecretLineLimit = 4096;

struct SecretLine {
    std::string line; // without its line end (LF or CR LF)
    int error = 0;    // errno of the open or read that failed
    bool tooLong = false;

    bool ok() const { return error == 0 && !tooLong; }
    // Why it could not be read ("No such file or directory", ...); empty when it could.
    std::string failure() const;
};

// Reads the first line of any readable file, a pipe or a terminal too (/dev/stdin, <(...)),
// unlike readWholeFile: only up to the first line end, and never more than the limit.
SecretLine readSecretLine(const std::filesystem::path& file);

} // namespace dazoroz::store
