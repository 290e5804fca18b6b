#pragma once

// What the start-up benchmark's programs (the application's start and its floor) report to the
// benchmark: the moment their window was last drawn before it settled, on the clock the
// benchmark reads before it starts them, and the processor time of the main thread until then
// (loading the program included), all of it and within a stretch the program marks.
//
// "Drawn" is the end of the event delivery (an expose, an update request) in which the window's
// widgets painted and the window's picture went to the display server. "Settled" is the first
// moment at which the window is exposed, shows what it is meant to show (the program's test),
// and has not painted for QuietMilliseconds: the figure is the last drawing before that quiet
// stretch, the quiet stretch itself is not in it.

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>
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

// How long a window must go without painting to count as settled.
constexpr int QuietMilliseconds = 500;

// The application object of both programs: sees every event as it is delivered, so that the
// end of a delivery in which the watched window painted is known. Prints one line,
// "drawn_ns=<moment> cpu_ns=<main thread> marked_cpu_ns=<main thread while marked> paints=<n>",
// once the window has settled, and quits.
class Application : public QApplication
{
public:
    Application(int &argc, char **argv) : QApplication(argc, argv)
    {
        m_quiet.setSingleShot(true);
        m_quiet.setInterval(QuietMilliseconds);
        QObject::connect(&m_quiet, &QTimer::timeout, this, [this] { settleIfReady(); });
    }

    // The window whose drawing counts (may answer nothing until it exists) and what it must
    // show before it counts as usable.
    void watch(std::function<QWidget *()> window, std::function<bool()> ready = {})
    {
        m_window = std::move(window);
        m_ready = std::move(ready);
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

    bool notify(QObject *receiver, QEvent *event) override
    {
        const bool paint = event->type() == QEvent::Paint;
        ++m_depth;
        const bool result = QApplication::notify(receiver, event);
        --m_depth;
        if (m_done)
            return result;
        if (paint && !m_painting) {
            QWidget *widget = m_window ? m_window() : nullptr;
            auto *painted = qobject_cast<QWidget *>(receiver);
            m_painting = widget && painted && painted->window() == widget;
        }
        // The outermost delivery has ended: whatever painted in it has been flushed.
        if (m_depth == 0 && m_painting) {
            m_painting = false;
            m_drawn = nanoseconds(CLOCK_MONOTONIC);
            m_drawnCpu = nanoseconds(CLOCK_THREAD_CPUTIME_ID);
            m_drawnMarkedCpu = m_markedCpu + (m_marked ? m_drawnCpu - m_markedSince : 0);
            ++m_paints;
            m_quiet.start();
        }
        return result;
    }

private:
    void settleIfReady()
    {
        QWidget *widget = m_window ? m_window() : nullptr;
        // Not yet what a person can use: asked again a quiet stretch later (a drawing meanwhile
        // moves the moment on).
        if (!widget || !widget->windowHandle() || !widget->windowHandle()->isExposed() || (m_ready && !m_ready())) {
            m_quiet.start();
            return;
        }
        m_done = true;
        std::printf("drawn_ns=%lld cpu_ns=%lld marked_cpu_ns=%lld paints=%d\n", static_cast<long long>(m_drawn),
                    static_cast<long long>(m_drawnCpu), static_cast<long long>(m_drawnMarkedCpu), m_paints);
        std::fflush(stdout);
        QCoreApplication::quit();
    }

    std::function<QWidget *()> m_window;
    std::function<bool()> m_ready;
    QTimer m_quiet;
    int m_depth = 0;
    bool m_painting = false;
    bool m_done = false;
    int m_paints = 0;
    qint64 m_drawn = 0;
    qint64 m_drawnCpu = 0;
    qint64 m_drawnMarkedCpu = 0;
    qint64 m_markedSince = 0;
    qint64 m_markedCpu = 0;
    bool m_marked = false;
};

} // namespace KRBenchLaunch
