#pragma once

#include "core/recording/Journal.h"
#include "core/recording/Recording.h"
#include "core/session/MeterSession.h"
#include "tools/FrameLinePrinter.h"
#include "tools/LogOptions.h"
#include "tools/MqttLog.h"
#include "tools/ReadingLines.h"
#include "tools/ScpiServer.h"
#include "tools/StreamedTableFile.h"

#include <QElapsedTimer>
#include <QString>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

namespace voltaro {

// What voltaro-log does with the meter's frames, whichever of its session's
// links brings them: prints each decoded frame, records the readings into
// the output file under the window's recording rules (through the same
// recording, with the same one-second sampling tick), keeps the status line
// on a terminal, and knows when to stop. Runs on the thread of the event loop.
class LogSession : public PipelineHooks {
public:
    // Exit status of a recording whose rows did not all reach the file.
    static constexpr int kOutputFailed = 10;

    // `stop` ends the event loop; the session calls it when it is done.
    LogSession(const LogOptions& options, std::FILE* out, std::FILE* err, std::function<void()> stop);
    ~LogSession() override;
    LogSession(const LogSession&) = delete;
    LogSession& operator=(const LogSession&) = delete;

    // The meter: its links, its pipeline and its recording.
    MeterSession& meter() { return meter_; }

    // Makes the output file (for ".xml", checks that it can be saved); false
    // with `error` set when it cannot. Nothing to do when not recording.
    bool openOutput(std::string* error);
    // --mqtt: connects to the broker, for the meter named `meter` in the
    // topics. 0, or the exit status with `error` set; nothing is published then.
    int openMqtt(const std::string& meter, std::string* error);
    // With --scpi, the SCPI server starts listening, answering *IDN? with
    // `identity`; false with `error` set when it cannot. Says where it listens.
    bool openScpi(const std::string& identity, std::string* error);
    ScpiServer* scpi() { return scpi_.get(); }
    // The link to `source` is open: says so, and the clock, the sampling
    // tick and the status line start.
    void start(const std::string& source);

    // After the link handed over a piece of data: lines printed go out.
    void dataDone();
    // A line on standard error, clear of the status line.
    void say(const std::string& line);
    // What the link waits for (a device file, "the USB cable"), or empty while it reads.
    void setWaiting(const std::string& what);

    // The recording ends: the file is completed (or saved), where it is and
    // how many rows it holds are told, and the frame counts. Returns the exit
    // status: 0, or kOutputFailed when rows did not reach the file.
    int finish();

    void recordReading(const Reading& r, std::string_view frameText) override;
    // What a window's chart would do, journalled as the window journals it
    // (with the next row or point), so that the window recovers the chart too.
    void setChartYRange(double max, double min) override;
    void chartNew() override;
    void frameDone(std::string_view frameText, const Reading& r, const DisplayState& d) override;

    // For a service manager: the link's state, the rows and where they go.
    std::string serviceStatus() const;

private:
    void tick();
    void pollMqtt();
    // A reading's line in the --format asked for (not tsv), flushed at
    // once, and its JSON object to the MQTT broker.
    void writeReading(const Reading& r, std::uint64_t row);
    // Standard output could not be written: the lines stop.
    void outputGone();
    void watchOutput();
    void drawStatus();
    void clearStatus();
    void end();
    std::string statusText() const;
    QString outputPath() const;

    const LogOptions options_;
    std::FILE* out_;
    std::FILE* err_;
    std::function<void()> stop_;
    const bool xml_;
    const bool csv_; // the streamed file is CSV, not the text table
    const bool printLines_;
    const bool showStatus_;

    MeterSession meter_{this};
    Recording& recording_ = meter_.recording();
    FrameLinePrinter printer_;
    std::unique_ptr<ReadingLines> lines_; // --format csv, jsonl or influx
    MqttLog mqtt_;
    bool printed_ = false;
    bool outClosed_ = false;

    StreamedTableFile text_{options_.rotate, {}, [this](const std::string& line) { say(line); }};
    bool textOpen_ = false;
    // The rows streamed to a text file (or CSV) as they are recorded.
    std::unique_ptr<RecordSink> textSink_;
    // The XML packet's rows are in memory until the end; the journal keeps
    // them on disk meanwhile, where the window finds them after a crash.
    std::unique_ptr<Journal> journal_;
    std::unique_ptr<JournalSink> journalSink_;
    bool giveUp_ = false;
    bool toldFailing_ = false;
    bool toldLimit_ = false;

    QTimer sampling_; // the window's one-second Trecord tick
    QTimer status_;
    QTimer deadline_;
    QElapsedTimer clock_;
    std::int64_t durationLeftMs_ = 0;
    bool statusDrawn_ = false;
    bool ended_ = false;
    std::string waiting_;
    std::string source_;               // what the link reads
    std::unique_ptr<ScpiServer> scpi_; // answers from every decoded reading
    Reading last_;                     // the last decoded reading
    bool haveLast_ = false;
};

} // namespace voltaro
