// The tool's own files on a POSIX host: real files in the current folder,
// the record's lock a POSIX record lock on the whole file (fcntl F_SETLKW),
// which waits for another process's lock as LockFileEx does.
#include "platform/files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int fd_of(HANDLE file) {
    return static_cast<int>(reinterpret_cast<intptr_t>(file));
}

HANDLE open_fd(const char* path, int flags) {
    const int fd = open(path, flags | O_CLOEXEC, 0666);
    if (fd < 0)
        return INVALID_HANDLE_VALUE;
    // A folder opens for reading here, not on Windows.
    struct stat status;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(fd);
        return INVALID_HANDLE_VALUE;
    }
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
}

int whole_file_lock(HANDLE file, short type) {
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET; // from 0, length 0: every byte, present and future
    int result;
    do
        result = fcntl(fd_of(file), F_SETLKW, &lock);
    while (result != 0 && errno == EINTR);
    return result == 0;
}

} // namespace

HANDLE open_read(const char* path) {
    return open_fd(path, O_RDONLY);
}

HANDLE open_record(const char* path) {
    return open_fd(path, O_RDWR | O_APPEND | O_CREAT);
}

HANDLE create_file(const char* path) {
    return open_fd(path, O_WRONLY | O_CREAT | O_TRUNC);
}

int read_bytes(HANDLE file, void* buffer, uint32_t size, uint32_t* got) {
    const ssize_t n = read(fd_of(file), buffer, size);
    *got = n > 0 ? static_cast<uint32_t>(n) : 0;
    return n >= 0;
}

int read_at(HANDLE file, uint64_t offset, void* buffer, uint32_t size, uint32_t* got) {
    const ssize_t n = pread(fd_of(file), buffer, size, static_cast<off_t>(offset));
    *got = n > 0 ? static_cast<uint32_t>(n) : 0;
    return n >= 0;
}

int file_size(HANDLE file, uint64_t* size) {
    struct stat status;
    if (fstat(fd_of(file), &status) != 0)
        return 0;
    *size = static_cast<uint64_t>(status.st_size);
    return 1;
}

int lock_file(HANDLE file) {
    return whole_file_lock(file, F_WRLCK);
}

void unlock_file(HANDLE file) {
    whole_file_lock(file, F_UNLCK);
}

int write_bytes(HANDLE file, const void* bytes, uint32_t size) {
    return write(fd_of(file), bytes, size) == static_cast<ssize_t>(size);
}

void close_file(HANDLE file) {
    close(fd_of(file));
}
