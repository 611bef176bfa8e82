#include "core/session/MeterSession.h"

#include "core/link/hid/HidPlatform.h"

namespace voltaro {

MeterSession::MeterSession(PipelineHooks* hooks, std::shared_ptr<HidPlatform> hid, QObject* parent)
    : QObject(parent), pipeline_(hooks), hid_(std::move(hid)) {
    setObjectName(QStringLiteral("MeterSession"));
}

MeterSession::~MeterSession() {
    // Nothing a link still hands over reaches a pipeline being taken down.
    if (cable_)
        cable_->setReportHandler({});
    if (serial_)
        serial_->setByteHandler({});
}

SerialLink& MeterSession::serial() {
    if (serial_)
        return *serial_;
    serial_ = std::make_unique<SerialLink>();
    setReadsLinks(readsLinks_);
    // A frame half read from the port that failed ends with it.
    connect(serial_.get(), &SerialLink::back, this, &MeterSession::breakStream);
    return *serial_;
}

CableLink& MeterSession::cable() {
    if (cable_)
        return *cable_;
    cable_ = hub_ ? std::make_unique<CableLink>(hub_) : std::make_unique<CableLink>(hid_);
    setReadsLinks(readsLinks_);
    connect(cable_.get(), &CableLink::newStream, this,
            [this] { pipeline_.assembler().discardPartialFrame(); });
    return *cable_;
}

void MeterSession::setReadsLinks(bool on) {
    readsLinks_ = on;
    if (serial_) {
        serial_->setByteHandler(!on ? SerialLink::ByteHandler()
                                    : [this](const std::uint8_t* data, int size) { takeBytes(data, size); });
    }
    if (cable_) {
        cable_->setReportHandler(!on ? CableLink::ReportHandler()
                                     : [this](std::uint8_t id, const std::uint8_t* data, std::uint16_t size) {
                                           takeReport(id, data, size);
                                       });
    }
}

void MeterSession::takeBytes(const std::uint8_t* data, int size) {
    if (held_.holding())
        held_.serialBytes(data, size);
    else
        bytesNow(data, size);
}

void MeterSession::takeReport(std::uint8_t reportId, const std::uint8_t* data, std::uint16_t size) {
    if (held_.holding())
        held_.report(reportId, data, size);
    else
        reportNow(reportId, data, size);
}

void MeterSession::bytesNow(const std::uint8_t* data, int size) {
    const auto before = pipeline_.stats().decoded;
    pipeline_.DX22KDATA(data, size);
    handled(before);
}

void MeterSession::reportNow(std::uint8_t reportId, const std::uint8_t* data, std::uint16_t size) {
    const auto before = pipeline_.stats().decoded;
    pipeline_.HidDataDX22K(reportId, data, size);
    handled(before);
}

void MeterSession::breakStream() {
    if (held_.holding())
        held_.streamBroken();
    else
        pipeline_.assembler().discardPartialFrame();
}

void MeterSession::releaseInput() {
    held_.end(
        {[this](const std::uint8_t* data, int size) { bytesNow(data, size); },
         [this](std::uint8_t id, const std::uint8_t* data, std::uint16_t size) { reportNow(id, data, size); },
         [this] { pipeline_.assembler().discardPartialFrame(); }});
}

void MeterSession::handled(std::uint64_t decodedBefore) {
    // Every decoded frame: the cable check counts afresh.
    if (cable_ && pipeline_.stats().decoded != decodedBefore)
        cable_->frameArrived();
    if (afterData_)
        afterData_();
}

} // namespace voltaro
