#include "support/ReadInterposer.h"

#include <atomic>
#include <cerrno>
#include <dlfcn.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

using ReadFunction = ssize_t (*)(int, void*, size_t);

std::atomic<bool> armed{false};
std::mutex mutex;
dev_t device = 0;
ino_t inode = 0;
std::function<void()> pending;
int readCount = 0;

ReadFunction realRead() {
    static const auto f = reinterpret_cast<ReadFunction>(dlsym(RTLD_NEXT, "read"));
    return f;
}

} // namespace

extern "C" ssize_t read(int fd, void* buffer, size_t size) {
    const ssize_t n = realRead()(fd, buffer, size);
    if (n <= 0 || !armed.load(std::memory_order_acquire))
        return n;
    const int saved = errno;
    struct stat st {};
    if (::fstat(fd, &st) == 0) {
        std::function<void()> action;
        {
            std::lock_guard lock(mutex);
            if (st.st_dev == device && st.st_ino == inode) {
                ++readCount;
                action = std::exchange(pending, {});
            }
        }
        if (action)
            action();
    }
    errno = saved;
    return n;
}

namespace voltaro::testing {

AfterFirstRead::AfterFirstRead(const char* path, std::function<void()> action) {
    struct stat st {};
    std::lock_guard lock(mutex);
    readCount = 0;
    if (::stat(path, &st) != 0)
        return;
    device = st.st_dev;
    inode = st.st_ino;
    pending = std::move(action);
    armed.store(true, std::memory_order_release);
}

AfterFirstRead::~AfterFirstRead() {
    armed.store(false, std::memory_order_release);
    std::lock_guard lock(mutex);
    pending = {};
    device = 0;
    inode = 0;
}

int AfterFirstRead::reads() const {
    std::lock_guard lock(mutex);
    return readCount;
}

} // namespace voltaro::testing
