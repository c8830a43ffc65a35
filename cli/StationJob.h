#pragma once
#include "cli/MeterBoard.h"
#include "link/MeterAddress.h"
#include <QMutex>
#include <QThread>
#include <QWaitCondition>
#include <atomic>
#include <functional>
#include <memory>

struct StationProfile;
struct StationFirmware;
class MeterLink;
class MeterReporter;
class CliPrompts;

// What every job of one station shares.
struct StationSettings {
    const StationProfile &profile;
    bool json = false;
    QString operatorName;
    QString logDir;  // a transcript per meter when set
    // Told of each meter's end, from the job's thread.
    std::function<void(const MeterStatus &)> finished;
};

// One socket of a station on its own thread. A watched socket's job handles
// the one meter whose plugging made its link appear, after the settle time;
// when the link goes away first, or comes back with another device behind
// it, the job ends and the station gives the new plug a job of its own. A
// fixed socket's job runs until the station stops: it asks the idle socket
// for a version about once a second, handles the meter that answers, and
// looks for the next once that one stops answering or another answers.
class StationJob : public QThread {
public:
    enum class Kind { Watched, Fixed };

    // `heldBy`: another socket whose link reaches the same device; the job
    // then only says so, and touches nothing.
    StationJob(const StationSettings &settings, MeterAddress socket, Kind kind, QString heldBy = {});

    const MeterAddress &socket() const { return socket_; }
    // The board of the meter handled now, or last; null before the first.
    std::shared_ptr<MeterBoard> board() const;
    // The socket's link went away (a watched socket): the job ends as soon
    // as nothing is lost by it.
    void markRemoved();
    // Ends a rest early, to look at the stop asked for.
    void wakeUp();

protected:
    void run() override;

private:
    struct Heard {
        QString serial;         // a meter in normal mode; empty when none
        bool answered = false;  // anything: a meter, a boot loader, a misheard reply
    };
    void runFixed();
    // Handles the meter on the socket; false when none answered.
    bool handleMeter();
    void decide(MeterLink &link, CliPrompts &prompts, MeterReporter &report);
    void upgrade(MeterLink &link, CliPrompts &prompts, MeterReporter &report, const StationFirmware &firmware);
    bool recoverable(MeterLink &link, MeterReporter &report);
    Heard ask();
    // Waits until `seconds` have passed; false when the link went away.
    bool rest(double seconds);
    // The socket no longer reaches the meter the job began with.
    bool linkLost() const;
    bool stopping() const;

    const StationSettings &settings_;
    MeterAddress socket_;
    Kind kind_;
    QString heldBy_;
    QString device_;  // the device the socket's link reached when the job began
    std::atomic<bool> removed_{false};
    QMutex wakeMutex_;
    QWaitCondition wake_;
    mutable QMutex boardMutex_;
    std::shared_ptr<MeterBoard> board_;
};
