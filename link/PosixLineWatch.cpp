#include "link/LineWatch.h"
#include "link/SerialLine.h"
#include <QSocketNotifier>

namespace {
// The descriptor stays readable while anything waits in it, so there is
// nothing to rearm.
class DescriptorWatch : public LineWatch {
public:
    DescriptorWatch(SerialLine &line, QObject *context, std::function<void()> onReady)
        : notifier_(static_cast<qintptr>(line.readyHandle()), QSocketNotifier::Read)
    {
        QObject::connect(&notifier_, &QSocketNotifier::activated, context, std::move(onReady));
    }
    void rearm() override {}

private:
    QSocketNotifier notifier_;
};
}

std::unique_ptr<LineWatch> LineWatch::forLine(SerialLine &line, QObject *context, std::function<void()> onReady)
{
    return std::make_unique<DescriptorWatch>(line, context, std::move(onReady));
}
