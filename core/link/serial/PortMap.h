#pragma once

#include <QString>
#include <QStringList>

namespace voltaro {

// Which device file each of the four port choices ("COM1" to "COM4") opens.
//
// A choice named in the environment (VOLTARO_COM1 ... VOLTARO_COM4, a device
// path) opens that device. The others take, in order, the USB-serial
// adapters that are plugged in (/dev/ttyUSB*, /dev/ttyACM*, by number) and
// then the built-in ports /dev/ttyS0, /dev/ttyS1, ...: with one adapter
// plugged in, COM1 is that adapter. The map is worked out afresh on every
// lookup, so an adapter plugged in while the program runs is found.
class PortMap {
public:
    static constexpr int kChoices = 4;

    // The device file of choice `number` (1..4).
    static QString devicePath(int number);

    // Candidate devices under `devDir` in the order the choices take them.
    // Exposed for tests, which point it at a folder of their own.
    static QStringList candidates(const QString& devDir = QStringLiteral("/dev"));

    // The device for `number` given the environment's overrides and the candidates.
    static QString resolve(int number, const QStringList& candidates);
};

} // namespace voltaro
