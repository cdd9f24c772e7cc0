#pragma once

// What the bench and its floors share: one clock from the shell's stamp, the process's memory, and the end of a
// first paint, so that the program and its floors are timed the very same way.

#include <QEvent>
#include <QObject>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

namespace measure {

inline double secondsOf(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// "1733512345.123456", with either decimal separator: bash writes the locale's.
inline bool parseEpochSeconds(const char *text, double &seconds)
{
    char *end = nullptr;
    const long long whole = std::strtoll(text, &end, 10);
    if (end == text)
        return false;
    double fraction = 0;
    if (*end == '.' || *end == ',') {
        double scale = 0.1;
        for (const char *digit = end + 1; *digit >= '0' && *digit <= '9'; ++digit, scale /= 10)
            fraction += (*digit - '0') * scale;
    }
    seconds = double(whole) + fraction;
    return true;
}

// When this process began, in CLOCK_REALTIME seconds: the launcher's stamp, else the kernel's (in 10 ms steps).
inline double processStart()
{
    double given = 0;
    if (const char *text = std::getenv("BRISOLTA_BENCH_T0"); text && parseEpochSeconds(text, given))
        return given;
    std::ifstream stat("/proc/self/stat");
    std::string line;
    std::getline(stat, line);
    // The fields after the command name, whose closing parenthesis is the last one; starttime is field 22.
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    for (int number = 3; number <= 22 && fields >> field; ++number) {
    }
    const double startedAfterBoot = std::strtod(field.c_str(), nullptr) / double(sysconf(_SC_CLK_TCK));
    return secondsOf(CLOCK_REALTIME) - (secondsOf(CLOCK_BOOTTIME) - startedAfterBoot);
}

// Milliseconds since `started` (from processStart).
inline double millisecondsSince(double started)
{
    return (secondsOf(CLOCK_REALTIME) - started) * 1000.0;
}

// Each first touch of a page is a fault; on a virtual machine they can cost more than the work itself.
inline long minorFaults()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

inline double peakRssMiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
    }
    return 0;
}

inline void report(const QString &figure, double value)
{
    // QString's numbers ignore the locale, which QApplication has just set from the environment.
    std::printf("%s\t%s\n", figure.toUtf8().constData(), QString::number(value, 'f', 3).toUtf8().constData());
    std::fflush(stdout);
}

[[noreturn]] inline void fail(const QString &why)
{
    std::fprintf(stderr, "bench: %s\n", qPrintable(why));
    std::exit(1);
}

// Calls back once the first paint of `widget` (a widget) is complete, the rest of the window's paint and flush included.
class FirstPaint : public QObject
{
public:
    FirstPaint(QObject *widget, std::function<void()> painted) : m_painted(std::move(painted))
    {
        widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_seen) {
            m_seen = true;
            watched->removeEventFilter(this);
            // Queued: it runs when the event loop regains control, after this paint has been flushed.
            QMetaObject::invokeMethod(this, m_painted, Qt::QueuedConnection);
        }
        return false;
    }

private:
    std::function<void()> m_painted;
    bool m_seen = false;
};

} // namespace measure
