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
    // Renames within the directory open as `dirFd`.
    virtual int rename(int dirFd, const char* from, const char* to);
};

FileOps& systemFileOps();

enum class ReadResult {
    Complete, // the whole file is in the buffer
    Missing,  // there is no such file
    Failed,   // not a regular file, cannot be opened, or a read failed part-way
    Refused,  // not to be trusted (FileTrust::OwnOnly); nothing was read
};

// Whose file may be read or written.
enum class FileTrust {
    Any,     // any file the permissions allow, through a symbolic link too
    OwnOnly, // the file and its folder belong to the effective user, neither group nor others
             // may write to either, and neither is a symbolic link: no one else can have put
             // the file there or can change it
};

// Reads a whole regular file. After Failed, `out` holds what was read before the failure.
// Never blocks on a FIFO or device standing in place of the file. After Refused, `refusal`
// (when given) says why in a few words: "another user owns it", "others may write to its
// folder", ...
ReadResult readWholeFile(const std::filesystem::path& file, std::string& out,
                         FileOps& ops = systemFileOps(), FileTrust trust = FileTrust::Any,
                         std::string* refusal = nullptr);

// Who may read a file that replaceFile writes.
enum class FileAccess {
    Keep,      // an existing file keeps its mode; a new one gets 0666 less the umask
    OwnerOnly, // mode 0600, whether the file is new or not (it may hold a secret)
};

// Replaces `file` with exactly `bytes`, all or nothing: a temporary file beside it is written,
// flushed to disk and renamed over it. The file's mode follows `access`.
// With Keep and FileTrust::Any an existing file keeps its owner, where we may set it, and a
// symbolic link is written through. Otherwise the new file belongs to the writer, and a
// symbolic link in the file's place is refused: a secret is never handed to another user.
// FileTrust::OwnOnly refuses whatever it would refuse to read; the checks are made on the open
// folder that is then written, so that no one can swap it in between.
// A refused or write-protected file, a missing directory or any failed call leaves the old
// file as it was, removes the temporary file and returns false. Never throws.
bool replaceFile(const std::filesystem::path& file, std::string_view bytes,
                 FileOps& ops = systemFileOps(), FileAccess access = FileAccess::Keep,
                 FileTrust trust = FileTrust::Any) noexcept;

} // namespace dazoroz::store
