#include "file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

namespace dazoroz::store {

namespace fs = std::filesystem;

ssize_t FileOps::read(int fd, void* buffer, std::size_t count) {
    return ::read(fd, buffer, count);
}
ssize_t FileOps::write(int fd, const void* buffer, std::size_t count) {
    return ::write(fd, buffer, count);
}
int FileOps::fsync(int fd) {
    return ::fsync(fd);
}
int FileOps::rename(int dirFd, const char* from, const char* to) {
    return ::renameat(dirFd, from, dirFd, to);
}

FileOps& systemFileOps() {
    static FileOps ops;
    return ops;
}

namespace {

class Fd {
public:
    explicit Fd(int fd) noexcept : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    int get() const noexcept { return fd_; }
    bool valid() const noexcept { return fd_ >= 0; }
    // Closes now and tells whether the close went well (it may report a late write error).
    bool reset() noexcept {
        if (fd_ < 0)
            return true;
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc == 0;
    }

private:
    int fd_;
};

bool writeAll(FileOps& ops, int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ops.write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) // 0 would loop for ever
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

fs::path folderOf(const fs::path& file) {
    return file.has_parent_path() ? file.parent_path() : fs::path(".");
}

// Why a file (`what` is "it") or its folder ("its folder") is not the user's own alone; empty
// when it is.
std::string distrust(const struct stat& st, const char* what) {
    if (st.st_uid != ::geteuid())
        return std::string("another user owns ") + what;
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return std::string("others may write to ") + what;
    return {};
}

// Opens `dir` for FileTrust::OwnOnly: not through a symbolic link, and only when it is the
// user's own alone; otherwise -1, with `refusal` set when that is the reason.
int openOwnFolder(const fs::path& dir, std::string& refusal) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        // ELOOP, or ENOTDIR because O_DIRECTORY looks at the link itself.
        const int error = errno;
        struct stat link {};
        if (::lstat(dir.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
            refusal = "its folder is a symbolic link";
        errno = error;
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && (refusal = distrust(st, "its folder")).empty())
        return fd;
    ::close(fd);
    return -1;
}

// Opens a new file in the folder `dirFd` under a name beside `target` that no one else uses.
int createTemporary(int dirFd, const std::string& target, std::string& name, mode_t mode) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        name =
            "." + target + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        const int fd = ::openat(dirFd, name.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

bool replaceFileImpl(const fs::path& file, std::string_view bytes, FileOps& ops, FileAccess access,
                     FileTrust trust) {
    const bool ownerOnly = access == FileAccess::OwnerOnly;
    // Only a file without a secret in a place anyone may use is written through a link and
    // keeps its owner.
    const bool shared = !ownerOnly && trust == FileTrust::Any;
    fs::path target = file;
    std::error_code ec;
    if (shared && fs::is_symlink(file, ec)) {
        if (fs::path real = fs::canonical(file, ec); !ec)
            target = real;
    }
    const std::string name = target.filename().string();

    std::string refusal;
    Fd dir(trust == FileTrust::OwnOnly
               ? openOwnFolder(folderOf(target), refusal)
               : ::open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid())
        return false;
    struct stat old {};
    const bool exists =
        ::fstatat(dir.get(), name.c_str(), &old, shared ? 0 : AT_SYMLINK_NOFOLLOW) == 0;
    if (exists) {
        if (!S_ISREG(old.st_mode))
            return false;
        if (trust == FileTrust::OwnOnly && !distrust(old, "it").empty())
            return false;
        // A write-protected file stays as it is, even though its directory would let us
        // rename over it.
        if (::faccessat(dir.get(), name.c_str(), W_OK, AT_EACCESS) != 0)
            return false;
    } else if (errno != ENOENT) {
        return false;
    }

    std::string tempName;
    // Never readable by others, not even for a moment, when it may hold a secret.
    Fd fd(createTemporary(dir.get(), name, tempName, ownerOnly ? 0600 : 0666));
    if (!fd.valid())
        return false;

    bool ok = true;
    if (exists && shared) {
        // Owner first: changing it may clear set-id bits that the mode then restores.
        if (old.st_uid != ::geteuid() || old.st_gid != ::getegid())
            (void)!::fchown(fd.get(), old.st_uid, old.st_gid);
    }
    if (ownerOnly)
        ok = ::fchmod(fd.get(), 0600) == 0; // exactly, whatever the umask
    else if (exists)
        ok = ::fchmod(fd.get(), old.st_mode & 07777) == 0;
    ok = ok && writeAll(ops, fd.get(), bytes) && ops.fsync(fd.get()) == 0;
    ok = fd.reset() && ok;
    ok = ok && ops.rename(dir.get(), tempName.c_str(), name.c_str()) == 0;
    if (!ok) {
        ::unlinkat(dir.get(), tempName.c_str(), 0);
        return false;
    }
    ::fsync(dir.get()); // the rename is done; this only hurries it to disk
    return true;
}

// Opens `file` for reading as `trust` allows; -1 otherwise, with `refusal` set when the file is
// not to be trusted.
int openForReading(const fs::path& file, FileTrust trust, std::string& refusal) {
    constexpr int kFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    if (trust == FileTrust::Any)
        return ::open(file.c_str(), kFlags);
    const Fd dir(openOwnFolder(folderOf(file), refusal));
    if (!dir.valid())
        return -1;
    const int fd = ::openat(dir.get(), file.filename().c_str(), kFlags | O_NOFOLLOW);
    const int error = errno;
    if (fd < 0 && error == ELOOP)
        refusal = "it is a symbolic link";
    errno = error; // for the caller, whatever closing the folder does
    return fd;
}

} // namespace

bool replaceFile(const fs::path& file, std::string_view bytes, FileOps& ops, FileAccess access,
                 FileTrust trust) noexcept {
    try {
        return replaceFileImpl(file, bytes, ops, access, trust);
    } catch (...) { // out of memory building a name: the old file is untouched
        return false;
    }
}

ReadResult readWholeFile(const fs::path& file, std::string& out, FileOps& ops, FileTrust trust,
                         std::string* refusal) {
    out.clear();
    std::string why;
    const auto refused = [&] {
        if (refusal != nullptr)
            *refusal = why;
        return ReadResult::Refused;
    };
    // Non-blocking, so that a FIFO put in place of the file cannot hang us; it is refused below.
    Fd fd(openForReading(file, trust, why));
    if (!why.empty())
        return refused();
    if (!fd.valid())
        return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return ReadResult::Failed;
    if (trust == FileTrust::OwnOnly) {
        why = distrust(st, "it");
        if (!why.empty())
            return refused();
    }

    constexpr std::size_t kChunk = 64 * 1024;
    if (st.st_size > 0)
        out.reserve(static_cast<std::size_t>(st.st_size) + kChunk);
    for (;;) {
        const std::size_t used = out.size();
        out.resize(used + kChunk);
        const ssize_t n = ops.read(fd.get(), out.data() + used, kChunk);
        if (n < 0 && errno == EINTR) {
            out.resize(used);
            continue;
        }
        if (n <= 0) {
            out.resize(used);
            return n == 0 ? ReadResult::Complete : ReadResult::Failed;
        }
        out.resize(used + static_cast<std::size_t>(n));
    }
}

} // namespace dazoroz::store
