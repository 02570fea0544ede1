// The operating-system calls behind the file, directory and time families. One backend file per
// platform implements this header (aPlatform_posix.cpp today); nothing above it is platform code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace aPlatform {

// Directories.
bool isDirectory(const char* path);
bool exists(const char* path);
enum class MakeDirResult { Created, AlreadyExists, Failed };
MakeDirResult makeDirectory(const char* path);
bool removeDirectory(const char* path);
bool currentDirectory(char* buffer, size_t size);
bool executablePath(char* buffer, size_t size);
// The user's home directory: HOME, else the password database. False when neither has one.
bool homeDirectory(std::string& home);

struct ListedEntry {
    const char* name;
    uint64_t size;
    bool isDirectory;
};
// False when the directory cannot be searched. The visitor returns false to stop.
bool listDirectory(const char* path, const std::function<bool(const ListedEntry&)>& visit);

// Files. A handle is a small integer, -1 for none.
enum class OpenMode { Read, Write, Append };
int openFile(const char* path, OpenMode mode);
void closeFile(int handle);
// Bytes read or written, -1 on failure. Writes of write-through handles reach the disk first.
long long readFile(int handle, void* buffer, size_t count);
long long writeFile(int handle, const void* buffer, size_t count);
bool fileSize(int handle, uint64_t& size);
bool filePosition(int handle, uint64_t& position);
bool setFilePosition(int handle, uint64_t position);
enum class DeleteResult { Deleted, NotFound, Denied, Failed };
DeleteResult deleteFile(const char* path);

// Time.
uint64_t monotonicMilliseconds();
void sleepMilliseconds(uint32_t ms);

}  // namespace aPlatform
