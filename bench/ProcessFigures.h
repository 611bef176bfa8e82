#pragma once

// Figures of another process (a program the benchmark started), read from
// /proc: its CPU time and its memory.
#include <QFile>

#include <cstring>
#include <unistd.h>

namespace voltaro::bench {

// utime + stime of a process, in seconds.
inline double cpuSeconds(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = f.readAll();
    // The fields after the command name, which is in parentheses.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return (fields[11].toDouble() + fields[12].toDouble()) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// A "Vm..." line of /proc/PID/status, in KiB.
inline long statusKiB(qint64 pid, const char* key) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(static_cast<qsizetype>(std::strlen(key))).trimmed().split(' ').first().toLong();
    return -1;
}

} // namespace voltaro::bench
