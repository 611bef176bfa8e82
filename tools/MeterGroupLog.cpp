#include "tools/MeterGroupLog.h"

#include "core/decode/MeterProfile.h"
#include "core/link/hid/LinuxHidPlatform.h"
#include "tools/VoltaroLog.h"

#include <QDateTime>
#include <QFileInfo>

#include <algorithm>
#include <unistd.h>

namespace voltaro {

namespace {

// Rows that cannot be written wait in memory; beyond this the recording gives up.
constexpr std::int64_t kMostBytesWaiting = 64ll << 20;

std::string local(const QString& s) {
    return s.toLocal8Bit().toStdString();
}

QString outputPath(const LogOptions& o) {
    return QFileInfo(QString::fromLocal8Bit(o.out.c_str())).absoluteFilePath();
}

} // namespace

void MeterGroupLog::Meter::frameDone(std::string_view, const Reading& r, const DisplayState&) {
    last = r;
    log->table_->reading(index, r, log->clock_.elapsed());
}

MeterGroupLog::MeterGroupLog(const LogOptions& options, std::FILE* out, std::FILE* err,
                             std::function<void()> stop)
    : options_(options), out_(out), err_(err), stop_(std::move(stop)),
      showStatus_(!options.quiet && options.recording() && ::isatty(::fileno(err)) == 1) {
    // Recording, the lines go along on standard output unless it is a terminal.
    if (options.format != LogOptions::Format::Tsv && (!options.recording() || ::isatty(::fileno(out)) != 1))
        lines_ = std::make_unique<ReadingLines>(options.format);
    const std::string sep = options.decimalSep ? *options.decimalSep : readDecimalSep();
    std::vector<std::string> names;
    // The USB meters' links share the process's one HID controller.
    std::shared_ptr<CableHub> hub;
    for (const LogOptions::Meter& choice : options.meters) {
        auto m = std::make_unique<Meter>();
        m->log = this;
        m->index = static_cast<int>(meters_.size());
        m->session = std::make_unique<MeterSession>(m.get());
        if (choice.usb) {
            if (!hub)
                hub = std::make_shared<CableHub>();
            m->session->setCableHub(hub);
        }
        m->session->pipeline().setDecimalSep(sep);
        m->session->pipeline().setLimitTexts(options.hi, options.lo);
        names.push_back(choice.name);
        meters_.push_back(std::move(m));
    }
    // The options were checked with the same names: every column is made.
    std::vector<std::unique_ptr<DerivedColumn>> derived;
    std::string error;
    for (const std::string& definition : options.calc)
        if (auto column = DerivedColumn::make(definition, names, &error))
            derived.push_back(std::move(column));
    table_ =
        std::make_unique<TimeBaseTable>(std::move(names), std::move(derived), options.interval * 1000ll, sep);
    text_ = std::make_unique<StreamedTableFile>(options.rotate, table_->header(),
                                                [this](const std::string& line) { say(line); });
    clock_.start();

    ticks_.setTimerType(Qt::PreciseTimer);
    ticks_.setInterval(options.interval * 1000);
    QObject::connect(&ticks_, &QTimer::timeout, &ticks_, [this] { tick(); });
    deadline_.setSingleShot(true);
    QObject::connect(&deadline_, &QTimer::timeout, &deadline_, [this] {
        const qint64 left = static_cast<qint64>(options_.duration->count()) * 1000 - clock_.elapsed();
        if (left <= 0)
            end();
        else
            deadline_.start(static_cast<int>(std::min<qint64>(left, 24 * 3600 * 1000)));
    });
}

MeterGroupLog::~MeterGroupLog() {
    for (auto& m : meters_)
        m->session->setReadsLinks(false);
}

int MeterGroupLog::openLinks(std::string* error) {
    for (std::size_t i = 0; i < meters_.size(); ++i) {
        const LogOptions::Meter& choice = options_.meters[i];
        const int status = choice.usb ? openCable(*meters_[i], error) : openPort(*meters_[i], choice, error);
        if (status != VoltaroLog::kOk) {
            *error = choice.name + ": " + *error;
            return status;
        }
    }
    return VoltaroLog::kOk;
}

int MeterGroupLog::openPort(Meter& m, const LogOptions::Meter& choice, std::string* error) {
    SerialLink& link = m.session->serial();
    link.choosePort(QString::fromLocal8Bit(choice.device.c_str()));
    link.setWaitWhenLost(options_.wait);
    const std::string path = local(link.driver().devicePath());
    m.source = link.namedDevice() ? path : choice.device + " (" + path + ")";
    if (!link.open()) {
        *error =
            "cannot open " + (link.namedDevice() ? choice.device : m.source) + ": " + local(link.lastError());
        switch (link.failure()) {
        case SerialLink::Failure::Missing: return VoltaroLog::kPortMissing;
        case SerialLink::Failure::Permission: return VoltaroLog::kPortPermission;
        case SerialLink::Failure::Busy:
        case SerialLink::Failure::None: break;
        }
        return VoltaroLog::kPortBusy;
    }
    QObject::connect(&link, &SerialLink::lost, &ticks_,
                     [this, &m](const QString& device, const QString& reason) {
                         linkLost(m, "the port " + local(device) + " failed (" + local(reason) + ")");
                     });
    QObject::connect(&link, &SerialLink::back, &ticks_, [this, &m](const QString& device) {
        linkBack(m, "the port is back as " + local(device));
    });
    return VoltaroLog::kOk;
}

int MeterGroupLog::openCable(Meter& m, std::string* error) {
    CableLink& cable = m.session->cable();
    if (!cable.hidAvailable()) {
        *error = std::string("no USB cable: HID support is not available (") + LinuxHidPlatform::kLibrary +
                 " could not be loaded)";
        return VoltaroLog::kNoCable;
    }
    const CableChoice choice =
        CableChoice::parse(QString::fromLocal8Bit(options_.meters[m.index].device.c_str()));
    cable.setChoice(choice);
    switch (cable.start()) {
    case CableLink::Start::Started: break;
    case CableLink::Start::NotListed:
        *error = "no USB cable" +
                 (choice.isDefault() ? std::string(" (\"USB to Serial\")") : local(choice.where())) +
                 " is listed among the " + std::to_string(cable.hub().pluggedIn()) +
                 " HID devices; see voltaro-log --list";
        return VoltaroLog::kNoCable;
    case CableLink::Start::Held:
        *error = "the USB cable " + local(cable.selectedDevice()->PnPInfo().DevicePath) + " is read by " +
                 local(cable.holder().describe()) + ": it is not shared";
        return VoltaroLog::kPortBusy;
    case CableLink::Start::NoAccess:
        *error = local(cable.permissionAdvice());
        return VoltaroLog::kCablePermission;
    case CableLink::Start::NotConfigured:
        *error = "the USB cable " + local(cable.selectedDevice()->PnPInfo().DevicePath) +
                 " did not take its configuration report";
        return VoltaroLog::kCableRefused;
    }
    m.source = "the USB cable " + local(cable.node());
    QObject::connect(&cable, &CableLink::lost, &ticks_, [this, &m, &cable] {
        linkLost(m, "the USB cable " + local(cable.node()) + " is gone");
    });
    QObject::connect(&cable, &CableLink::back, &ticks_,
                     [this, &m, &cable] { linkBack(m, "the USB cable is back as " + local(cable.node())); });
    return VoltaroLog::kOk;
}

int MeterGroupLog::openMqtt(const std::string&, std::string* error) {
    std::vector<std::string> names;
    for (const LogOptions::Meter& m : options_.meters)
        names.push_back(m.name);
    std::vector<std::string> said;
    const int status = mqtt_.open(options_, names, &said, error);
    for (const std::string& line : said)
        say(line);
    return status;
}

void MeterGroupLog::linkLost(Meter& m, const std::string& what) {
    const std::string& name = options_.meters[m.index].name;
    table_->setWaiting(m.index, true);
    mqtt_.setWaiting(m.index, true);
    if (!options_.wait) {
        say(name + ": " + what);
        lost_ = true;
        end();
        return;
    }
    say(name + ": " + what + ": waiting for it to come back; the other meters record on");
}

void MeterGroupLog::linkBack(Meter& m, const std::string& what) {
    table_->setWaiting(m.index, false);
    mqtt_.setWaiting(m.index, false);
    say(options_.meters[m.index].name + ": " + what + ": reading goes on");
}

bool MeterGroupLog::openOutput(std::string* error) {
    if (options_.recording()) {
        const QString path = outputPath(options_);
        QString why;
        textOpen_ = text_->open(path, options_.overwrite, &why);
        if (!textOpen_) {
            *error =
                "cannot record into " + local(why) +
                (QFileInfo::exists(path) && !options_.overwrite ? " (give --overwrite to replace it)" : "");
            return false;
        }
    }
    // Standard output's header; a failure to write it shows with the first row,
    // once the event loop runs.
    QByteArray header;
    if (lines_)
        header = QByteArray::fromStdString(lines_->header());
    else if (!options_.recording())
        header = table_->header().chopped(2) + '\n';
    if (!header.isEmpty()) {
        std::fwrite(header.constData(), 1, static_cast<std::size_t>(header.size()), out_);
        std::fflush(out_);
    }
    return true;
}

void MeterGroupLog::start() {
    std::string names;
    for (const auto& m : meters_)
        names += (names.empty() ? "" : ", ") + options_.meters[m->index].name + " (" + m->source + ")";
    say((options_.recording() ? "recording " + names + " into " + local(text_->path()) : "reading " + names) +
        ", a row every " + std::to_string(options_.interval) + " s (Ctrl-C ends)");
    ticks_.start();
    if (options_.duration)
        deadline_.start(
            static_cast<int>(std::min<qint64>(options_.duration->count() * 1000ll, 24 * 3600 * 1000)));
}

void MeterGroupLog::tick() {
    if (ended_)
        return;
    const auto now = ReadingLines::Clock::now();
    const QByteArray time =
        QDateTime::fromMSecsSinceEpoch(
            std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count())
            .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
            .toLatin1();
    writeRow(table_->row(std::string_view(time.constData(), static_cast<std::size_t>(time.size())),
                         clock_.elapsed()));
    ++rows_;
    if (textOpen_)
        text_->tick();
    if (lines_)
        writeLines(rows_, now);
    for (const auto& m : meters_)
        if (table_->inRow(m->index))
            mqtt_.publish(m->index, m->last, m->session->pipeline().decimalSep(), rows_);
    watchOutput();
    pollMqtt();
    if (showStatus_)
        drawStatus();
    if (options_.count && rows_ >= options_.count)
        end();
}

void MeterGroupLog::writeRow(const QByteArray& line) {
    if (textOpen_) {
        text_->append(line);
        return;
    }
    if (lines_)
        return;
    // Standard output takes the lines with the platform's line end.
    QByteArray text = line.chopped(2);
    text += '\n';
    writeOut(text.constData(), static_cast<std::size_t>(text.size()));
}

void MeterGroupLog::writeLines(std::uint64_t row, ReadingLines::Clock::time_point now) {
    std::string text;
    for (const auto& m : meters_) {
        if (!table_->inRow(m->index))
            continue;
        LineReading line = LineReading::of(m->last, m->session->pipeline().decimalSep());
        line.meter = options_.meters[m->index].name;
        line.row = row;
        text += lines_->line(line, now);
    }
    for (int c = 0; c < table_->derivedCount(); ++c) {
        if (const auto value = table_->derivedValue(c))
            text += lines_->derivedLine(table_->derivedName(c), *value, row, now);
    }
    writeOut(text.data(), text.size());
}

void MeterGroupLog::writeOut(const char* text, std::size_t size) {
    if (outClosed_ || size == 0)
        return;
    // The row's lines go out at once, whole.
    if (std::fwrite(text, 1, size, out_) == size && std::fflush(out_) == 0 && !std::ferror(out_))
        return;
    outClosed_ = true;
    if (textOpen_) {
        say("standard output cannot be written: no more lines go there; recording goes on");
        return;
    }
    // Whoever read the rows has gone: there is nothing left to do.
    end();
}

void MeterGroupLog::watchOutput() {
    if (!textOpen_)
        return;
    const bool failing = text_->health() == TextTableFile::Health::Failing;
    if (failing && !std::exchange(toldFailing_, true))
        say("cannot write " + local(text_->lastError()) +
            ": recording goes on, the rows wait in memory and are written once the file can be written "
            "again");
    else if (!failing && std::exchange(toldFailing_, false))
        say(local(text_->path()) + " is written again: every row recorded is in it");
    if (failing && text_->bytesPending() > kMostBytesWaiting) {
        say("giving up: " + std::to_string(text_->rowsPending()) +
            " rows have waited too long to be written");
        giveUp_ = true;
        end();
    }
}

std::string MeterGroupLog::serviceStatus() const {
    std::string s = std::to_string(rows_) + " rows" +
                    (textOpen_ ? " recorded into " + local(text_->path()) : std::string(" printed"));
    for (const auto& m : meters_)
        if (table_->waiting(m->index))
            s += "; " + options_.meters[m->index].name + " waiting";
    if (toldFailing_)
        s += "; NOT WRITTEN";
    return s;
}

void MeterGroupLog::drawStatus() {
    std::string text = std::to_string(rows_) + " rows";
    for (const auto& m : meters_)
        if (table_->waiting(m->index))
            text += " | " + options_.meters[m->index].name + " waiting";
    std::fprintf(err_, "\r%s\x1b[K", text.c_str());
    std::fflush(err_);
    statusDrawn_ = true;
}

void MeterGroupLog::pollMqtt() {
    if (mqtt_.pollFailed([this](const std::string& line) { say(line); }, options_.recording()) &&
        !options_.recording())
        end();
}

void MeterGroupLog::say(const std::string& line) {
    if (std::exchange(statusDrawn_, false))
        std::fputs("\r\x1b[K", err_);
    std::fprintf(err_, "voltaro-log: %s\n", line.c_str());
    std::fflush(err_);
}

void MeterGroupLog::end() {
    if (std::exchange(ended_, true))
        return;
    stop_();
}

int MeterGroupLog::finish() {
    ended_ = true;
    ticks_.stop();
    deadline_.stop();
    for (auto& m : meters_) {
        if (options_.meters[m->index].usb)
            m->session->cable().stop();
        else
            m->session->serial().close();
    }
    int status = VoltaroLog::kOk;
    if (textOpen_) {
        const bool complete = text_->finish();
        const std::string rows =
            std::to_string(text_->rowsWritten()) + " rows in " +
            (text_->parts() > 1 ? std::to_string(text_->parts()) + " files, the last " : std::string()) +
            local(text_->path());
        if (complete && !giveUp_) {
            say(rows);
        } else {
            say(std::to_string(text_->rowsPending()) + " rows could not be written (" +
                local(text_->lastError()) + "); " + rows);
            status = VoltaroLog::kOutputFailed;
        }
    }
    mqtt_.finish([this](const std::string& line) { say(line); });
    if (status == VoltaroLog::kOk && !lost_)
        status = mqtt_.status();
    for (const auto& m : meters_) {
        const auto& s = m->session->pipeline().stats();
        std::fprintf(err_, "%s frames: %llu decoded: %llu dropped: %llu\n",
                     options_.meters[m->index].name.c_str(), static_cast<unsigned long long>(s.frameEnds),
                     static_cast<unsigned long long>(s.decoded), static_cast<unsigned long long>(s.dropped));
    }
    std::fflush(err_);
    return status != VoltaroLog::kOk ? status : lost_ ? VoltaroLog::kLinkLost : VoltaroLog::kOk;
}

} // namespace voltaro
