#include "core/session/InputHold.h"

#include <cstring>
#include <utility>

namespace voltaro {

void InputHold::add(Kind kind, std::uint8_t id, const std::uint8_t* data, int size) {
    const std::int32_t n = size > 0 ? size : 0;
    held_.append(static_cast<char>(kind));
    held_.append(static_cast<char>(id));
    held_.append(reinterpret_cast<const char*>(&n), sizeof n);
    if (n > 0)
        held_.append(reinterpret_cast<const char*>(data), n);
}

void InputHold::serialBytes(const std::uint8_t* data, int size) {
    add(Serial, 0, data, size);
}

void InputHold::report(std::uint8_t id, const std::uint8_t* data, std::uint16_t size) {
    add(Report, id, data, size);
}

void InputHold::streamBroken() {
    add(Break, 0, nullptr, 0);
}

void InputHold::end(const Sink& sink) {
    if (depth_ == 0 || --depth_ > 0)
        return;
    const QByteArray held = std::exchange(held_, QByteArray());
    for (qsizetype at = 0; at < held.size();) {
        const auto kind = static_cast<Kind>(held[at]);
        const auto id = static_cast<std::uint8_t>(held[at + 1]);
        std::int32_t n = 0;
        std::memcpy(&n, held.constData() + at + 2, sizeof n);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(held.constData() + at + 2 + sizeof n);
        at += 2 + static_cast<qsizetype>(sizeof n) + n;
        switch (kind) {
        case Serial: sink.serialBytes(bytes, n); break;
        case Report: sink.report(id, bytes, static_cast<std::uint16_t>(n)); break;
        case Break: sink.streamBroken(); break;
        }
    }
}

} // namespace voltaro
