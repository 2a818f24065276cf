#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace dazoroz::store {

// The system calls through which names.txt and dazoroz.ini are read and written. Tests derive
// from it to make one call fail: permissions cannot make a write fail for root.
class FileOps {
public:
    virtual ~FileOps() = default;
    virtual ssize_t read(int fd, void* buffer, std::size_t count);
    virtual ssize_t write(int fd, const void* buffer, std::size_t count);
    virtual int fsync(int fd);
    virtual int rename(const char* from, const char* to);
};

FileOps& systemFileOps();

enum class ReadResult {
    Complete, // the whole file is in the buffer
    Missing,  // there is no such file
    Failed,   // not a regular file, cannot be opened, or a read failed part-way
};

// Reads a whole regular file. After Failed, `out` holds what was read before the failure.
// Never blocks on a FIFO or device standing in place of the file.
ReadResult readWholeFile(const std::filesystem::path& file, std::string& out,
                         FileOps& ops = systemFileOps());

// Who may read a file that replaceFile writes.
enum class FileAccess {
    Keep,      // an existing file keeps its mode; a new one gets 0666 less the umask
    OwnerOnly, // mode 0600, whether the file is new or not (it may hold a secret)
};

// Replaces `file` with exactly `bytes`, all or nothing: a temporary file beside it is written,
// flushed to disk and renamed over it. The file's mode follows `access`; an existing file keeps
// its owner, where we may set it. A symbolic link is written through. A write-protected file, a
// missing directory or any failed call leaves the old file as it was, removes the temporary
// file and returns false. Never throws.
bool replaceFile(const std::filesystem::path& file, std::string_view bytes,
                 FileOps& ops = systemFileOps(), FileAccess access = FileAccess::Keep) noexcept;

} // namespace dazoroz::store
