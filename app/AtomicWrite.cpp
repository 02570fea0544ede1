#include "AtomicWrite.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <string>
#include <unistd.h>

namespace {

std::string parentDirectory(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool writeAll(int fd, const char* bytes, size_t length)
{
    while (length > 0) {
        const ssize_t done = ::write(fd, bytes, length);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        bytes += done;
        length -= static_cast<size_t>(done);
    }
    return true;
}

// The rename is only durable once the directory entry itself reaches the disk.
void syncDirectory(const std::string& directory)
{
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

aErr replaceFile(const char* path, const void* bytes, size_t length, int* osError)
{
    std::string temporary = std::string(path) + ".XXXXXX";
    if (temporary.size() >= PATH_MAX) {
        if (osError)
            *osError = ENAMETOOLONG;
        return aErrNotFound;
    }
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        if (osError)
            *osError = errno;
        return aErrNotFound;
    }
    const bool written = writeAll(fd, static_cast<const char*>(bytes), length) && ::fsync(fd) == 0 &&
                         ::fchmod(fd, 0644) == 0;
    const int writeError = errno;
    if (::close(fd) != 0 || !written) {
        ::unlink(temporary.c_str());
        if (osError)
            *osError = written ? errno : writeError;
        return aErrWrite;
    }
    if (::rename(temporary.c_str(), path) != 0) {
        if (osError)
            *osError = errno;
        ::unlink(temporary.c_str());
        return aErrIO;
    }
    syncDirectory(parentDirectory(path));
    return aErrNone;
}
