#include "aDirectory.h"

#include <climits>
#include <cstdarg>
#include <cstring>
#include <string>

#include "aPlatform.h"

namespace {

constexpr int kMaxComponents = 10;
constexpr char kSeparator = aDIRECTORY_SEPARATOR;

bool isCurrentDirectoryText(const char* path) {
    return strcmp(path, ".") == 0 || strcmp(path, "./") == 0 || strcmp(path, ".\\") == 0;
}

// Appends one further component to the text in dest, with a separator between them.
aErr appendComponent(char* dest, size_t size, const char* component) {
    size_t length = strlen(dest);
    size_t room = size - length - 1;
    if (room > 1 && (length == 0 || dest[length - 1] != kSeparator) && component[0] != kSeparator) {
        dest[length++] = kSeparator;
        dest[length] = '\0';
        room -= 1;
    }
    size_t componentLength = strlen(component);
    if (componentLength >= room) return aErrOverrun;
    memcpy(dest + length, component, componentLength + 1);
    return aErrNone;
}

aErr buildPath(char* dest, size_t size, const char* first, va_list rest) {
    if (!dest || size == 0) return aErrParam;
    dest[0] = '\0';
    if (!first || dest == first) return aErrParam;

    const char* components[kMaxComponents];
    int count = 0;
    components[count++] = first;
    for (const char* c = va_arg(rest, const char*); c; c = va_arg(rest, const char*)) {
        if (count == kMaxComponents || c == dest) return aErrParam;
        components[count++] = c;
    }

    size_t firstLength = strlen(first);
    if (firstLength >= size - 1) return aErrOverrun;
    memcpy(dest, first, firstLength + 1);
    for (int i = 1; i < count; ++i) {
        aErr e = appendComponent(dest, size, components[i]);
        if (e != aErrNone) return e;
    }
    return aErrNone;
}

aErr joinInto(std::string& out, const char* a, const char* b) {
    char buffer[PATH_MAX];
    aErr e = aDirectory_JoinPath(buffer, sizeof buffer, a, b);
    out = buffer;
    return e;
}

}  // namespace

extern "C" {

aErr aDirectory_BuildPath(char* dest, size_t size, const char* first, ...) {
    va_list rest;
    va_start(rest, first);
    aErr e = buildPath(dest, size, first, rest);
    va_end(rest);
    return e;
}

aErr aDirectory_JoinPath(char* dest, size_t size, const char* a, const char* b) {
    return aDirectory_BuildPath(dest, size, a, b, static_cast<const char*>(nullptr));
}

bool aDirectory_Exists(const char* path) {
    if (!path) return false;
    if (isCurrentDirectoryText(path)) {
        char cwd[PATH_MAX];
        return aPlatform::currentDirectory(cwd, sizeof cwd) && aPlatform::isDirectory(cwd);
    }
    return aPlatform::isDirectory(path);
}

aErr aDirectory_Ensure(const char* path, unsigned int /*mode*/) {
    if (!path || !*path) return aErrParam;
    if (aDirectory_Exists(path)) return aErrNone;

    std::string copy(path);
    // Find the deepest ancestor that exists.
    size_t existingEnd = 0;
    for (size_t cut = copy.rfind(kSeparator); cut != std::string::npos && cut > 0;
         cut = copy.rfind(kSeparator, cut - 1)) {
        if (aPlatform::isDirectory(copy.substr(0, cut).c_str())) {
            existingEnd = cut;
            break;
        }
    }

    aErr result = aErrNone;
    // Create each missing level below it, then the directory itself.
    for (size_t at = copy.find(kSeparator, existingEnd + 1); at != std::string::npos;
         at = copy.find(kSeparator, at + 1)) {
        std::string prefix = copy.substr(0, at);
        if (prefix.empty() || aPlatform::isDirectory(prefix.c_str())) continue;
        if (aPlatform::makeDirectory(prefix.c_str()) == aPlatform::MakeDirResult::Failed) {
            result = aErrPermission;
            break;
        }
    }
    if (!aPlatform::isDirectory(path) && aPlatform::makeDirectory(path) == aPlatform::MakeDirResult::Failed)
        result = aErrPermission;
    return result;
}

aErr aDirectory_List(const char* path, aDirectoryListProc callback, void* context) {
    if (!path || !callback) return aErrParam;
    std::string full;
    bool searched = aPlatform::listDirectory(path, [&](const aPlatform::ListedEntry& e) {
        joinInto(full, path, e.name);
        aDirectoryEntry entry{full.c_str(), static_cast<uint32_t>(e.size), e.isDirectory};
        return callback(&entry, context);
    });
    return searched ? aErrNone : aErrParam;
}

aErr aDirectory_Delete(const char* path) {
    if (!path) return aErrParam;
    return aPlatform::removeDirectory(path) ? aErrNone : aErrUnknown;
}

aErr aDirectory_DeleteTree(const char* path) {
    if (!path) return aErrParam;
    std::string full;
    bool searched = aPlatform::listDirectory(path, [&](const aPlatform::ListedEntry& e) {
        if (strcmp(e.name, ".") == 0 || strcmp(e.name, "..") == 0) return true;
        // A name that does not fit the path buffer cannot be reached safely: stop there.
        if (joinInto(full, path, e.name) != aErrNone) return false;
        if (e.isDirectory) {
            aDirectory_DeleteTree(full.c_str());
            return true;
        }
        return aPlatform::deleteFile(full.c_str()) == aPlatform::DeleteResult::Deleted;
    });
    if (!searched) return aErrParam;
    return aPlatform::removeDirectory(path) ? aErrNone : aErrUnknown;
}

aErr aDirectory_CWD(char* buffer, size_t size) {
    if (!buffer) return aErrParam;
    return aPlatform::currentDirectory(buffer, size) ? aErrNone : aErrParam;
}

aErr aDirectory_ExecutableFilePath(char* buffer, size_t size) {
    if (!buffer) return aErrParam;
    return aPlatform::executablePath(buffer, size) ? aErrNone : aErrRead;
}

aErr aDirectory_GetHomeDirectory(char* buffer, size_t size) {
    if (!buffer || size == 0) return aErrParam;
    buffer[0] = '\0';
    std::string home;
    if (!aPlatform::homeDirectory(home)) return aErrNotFound;
    return aDirectory_BuildPath(buffer, size, home.c_str(), static_cast<const char*>(nullptr));
}

}  // extern "C"
