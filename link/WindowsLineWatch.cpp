#include "link/LineWatch.h"
#include "link/SerialLine.h"
#include <QMetaObject>
#include <QWinEventNotifier>
#include <windows.h>

namespace {
// The line's waiting read signals its event when a byte comes; a wait of no
// time arms it again, or finds that more has come already.
class WaitingReadWatch : public LineWatch {
public:
    WaitingReadWatch(SerialLine &line, QObject *context, std::function<void()> onReady)
        : line_(line), context_(context), onReady_(std::move(onReady))
    {
        arm();
        notifier_.setHandle(reinterpret_cast<HANDLE>(line.readyHandle()));
        QObject::connect(&notifier_, &QWinEventNotifier::activated, context, [this] { onReady_(); });
        notifier_.setEnabled(true);
    }
    void rearm() override { arm(); }

private:
    void arm()
    {
        if (line_.isOpen() && line_.waitReadable(0) == SerialLine::Waited::Readable)
            QMetaObject::invokeMethod(context_, [this] { onReady_(); }, Qt::QueuedConnection);
    }

    SerialLine &line_;
    QObject *context_;
    std::function<void()> onReady_;
    QWinEventNotifier notifier_;
};
}

std::unique_ptr<LineWatch> LineWatch::forLine(SerialLine &line, QObject *context, std::function<void()> onReady)
{
    return std::make_unique<WaitingReadWatch>(line, context, std::move(onReady));
}
