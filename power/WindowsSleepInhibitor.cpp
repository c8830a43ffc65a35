#include "power/SleepInhibitor.h"
#include <windows.h>

// The system stays awake while the thread that asked says so. Release comes
// from the same thread in every use (a meter's own thread, or the window's).
class SleepInhibitor::Request {
public:
    Request() : held_(::SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) != 0) {}
    ~Request()
    {
        if (held_)
            ::SetThreadExecutionState(ES_CONTINUOUS);
    }
    Request(const Request &) = delete;
    Request &operator=(const Request &) = delete;
    bool held() const { return held_; }

private:
    bool held_;
};

SleepInhibitor::SleepInhibitor(QString who) : who_(std::move(who)) {}

SleepInhibitor::~SleepInhibitor()
{
    release();
}

void SleepInhibitor::acquire()
{
    if (!request_)
        request_ = std::make_unique<Request>();
}

void SleepInhibitor::release()
{
    request_.reset();
}

bool SleepInhibitor::held() const
{
    return request_ && request_->held();
}
