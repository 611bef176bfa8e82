#pragma once

#include "core/decode/MeterPipeline.h"
#include "core/link/CableLink.h"
#include "core/link/SerialLink.h"
#include "core/recording/Recording.h"
#include "core/session/InputHold.h"

#include <QObject>

#include <functional>
#include <memory>

namespace voltaro {

class HidPlatform;

// One meter: the links that can reach it (a serial port, the USB cable),
// the pipeline its frames go through, whose evaluation settings it owns,
// and the recording its readings go into with the sinks they go on to. The
// window's regions and voltaro-log are drivers and views of a session: they
// open its links, set its settings and rules, and show what it does
// through the pipeline's hooks.
//
// Whatever a link hands over goes into the pipeline on the link's thread
// (the session's); a link that starts another stream drops the frame in
// progress; every decoded frame tells the cable check.
class MeterSession : public QObject {
    Q_OBJECT
public:
    // `hooks` are told what each frame does; `hid` is the HID platform the
    // cable link uses (the system's when empty).
    explicit MeterSession(PipelineHooks* hooks = nullptr, std::shared_ptr<HidPlatform> hid = nullptr,
                          QObject* parent = nullptr);
    ~MeterSession() override;

    MeterPipeline& pipeline() { return pipeline_; }
    const MeterPipeline& pipeline() const { return pipeline_; }
    Recording& recording() { return recording_; }

    // The links, each made when first asked for: a program that reads a
    // port never lists the HID devices.
    SerialLink& serial();
    CableLink& cable();
    bool hasCable() const { return cable_ != nullptr; }
    // The hub the cable link shares with other meters' links, given before
    // cable() is first asked for; without one the link has a hub of its own.
    void setCableHub(std::shared_ptr<CableHub> hub) { hub_ = std::move(hub); }

    // Whether what the links hand over reaches the pipeline (a meter the
    // program has no decoder for is not read); it does unless told otherwise.
    // Without, the cable's devices are not read at all.
    void setReadsLinks(bool on);
    // What the links hand over, as they hand it over: bytes from the port,
    // one report from the cable.
    void takeBytes(const std::uint8_t* data, int size);
    void takeReport(std::uint8_t reportId, const std::uint8_t* data, std::uint16_t size);
    // The stream broke off or starts afresh: a frame in progress is dropped
    // (in its place among what is held, while input is held).
    void breakStream();
    // While the table is loaded or saved, what the links hand over is held in
    // the order it came; the last release hands it to the pipeline. Holds nest.
    void holdInput() { held_.start(); }
    void releaseInput();
    bool holdingInput() const { return held_.holding(); }
    // Called after each piece of data a link handed over was handled.
    void setAfterData(std::function<void()> done) { afterData_ = std::move(done); }

private:
    void handled(std::uint64_t decodedBefore);
    void bytesNow(const std::uint8_t* data, int size);
    void reportNow(std::uint8_t reportId, const std::uint8_t* data, std::uint16_t size);

    MeterPipeline pipeline_;
    Recording recording_;
    std::shared_ptr<HidPlatform> hid_;
    std::shared_ptr<CableHub> hub_;
    std::unique_ptr<SerialLink> serial_;
    std::unique_ptr<CableLink> cable_;
    bool readsLinks_ = true;
    InputHold held_;
    std::function<void()> afterData_;
};

} // namespace voltaro
