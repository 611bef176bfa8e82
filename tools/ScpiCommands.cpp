#include "tools/ScpiCommands.h"

#include "core/recording/TimeBaseTable.h"
#include "core/recording/UnitSymbols.h"

#include <charconv>
#include <cmath>
#include <utility>

namespace voltaro {

namespace {

// What a stored unit text measures, and whether its prefix scales it.
std::string_view functionOf(std::string_view unit, bool ac) {
    if (unit == "V)")
        return "DIOD";
    if (unit == "&  *")
        return "CONT";
    if (unit == "?" || unit == "#")
        return "TEMP";
    if (unit == "%")
        return "DUTY";
    std::string_view base = unit;
    if (unit.size() >= 2 && unitPrefixScale(unit) != 1)
        base.remove_prefix(1);
    if (base == "V")
        return ac ? "VOLT:AC" : "VOLT:DC";
    if (base == "A")
        return ac ? "CURR:AC" : "CURR:DC";
    if (base == "Hz")
        return "FREQ";
    if (base == "*")
        return "RES";
    if (base == "F")
        return "CAP";
    return "NONE";
}

std::string upper(std::string_view s) {
    std::string u(s);
    for (char& c : u)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return u;
}

// A mnemonic as written in the table: its upper-case letters are the short
// form, the whole word the long form; in brackets, a node that may be left out.
bool mnemonicMatches(std::string_view pattern, const std::string& given) {
    if (pattern.front() == '[')
        pattern = pattern.substr(1, pattern.size() - 2);
    std::string shortForm;
    for (const char c : pattern)
        if (c >= 'A' && c <= 'Z')
            shortForm += c;
    return given == shortForm || given == upper(pattern);
}

bool nodesMatch(const std::vector<std::string_view>& pattern, std::size_t p,
                const std::vector<std::string>& given, std::size_t g) {
    if (p == pattern.size())
        return g == given.size();
    if (pattern[p].front() == '[' && nodesMatch(pattern, p + 1, given, g))
        return true;
    return g < given.size() && mnemonicMatches(pattern[p], given[g]) &&
           nodesMatch(pattern, p + 1, given, g + 1);
}

bool blank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

} // namespace

ScpiReading scpiReading(const Reading& r, int fullScaleCount) {
    // The count's full scale at the decimal point shown: 22000 counts read 2.2000 to 2200.0.
    constexpr double kPointDivisor[4] = {10000.0, 1000.0, 100.0, 10.0};
    const int point = r.PointIndex < 0 || r.PointIndex > 3 ? 0 : r.PointIndex;
    const auto si = TimeBaseTable::siValue(r);
    ScpiReading s;
    s.value = si ? *si : 0;
    s.overload = !si;
    s.function = functionOf(r.UnitText, r.FuncText == "AC");
    s.range = fullScaleCount / kPointDivisor[point] * unitPrefixScale(r.UnitText);
    return s;
}

std::string scpiNumber(double v) {
    if (!std::isfinite(v))
        v = ScpiInterpreter::kNotANumber;
    // std::to_chars ignores the locale: the point is a point under any LC_NUMERIC.
    char text[40];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, v, std::chars_format::scientific, 6);
    std::string s = v < 0 ? std::string() : std::string("+");
    s.append(text, ec == std::errc() ? end : text);
    for (char& c : s)
        if (c == 'e')
            c = 'E';
    return s;
}

const char* ScpiInterpreter::errorText(int code) {
    switch (code) {
    case 0: return "No error";
    case -100: return "Command error";
    case -101: return "Invalid character";
    case -108: return "Parameter not allowed";
    case -113: return "Undefined header";
    case -230: return "Data corrupt or stale";
    case -350: return "Queue overflow";
    case -363: return "Input buffer overrun";
    default: return "Error";
    }
}

void ScpiInterpreter::pushError(int code) {
    if (errors_.size() < kErrorQueueSize)
        errors_.push_back(code);
    else
        errors_.back() = -350;
}

void ScpiInterpreter::takeLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    std::vector<Command> commands;
    // Split at ';' outside quoted strings.
    char quote = 0;
    std::size_t from = 0;
    for (std::size_t i = 0; i <= line.size(); ++i) {
        const char c = i < line.size() ? line[i] : ';';
        if (quote) {
            quote = c == quote ? 0 : quote;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == ';' || i == line.size()) {
            const Command command = parse(trimmed(line.substr(from, i - from)));
            if (command.header != Header::None || command.error != 0)
                commands.push_back(command);
            from = i + 1;
        }
    }
    if (commands.empty())
        return;
    commands.back().lineEnd = true;
    queue_.insert(queue_.end(), commands.begin(), commands.end());
}

ScpiInterpreter::Command ScpiInterpreter::parse(std::string_view text) {
    Command c;
    if (text.empty())
        return c;
    for (const char ch : text) {
        const auto u = static_cast<unsigned char>(ch);
        if ((u < 0x20 && ch != '\t') || u >= 0x7f) {
            c.error = -101;
            return c;
        }
    }
    std::size_t end = 0;
    while (end < text.size() && !blank(text[end]))
        ++end;
    std::string_view header = text.substr(0, end);
    c.query = header.back() == '?';
    if (c.query)
        header.remove_suffix(1);
    c.header = resolve(header, c.query);
    if (c.header == Header::None)
        c.error = -113;
    else if (!trimmed(text.substr(end)).empty())
        c.error = -108;
    return c;
}

ScpiInterpreter::Header ScpiInterpreter::resolve(std::string_view header, bool query) {
    struct Definition {
        Header header;
        bool query;
        std::vector<std::string_view> nodes;
    };
    static const std::vector<Definition> kCommon = {
        {Header::Idn, true, {"*IDN"}}, {Header::Rst, false, {"*RST"}}, {Header::Cls, false, {"*CLS"}},
        {Header::Opc, true, {"*OPC"}}, {Header::Wai, false, {"*WAI"}},
    };
    static const std::vector<Definition> kTree = {
        {Header::Fetch, true, {"FETCh"}},
        {Header::Read, true, {"READ"}},
        {Header::Measure, true, {"MEASure"}},
        {Header::Configure, true, {"CONFigure"}},
        {Header::SystemError, true, {"SYSTem", "ERRor", "[NEXT]"}},
        {Header::Version, true, {"SYSTem", "VERSion"}},
    };
    if (!header.empty() && header.front() == '*') {
        for (const Definition& d : kCommon)
            if (d.query == query && upper(header) == d.nodes.front())
                return d.header;
        return Header::None;
    }
    const bool absolute = !header.empty() && header.front() == ':';
    if (absolute)
        header.remove_prefix(1);
    std::vector<std::string> nodes;
    for (std::size_t from = 0;;) {
        const std::size_t colon = header.find(':', from);
        nodes.push_back(upper(header.substr(from, colon == std::string_view::npos ? colon : colon - from)));
        if (nodes.back().empty())
            return Header::None;
        if (colon == std::string_view::npos)
            break;
        from = colon + 1;
    }
    // A header after ';' without a leading ':' goes on from the previous
    // command's path; one that is not defined there is tried from the root.
    std::vector<std::vector<std::string>> tries;
    if (!absolute && !path_.empty()) {
        tries.push_back(path_);
        tries.back().insert(tries.back().end(), nodes.begin(), nodes.end());
    }
    tries.push_back(nodes);
    for (const auto& given : tries)
        for (const Definition& d : kTree)
            if (d.query == query && nodesMatch(d.nodes, 0, given, 0)) {
                path_.assign(given.begin(), given.end() - 1);
                return d.header;
            }
    return Header::None;
}

void ScpiInterpreter::answer(const std::string& text) {
    if (std::exchange(lineAnswered_, true))
        lineAnswers_ += ';';
    lineAnswers_ += text;
}

void ScpiInterpreter::endLine(std::string& out) {
    // The next line's headers start from the root again.
    path_.clear();
    if (!std::exchange(lineAnswered_, false))
        return;
    out += lineAnswers_;
    out += '\n';
    lineAnswers_.clear();
}

void ScpiInterpreter::execute(const Command& c, const ScpiReading* newest) {
    if (c.error != 0) {
        pushError(c.error);
        return;
    }
    switch (c.header) {
    case Header::Idn: answer(identity_); break;
    case Header::Rst: break; // nothing of the meter can be set from here
    case Header::Cls: errors_.clear(); break;
    case Header::Opc: answer("1"); break;
    case Header::Wai: break;
    case Header::Fetch:
        if (!newest)
            pushError(-230);
        answer(scpiNumber(!newest ? kNotANumber : newest->overload ? kOverload : newest->value));
        break;
    case Header::Configure:
        if (!newest)
            pushError(-230);
        answer(newest ? "\"" + std::string(newest->function) + ' ' + scpiNumber(newest->range) + "\""
                      : std::string("\"\""));
        break;
    case Header::SystemError: {
        const int code = errors_.empty() ? 0 : errors_.front();
        if (!errors_.empty())
            errors_.pop_front();
        answer(std::to_string(code) + ",\"" + errorText(code) + "\"");
        break;
    }
    case Header::Version: answer("1999.0"); break;
    case Header::Read:
    case Header::Measure:
    case Header::None: break;
    }
}

void ScpiInterpreter::run(const ScpiReading* newest, std::string& out) {
    while (!queue_.empty()) {
        const Command c = queue_.front();
        if (c.error == 0 && (c.header == Header::Read || c.header == Header::Measure)) {
            waiting_ = true;
            return;
        }
        queue_.pop_front();
        execute(c, newest);
        if (c.lineEnd)
            endLine(out);
    }
}

void ScpiInterpreter::nextReading(const ScpiReading* next, std::string& out) {
    if (!std::exchange(waiting_, false) || queue_.empty())
        return;
    const Command c = queue_.front();
    queue_.pop_front();
    if (!next)
        pushError(-230);
    answer(scpiNumber(!next ? kNotANumber : next->overload ? kOverload : next->value));
    if (c.lineEnd)
        endLine(out);
}

} // namespace voltaro
