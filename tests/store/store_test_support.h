#pragma once

#include "store/file_io.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
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
    int renames = 0;

    ssize_t read(int fd, void* buffer, std::size_t count) override {
        if (readBudget) {
            if (*readBudget == 0) {
                errno = EIO;
                return -1;
            }
            count = std::min(count, *readBudget);
        }
        const ssize_t n = FileOps::read(fd, buffer, count);
        if (n > 0 && readBudget)
            *readBudget -= static_cast<std::size_t>(n);
        return n;
    }
    ssize_t write(int fd, const void* buffer, std::size_t count) override {
        if (writeReturnsZero)
            return 0;
        if (writeBudget) {
            if (*writeBudget == 0) {
                errno = ENOSPC;
                return -1;
            }
            count = std::min(count, *writeBudget);
        }
        const ssize_t n = FileOps::write(fd, buffer, count);
        if (n > 0 && writeBudget)
            *writeBudget -= static_cast<std::size_t>(n);
        return n;
    }
    int fsync(int fd) override {
        if (failFsync) {
            errno = EIO;
            return -1;
        }
        return FileOps::fsync(fd);
    }
    int rename(const char* from, const char* to) override {
        if (renamesBeforeFailure >= 0 && renames >= renamesBeforeFailure) {
            errno = EIO;
            return -1;
        }
        ++renames;
        return FileOps::rename(from, to);
    }
};

inline std::string readFile(const std::filesystem::path& file) {
    std::string bytes;
    if (std::FILE* f = std::fopen(file.c_str(), "rb")) {
        char buffer[65536];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
            bytes.append(buffer, n);
        std::fclose(f);
    }
    return bytes;
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
    for (char& c : name) {
        if (c == '/')
            c = '_';
    }
    const auto dir = std::filesystem::absolute("scratch") / name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

} // namespace dazoroz::store::test_support
