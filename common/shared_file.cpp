#include "common/shared_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

enum class Replaced { yes, notHere, failed };

// Temporary file beside path, then rename over it. notHere (errno set): the directory,
// the rename or the old file's owner stood in the way, and path is as it was; failed: the
// bytes themselves could not be stored (no space, say), so writing in place would only
// destroy the old text. *owner_kept false means only the old file's owner stood in the way.
Replaced replaceByRename(const std::string& path, std::string_view bytes, const struct stat* old, bool keep_owner,
                         bool* owner_kept)
{
    *owner_kept = true;
    std::string temporary = path + ".XXXXXX";
    int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return Replaced::notHere;
    // Read by the web server as well, so not mkstemp's owner-only mode; a provisioned
    // file keeps its mode and owner.
    Replaced result = Replaced::yes;
    if (::fchmod(fd, old != nullptr ? (old->st_mode & 07777) : 0644) != 0)
        result = Replaced::notHere;
    if (result == Replaced::yes && keep_owner && old != nullptr &&
        (old->st_uid != ::geteuid() || old->st_gid != ::getegid()) && ::fchown(fd, old->st_uid, old->st_gid) != 0) {
        *owner_kept = false;
        result = Replaced::notHere;
    }
    if (result == Replaced::yes && !writeAllBytes(fd, bytes))
        result = Replaced::failed;
    if (::close(fd) != 0 && result == Replaced::yes)
        result = Replaced::failed;
    if (result == Replaced::yes && ::rename(temporary.c_str(), path.c_str()) != 0)
        result = Replaced::notHere;
    if (result != Replaced::yes) {
        const int saved = errno;
        ::unlink(temporary.c_str());
        errno = saved;
    }
    return result;
}

bool writeInPlace(const std::string& path, std::string_view bytes)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = writeAllBytes(fd, bytes);
    const int saved = errno;
    const bool closed = ::close(fd) == 0;
    if (!written)
        errno = saved;
    return written && closed;
}

} // namespace

bool writeSharedFile(const std::string& path, std::string_view bytes)
{
    struct stat old {};
    const bool exists = ::lstat(path.c_str(), &old) == 0;
    const bool link = exists && S_ISLNK(old.st_mode);
    const struct stat* regular = exists && S_ISREG(old.st_mode) ? &old : nullptr;
    bool owner_kept = true;
    const Replaced replaced = link ? Replaced::notHere : replaceByRename(path, bytes, regular, true, &owner_kept);
    if (replaced == Replaced::yes)
        return true;
    int reason = errno;
    // The directory is closed to new files, the path is a link that must stay one, or the
    // file belongs to someone else: write it where it is.
    if (replaced == Replaced::notHere) {
        if (writeInPlace(path, bytes))
            return true;
        reason = errno;
        if (!owner_kept) {
            bool ignored = true;
            if (replaceByRename(path, bytes, regular, false, &ignored) == Replaced::yes)
                return true;
            reason = errno;
        }
    }
    std::fprintf(stderr, "Cannot write %s: %s\n", path.c_str(), std::strerror(reason));
    return false;
}

bool writeAllBytes(int fd, std::string_view bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}
