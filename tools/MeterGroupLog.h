#pragma once

#include "core/recording/TimeBaseTable.h"
#include "core/session/MeterSession.h"
#include "tools/LogOptions.h"
#include "tools/MqttLog.h"
#include "tools/ReadingLines.h"
#include "tools/StreamedTableFile.h"

#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace voltaro {

// voltaro-log with named meters: one MeterSession a meter, each on its own
// link, and one TimeBaseTable that takes every meter's decoded readings and
// makes a row of them, with the derived columns, at each tick of the
// sampling interval. The rows go into a text file (written by a thread of
// its own, as one meter's text table is) or, without --out, to standard
// output. A meter whose link goes away is waited for while the others record
// on (with --no-wait the recording ends). Runs on the thread of the event loop.
class MeterGroupLog {
public:
    // `stop` ends the event loop; the log calls it when it is done.
    MeterGroupLog(const LogOptions& options, std::FILE* out, std::FILE* err, std::function<void()> stop);
    ~MeterGroupLog();
    MeterGroupLog(const MeterGroupLog&) = delete;
    MeterGroupLog& operator=(const MeterGroupLog&) = delete;

    // Opens every meter's link, in the order given; on the first that fails
    // returns its exit status (VoltaroLog::Status) with `error` set, else 0.
    int openLinks(std::string* error);
    // Makes the output file; false with `error` set when it cannot.
    bool openOutput(std::string* error);
    // --mqtt: a connection for each meter, its name in the topics (`meter`
    // is not used: each has its own). 0, or the exit status with `error` set.
    int openMqtt(const std::string& meter, std::string* error);
    // A line on standard error, clear of the status line.
    void say(const std::string& line);
    // The ticks start: the first row comes one interval from now.
    void start();
    // Stops the links and completes the file; returns the exit status.
    int finish();

    // For a service manager: the rows, where they go, the meters waited for.
    std::string serviceStatus() const;

    // For tests and benchmarks: the sessions, in the order the meters were given.
    MeterSession& session(int meter) { return *meters_[meter]->session; }

private:
    struct Meter : PipelineHooks {
        MeterGroupLog* log = nullptr;
        int index = 0;
        std::string source; // what the link reads, as said to the user
        std::unique_ptr<MeterSession> session;
        Reading last; // its last decoded reading
        void frameDone(std::string_view, const Reading& r, const DisplayState&) override;
    };

    int openPort(Meter& m, const LogOptions::Meter& choice, std::string* error);
    int openCable(Meter& m, std::string* error);
    void linkLost(Meter& m, const std::string& what);
    void linkBack(Meter& m, const std::string& what);
    void tick();
    void writeRow(const QByteArray& line);
    // The row's lines in the --format asked for (not tsv): each meter's
    // reading in it, then each derived column's value.
    void writeLines(std::uint64_t row, ReadingLines::Clock::time_point now);
    void writeOut(const char* text, std::size_t size);
    void watchOutput();
    void pollMqtt();
    void drawStatus();
    void end();

    const LogOptions options_;
    std::FILE* out_;
    std::FILE* err_;
    std::function<void()> stop_;
    const bool showStatus_;
    std::unique_ptr<ReadingLines> lines_; // --format csv, jsonl or influx, when standard output takes them
    MqttLog mqtt_;
    std::vector<std::unique_ptr<Meter>> meters_;
    std::unique_ptr<TimeBaseTable> table_;
    std::unique_ptr<StreamedTableFile> text_; // made with the table, whose header it takes
    bool textOpen_ = false;
    QTimer ticks_;
    QElapsedTimer clock_;
    QTimer deadline_;
    std::uint64_t rows_ = 0;
    bool lost_ = false;
    bool ended_ = false;
    bool outClosed_ = false;
    bool toldFailing_ = false;
    bool giveUp_ = false;
    bool statusDrawn_ = false;
};

} // namespace voltaro
