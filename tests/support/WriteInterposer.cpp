#include "support/WriteInterposer.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <dlfcn.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

using WriteFunction = ssize_t (*)(int, const void*, size_t);

std::atomic<bool> armed{false};
std::mutex mutex;
std::string folder;
std::function<void()> pending;
int writeCount = 0;

WriteFunction realWrite() {
    static const auto f = reinterpret_cast<WriteFunction>(dlsym(RTLD_NEXT, "write"));
    return f;
}

// Whether `fd` is a regular file directly in the folder watched.
bool inFolder(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char path[PATH_MAX];
    const ssize_t n = ::readlink(link, path, sizeof path - 1);
    if (n <= 0)
        return false;
    const std::string file(path, static_cast<std::size_t>(n));
    std::lock_guard lock(mutex);
    return file.size() > folder.size() && file.compare(0, folder.size(), folder) == 0 &&
           file[folder.size()] == '/' && file.find('/', folder.size() + 1) == std::string::npos;
}

} // namespace

extern "C" ssize_t write(int fd, const void* buffer, size_t size) {
    const ssize_t n = realWrite()(fd, buffer, size);
    if (n <= 0 || !armed.load(std::memory_order_acquire))
        return n;
    const int saved = errno;
    if (inFolder(fd)) {
        std::function<void()> action;
        {
            std::lock_guard lock(mutex);
            ++writeCount;
            action = std::exchange(pending, {});
        }
        if (action)
            action();
    }
    errno = saved;
    return n;
}

namespace voltaro::testing {

AfterFirstWrite::AfterFirstWrite(const char* path, std::function<void()> action) {
    std::lock_guard lock(mutex);
    writeCount = 0;
    folder = path;
    pending = std::move(action);
    armed.store(true, std::memory_order_release);
}

AfterFirstWrite::~AfterFirstWrite() {
    armed.store(false, std::memory_order_release);
    std::lock_guard lock(mutex);
    pending = {};
    folder.clear();
}

int AfterFirstWrite::writes() const {
    std::lock_guard lock(mutex);
    return writeCount;
}

} // namespace voltaro::testing
