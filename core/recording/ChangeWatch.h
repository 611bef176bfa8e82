#pragma once

#include <QFileDevice>
#include <QIODevice>

#include <sys/stat.h>

namespace voltaro::datafiles {

// A file changed while it is read (truncated, rewritten in place, written to)
// reads as a mix of what it was and what it became, and a truncated one may
// end in the middle of a line. Its size and modification time when the load
// began tell: the load goes on only while they stay. A file replaced by
// renaming another over it is not changed: the load reads the old one whole.
// Devices that are not regular files are not watched.
class ChangeWatch {
public:
    explicit ChangeWatch(const QIODevice& device) {
        const auto* file = qobject_cast<const QFileDevice*>(&device);
        fd_ = file ? file->handle() : -1;
        struct stat st {};
        watching_ = fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
        if (watching_) {
            size_ = st.st_size;
            modified_ = st.st_mtim;
        }
    }
    bool changed() const {
        if (!watching_)
            return false;
        struct stat st {};
        if (::fstat(fd_, &st) != 0)
            return true;
        return st.st_size != size_ || st.st_mtim.tv_sec != modified_.tv_sec ||
               st.st_mtim.tv_nsec != modified_.tv_nsec;
    }

private:
    int fd_ = -1;
    bool watching_ = false;
    off_t size_ = 0;
    timespec modified_{};
};

} // namespace voltaro::datafiles
