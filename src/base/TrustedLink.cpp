#include "base/TrustedLink.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The kernel gives up on a path after as many links.
const int MAX_LINKS_FOLLOWED = 40;

bool isTrustedOwner(uid_t owner) {
    return owner == geteuid() || owner == 0;
}

bool readLinkTarget(const std::string& link, std::string* target) {
    std::string buffer(PATH_MAX, '\0');
    const ssize_t length = readlink(link.c_str(), &buffer[0], buffer.size());
    if (length < 0 || static_cast<size_t>(length) >= buffer.size()) {
        return false;
    }
    buffer.resize(static_cast<size_t>(length));
    *target = buffer;
    return true;
}

// A relative link target counts from the link's own folder.
std::string targetSeenFrom(const std::string& link, const std::string& target) {
    const size_t slash = link.rfind('/');
    if (target.empty() || target[0] == '/' || slash == std::string::npos) {
        return target;
    }
    return link.substr(0, slash + 1) + target;
}

} // namespace

bool mayFollowLinks(const std::string& path) {
    std::string current = path;
    for (int followed = 0; followed < MAX_LINKS_FOLLOWED; ++followed) {
        struct stat info;
        if (lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return true; // no link (left) to follow; the open itself decides
        }
        std::string target;
        if (!isTrustedOwner(info.st_uid) || !readLinkTarget(current, &target)) {
            return false;
        }
        current = targetSeenFrom(current, target);
    }
    return false;
}

// The first open takes no link at all, so a name that is no link is never
// checked and opened in two steps. A link that passes the check cannot be
// swapped by another user in a sticky folder, since it is not theirs.
int openFollowingTrustedLinks(const std::string& path, int flags, mode_t mode) {
    const int fd = open(path.c_str(), flags | O_NOFOLLOW, mode);
    if (fd >= 0 || errno != ELOOP) {
        return fd;
    }
    if (!mayFollowLinks(path)) {
        errno = EACCES;
        return -1;
    }
    return open(path.c_str(), flags, mode);
}
