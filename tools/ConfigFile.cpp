#include "tools/ConfigFile.h"

#include <QFile>

namespace voltaro {

namespace {

// Far more than any list of options; a file beyond it is no options file.
constexpr qint64 kMostBytes = 64 * 1024;

// What the file holds, shown on one line of a terminal: controls as "?".
std::string shown(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return text;
}

bool readLines(const std::string& path, std::vector<std::string>& out, std::string& error) {
    QFile file(QFile::decodeName(path.c_str()));
    if (!file.open(QIODevice::ReadOnly)) {
        error = "--config " + path + ": " + file.errorString().toLocal8Bit().toStdString();
        return false;
    }
    const QByteArray text = file.read(kMostBytes + 1);
    if (text.size() > kMostBytes || text.contains('\0')) {
        error = "--config " + path + ": not a file of options (one a line, at most 64 KiB of text)";
        return false;
    }
    int number = 0;
    for (const QByteArray& raw : text.split('\n')) {
        ++number;
        const std::string line = raw.trimmed().toStdString();
        if (line.empty() || line.front() == '#')
            continue;
        const std::size_t blank = line.find_first_of(" \t");
        const std::string option = line.substr(0, blank);
        if (option.size() < 2 || option.front() != '-' || option == "--config") {
            error = "--config " + path + " line " + std::to_string(number) + ": \"" + shown(option) +
                    (option == "--config" ? "\": a file of options names no other file"
                                          : "\" is no option; write one option a line, such as --port "
                                            "/dev/ttyUSB0");
            return false;
        }
        out.push_back(option);
        if (blank != std::string::npos)
            out.push_back(line.substr(line.find_first_not_of(" \t", blank)));
    }
    return true;
}

} // namespace

std::optional<std::vector<std::string>> expandConfig(const std::vector<std::string>& args, std::string& error,
                                                     std::string* from) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] != "--config") {
            out.push_back(args[i]);
            continue;
        }
        if (i + 1 >= args.size() || args[i + 1].empty()) {
            error = "--config needs a file name";
            return std::nullopt;
        }
        const std::string& path = args[++i];
        if (from)
            *from = path;
        if (!readLines(path, out, error))
            return std::nullopt;
    }
    return out;
}

} // namespace voltaro
