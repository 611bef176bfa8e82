#include "tools/SimRunner.h"

#include "tools/MeterSimulator.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <pty.h>
#include <set>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace voltaro::sim {

namespace {

bool parseUnsigned(const std::string& s, std::uint64_t& v) {
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    return ec == std::errc() && end == s.data() + s.size();
}

// Writes all of `data`; false when the reader is gone or the write failed.
// With `dropWhenFull`, what does not fit is dropped instead of waited for.
bool writeAll(int fd, const std::uint8_t* data, std::size_t size, bool dropWhenFull) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN && dropWhenFull)
                return true;
            if (errno == EAGAIN) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// One report as one write, as hidraw hands it over for a device that numbers
// no reports: without the report ID. A packet that finds a non-blocking
// descriptor full is dropped, as the cable's reports are when nobody reads;
// false when the reader is gone or the write failed.
bool writePacket(int fd, const std::vector<std::uint8_t>& report) {
    for (;;) {
        const ssize_t n = ::write(fd, report.data() + 1, report.size() - 1);
        if (n >= 0)
            return true;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN;
    }
}

bool writeLine(int fd, const std::vector<std::uint8_t>& report, bool dropWhenFull) {
    const auto line = hidReportLine(report);
    return writeAll(fd, reinterpret_cast<const std::uint8_t*>(line.data()), line.size(), dropWhenFull);
}

// The USB cable at its own pace: one report per slot of the report clock.
std::uint64_t runCable(const SimOptions& o, MeterSimulator& sim, int fd, const std::atomic<bool>* stop) {
    using Clock = std::chrono::steady_clock;
    CableReportClock cable(sim, o.rate, o.reportRate);
    const std::chrono::duration<double> slotPeriod(1.0 / o.reportRate);
    const auto start = Clock::now();
    std::uint64_t slots = 0;
    while (o.count == 0 || cable.framesEnded() < o.count) {
        if (stop && stop->load())
            break;
        const auto& report = cable.next();
        if (!(o.packets ? writePacket(fd, report) : writeLine(fd, report, o.pty)))
            break;
        ++slots;
        // Slots are timed from the start, so a late wake-up is caught up
        // instead of slowing the clock down.
        std::this_thread::sleep_until(
            start + std::chrono::duration_cast<Clock::duration>(slotPeriod * static_cast<double>(slots)));
    }
    return cable.framesStarted();
}

} // namespace

std::string simVersion() {
    return "meter-sim " VOLTARO_VERSION "\n";
}

std::string simUsage() {
    std::string u = "usage: meter-sim [--out FILE | --pty] [--count N] [--rate R|max] [--scenario NAME] "
                    "[--hid [--report-rate N] [--packets]] [--seed S]\n"
                    "Writes meter frames (12 data bytes, CR, LF) to FILE or standard output.\n"
                    "  --pty            open a pseudo-terminal, print its device path on the first line\n"
                    "                   of standard output, and write the frames into it\n"
                    "  --out FILE       write to FILE instead of standard output\n"
                    "  --count N        stop after N frames (default: run until stopped)\n"
                    "  --rate R         frames per second (default 4, the meter's own pace);\n"
                    "                   0 = as fast as possible, max = the serial line's limit (137/s)\n"
                    "  --scenario NAME  what the meter shows (default tour)\n"
                    "  --hid            write the USB cable's input reports, one per line in hexadecimal,\n"
                    "                   report ID first, instead of serial bytes: one report per slot of\n"
                    "                   the cable's report clock, a frame's two data reports in consecutive\n"
                    "                   slots, empty reports in all others; with --rate 0, two data\n"
                    "                   reports and one empty report per frame, as fast as possible\n"
                    "  --report-rate N  with --hid: report slots per second (default 1000, the cable's\n"
                    "                   pace); at least 3 per frame\n"
                    "  --packets        with --hid: each report one binary write of the bytes after the\n"
                    "                   report ID, as hidraw delivers them; a FIFO named by --out is opened\n"
                    "                   without waiting for a reader and put in packet mode, and a report\n"
                    "                   that finds it full is dropped\n"
                    "  --seed S         seed of the random walks (default 1)\n"
                    "  -h, --help       show this help and exit\n"
                    "  -V, --version    show the version and exit\n"
                    "scenarios:\n";
    for (const auto& s : MeterSimulator::scenarios()) {
        u += "  ";
        u += s.name;
        u.append(12 - s.name.size(), ' ');
        u += s.description;
        u += '\n';
    }
    return u;
}

namespace {

// The number `v` holds, read whole; none when any of it is not the number.
std::optional<double> wholeDouble(const std::string& v) {
    double r = 0;
    const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), r);
    return ec == std::errc() && end == v.data() + v.size() ? std::optional<double>(r) : std::nullopt;
}

// Takes the value `v` of option `a`; false with `error` for a value it refuses.
bool takeValue(const std::string& a, const std::string& v, SimOptions& o, std::string& error) {
    if (a == "--report-rate") {
        const auto r = wholeDouble(v);
        if (!r || !(*r > 0)) {
            error = "meter-sim: --report-rate wants reports per second (more than 0), not '" + v + "'";
            return false;
        }
        o.reportRate = *r;
    } else if (a == "--out") {
        o.outPath = v;
    } else if (a == "--count") {
        if (!parseUnsigned(v, o.count)) {
            error = "meter-sim: --count wants a whole number, not '" + v + "'";
            return false;
        }
    } else if (a == "--seed") {
        std::uint64_t seed = 0;
        if (!parseUnsigned(v, seed)) {
            error = "meter-sim: --seed wants a whole number, not '" + v + "'";
            return false;
        }
        o.seed = static_cast<std::uint32_t>(seed);
    } else if (a == "--rate") {
        const auto r = v == "max" ? std::optional<double>(kLineLimitFramesPerSecond) : wholeDouble(v);
        if (!r || *r < 0) {
            error = "meter-sim: --rate wants frames per second (0 or more) or max, not '" + v + "'";
            return false;
        }
        o.rate = *r;
    } else if (a == "--scenario") {
        if (!MeterSimulator::hasScenario(v)) {
            error = "meter-sim: no scenario '" + v + "' (see --help)";
            return false;
        }
        o.scenario = v;
    }
    return true;
}

// The options taken together can be served.
bool consistent(const SimOptions& o, bool reportRateSet, std::string& error) {
    if (o.pty && (o.hid || !o.outPath.empty())) {
        error = "meter-sim: --pty serves the serial line; it goes with neither --hid nor --out";
        return false;
    }
    if (!o.hid && (o.packets || reportRateSet)) {
        error = "meter-sim: --packets and --report-rate shape the USB cable's reports; they go with --hid";
        return false;
    }
    if (o.hid && o.rate > 0 && !CableReportClock::fitsSlots(o.rate, o.reportRate)) {
        char text[160];
        std::snprintf(
            text, sizeof text,
            "meter-sim: a frame takes 3 report slots, so --report-rate %g carries at most %g frames "
            "a second",
            o.reportRate, o.reportRate / 3);
        error = text;
        return false;
    }
    return true;
}

} // namespace

std::optional<SimOptions> parseSimArgs(const std::vector<std::string>& args, std::string& error) {
    static const std::set<std::string> valued = {"--report-rate", "--out",  "--count",
                                                 "--seed",        "--rate", "--scenario"};
    SimOptions o;
    bool reportRateSet = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--version" || a == "-V") {
            o.version = true;
        } else if (a == "--hid") {
            o.hid = true;
        } else if (a == "--packets") {
            o.packets = true;
        } else if (a == "--pty") {
            o.pty = true;
        } else if (valued.count(a) != 0) {
            if (i + 1 >= args.size()) {
                error = "meter-sim: " + a + " needs a value";
                return std::nullopt;
            }
            if (!takeValue(a, args[++i], o, error))
                return std::nullopt;
            reportRateSet = reportRateSet || a == "--report-rate";
        } else {
            error = "meter-sim: unknown argument '" + a + "' (see --help)";
            return std::nullopt;
        }
    }
    if (!consistent(o, reportRateSet, error))
        return std::nullopt;
    return o;
}

std::optional<MeterPty> openMeterPty(std::string& error) {
    int master = -1;
    int slave = -1;
    termios raw{};
    ::cfmakeraw(&raw);
    raw.c_cflag |= CREAD | CLOCAL;
    if (::openpty(&master, &slave, nullptr, &raw, nullptr) != 0) {
        error = std::string("meter-sim: cannot open a pseudo-terminal: ") + std::strerror(errno);
        return std::nullopt;
    }
    MeterPty pty{UniqueFd(master), UniqueFd(slave), ::ptsname(master)};
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    return pty;
}

std::string hidReportLine(const std::vector<std::uint8_t>& report) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string line;
    for (std::size_t i = 0; i < report.size(); ++i) {
        if (i)
            line += ' ';
        line += kHex[report[i] >> 4];
        line += kHex[report[i] & 0x0F];
    }
    line += '\n';
    return line;
}

UniqueFd openSimOutput(const SimOptions& o, std::string& error) {
    const char* path = o.outPath.c_str();
    struct stat st {};
    UniqueFd fd;
    if (o.packets && ::stat(path, &st) == 0 && S_ISFIFO(st.st_mode)) {
        fd.reset(::open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC));
        // A FIFO refuses O_DIRECT at open; set afterwards it makes each write one packet.
        if (fd && ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) | O_DIRECT) != 0) {
            error =
                "meter-sim: cannot put the FIFO " + o.outPath + " in packet mode: " + std::strerror(errno);
            return {};
        }
    } else {
        fd.reset(::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    }
    if (!fd)
        error = "meter-sim: cannot write " + o.outPath + ": " + std::strerror(errno);
    return fd;
}

std::uint64_t runSimulator(const SimOptions& o, int fd, const std::atomic<bool>* stop) {
    MeterSimulator sim(o.scenario, o.seed);
    if (o.hid && o.rate > 0)
        return runCable(o, sim, fd, stop);
    using Clock = std::chrono::steady_clock;
    const bool paced = o.rate > 0;
    const auto period =
        paced ? std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / o.rate))
              : Clock::duration::zero();
    auto next = Clock::now();
    std::vector<std::uint8_t> buffer;
    // Unpaced output goes out in large writes; paced output one frame at a time.
    const std::size_t flushAt = paced ? 1 : 64 * 1024;
    std::uint64_t written = 0;
    auto flush = [&]() {
        const bool ok = writeAll(fd, buffer.data(), buffer.size(), o.pty);
        buffer.clear();
        return ok;
    };
    while (o.count == 0 || written < o.count) {
        if (stop && stop->load())
            break;
        if (o.hid && o.packets) {
            for (const auto& r : sim.nextHidReports())
                if (!writePacket(fd, r))
                    return written;
        } else if (o.hid) {
            for (const auto& r : sim.nextHidReports()) {
                const auto line = hidReportLine(r);
                buffer.insert(buffer.end(), line.begin(), line.end());
            }
        } else {
            const auto bytes = sim.nextSerialBytes();
            buffer.insert(buffer.end(), bytes.begin(), bytes.end());
        }
        ++written;
        if (buffer.size() >= flushAt && !flush())
            return written;
        if (paced) {
            next += period;
            std::this_thread::sleep_until(next);
        }
    }
    flush();
    return written;
}

} // namespace voltaro::sim
