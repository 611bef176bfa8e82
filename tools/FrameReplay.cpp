#include "tools/FrameReplay.h"

#include "core/decode/MeterPipeline.h"
#include "tools/FrameLinePrinter.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace voltaro {

namespace {

constexpr const char* kUsage =
    "usage: frame-replay [--hid] [--decimal-sep C] [--hi TEXT] [--lo TEXT] [--quiet] [--help] [--version] "
    "[FILE]\n"
    "Decodes the meter's serial byte stream (or, with --hid, one input report per line in\n"
    "hexadecimal, report ID first) from FILE or standard input.\n";

// A report is at most 65536 bytes of three characters each.
constexpr std::size_t kMaxLineLength = 3 * 65536 + 16;

struct Options {
    bool hid = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
    std::string decimalSep = ".";
    std::string hi = "22000";
    std::string lo = "-22000";
    std::string path;
};

bool parseOptions(const std::vector<std::string>& args, Options& o, std::string& error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& target) {
            if (i + 1 >= args.size()) {
                error = a + " needs a value";
                return false;
            }
            target = args[++i];
            return true;
        };
        if (a == "--hid")
            o.hid = true;
        else if (a == "--quiet")
            o.quiet = true;
        else if (a == "--help" || a == "-h")
            o.help = true;
        else if (a == "--version" || a == "-V")
            o.version = true;
        else if (a == "--decimal-sep") {
            if (!value(o.decimalSep))
                return false;
        } else if (a == "--hi") {
            if (!value(o.hi))
                return false;
        } else if (a == "--lo") {
            if (!value(o.lo))
                return false;
        } else if (a.size() > 1 && a[0] == '-') {
            error = "unknown option " + a;
            return false;
        } else if (o.path.empty()) {
            o.path = a;
        } else {
            error = "only one input file may be given";
            return false;
        }
    }
    return true;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Parses one report line: hexadecimal bytes separated by blanks. Returns false
// for a malformed line.
bool parseReportLine(std::string_view line, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r'))
            ++i;
        if (i >= line.size())
            break;
        std::size_t j = i;
        while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != '\r')
            ++j;
        const std::string_view token = line.substr(i, j - i);
        if (token.size() != 2 || hexDigit(token[0]) < 0 || hexDigit(token[1]) < 0)
            return false;
        bytes.push_back(static_cast<std::uint8_t>(hexDigit(token[0]) * 16 + hexDigit(token[1])));
        i = j;
    }
    // A report carries at most 65535 bytes after its ID.
    return bytes.size() <= 65536;
}

} // namespace

int runFrameReplay(const std::vector<std::string>& args, std::FILE* in, std::FILE* out, std::FILE* err) {
    Options o;
    std::string error;
    if (!parseOptions(args, o, error)) {
        std::fprintf(err, "frame-replay: %s\n%s", error.c_str(), kUsage);
        return 2;
    }
    if (o.help) {
        std::fputs(kUsage, out);
        return 0;
    }
    if (o.version) {
        std::fputs("frame-replay " VOLTARO_VERSION "\n", out);
        return 0;
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(nullptr, &std::fclose);
    if (!o.path.empty()) {
        file.reset(std::fopen(o.path.c_str(), "rb"));
        if (!file) {
            std::fprintf(err, "frame-replay: cannot read %s: %s\n", o.path.c_str(), std::strerror(errno));
            return 2;
        }
        in = file.get();
    }

    FrameLinePrinter printer(out, o.quiet);
    MeterPipeline pipeline(&printer);
    pipeline.setDecimalSep(o.decimalSep);
    pipeline.setLimitTexts(o.hi, o.lo);

    // Reads take whatever has arrived, so a live pipe shows each frame as it
    // comes; the output is flushed after every read.
    const int fd = ::fileno(in);
    std::vector<char> buffer(1 << 16);
    std::string line;
    std::vector<std::uint8_t> report;
    std::uint64_t lineNo = 0;
    auto handleLine = [&]() {
        ++lineNo;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!parseReportLine(line, report)) {
            std::fprintf(err, "frame-replay: line %llu is not a report (hexadecimal bytes), skipped\n",
                         static_cast<unsigned long long>(lineNo));
        } else if (!report.empty()) {
            pipeline.HidDataDX22K(report[0], report.data() + 1,
                                  static_cast<std::uint16_t>(report.size() - 1));
        }
        line.clear();
    };
    int status = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            std::fprintf(err, "frame-replay: reading the input failed: %s\n", std::strerror(errno));
            status = 2;
            break;
        }
        if (n == 0)
            break;
        if (!o.hid) {
            pipeline.DX22KDATA(reinterpret_cast<const std::uint8_t*>(buffer.data()), static_cast<int>(n));
        } else {
            for (ssize_t i = 0; i < n; ++i) {
                if (buffer[i] == '\n')
                    handleLine();
                else if (line.size() < kMaxLineLength)
                    line += buffer[i];
                else
                    line = "overlong"; // reported as a malformed line when it ends
            }
        }
        printer.flush();
        std::fflush(out);
    }
    if (o.hid && !line.empty())
        handleLine();
    printer.flush();
    std::fflush(out);
    const auto& s = pipeline.stats();
    std::fprintf(err, "frames: %llu decoded: %llu dropped: %llu\n",
                 static_cast<unsigned long long>(s.frameEnds), static_cast<unsigned long long>(s.decoded),
                 static_cast<unsigned long long>(s.dropped));
    return status;
}

} // namespace voltaro
