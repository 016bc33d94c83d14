// Timing helpers shared by the benchmarks: wall and CPU time of a step, of this
// process or of its waited-for children, peak memory and ratios.
#pragma once

#include "benchmodel.h"

#include <QElapsedTimer>
#include <QFile>
#include <QString>

#include <sys/resource.h>

// Wall time and CPU time (user + system) of one step, in ms. The machine may be
// shared: the CPU time is the figure other processes disturb least.
struct Span
{
    qint64 wall = -1;
    qint64 cpu = -1;
    bool ok() const { return wall >= 0; }
    QString text() const
    {
        return BenchSeconds(wall) + QStringLiteral(" (CPU ") + BenchSeconds(cpu) + ')';
    }
};

// CPU time of this process (RUSAGE_SELF) or of its waited-for children
// (RUSAGE_CHILDREN), in ms.
inline qint64 CpuMs(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    const auto ms = [](const timeval& t) {
        return static_cast<qint64>(t.tv_sec) * 1000 + t.tv_usec / 1000;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

class Stopwatch
{
public:
    explicit Stopwatch(int who = RUSAGE_SELF) : m_who(who), m_cpu(CpuMs(who)) { m_wall.start(); }
    Span span() const { return {m_wall.elapsed(), CpuMs(m_who) - m_cpu}; }

private:
    int m_who;
    qint64 m_cpu;
    QElapsedTimer m_wall;
};

// a / b with two decimals, "-" when b is not positive.
inline QString BenchRatio(double a, double b)
{
    return b > 0 ? QString::number(a / b, 'f', 2) : QStringLiteral("-");
}

// Peak resident size of a process since its exec (VmHWM of /proc/<pid>/status;
// "self" for this one), in KiB; -1 when unknown. ru_maxrss cannot be used for a
// child: the kernel carries the peak of the process that forked it over into the
// child's figure.
inline long HighWaterKiB(const QString& pid = QStringLiteral("self"))
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}
