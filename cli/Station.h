#pragma once
// The station at work: its sockets, their jobs, the board. Sockets come from
// the profile (fixed devices) or from a watched folder of links; each plug
// gets a job of its own, and the board shows each socket's meter.
#include "cli/RecordsClient.h"
#include "cli/StationBoard.h"
#include "cli/StationJob.h"
#include "station/StationProfile.h"
#include <QJsonArray>
#include <QObject>
#include <QStringList>
#include <map>
#include <memory>
#include <optional>

class Station {
public:
    Station(const StationProfile &profile, bool json, QString operatorName, QString logDir);
    int run();

private:
    struct Socket {
        MeterAddress address;
        StationJob::Kind kind = StationJob::Kind::Watched;
        std::unique_ptr<StationJob> job;
        bool present = false;
        QString device;        // the device its link reaches while present
        quint64 plugs = 0;     // plug events seen
        quint64 jobPlug = 0;   // the plug the job was made for
        std::shared_ptr<MeterBoard> last;  // the last meter that ended here
    };

    const StationProfile &profile() const { return settings_.profile; }
    // Where the station looks for meters, said once: a service's log shows it.
    void announce() const;
    QJsonArray models() const;
    // A link appeared: a new plug. A job still busy with the socket's last
    // plug is told to end; the new plug's job starts when it has.
    void plugged(const MeterAddress &where, StationJob::Kind kind);
    void pulled(const QString &name);
    // A job ended: the plug that came meanwhile gets its own.
    void jobEnded(const QString &name, const StationJob *job);
    void startJob(const QString &name, Socket &socket);
    // Another present socket whose link reaches the same device holds it.
    QString holderOf(const QString &name, const Socket &socket) const;
    // A socket shows its last result until another meter is handled there.
    static void keepLast(Socket &socket);
    void event(const QString &name, const QString &socket) const;
    bool anyRunning() const;
    // The meter a socket shows: the one in hand, else the last that ended there.
    static std::optional<MeterStatus> shownAt(const Socket &socket);
    QStringList lines() const;
    // Live lines on a terminal, fitted to its width; otherwise a line for
    // each meter that has ended; nothing beyond the events with JSON.
    void show();
    // Each socket once, with its latest state, and how to finish a meter
    // that state leaves in its boot loader.
    int finish();

    StationSettings settings_;
    StationBoard board_;
    QObject context_;  // the jobs' ends are told on the main thread
    std::map<QString, Socket> sockets_;  // by name, in order
    RecordsPushing push_;  // pushes nothing without a records server
    int linesShown_ = 0;
    qsizetype printed_ = 0;
};
