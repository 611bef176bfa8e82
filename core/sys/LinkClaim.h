#pragma once

#include "core/sys/UniqueFd.h"

#include <QString>

#include <memory>

namespace voltaro {

// A claim on a port or a cable that this process reads, so that another
// running window or voltaro-log is told who reads it rather than sharing it
// (a cable's reports would be split between the two, each seeing half a
// meter). The claim is an flock() on a file named after the device in
// claimFolder(): the kernel drops it with the process, however the process
// ends, so a claim never outlives its reader and nothing has to tell a
// stale claim from a live one. The file holds the reader's pid and program
// name, for the refusal to name them.
//
// Claims are the program's own agreement between its instances; a device's
// permissions and the serial port's exclusive open keep other users and
// other programs away.
class LinkClaim {
public:
    // Who holds a claim: pid 0 when the holder has not written its name yet.
    struct Holder {
        long long pid = 0;
        QString program;
        // "voltaro-log (pid 1234)", or "another instance of this program".
        QString describe() const;
    };

    // $XDG_RUNTIME_DIR/voltaro-interface, else a folder of this user's in
    // the temporary folder; made (mode 0700) when missing. Empty when the
    // folder there is not this user's alone.
    static QString claimFolder();

    // The key of a serial port's device file: its device numbers, so that
    // every name of one device (/dev/ttyUSB0, a /dev/serial/by-id link) is
    // one claim; the path itself for a file that is not a device.
    static QString serialKey(const QString& devicePath);
    // The key of a USB cable: its port path, else its node.
    static QString cableKey(const QString& portPath, const QString& node);

    // Claims `key` for this process. Null when another process (or another
    // link of this one) holds it, with `holder` saying who, or when the
    // claim's file cannot be made, with `error` saying why.
    static std::unique_ptr<LinkClaim> take(const QString& key, Holder* holder, QString* error);

    // Released: the file stays (removing it would race with the next taker).
    ~LinkClaim() = default;
    LinkClaim(const LinkClaim&) = delete;
    LinkClaim& operator=(const LinkClaim&) = delete;

    const QString& key() const { return key_; }

private:
    LinkClaim(QString key, UniqueFd fd) : key_(std::move(key)), fd_(std::move(fd)) {}

    QString key_;
    UniqueFd fd_;
};

} // namespace voltaro
