#pragma once

#include <string>
#include <sys/types.h>

// A symbolic link named as the backup or the log file is followed only when
// it belongs to the user running the tool or to root, as the kernel's
// protected-symlinks rule asks in sticky world-writable folders: a link
// that another user planted in /tmp must not lead the tool, which often
// runs as root, to overwrite or read one of root's files.

// True when the path's last part is no symbolic link, or a chain of links
// each of which belongs to the effective user or to root.
bool mayFollowLinks(const std::string& path);

// open(2), except that a symbolic link as the path's last part is followed
// only when mayFollowLinks allows it; a refused link gives -1 with EACCES
// and creates nothing.
int openFollowingTrustedLinks(const std::string& path, int flags, mode_t mode = 0);
