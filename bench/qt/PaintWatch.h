#pragma once

// What the Qt benchmarks wait for: the end of a paint of a watched widget
// begun while a condition held, and the event loop run until something is done.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QObject>
#include <QWidget>

#include <functional>
#include <utility>

#include "bench/bench_util.h"

namespace bench {

// Notes when the watched widget has finished a paint begun while `ready` held.
class PaintWatch : public QObject {
public:
    PaintWatch(QWidget* widget, std::function<bool()> ready) : m_ready(std::move(ready)) {
        widget->installEventFilter(this);
    }
    bool painted = false;
    Clock::time_point paintedAt;

    // Runs the event loop until `done`; false after `limitMs`.
    static bool spin(const std::function<bool()>& done, int limitMs = 60000) {
        QElapsedTimer limit;
        limit.start();
        while (!done()) {
            if (limit.elapsed() > limitMs)
                return false;
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        }
        return true;
    }

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (m_inside || event->type() != QEvent::Paint || painted || !m_ready())
            return false;
        // Let the widget paint now, inside the paint the window system started,
        // and take the time once it is done.
        m_inside = true;
        QCoreApplication::sendEvent(object, event);
        m_inside = false;
        paintedAt = Clock::now();
        painted = true;
        return true;
    }

private:
    std::function<bool()> m_ready;
    bool m_inside = false;
};

} // namespace bench
