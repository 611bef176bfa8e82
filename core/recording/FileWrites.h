#pragma once

// The few file writes the journal and the streamed text table share.

#include <QString>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace voltaro::filewrites {

// Writes `size` bytes at `offset`: a failed write taken back leaves no gap
// for the next one to follow.
inline bool writeAllAt(int fd, const char* data, qint64 size, qint64 offset, int* error) {
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, static_cast<std::size_t>(size), offset);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            *error = errno;
            return false;
        }
        data += n;
        size -= n;
        offset += n;
    }
    return true;
}

// Whatever the umask allows, no file or folder the program makes is writable
// by other users: the readings are the user's own. Called at start, before
// any thread exists (the umask is the whole process's).
inline void withholdWritesFromOthers() {
    ::umask(::umask(0) | S_IWOTH);
}

inline QString errorText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace voltaro::filewrites
