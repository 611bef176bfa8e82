#include "tools/LogOptions.h"

#include "core/decode/MeterProfile.h"
#include "core/decode/NumberFormat.h"
#include "core/decode/ReadingEvaluator.h"
#include "core/recording/DataFiles.h"
#include "core/recording/DerivedColumn.h"

#include <QHostAddress>
#include <QString>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>

namespace voltaro {

namespace {

// A whole number from `least` to `most`, digits only.
std::optional<std::uint64_t> wholeNumber(const std::string& text, std::uint64_t least, std::uint64_t most) {
    if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const std::uint64_t v = std::strtoull(text.c_str(), nullptr, 10);
    if (v < least || v > most)
        return std::nullopt;
    return v;
}

// What a decimal separator may be: one character that cannot be part of a
// number otherwise.
bool validSeparator(const std::string& text) {
    const QString s = QString::fromUtf8(text);
    if (s.size() != 1)
        return false;
    const QChar c = s.front();
    return !c.isDigit() && !c.isLetter() && !c.isSpace() && c.isPrint() && c != u'-' && c != u'+';
}

// The separator in force: the one given, else the system locale's (as the window reads it).
std::string separatorFor(const LogOptions& o, const std::string& systemSep) {
    return o.decimalSep ? *o.decimalSep : systemSep;
}

std::optional<double> limitValue(std::string text, const std::string& sep) {
    // The limits are compared as the pipeline sees them, in the separator in force.
    ReadingEvaluator::relocaliseLimit(text, sep);
    return parseNumber(text, sep);
}

// --scpi's [ADDR:]PORT ("[::1]:5025" for an IPv6 address); false when it is not one.
bool scpiEndpoint(const std::string& text, LogOptions& o) {
    const std::size_t colon = text.rfind(':');
    const auto port = wholeNumber(colon == std::string::npos ? text : text.substr(colon + 1), 0, 65535);
    if (!port)
        return false;
    o.scpiPort = static_cast<int>(*port);
    if (colon == std::string::npos)
        return true;
    std::string address = text.substr(0, colon);
    if (address.size() > 2 && address.front() == '[' && address.back() == ']')
        address = address.substr(1, address.size() - 2);
    o.scpiAddress = address;
    // An IPv4 address in its four parts: "1.2.3" would be read as 1.2.0.3.
    if (address.find(':') == std::string::npos && std::count(address.begin(), address.end(), '.') != 3)
        return false;
    return !QHostAddress(QString::fromStdString(address)).isNull();
}

} // namespace

std::optional<std::chrono::seconds> parseDuration(const std::string& text) {
    if (text.empty())
        return std::nullopt;
    std::string digits = text;
    std::uint64_t unit = 1;
    switch (text.back()) {
    case 's': unit = 1; break;
    case 'm': unit = 60; break;
    case 'h': unit = 3600; break;
    default: unit = 0; break;
    }
    if (unit != 0)
        digits.pop_back();
    else
        unit = 1;
    // Up to ten years: far beyond any recording, and well within a timer's reach.
    const auto n = wholeNumber(digits, 1, 10ull * 366 * 24 * 3600 / unit);
    if (!n)
        return std::nullopt;
    return std::chrono::seconds(static_cast<std::int64_t>(*n * unit));
}

namespace {

// The reason for a refusal goes to a terminal as one line: an argument's line
// breaks, escapes and other controls are shown, not acted on.
std::string oneLine(const std::string& text) {
    std::string shown;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\n')
            shown += "\\n";
        else if (c == '\t')
            shown += "\\t";
        else if (c == '\r')
            shown += "\\r";
        else if (u < 0x20 || u == 0x7f) {
            static const char digits[] = "0123456789abcdef";
            shown += "\\x";
            shown += digits[u >> 4];
            shown += digits[u & 15];
        } else
            shown += c;
    }
    return shown;
}

// The command line, one argument at a time: each group of options takes the
// arguments it knows and says whether it did, or why not.
class Parser {
public:
    Parser(const std::vector<std::string>& args, std::string& error) : args_(args), error_(error) {}

    std::optional<LogOptions> run() {
        for (i_ = 0; i_ < args_.size(); ++i_) {
            const std::string& a = args_[i_];
            Taken taken = takeWhatToDo(a);
            if (taken == Taken::No)
                taken = takeRecordingOption(a);
            if (taken == Taken::No)
                taken = takeReadingOption(a);
            if (taken == Taken::No)
                taken = takeMqttOption(a);
            if (taken == Taken::No)
                error_ = "unknown argument \"" + a + "\"";
            if (taken != Taken::Yes)
                return std::nullopt;
        }
        if (o_.help || o_.version)
            return o_;
        return consistent() ? std::optional<LogOptions>(o_) : std::nullopt;
    }

private:
    enum class Taken { No, Yes, Failed };

    // The option's value, or a mistake when there is none.
    bool value(const std::string& a, const char* what) {
        if (i_ + 1 >= args_.size() || args_[i_ + 1].empty()) {
            error_ = a + " needs " + what;
            return false;
        }
        v_ = args_[++i_];
        return true;
    }

    // A whole number from `least` to `most`, or the mistake `wanted` names.
    std::optional<std::uint64_t> number(const std::string& a, std::uint64_t least, std::uint64_t most,
                                        const std::string& wanted) {
        const auto n = wholeNumber(v_, least, most);
        if (!n)
            error_ = a + " needs " + wanted + ", not \"" + v_ + "\"";
        return n;
    }

    void rule(const std::string& a) {
        recordingRule_ = true;
        if (firstRule_.empty())
            firstRule_ = a;
    }

    Taken takeWhatToDo(const std::string& a) {
        if (a == "--help" || a == "-h") {
            o_.help = true;
        } else if (a == "--version" || a == "-V") {
            o_.version = true;
        } else if (a == "--list") {
            if (o_.mode != LogOptions::Mode::None || !o_.meters.empty()) {
                error_ = "choose one of --list, --usb and --port";
                return Taken::Failed;
            }
            o_.mode = LogOptions::Mode::List;
        } else if (a == "--usb" || a == "--port") {
            return takeMeter(a);
        } else if (a == "--calc") {
            if (!value(a, "NAME=EXPRESSION"))
                return Taken::Failed;
            o_.calc.push_back(v_);
        } else {
            return Taken::No;
        }
        return Taken::Yes;
    }

    // --port DEVICE, --port NAME=DEVICE, --usb [CABLE], --usb NAME=[CABLE].
    Taken takeMeter(const std::string& a) {
        if (o_.mode == LogOptions::Mode::List) {
            error_ = "choose one of --list, --usb and --port";
            return Taken::Failed;
        }
        LogOptions::Meter m;
        m.usb = a == "--usb";
        if (!m.usb) {
            if (!value(a, "COM1..COM4, a device file or NAME=DEVICE"))
                return Taken::Failed;
            m.device = v_;
        } else if (i_ + 1 < args_.size() && !args_[i_ + 1].empty() && args_[i_ + 1].front() != '-') {
            // The cable's name is optional: an option follows instead when there is none.
            m.device = args_[++i_];
        }
        const std::size_t eq = m.device.find('=');
        const std::string name = m.device.substr(0, eq);
        // A device file begins with "/", a port choice has no "=": what comes
        // before an "=" is a name when it looks like one.
        if (eq != std::string::npos && !name.empty() && std::isalpha(static_cast<unsigned char>(name[0])) &&
            name.find('/') == std::string::npos) {
            if (!DerivedColumn::validMeterName(name)) {
                error_ = a + " " + m.device + ": a meter's name is a letter, then letters, digits or \"_\" " +
                         "(at most 32), and not a function's name";
                return Taken::Failed;
            }
            m.name = name;
            m.device = m.device.substr(eq + 1);
        }
        if (!m.usb && m.device.empty()) {
            error_ = a + " " + m.name + "= needs a device after the name";
            return Taken::Failed;
        }
        o_.meters.push_back(m);
        return Taken::Yes;
    }

    Taken takeRecordingOption(const std::string& a) {
        if (a == "--out") {
            if (!value(a, "a file name"))
                return Taken::Failed;
            o_.out = v_;
            otherThanList_ = true;
            return Taken::Yes;
        }
        if (a == "--rotate") {
            if (!value(a, "a time or a size"))
                return Taken::Failed;
            const auto r = FileRotation::parse(v_);
            if (!r) {
                error_ =
                    "--rotate needs a time (30m, 12h, 1d) or a size (500k, 100M, 2G), whole and above 0, "
                    "not \"" +
                    v_ + "\"";
                return Taken::Failed;
            }
            o_.rotate = *r;
            otherThanList_ = true;
            return Taken::Yes;
        }
        if (a == "--overwrite") {
            o_.overwrite = true;
        } else if (a == "--interval") {
            if (!value(a, "a number of seconds"))
                return Taken::Failed;
            const auto n =
                number(a, 1, INT_MAX, "a whole number of seconds from 1 to " + std::to_string(INT_MAX));
            if (!n)
                return Taken::Failed;
            o_.interval = static_cast<int>(*n);
        } else if (a == "--no-repeat") {
            o_.repeat = false;
        } else if (a == "--limit") {
            if (!value(a, "a number of rows"))
                return Taken::Failed;
            // One below the largest number, so the record numbers never overflow.
            const auto n =
                number(a, 1, INT_MAX - 1, "a whole number of rows from 1 to " + std::to_string(INT_MAX - 1));
            if (!n)
                return Taken::Failed;
            o_.limit = static_cast<int>(*n);
        } else {
            return Taken::No;
        }
        rule(a);
        return Taken::Yes;
    }

    Taken takeReadingOption(const std::string& a) {
        if (a == "--hi" || a == "--lo") {
            if (!value(a, "a number"))
                return Taken::Failed;
            (a == "--hi" ? o_.hi : o_.lo) = v_;
        } else if (a == "--decimal-sep") {
            if (!value(a, "one character"))
                return Taken::Failed;
            if (!validSeparator(v_)) {
                error_ =
                    "--decimal-sep needs one character that is not a digit, letter, sign or blank, not \"" +
                    v_ + "\"";
                return Taken::Failed;
            }
            o_.decimalSep = v_;
        } else if (a == "--duration") {
            if (!value(a, "a time such as 90, 90s, 15m or 2h"))
                return Taken::Failed;
            o_.duration = parseDuration(v_);
            if (!o_.duration) {
                error_ =
                    "--duration needs a time such as 90, 90s, 15m or 2h (whole seconds, minutes or hours "
                    "above 0), not \"" +
                    v_ + "\"";
                return Taken::Failed;
            }
        } else if (a == "--count") {
            if (!value(a, "a number"))
                return Taken::Failed;
            const auto n = number(a, 1, UINT64_MAX, "a whole number above 0");
            if (!n)
                return Taken::Failed;
            o_.count = *n;
        } else if (a == "--format") {
            return takeFormat(a);
        } else if (a == "--scpi") {
            if (!value(a, "[ADDRESS:]PORT"))
                return Taken::Failed;
            if (!scpiEndpoint(v_, o_)) {
                error_ = "--scpi needs a port from 0 to 65535, after an IP address and \":\" when not "
                         "127.0.0.1, not \"" +
                         v_ + "\"";
                return Taken::Failed;
            }
        } else if (a == "--quiet" || a == "-q") {
            o_.quiet = true;
        } else if (a == "--no-wait") {
            o_.wait = false;
        } else {
            return Taken::No;
        }
        otherThanList_ = true;
        return Taken::Yes;
    }

    Taken takeMqttOption(const std::string& a) {
        if (a == "--mqtt") {
            if (!value(a, "a URL such as mqtt://localhost/lab"))
                return Taken::Failed;
            o_.mqtt = v_;
        } else if (a == "--mqtt-ca" || a == "--mqtt-auth") {
            if (!value(a, "a file name"))
                return Taken::Failed;
            (a == "--mqtt-ca" ? o_.mqttCa : o_.mqttAuth) = v_;
        } else if (a == "--name") {
            if (!value(a, "a name"))
                return Taken::Failed;
            if (!DerivedColumn::validMeterName(v_)) {
                error_ = "--name " + v_ + ": a meter's name is a letter, then letters, digits or \"_\" " +
                         "(at most 32), and not a function's name";
                return Taken::Failed;
            }
            o_.name = v_;
        } else {
            return Taken::No;
        }
        otherThanList_ = true;
        return Taken::Yes;
    }

    Taken takeFormat(const std::string& a) {
        if (!value(a, "tsv, csv, jsonl or influx"))
            return Taken::Failed;
        using F = LogOptions::Format;
        static const std::pair<const char*, F> formats[] = {
            {"tsv", F::Tsv}, {"csv", F::Csv}, {"jsonl", F::Jsonl}, {"influx", F::Influx}};
        for (const auto& [name, format] : formats) {
            if (v_ == name) {
                o_.format = format;
                otherThanList_ = true;
                return Taken::Yes;
            }
        }
        error_ = "--format needs tsv, csv, jsonl or influx, not \"" + v_ + "\"";
        return Taken::Failed;
    }

    // What the options ask, taken together, can be done.
    bool consistent() {
        if (o_.mode == LogOptions::Mode::None && o_.meters.empty()) {
            error_ = "nothing to do: give --list, --usb or --port";
            return false;
        }
        if (o_.meters.size() == 1 && o_.meters.front().name.empty()) {
            const LogOptions::Meter& m = o_.meters.front();
            o_.mode = m.usb ? LogOptions::Mode::Usb : LogOptions::Mode::Port;
            o_.port = m.usb ? std::string() : m.device;
            o_.cable = m.usb ? m.device : std::string();
        } else if (!o_.meters.empty()) {
            o_.mode = LogOptions::Mode::Meters;
            if (!meters())
                return false;
        }
        if (o_.scpiPort && o_.mode == LogOptions::Mode::Meters) {
            error_ = "--scpi serves one meter: give it one --port or --usb without a NAME=";
            return false;
        }
        if (!o_.calc.empty() && o_.mode != LogOptions::Mode::Meters) {
            error_ = "--calc works on named meters: --port NAME=DEVICE, --usb NAME=CABLE";
            return false;
        }
        if ((!o_.mqttCa.empty() || !o_.mqttAuth.empty()) && o_.mqtt.empty()) {
            error_ = std::string(o_.mqttCa.empty() ? "--mqtt-auth" : "--mqtt-ca") + " goes with --mqtt URL";
            return false;
        }
        if (!o_.name.empty() && o_.mode == LogOptions::Mode::Meters) {
            error_ =
                "--name names the one meter; named meters have theirs: --port NAME=DEVICE, --usb NAME=CABLE";
            return false;
        }
        if (o_.mode == LogOptions::Mode::List && (otherThanList_ || recordingRule_)) {
            error_ = "--list takes no other option";
            return false;
        }
        if (recordingRule_ && !o_.recording() && o_.mode != LogOptions::Mode::Meters) {
            error_ = firstRule_ + " applies to recording: give --out FILE";
            return false;
        }
        const std::string sep = separatorFor(o_, readDecimalSep());
        const auto hi = limitValue(o_.hi, sep);
        const auto lo = limitValue(o_.lo, sep);
        if (!hi || !lo) {
            error_ = std::string(hi ? "--lo" : "--hi") + " needs a number, not \"" + (hi ? o_.lo : o_.hi) +
                     "\"" + " (decimal separator \"" + sep + "\")";
            return false;
        }
        if (*hi < *lo) {
            error_ = "--hi " + o_.hi + " is below --lo " + o_.lo + ": every reading would fail";
            return false;
        }
        return rotation();
    }

    // --rotate writes the streamed file in parts, each made afresh.
    bool rotation() {
        const char* refusal = nullptr;
        if (!o_.rotate.on() || o_.mode == LogOptions::Mode::List)
            return true;
        if (!o_.recording())
            refusal = "--rotate applies to recording: give --out FILE";
        else if (datafiles::isXmlFileName(QString::fromLocal8Bit(o_.out.c_str())))
            refusal =
                "--rotate needs a file written as the rows come: the XML packet is written only when the "
                "recording ends, give --out a name not ending in \".xml\"";
        else if (o_.overwrite)
            refusal = "--rotate never replaces a file (each part takes the next free number): leave out "
                      "--overwrite";
        if (refusal)
            error_ = refusal;
        return !refusal;
    }

    // Named meters: each has a name of its own, the rules of one meter's
    // recording do not apply, and every derived column can be worked out.
    bool meters() {
        std::vector<std::string> names;
        std::vector<std::string> cables;
        int cableMeters = 0;
        for (const LogOptions::Meter& m : o_.meters) {
            if (m.name.empty()) {
                error_ = "several meters need a name each: --port NAME=DEVICE, --usb NAME=CABLE";
                return false;
            }
            if (std::find(names.begin(), names.end(), m.name) != names.end()) {
                error_ = "two meters are named " + m.name;
                return false;
            }
            names.push_back(m.name);
            cableMeters += m.usb ? 1 : 0;
        }
        // Several cables are told apart only by what names them.
        for (const LogOptions::Meter& m : o_.meters) {
            if (!m.usb || cableMeters < 2)
                continue;
            const std::string cable =
                QString::fromLocal8Bit(m.device.c_str()).trimmed().toLocal8Bit().toStdString();
            if (cable.empty()) {
                error_ = "several USB meters need a cable each: --usb " + m.name +
                         "=CABLE, its port path (1-1.2), node or serial number";
                return false;
            }
            if (std::find(cables.begin(), cables.end(), cable) != cables.end()) {
                error_ = "two meters are on the USB cable " + cable;
                return false;
            }
            cables.push_back(cable);
        }
        if (!o_.repeat || o_.limit) {
            error_ = std::string(o_.limit ? "--limit" : "--no-repeat") +
                     " applies to one meter's recording, not to named meters";
            return false;
        }
        if (const QString out = QString::fromLocal8Bit(o_.out.c_str());
            o_.recording() && (datafiles::isXmlFileName(out) || datafiles::isCsvFileName(out))) {
            error_ = "named meters are recorded into a tab-separated table: give --out a name not ending in "
                     "\".xml\" or \".csv\"";
            return false;
        }
        if (o_.interval == 0)
            o_.interval = 1;
        return derivedColumns(names);
    }

    bool derivedColumns(const std::vector<std::string>& names) {
        std::vector<std::string> columns{"Time"};
        for (const std::string& n : names)
            for (const char* c : {".value", ".unit", ".function", ".judgement", ".age"})
                columns.push_back(n + c);
        for (const std::string& definition : o_.calc) {
            const auto column = DerivedColumn::make(definition, names, &error_);
            if (!column)
                return false;
            if (std::find(columns.begin(), columns.end(), column->name()) != columns.end()) {
                error_ = "--calc " + definition + ": there is a column " + column->name() + " already";
                return false;
            }
            columns.push_back(column->name());
        }
        return true;
    }

    const std::vector<std::string>& args_;
    std::string& error_;
    std::size_t i_ = 0;
    std::string v_; // the value of the option just read
    LogOptions o_;
    bool otherThanList_ = false;
    bool recordingRule_ = false;
    std::string firstRule_;
};

} // namespace

std::optional<LogOptions> parseLogArgs(const std::vector<std::string>& args, std::string& error) {
    auto o = Parser(args, error).run();
    if (!o)
        error = oneLine(error);
    return o;
}

const char* logUsage() {
    return R"(Usage: voltaro-log --list
  or:  voltaro-log --port PORT [OPTION]...
  or:  voltaro-log --usb [CABLE] [OPTION]...
  or:  voltaro-log --port NAME=PORT|--usb NAME=[CABLE] ... [--calc COLUMN=EXPR]...
Read the multimeter through a serial port or its USB cable, print its decoded
frames, and record its readings into a data file as the program's window does.
Needs no display.

Where the meter is:
      --list           show the four port choices with the device files they
                       open, then every HID device with its node, the USB port
                       path of its socket ("-" when not on USB), ids, access
                       and text ("<- the USB cable" after the one --usb uses)
      --port PORT      read a serial port: COM1..COM4, the window's port choices
                       (VOLTARO_COM1..VOLTARO_COM4 name other devices for them),
                       or a device file such as /dev/ttyUSB0
      --usb [CABLE]    read the meter's USB cable: the one CABLE names, else
                       the last HID device listed as exactly "USB to Serial";
                       it is sent its configuration report first. CABLE is
                       its node (/dev/hidraw3), the port path of its socket
                       as --list shows it (1-1.2) or its serial number. A
                       cable named is waited for in its socket only: plugged
                       into another one it is another meter

Several meters (each --port or --usb with a NAME: a letter, then letters,
digits or "_"), recorded together into one table:
      --port NAME=PORT the meter NAME on a serial port (PORT as above)
      --usb NAME=[CABLE]
                       the meter NAME on the USB cable CABLE names (as for
                       --usb above); with several USB meters each names
                       its own cable
      --calc COLUMN=EXPR
                       a derived column: EXPR over the meters' names, each
                       the meter's value in SI units (V, A, ohm, Hz, F; degrees
                       and % as shown), with + - * / ^, parentheses and
                       functions such as sqrt, abs, min, max; repeatable.
                       Empty where a meter it uses has no reading, a stale one
                       or an overload, or where the result is no number
  One row every --interval seconds (default 1): the time, then for each meter
  NAME.value, NAME.unit, NAME.function, NAME.judgement and NAME.age (seconds
  since its reading), then each derived column. A reading older than two
  intervals is stale: its judgement reads "stale"; a meter whose port or cable
  is gone reads "waiting" while the others record on. The rows go to --out
  FILE (a tab-separated UTF-8 table) or, without it, to standard output;
  --count counts rows. --no-repeat, --limit, ".xml" and ".csv" apply to one
  meter only.

Recording:
      --out FILE       record the readings into FILE. A name ending in ".xml"
                       gets the XML data packet, written when the recording
                       ends; one ending in ".csv" CSV for spreadsheets (UTF-8,
                       with each row's date and time; fields separated by ";"
                       where the decimal separator is ","); any other name the
                       tab-separated text table. CSV and the text table are
                       written as the rows come (each row is on disk within a
                       second). All load in the window through "Open old data
                       files"
      --overwrite      replace FILE when it exists; without it an existing FILE
                       is left alone and nothing is recorded
      --rotate T|SIZE  write the text table in parts: a new part after the
                       time T (30m, 12h, 1d; a time a day divides ends on the
                       clock's multiples of it from midnight, 1d at midnight)
                       or before a row would take a part past SIZE (500k, 100M,
                       2G). Part names add the day and a number to FILE's:
                       bench.txt gives bench-20261211-0001.txt, -0002 ... Each
                       part is a whole table with its header; a row is in one
                       part only. Parts are never replaced (no --overwrite)
      --interval S     the sampling interval: a reading is recorded, then none
                       for S seconds (the window's "Sampling Interval", ticked);
                       without it every reading the other rules let through
      --no-repeat      a reading the same as the last one recorded (value,
                       function, unit and range) is not recorded again (the
                       window's "Repeat" box unticked)
      --limit N        the record limit: at most N rows; later readings are
                       still decoded and printed, but not recorded. Without it
                       there is no limit: the window starts with 10000 to keep
                       its grid small, but this program streams its rows to disk
                       and holds none of them (for ".xml" it holds them all, at
                       less than 100 bytes a row)
      --hi X           the upper judgement limit (default 22000)
      --lo Y           the lower judgement limit (default -22000); a reading
                       from Y to X passes
      --decimal-sep C  the decimal separator of values and limits (default:
                       the system locale's, as in the window)

When to stop (by default at Ctrl-C, SIGINT, SIGTERM or SIGHUP):
      --duration T     after the time T: seconds (90 or 90s), minutes (15m) or
                       hours (2h), whole numbers, counted from the start
      --count N        after N rows are recorded (with --out), or N frames are
                       printed (without it)

Output:
  Without --out, one tab-separated line per decoded frame on standard output:
  the frame, the value as recorded, function, unit, range, count, scaled value,
  decimal-point index, Pass/Fail, bar position, lit elements and digit texts.
  With --out the same lines go to standard output only when it is not a
  terminal; on a terminal, standard error shows one status line instead (rows
  recorded, the last reading with its unit and Pass/Fail, the time elapsed).
  The last line on standard error is "frames: N decoded: M dropped: K".
      --format F       the lines on standard output, for other programs:
                       tsv (the default): the lines above (named meters: the
                       table's rows); csv (RFC 4180, a header line first),
                       jsonl (a JSON object a line) or influx (InfluxDB line
                       protocol: measurement "voltaro", tags function, meter
                       and unit, fields value, judgement and overload, a
                       nanosecond time that rises from line to line). These
                       three print one line per reading (with --out, per row
                       recorded; named meters: each meter's reading in the
                       row, then each --calc value, its function "derived"),
                       each written at once: the time (ISO 8601 with its zone
                       offset), the meter's name, the row, the value in SI
                       units (none for an overload, 0L) and its unit, the
                       display's digits and unit, function, range, Pass/Fail.
                       Numbers have a point whatever the locale.
  -q, --quiet          no status line (the messages about the link and the
                       file still come)
      --no-wait        end (status 9) when the port or the cable goes away;
                       by default the program says so and waits for the same
                       adapter or cable to come back, then records on into the
                       same file
      --config FILE    the options written in FILE, one a line, in its place:
                       the option, a blank, then its value as it stands (no
                       quotes, blanks kept); empty lines and lines starting
                       with "#" are skipped. The service voltaro-log@NAME runs
                       voltaro-log --config /etc/voltaro-log/NAME.conf
      --scpi [ADDR:]PORT
                       answer test scripts as an instrument does on port 5025
                       (raw socket SCPI, a command a line): *IDN?, FETCh? (the
                       newest reading in SI units), READ? and MEASure? (the
                       next), CONFigure?, SYSTem:ERRor?, *RST, *CLS. On
                       127.0.0.1 unless ADDR is given; PORT 0 takes a free
                       one, named on standard error. One meter only
  -h, --help           show this help and exit
  -V, --version        show the version and exit

Publishing to an MQTT broker (each reading as it is recorded, or printed
without --out; named meters: each meter's reading in each row):
      --mqtt URL       mqtt://HOST[:PORT]/PREFIX (port 1883), or mqtts://
                       for TLS (port 8883). Each reading goes to
                       PREFIX/METER/reading at QoS 1 as the JSON object of
                       its --format jsonl line (its row tells a repeat after
                       a reconnection); PREFIX/METER/state holds (retained)
                       online, waiting (the port or cable is gone) or offline
                       (at the end, or the broker's last will should the
                       program die); a Home Assistant sensor is announced at
                       homeassistant/sensor/ID/config. METER is the meter's
                       NAME, --name, or else the port's or cable's name. While
                       the broker cannot be reached the readings wait, in
                       order, in a queue of 100000 (12 minutes of the line's
                       137 a second); what it cannot hold is counted and told
      --mqtt-ca FILE   the CA certificates that sign the broker's (mqtts://;
                       default: the system's)
      --mqtt-auth FILE the user on its first line, the password on its second
                       (keep it chmod 600); without it VOLTARO_MQTT_USER and
                       VOLTARO_MQTT_PASSWORD, if set. Never on the command line
      --name NAME      the one meter's name in the topics
  A bad --mqtt, a refusal by the broker or a failed TLS connection is told in
  one line: with --out the recording goes on and the status tells it at the
  end (11, 12, 13), without it the program ends with that status.

Examples:
  voltaro-log --port /dev/ttyUSB0 --out readings.txt --duration 8h
      record every reading of the meter on a USB-serial adapter for 8 hours
  voltaro-log --usb --out batch.xml --interval 10 --hi 5.1 --lo 4.9
      record one reading every 10 seconds through the USB cable, judged
      against 4.9 to 5.1, until Ctrl-C
  voltaro-log --usb 1-1.2 --out volts.txt
      record the meter whose cable is in the USB socket 1-1.2
  voltaro-log --usb --out volts.csv --duration 1h
      record for an hour into CSV, then open it in a spreadsheet
      (libreoffice --calc volts.csv)
  voltaro-log --port V=/dev/ttyUSB0 --usb I= --calc 'P[W]=V*I' --out power.txt
      record a voltage and a current meter once a second, with their power
  voltaro-log --usb --mqtt mqtt://localhost/lab
      publish each reading to lab/usb/reading (mosquitto_sub -t 'lab/#' -v)
  voltaro-log --usb --count 600 --format influx | curl --data-binary @- \
      'http://127.0.0.1:8086/write?db=bench&precision=ns'
      600 readings into the InfluxDB database bench

Exit status:
  0   done: interrupted, or the duration or count reached
  2   bad command line
  3   no USB cable listed (no HID devices, none "USB to Serial", no HID support)
  4   the cable is listed but this user may not open its node
  5   the port exists but will not open (in use, or not a serial port), or
      another window or voltaro-log reads the port or cable (it is named)
  6   the port's device file does not exist
  7   this user may not open the port (add it to the dialout group)
  8   the cable did not take its configuration report
  9   the cable was removed, or the port failed, with --no-wait
  10  the output file could not be made, or rows could not be written to it
  11  --mqtt: a bad URL, or the --mqtt-ca or --mqtt-auth file cannot be read
  12  the MQTT broker refused the connection (user, password, client)
  13  TLS with the MQTT broker failed (certificate, or a port without TLS)
  14  the SCPI server could not listen on the address and port given
)";
}

} // namespace voltaro
