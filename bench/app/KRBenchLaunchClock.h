#pragma once

// What the start-up benchmark's two programs (the application's start and its floor) report to
// the benchmark when their first window is exposed: the moment, on the clock the benchmark
// reads before it starts them, and the processor time of the main thread until then (loading
// the program included), all of it and within a stretch the program marks.

#include <QCoreApplication>
#include <QEvent>
#include <QWindow>

#include <cstdio>
#include <ctime>
#include <functional>

namespace KRBenchLaunch {

inline qint64 nanoseconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Watches for the first exposure of the window it names, then prints one line,
// "exposed_ns=<moment> cpu_ns=<main thread> marked_cpu_ns=<main thread while marked>", and quits.
class Clock : public QObject
{
public:
    explicit Clock(std::function<QWindow *()> window) : m_window(std::move(window))
    {
        QCoreApplication::instance()->installEventFilter(this);
    }

    // The stretch whose processor time is reported apart (the launch's wait).
    void setMarked(bool marked)
    {
        if (marked == m_marked)
            return;
        const qint64 now = nanoseconds(CLOCK_THREAD_CPUTIME_ID);
        if (m_marked)
            m_markedCpu += now - m_markedSince;
        m_markedSince = now;
        m_marked = marked;
    }

    // For a window that counts only once something else is ready too: reports now when the
    // window is exposed already.
    void check()
    {
        QWindow *window = m_window();
        if (window && window->isExposed())
            report();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Expose || m_done)
            return false;
        QWindow *window = m_window();
        if (window && watched == window && window->isExposed())
            report();
        return false;
    }

private:
    void report()
    {
        if (m_done)
            return;
        m_done = true;
        const qint64 now = nanoseconds(CLOCK_MONOTONIC);
        setMarked(false);
        std::printf("exposed_ns=%lld cpu_ns=%lld marked_cpu_ns=%lld\n", static_cast<long long>(now),
                    static_cast<long long>(nanoseconds(CLOCK_THREAD_CPUTIME_ID)), static_cast<long long>(m_markedCpu));
        std::fflush(stdout);
        QCoreApplication::quit();
    }

    std::function<QWindow *()> m_window;
    qint64 m_markedSince = 0;
    qint64 m_markedCpu = 0;
    bool m_marked = false;
    bool m_done = false;
};

} // namespace KRBenchLaunch
