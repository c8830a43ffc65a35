#pragma once
#include <functional>
#include <memory>

class QObject;
class SerialLine;

// Calls `onReady`, from the event loop of the thread that made the watch,
// whenever the open line has something to read: a socket notifier on the
// line's descriptor on POSIX, an event notifier on its waiting read on
// Windows. After `onReady` has read what came, rearm() watches again.
class LineWatch {
public:
    virtual ~LineWatch() = default;
    virtual void rearm() = 0;

    static std::unique_ptr<LineWatch> forLine(SerialLine &line, QObject *context, std::function<void()> onReady);
};
