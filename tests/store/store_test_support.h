#pragma once

#include "store/file_io.h"
#include "store/names_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace dazoroz::store::test_support {

// System calls that fail on demand, for failures that permissions cannot cause as root.
class FailingOps : public FileOps {
public:
    std::optional<std::size_t> readBudget;  // bytes read before reads fail with EIO
    std::optional<std::size_t> writeBudget; // bytes written before writes fail with ENOSPC
    bool writeReturnsZero = false;
    bool failFsync = false;
    int renamesBeforeFailure = -1; // -1: renames never fail

    ssize_t read(int fd, void* buffer, std::size_t count) override {
        return spend(readBudget, EIO, count, [&](auto n) { return FileOps::read(fd, buffer, n); });
    }
    ssize_t write(int fd, const void* buffer, std::size_t count) override {
        if (writeReturnsZero)
            return 0;
        return spend(writeBudget, ENOSPC, count,
                     [&](auto n) { return FileOps::write(fd, buffer, n); });
    }
    int fsync(int fd) override { return failFsync ? fail(EIO) : FileOps::fsync(fd); }
    int rename(int dirFd, const char* from, const char* to) override {
        if (renamesBeforeFailure == 0)
            return fail(EIO);
        --renamesBeforeFailure;
        return FileOps::rename(dirFd, from, to);
    }

private:
    static int fail(int error) {
        errno = error;
        return -1;
    }
    template <class Call>
    static ssize_t spend(std::optional<std::size_t>& budget, int error, std::size_t count,
                         Call call) {
        if (budget && *budget == 0)
            return fail(error);
        const ssize_t n = call(budget ? std::min(count, *budget) : count);
        if (n > 0 && budget)
            *budget -= static_cast<std::size_t>(n);
        return n;
    }
};

inline std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

inline void writeFile(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << file;
}

// Names of everything in a directory, to show that no temporary file was left behind.
inline std::vector<std::string> listDirectory(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A fresh, empty directory for the running test, under the test's working directory.
inline std::filesystem::path freshTestDirectory() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    std::replace(name.begin(), name.end(), '/', '_');
    const auto dir = std::filesystem::absolute("scratch") / name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

// The list's entries in list order.
inline std::vector<std::string> rows(const NamesList& list) {
    std::vector<std::string> out;
    for (int i = 0; i < list.size(); ++i)
        out.push_back(list.text(i));
    return out;
}

// Equality of texts that may be megabytes long. On failure it reports the sizes and the first
// difference with a short excerpt of each side: the framework's own message for two long unequal
// texts can grow to gigabytes.
inline ::testing::AssertionResult sameBytes(std::string_view actual, std::string_view expected) {
    if (actual == expected)
        return ::testing::AssertionSuccess();
    const auto at = static_cast<std::size_t>(
        std::mismatch(actual.begin(), actual.begin() + std::min(actual.size(), expected.size()),
                      expected.begin())
            .first -
        actual.begin());
    const auto excerpt = [at](std::string_view bytes) {
        std::string out;
        for (const char c : bytes.substr(std::min(at, bytes.size()), 24)) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte < 0x20 || byte >= 0x7f || c == '\\') {
                char hex[5];
                std::snprintf(hex, sizeof hex, "\\x%02x", byte);
                out += hex;
            } else {
                out += c;
            }
        }
        return out;
    };
    return ::testing::AssertionFailure()
           << actual.size() << " bytes where " << expected.size() << " were expected; from byte "
           << at << ": \"" << excerpt(actual) << "\" instead of \"" << excerpt(expected) << "\"";
}

// The same for lists of texts: the counts, then the first row that differs.
inline ::testing::AssertionResult sameRows(const std::vector<std::string>& actual,
                                           const std::vector<std::string>& expected) {
    for (std::size_t i = 0; i < std::min(actual.size(), expected.size()); ++i) {
        if (auto same = sameBytes(actual[i], expected[i]); !same)
            return ::testing::AssertionFailure() << "row " << i << ": " << same.message();
    }
    if (actual.size() != expected.size())
        return ::testing::AssertionFailure()
               << actual.size() << " rows where " << expected.size() << " were expected";
    return ::testing::AssertionSuccess();
}

} // namespace dazoroz::store::test_support
