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
int FileOps::rename(const char* from, const char* to) {
    return ::rename(from, to);
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

// Opens a new file beside `target` under a name no one else uses.
int createTemporary(const fs::path& target, std::string& name, mode_t mode) {
    static std::atomic<unsigned> counter{0};
    const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = (dir / ("." + target.filename().string() + ".tmp-" + std::to_string(::getpid()) +
                       "-" + std::to_string(counter++)))
                   .string();
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

void syncDirectory(const fs::path& target) {
    const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
    Fd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid())
        ::fsync(fd.get()); // the rename is done; this only hurries it to disk
}

bool replaceFileImpl(const fs::path& file, std::string_view bytes, FileOps& ops,
                     FileAccess access) {
    const bool ownerOnly = access == FileAccess::OwnerOnly;
    fs::path target = file;
    std::error_code ec;
    if (fs::is_symlink(file, ec)) {
        if (fs::path real = fs::canonical(file, ec); !ec)
            target = real;
    }

    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists) {
        if (!S_ISREG(old.st_mode))
            return false;
        // A write-protected file stays as it is, even though its directory would let us
        // rename over it.
        if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
            return false;
    } else if (errno != ENOENT) {
        return false;
    }

    std::string tempName;
    // Never readable by others, not even for a moment, when it may hold a secret.
    Fd fd(createTemporary(target, tempName, ownerOnly ? 0600 : 0666));
    if (!fd.valid())
        return false;

    bool ok = true;
    if (exists) {
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
    ok = ok && ops.rename(tempName.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(tempName.c_str());
        return false;
    }
    syncDirectory(target);
    return true;
}

} // namespace

bool replaceFile(const fs::path& file, std::string_view bytes, FileOps& ops,
                 FileAccess access) noexcept {
    try {
        return replaceFileImpl(file, bytes, ops, access);
    } catch (...) { // out of memory building a name: the old file is untouched
        return false;
    }
}

ReadResult readWholeFile(const fs::path& file, std::string& out, FileOps& ops) {
    out.clear();
    // Non-blocking, so that a FIFO put in place of the file cannot hang us; it is refused below.
    Fd fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd.valid())
        return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return ReadResult::Failed;

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
