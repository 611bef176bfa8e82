#pragma once

#include <QString>

#include <utility>

namespace voltaro {

class THidDevice;

// Which USB cable a link reads, as the user named it: its node
// (/dev/hidraw3), the USB port path of the socket it is plugged into
// (1-1.2, as voltaro-log --list and the window's menu show it), or its
// serial number. Without a name, the link takes the last cable listed as
// exactly "USB to Serial". Only a device whose product is the cable's is
// ever chosen, so no name sends the configuration report to another device.
//
// A cable chosen by name is followed by the socket it was found in: pulled
// out and plugged back into the same socket it is read again; plugged into
// another socket it is taken for another meter and not read.
class CableChoice {
public:
    enum class Kind { Default, Node, PortPath, Serial };

    // The last cable listed as exactly "USB to Serial".
    CableChoice() = default;
    // The user's text: empty for the default; a path for a node; bus-port
    // numbers ("1-1.2") for a port path; anything else a serial number.
    static CableChoice parse(const QString& text);
    static CableChoice atPort(const QString& portPath) { return {Kind::PortPath, portPath}; }

    Kind kind() const { return kind_; }
    const QString& text() const { return text_; }
    bool isDefault() const { return kind_ == Kind::Default; }

    // Whether `device` is the cable chosen (the default matches no device:
    // the list's preselection stands for it).
    bool matches(THidDevice& device) const;
    // For messages: " at 1-1.2", " /dev/hidraw3", " with serial number X",
    // or nothing for the default; describe() puts "the USB cable" before it.
    QString where() const;
    QString describe() const { return QStringLiteral("the USB cable") + where(); }

    bool operator==(const CableChoice&) const = default;

private:
    CableChoice(Kind kind, QString text) : kind_(kind), text_(std::move(text)) {}

    Kind kind_ = Kind::Default;
    QString text_;
};

// A cable's name for the user: "USB cable at 1-1.2", and ", serial X" when it has one.
QString cableMenuText(THidDevice& device);

} // namespace voltaro
