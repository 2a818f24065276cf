#pragma once

// Giving up root after binding a port below 1024, as daemons that need one do.

#include <sys/types.h>

#include <optional>
#include <string>

namespace dazoroz::snppd {

struct SystemUser {
    std::string name;
    uid_t uid = 0;
    gid_t gid = 0;
};

// The user of this name in the system's user database; nothing when there is none.
std::optional<SystemUser> findUser(const std::string& name);

// Takes on the user's user and group ids and its supplementary groups, for good: the process
// cannot become root again. Nothing to do when it already runs as that user. On failure, the
// reason (the process may then hold some of the new ids: it must not go on).
std::optional<std::string> becomeUser(const SystemUser& user);

// Clears every capability set (effective, permitted, inheritable, ambient) of a process that is
// not root, so that one given to the program file (cap_net_bind_service, to bind a port below
// 1024) ends with the binding; no program it could start gains any again. On failure, the reason.
std::optional<std::string> dropCapabilities();

} // namespace dazoroz::snppd
