#include "snppd/run_as_user.h"

#include <grp.h>
#include <pwd.h>
#include <sys/capability.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace dazoroz::snppd {

namespace {

std::string failed(const char* step) {
    return std::string(step) + ": " + std::strerror(errno);
}

} // namespace

std::optional<SystemUser> findUser(const std::string& name) {
    if (name.empty()) {
        return std::nullopt;
    }
    std::vector<char> buffer(16 * 1024);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr) {
        return std::nullopt;
    }
    return SystemUser{found->pw_name, found->pw_uid, found->pw_gid};
}

std::optional<std::string> becomeUser(const SystemUser& user) {
    const bool alreadyThere = ::getuid() == user.uid && ::geteuid() == user.uid &&
                              ::getgid() == user.gid && ::getegid() == user.gid;
    if (alreadyThere && user.uid != 0) {
        return std::nullopt;
    }
    // Groups first: only root may set them, and setuid() gives root up.
    if (::initgroups(user.name.c_str(), user.gid) != 0) {
        return failed("setting its groups");
    }
    if (::setgid(user.gid) != 0) {
        return failed("setting its group id");
    }
    if (::setuid(user.uid) != 0) {
        return failed("setting its user id");
    }
    if (::getuid() != user.uid || ::geteuid() != user.uid || ::getgid() != user.gid ||
        ::getegid() != user.gid) {
        return std::string("the ids did not change");
    }
    if (user.uid != 0 && ::setuid(0) == 0) {
        return std::string("root could be taken back");
    }
    return std::nullopt;
}

std::optional<std::string> dropCapabilities() {
    // Nothing run by this process may gain privileges, through file capabilities or set-id bits.
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        return failed("locking out new privileges");
    }
    if (::cap_reset_ambient() != 0) {
        return failed("clearing the ambient capabilities");
    }
    cap_t none = ::cap_init(); // every set empty
    if (none == nullptr) {
        return failed("clearing the capabilities");
    }
    const int cleared = ::cap_set_proc(none);
    const int error = errno;
    cap_t now = cleared == 0 ? ::cap_get_proc() : nullptr;
    const bool empty = now != nullptr && ::cap_compare(now, none) == 0;
    ::cap_free(now);
    ::cap_free(none);
    if (cleared != 0) {
        errno = error;
        return failed("clearing the capabilities");
    }
    if (!empty) {
        return std::string("some capabilities remain");
    }
    return std::nullopt;
}

} // namespace dazoroz::snppd
