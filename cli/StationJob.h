#pragma once
#include "cli/MeterBoard.h"
#include "link/MeterAddress.h"
#include <QMutex>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>

struct StationProfile;
class MeterLink;
class MeterReporter;
class CliPrompts;

// One socket of a station on its own thread. A watched socket's job handles
// the one meter whose plugging made the socket appear, after the settle
// time. A fixed socket's job runs until the station stops: it asks the idle
// socket for a version about once a second, handles the meter that answers,
// and waits for it to stop answering before it looks for the next.
class StationJob : public QThread {
public:
    enum class Kind { Watched, Fixed };
    // Told of each meter's end, from the job's thread.
    using Finished = std::function<void(const MeterStatus &)>;

    StationJob(const StationProfile &profile, MeterAddress socket, Kind kind, bool json, QString operatorName,
               Finished finished);

    const MeterAddress &socket() const { return socket_; }
    // The board of the meter handled now, or last; null before the first.
    std::shared_ptr<MeterBoard> board() const;
    // The socket's link went away (a watched socket).
    void markRemoved() { removed_.store(true); }

protected:
    void run() override;

private:
    // Handles the meter on the socket; false when none answered.
    bool handleMeter();
    void decide(MeterLink &link, CliPrompts &prompts, MeterReporter &report);
    bool recoverable(MeterLink &link, MeterReporter &report);
    bool meterAnswers();
    bool stopping() const;

    const StationProfile &profile_;
    MeterAddress socket_;
    Kind kind_;
    bool json_;
    QString operator_;
    Finished finished_;
    std::atomic<bool> removed_{false};
    mutable QMutex boardMutex_;
    std::shared_ptr<MeterBoard> board_;
};
