#include "tools/LogSession.h"

#include "core/decode/MeterProfile.h"
#include "core/recording/DataFiles.h"
#include "core/recording/JournalFormat.h"
#include "core/recording/UnitSymbols.h"

#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <climits>
#include <sys/ioctl.h>
#include <unistd.h>

namespace voltaro {

namespace {

// Rows the table holds while they stream to a text file: the recording rules
// need only the recorder's counters and the last reading recorded, so the
// table is emptied whenever it reaches this many. Its memory stays that of a
// few hundred rows however long the recording runs.
constexpr qsizetype kStreamedRowsKept = 256;

// Rows that cannot be written wait in memory; beyond this the recording gives up.
constexpr std::int64_t kMostBytesWaiting = 64ll << 20;

bool isTerminal(std::FILE* f) {
    return f && ::isatty(::fileno(f)) == 1;
}

// voltaro-log's streamed file as a sink: each row recorded is written at once.
class TextFileSink : public RecordSink {
public:
    explicit TextFileSink(StreamedTableFile& file) : file_(file) {}
    void rowRecorded(const ReadingTable& table, qsizetype row, std::optional<double>) override {
        file_.append(datafiles::textLine(table, row));
    }

private:
    StreamedTableFile& file_;
};

// The same for CSV: each row dated by the moment it was recorded.
class CsvFileSink : public RecordSink {
public:
    CsvFileSink(StreamedTableFile& file, QString decimalSep)
        : file_(file), decimalSep_(std::move(decimalSep)) {}
    void rowRecorded(const ReadingTable& table, qsizetype row, std::optional<double>) override {
        const QDate date =
            table.lastRowAt()
                ? datafiles::RowDates::dateAt(table.textView(row, ReadingTable::Time), *table.lastRowAt())
                : QDate();
        file_.append(datafiles::csvLine(table, row, decimalSep_, date));
    }

private:
    StreamedTableFile& file_;
    const QString decimalSep_;
};

std::string elapsedText(qint64 ms) {
    const qint64 s = ms / 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                  static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
    return text;
}

} // namespace

LogSession::LogSession(const LogOptions& options, std::FILE* out, std::FILE* err, std::function<void()> stop)
    : options_(options), out_(out), err_(err), stop_(std::move(stop)),
      xml_(options.recording() && datafiles::isXmlFileName(QString::fromLocal8Bit(options.out.c_str()))),
      csv_(options.recording() && datafiles::isCsvFileName(QString::fromLocal8Bit(options.out.c_str()))),
      printLines_(!options.recording() || !isTerminal(out)),
      showStatus_(!options.quiet && isTerminal(err) && (options.recording() || !isTerminal(out))),
      printer_(out, !printLines_ || options.format != LogOptions::Format::Tsv) {
    if (options.format != LogOptions::Format::Tsv)
        lines_ = std::make_unique<ReadingLines>(options.format);
    MeterPipeline& pipeline = meter_.pipeline();
    pipeline.setDecimalSep(options.decimalSep ? *options.decimalSep : readDecimalSep());
    pipeline.setLimitTexts(options.hi, options.lo);
    // The window's recording rules; without a limit, one the numbering never outgrows.
    recording_.recorder().RecordLimit = options.limit ? *options.limit : INT_MAX - 1;
    meter_.setAfterData([this] { dataDone(); });

    sampling_.setInterval(1000);
    QObject::connect(&sampling_, &QTimer::timeout, &sampling_, [this] { tick(); });
    status_.setInterval(250);
    QObject::connect(&status_, &QTimer::timeout, &status_, [this] { drawStatus(); });
    deadline_.setSingleShot(true);
    QObject::connect(&deadline_, &QTimer::timeout, &deadline_, [this] {
        const qint64 left = durationLeftMs_ - clock_.elapsed();
        if (left <= 0)
            end();
        else
            deadline_.start(static_cast<int>(std::min<qint64>(left, 24 * 3600 * 1000)));
    });
}

LogSession::~LogSession() {
    meter_.setReadsLinks(false);
    if (textSink_)
        recording_.removeSink(textSink_.get());
    if (journalSink_)
        recording_.removeSink(journalSink_.get());
}

QString LogSession::outputPath() const {
    return QFileInfo(QString::fromLocal8Bit(options_.out.c_str())).absoluteFilePath();
}

bool LogSession::openOutput(std::string* error) {
    if (!options_.recording())
        return true;
    const QString path = outputPath();
    const std::string shown = path.toLocal8Bit().toStdString();
    if (!xml_) {
        QString why;
        const QString decimalSep = QString::fromStdString(meter_.pipeline().decimalSep());
        if (csv_)
            text_.setHeader(datafiles::csvHeader(decimalSep));
        textOpen_ = text_.open(path, options_.overwrite, &why);
        if (textOpen_) {
            if (csv_)
                textSink_ = std::make_unique<CsvFileSink>(text_, decimalSep);
            else
                textSink_ = std::make_unique<TextFileSink>(text_);
            recording_.addSink(textSink_.get());
        } else {
            *error =
                "cannot record into " + why.toLocal8Bit().toStdString() +
                (QFileInfo::exists(path) && !options_.overwrite ? " (give --overwrite to replace it)" : "");
        }
        return textOpen_;
    }
    if (QFileInfo::exists(path) && !options_.overwrite) {
        *error = "cannot record into " + shown + ": it exists already (give --overwrite to replace it)";
        return false;
    }
    // The packet is saved at the end: find out now whether it can be.
    QSaveFile probe(path);
    if (!probe.open(QIODevice::WriteOnly)) {
        *error = "cannot record into " + shown + ": " + probe.errorString().toLocal8Bit().toStdString();
        return false;
    }
    probe.cancelWriting();
    journal_ = std::make_unique<Journal>(journalFolder());
    journalSink_ = std::make_unique<JournalSink>(*journal_);
    recording_.addSink(journalSink_.get());
    return true;
}

int LogSession::openMqtt(const std::string& meter, std::string* error) {
    std::vector<std::string> said;
    const int status = mqtt_.open(options_, {meter}, &said, error);
    for (const std::string& line : said)
        say(line);
    return status;
}

bool LogSession::openScpi(const std::string& identity, std::string* error) {
    if (!options_.scpiPort)
        return true;
    scpi_ = std::make_unique<ScpiServer>(identity, [this](const std::string& line) { say(line); });
    const QHostAddress address(QString::fromStdString(options_.scpiAddress));
    if (!scpi_->listen(address, static_cast<quint16>(*options_.scpiPort), error)) {
        scpi_.reset();
        return false;
    }
    const QString where = address.protocol() == QAbstractSocket::IPv6Protocol ? "[" + address.toString() + "]"
                                                                              : address.toString();
    say("serving SCPI on " + where.toStdString() + ":" + std::to_string(scpi_->port()));
    return true;
}

void LogSession::start(const std::string& source) {
    source_ = source;
    const std::string into =
        xml_ ? outputPath().toLocal8Bit().toStdString() : text_.path().toLocal8Bit().toStdString();
    say((options_.recording() ? "recording " + source + " into " + into : "reading " + source) +
        " (Ctrl-C ends)");
    if (lines_ && printLines_) {
        // A failure to write it shows with the first reading, once the event loop runs.
        std::fputs(lines_->header().c_str(), out_);
        std::fflush(out_);
    }
    clock_.start();
    sampling_.start();
    if (showStatus_) {
        status_.start();
        drawStatus();
    }
    if (options_.duration) {
        durationLeftMs_ = static_cast<qint64>(options_.duration->count()) * 1000;
        deadline_.start(static_cast<int>(std::min<qint64>(durationLeftMs_, 24 * 3600 * 1000)));
    }
}

void LogSession::end() {
    if (std::exchange(ended_, true))
        return;
    stop_();
}

void LogSession::recordReading(const Reading& r, std::string_view) {
    if (ended_ || !options_.recording())
        return;
    const Recorder::Rules rules{options_.interval > 0, options_.repeat, options_.interval};
    // The sinks have the row, and the journal what the chart did for it.
    if (recording_.record(r, rules) != Recorder::Outcome::Recorded)
        return;
    if (lines_ || mqtt_.active())
        writeReading(r, static_cast<std::uint64_t>(recording_.recorder().NextRecordNo - 1));
    ReadingTable& table = recording_.table();
    if (!xml_ && table.rowCount() >= kStreamedRowsKept)
        table.clear(); // the rows only: numbering and the rules' memory stay
    const Recorder& recorder = recording_.recorder();
    if (recorder.RecordedCount >= recorder.RecordLimit && !std::exchange(toldLimit_, true))
        say("the record limit of " + std::to_string(recorder.RecordLimit) +
            " rows is reached: later readings are not recorded");
    if (options_.count && static_cast<std::uint64_t>(recorder.RecordedCount) >= options_.count)
        end();
}

void LogSession::setChartYRange(double max, double min) {
    if (!ended_)
        recording_.chartScaled(max, min);
}

void LogSession::chartNew() {
    if (!ended_)
        recording_.chartRestarted();
}

void LogSession::frameDone(std::string_view frameText, const Reading& r, const DisplayState& d) {
    if (ended_)
        return;
    // Every decoded reading, recorded or not: READ? waits for the meter's next one.
    if (scpi_)
        scpi_->reading(scpiReading(r, meter_.pipeline().fullScaleCount()));
    // Kept as it is; the status line formats it only when drawn.
    last_ = r;
    haveLast_ = true;
    if (!outClosed_) {
        printer_.frameDone(frameText, r, d);
        printed_ = printLines_ && !lines_;
    }
    // Not recording, every reading is the next line.
    if ((lines_ || mqtt_.active()) && !options_.recording())
        writeReading(r, printer_.linesDone());
    if (!options_.recording() && options_.count && printer_.linesDone() >= options_.count)
        end();
}

void LogSession::dataDone() {
    if (!std::exchange(printed_, false))
        return;
    printer_.flush();
    if (std::fflush(out_) != 0 || std::ferror(out_))
        outputGone();
}

void LogSession::writeReading(const Reading& r, std::uint64_t row) {
    mqtt_.publish(0, r, meter_.pipeline().decimalSep(), row);
    if (!lines_ || !printLines_ || outClosed_)
        return;
    LineReading line = LineReading::of(r, meter_.pipeline().decimalSep());
    line.row = row;
    const std::string text = lines_->line(line, ReadingLines::Clock::now());
    if (std::fwrite(text.data(), 1, text.size(), out_) != text.size() || std::fflush(out_) != 0)
        outputGone();
}

void LogSession::outputGone() {
    if (std::exchange(outClosed_, true))
        return;
    if (!options_.recording()) {
        // Whoever read the lines has gone: there is nothing left to do.
        end();
        return;
    }
    say("standard output cannot be written: no more lines go there; recording goes on");
}

void LogSession::say(const std::string& line) {
    clearStatus();
    std::fprintf(err_, "voltaro-log: %s\n", line.c_str());
    std::fflush(err_);
}

void LogSession::setWaiting(const std::string& what) {
    waiting_ = what;
    mqtt_.setWaiting(0, !what.empty());
}

void LogSession::tick() {
    recording_.recorder().tick(options_.interval > 0);
    if (textOpen_)
        text_.tick();
    watchOutput();
    pollMqtt();
}

void LogSession::pollMqtt() {
    if (mqtt_.pollFailed([this](const std::string& line) { say(line); }, options_.recording()) &&
        !options_.recording())
        end();
}

void LogSession::watchOutput() {
    if (xml_) {
        const bool failing = journal_->health() == Journal::Health::Failing;
        if (failing && !std::exchange(toldFailing_, true))
            say("the rows are not protected against a crash until " + options_.out +
                " is saved at the end: the journal cannot be written (" +
                journal_->lastError().toLocal8Bit().toStdString() + ")");
        else if (!failing && journal_->health() == Journal::Health::Protected &&
                 std::exchange(toldFailing_, false))
            say("the journal is written again: the rows are protected against a crash");
        return;
    }
    if (!textOpen_)
        return;
    const bool failing = text_.health() == TextTableFile::Health::Failing;
    if (failing && !std::exchange(toldFailing_, true))
        say("cannot write " + text_.lastError().toLocal8Bit().toStdString() +
            ": recording goes on, the rows wait in memory and are written once the file can be written "
            "again");
    else if (!failing && std::exchange(toldFailing_, false))
        say(text_.path().toLocal8Bit().toStdString() + " is written again: every row recorded is in it");
    if (failing && text_.bytesPending() > kMostBytesWaiting) {
        say("giving up: " + std::to_string(text_.rowsPending()) + " rows have waited too long to be written");
        giveUp_ = true;
        end();
    }
}

std::string LogSession::statusText() const {
    std::string s = options_.recording() ? std::to_string(recording_.recorder().RecordedCount) + " rows"
                                         : std::to_string(printer_.linesDone()) + " frames";
    if (haveLast_) {
        const QString unit = unitSymbols(
            QString::fromLatin1(last_.UnitText.data(), static_cast<qsizetype>(last_.UnitText.size())));
        s += " | " + last_.ValueText + ' ' + unit.toLocal8Bit().toStdString() + ' ' +
             std::string(last_.FuncText) + ' ' + std::string(last_.JudgeText);
    }
    s += " | " + elapsedText(clock_.isValid() ? clock_.elapsed() : 0);
    if (!waiting_.empty())
        s += " | waiting for " + waiting_;
    else if (toldLimit_)
        s += " | record limit reached";
    if (toldFailing_)
        s += " | NOT WRITTEN";
    return s;
}

std::string LogSession::serviceStatus() const {
    std::string s = waiting_.empty() ? "reading " + source_ : "waiting for " + waiting_;
    if (!options_.recording())
        return s + "; " + std::to_string(printer_.linesDone()) + " frames";
    s += "; " + std::to_string(recording_.recorder().RecordedCount) + " rows recorded into " +
         (xml_ ? outputPath() : text_.path()).toLocal8Bit().toStdString();
    if (toldLimit_)
        s += "; record limit reached";
    if (toldFailing_)
        s += "; NOT WRITTEN";
    return s;
}

void LogSession::drawStatus() {
    // One line, however narrow the terminal: a line that wrapped could not be drawn over.
    QString text = QString::fromLocal8Bit(statusText().c_str());
    winsize size{};
    if (::ioctl(::fileno(err_), TIOCGWINSZ, &size) == 0 && size.ws_col > 1 && text.size() >= size.ws_col)
        text.truncate(size.ws_col - 1);
    std::fprintf(err_, "\r%s\x1b[K", text.toLocal8Bit().constData());
    std::fflush(err_);
    statusDrawn_ = true;
}

void LogSession::clearStatus() {
    if (!std::exchange(statusDrawn_, false))
        return;
    std::fputs("\r\x1b[K", err_);
}

int LogSession::finish() {
    ended_ = true;
    sampling_.stop();
    status_.stop();
    deadline_.stop();
    clearStatus();
    printer_.flush();
    std::fflush(out_);
    int status = 0;
    if (options_.recording()) {
        const std::string path = outputPath().toLocal8Bit().toStdString();
        if (xml_) {
            const qsizetype rows = recording_.table().rowCount();
            const auto saved = datafiles::saveXml(recording_.table(), outputPath());
            if (saved.ok) {
                journal_->empty();
                say(std::to_string(rows) + " rows in " + path);
            } else if (journal_->health() == Journal::Health::Failing) {
                say("could not save " + path + " (" + saved.error.toLocal8Bit().toStdString() +
                    "), and the journal cannot be written either (" +
                    journal_->lastError().toLocal8Bit().toStdString() + "): its " + std::to_string(rows) +
                    " rows are lost");
                status = kOutputFailed;
            } else {
                say("could not save " + path + " (" + saved.error.toLocal8Bit().toStdString() + "): its " +
                    std::to_string(rows) + " rows are kept in a journal in " +
                    journalFolder().toLocal8Bit().toStdString() +
                    ", which the window offers to recover when it starts");
                status = kOutputFailed;
            }
            journal_.reset();
        } else if (textOpen_) {
            const bool complete = text_.finish();
            const std::string rows =
                std::to_string(text_.rowsWritten()) + " rows in " +
                (text_.parts() > 1 ? std::to_string(text_.parts()) + " files, the last " : std::string()) +
                text_.path().toLocal8Bit().toStdString();
            if (complete && !giveUp_) {
                say(rows);
            } else {
                say(std::to_string(text_.rowsPending()) + " rows could not be written (" +
                    text_.lastError().toLocal8Bit().toStdString() + "); " + rows);
                status = kOutputFailed;
            }
        }
    }
    mqtt_.finish([this](const std::string& line) { say(line); });
    if (status == 0)
        status = mqtt_.status();
    const auto& s = meter_.pipeline().stats();
    std::fprintf(err_, "frames: %llu decoded: %llu dropped: %llu\n",
                 static_cast<unsigned long long>(s.frameEnds), static_cast<unsigned long long>(s.decoded),
                 static_cast<unsigned long long>(s.dropped));
    std::fflush(err_);
    return status;
}

} // namespace voltaro
