// POSIX backend of the file, directory and time families.
#include "aPlatform.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace aPlatform {

bool isDirectory(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const char* path) {
    struct stat st;
    return stat(path, &st) == 0;
}

MakeDirResult makeDirectory(const char* path) {
    if (mkdir(path, 0777) == 0) return MakeDirResult::Created;
    if (errno == EEXIST && isDirectory(path)) return MakeDirResult::AlreadyExists;
    return MakeDirResult::Failed;
}

bool removeDirectory(const char* path) { return rmdir(path) == 0; }

bool currentDirectory(char* buffer, size_t size) { return size > 0 && getcwd(buffer, size) != nullptr; }

bool executablePath(char* buffer, size_t size) {
    if (size == 0) return false;
    ssize_t n = readlink("/proc/self/exe", buffer, size - 1);
    if (n <= 0) return false;
    buffer[n] = '\0';
    return true;
}

bool homeDirectory(std::string& home) {
    const char* env = getenv("HOME");
    if (env && *env) {
        home = env;
        return true;
    }
    long bufSize = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(bufSize > 0 ? static_cast<size_t>(bufSize) : 16384);
    passwd pw{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir &&
        *found->pw_dir) {
        home = found->pw_dir;
        return true;
    }
    return false;
}

bool listDirectory(const char* path, const std::function<bool(const ListedEntry&)>& visit) {
    DIR* dir = opendir(path);
    if (!dir) return false;
    std::string full;
    while (dirent* d = readdir(dir)) {
        full.assign(path);
        if (full.empty() || full.back() != '/') full += '/';
        full += d->d_name;
        struct stat st;
        bool known = stat(full.c_str(), &st) == 0;
        ListedEntry entry{d->d_name, known ? static_cast<uint64_t>(st.st_size) : 0, known && S_ISDIR(st.st_mode)};
        if (!visit(entry)) break;
    }
    closedir(dir);
    return true;
}

int openFile(const char* path, OpenMode mode) {
    int flags = O_CLOEXEC;
    switch (mode) {
        case OpenMode::Read: flags |= O_RDONLY; break;
        // O_DSYNC: a write returns only once its data are on the disk.
        case OpenMode::Write: flags |= O_WRONLY | O_CREAT | O_TRUNC | O_DSYNC; break;
        case OpenMode::Append: flags |= O_RDWR | O_CREAT | O_DSYNC; break;
    }
    int fd;
    do {
        fd = open(path, flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(fd);
        return -1;
    }
    if (mode == OpenMode::Append && lseek(fd, 0, SEEK_END) < 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void closeFile(int handle) {
    if (handle >= 0) close(handle);
}

long long readFile(int handle, void* buffer, size_t count) {
    ssize_t n;
    do {
        n = read(handle, buffer, count);
    } while (n < 0 && errno == EINTR);
    return n;
}

long long writeFile(int handle, const void* buffer, size_t count) {
    const char* p = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < count) {
        ssize_t n = write(handle, p + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        done += static_cast<size_t>(n);
    }
    return static_cast<long long>(done);
}

bool fileSize(int handle, uint64_t& size) {
    struct stat st;
    if (fstat(handle, &st) != 0) return false;
    size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool filePosition(int handle, uint64_t& position) {
    off_t at = lseek(handle, 0, SEEK_CUR);
    if (at < 0) return false;
    position = static_cast<uint64_t>(at);
    return true;
}

bool setFilePosition(int handle, uint64_t position) {
    return lseek(handle, static_cast<off_t>(position), SEEK_SET) >= 0;
}

DeleteResult deleteFile(const char* path) {
    struct stat st;
    if (lstat(path, &st) == 0 && S_ISDIR(st.st_mode)) return DeleteResult::Denied;
    if (unlink(path) == 0) return DeleteResult::Deleted;
    switch (errno) {
        case ENOENT: return DeleteResult::NotFound;
        case EACCES:
        case EPERM:
        case EROFS: return DeleteResult::Denied;
        default: return DeleteResult::Failed;
    }
}

uint64_t monotonicMilliseconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

void sleepMilliseconds(uint32_t ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

}  // namespace aPlatform
