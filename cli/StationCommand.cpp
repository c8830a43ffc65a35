// `ovfw station PROFILE`: meters upgraded as they are plugged in, each socket
// known by its name, until the station is stopped.
#include "base/Escaped.h"
#include "base/MonotonicClock.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/MeterOutput.h"
#include "cli/RecordsServerChoice.h"
#include "cli/StationBoard.h"
#include "cli/StationJob.h"
#include "cli/StopSignal.h"
#include "power/SleepInhibitor.h"
#include "station/SocketWatch.h"
#include "station/StationProfile.h"
#include <QEventLoop>
#include <QJsonArray>
#include <QSysInfo>
#include <QTimer>
#include <map>
#include <memory>

namespace {
constexpr int kTickMs = 250;  // the board redrawn, a stop looked for
constexpr int kMostFinishNotes = 4096;  // a socket's note for each file it was sent

QString where(const ProfileProblem &p)
{
    return p.line > 0 ? QStringLiteral("%1:%2:").arg(p.line).arg(p.column) : QString();
}

bool confirmed(bool yes, const StationProfile &profile)
{
    if (yes)
        return true;
    if (!Console::inIsTerminal()) {
        Console::err(QStringLiteral("ovfw station: standard input is not a terminal; add --yes to run the station "
                                    "without confirmation\n"));
        return false;
    }
    Console::err(QStringLiteral("Run station %1? Every meter plugged into its sockets that the profile names\n"
                                "and that is not current will be upgraded. [y/N] ")
                     .arg(Escaped::text(profile.name)));
    const QString answer = Console::readLine().toLower();
    return answer == QLatin1String("y") || answer == QLatin1String("yes");
}

// The station at work: its sockets, their jobs, the board.
class Station {
public:
    Station(const StationProfile &profile, bool json, QString operatorName)
        : profile_(profile), json_(json), operator_(std::move(operatorName)), board_(profile),
          push_(RecordsServerChoice::startPushing(profile.recordsServer))
    {
    }

    int run()
    {
        if (json_)
            writeJsonLine({{QStringLiteral("event"), QStringLiteral("station")},
                           {QStringLiteral("station"), profile_.name},
                           {QStringLiteral("models"), models()}});
        std::unique_ptr<SocketWatch> watch;
        if (!profile_.watch.isEmpty()) {
            watch = std::make_unique<SocketWatch>(profile_.watch);
            QObject::connect(watch.get(), &SocketWatch::appeared, [this](const QString &name, const QString &device) {
                plugged(MeterAddress::socket(name, device), StationJob::Kind::Watched);
            });
            QObject::connect(watch.get(), &SocketWatch::gone, [this](const QString &name) { pulled(name); });
            if (!watch->start()) {
                Console::err(QStringLiteral("ovfw station: %1\n").arg(watch->problem()));
                return ExitStatus::Usage;
            }
        }
        for (const StationSocket &s : profile_.sockets)
            plugged(MeterAddress::socket(s.name, s.device), StationJob::Kind::Fixed);
        QEventLoop loop;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            show();
            if (StopSignal::requested() && !anyRunning())
                loop.quit();
        });
        tick.start(kTickMs);
        loop.exec();
        watch.reset();
        for (auto &[name, socket] : sockets_)
            if (socket.job)
                socket.job->wait();
        show();
        const int exit = finish();
        RecordsServerChoice::finishPushing(push_, exit);
        return exit;
    }

private:
    struct Socket {
        std::unique_ptr<StationJob> job;
        bool present = false;
    };

    QJsonArray models() const
    {
        QJsonArray list;
        for (const StationFirmware &f : profile_.firmware)
            list.append(QJsonObject{{QStringLiteral("model"), f.model}, {QStringLiteral("version"), f.version}});
        return list;
    }

    void plugged(const MeterAddress &where, StationJob::Kind kind)
    {
        Socket &socket = sockets_[where.socketName()];
        socket.present = true;
        event(QStringLiteral("socket_appeared"), where.socketName());
        if (StopSignal::requested() || (socket.job && socket.job->isRunning()))
            return;  // a meter in hand keeps its job, even while its adapter restarts
        if (socket.job)
            socket.job->wait();
        socket.job = std::make_unique<StationJob>(profile_, where, kind, json_, operator_,
                                                  [this](const MeterStatus &done) {
                                                      board_.count(done);
                                                      if (push_)
                                                          push_->request();  // its row is written already
                                                  });
        socket.job->start();
    }

    void pulled(const QString &name)
    {
        Socket &socket = sockets_[name];
        socket.present = false;
        if (socket.job)
            socket.job->markRemoved();
        event(QStringLiteral("socket_gone"), name);
    }

    void event(const QString &name, const QString &socket) const
    {
        if (json_)
            writeJsonLine({{QStringLiteral("event"), name}, {QStringLiteral("socket"), socket}});
    }

    bool anyRunning() const
    {
        for (const auto &[name, socket] : sockets_)
            if (socket.job && socket.job->isRunning())
                return true;
        return false;
    }

    QStringList lines() const
    {
        QStringList out = board_.heading();
        const double now = MonotonicClock::now();
        for (const auto &[name, socket] : sockets_) {
            const std::shared_ptr<MeterBoard> meter = socket.job ? socket.job->board() : nullptr;
            const MeterStatus status = meter ? meter->at(0) : MeterStatus{};
            const bool shown = meter && (socket.present || socket.job->isRunning());
            out << StationBoard::socketLine(name, shown ? &status : nullptr, now);
        }
        return out;
    }

    // Live lines on a terminal, fitted to its width; otherwise a line for
    // each meter that has ended; nothing beyond the events with JSON.
    void show()
    {
        if (json_)
            return;
        if (!Console::outIsTerminal()) {
            const QList<MeterStatus> done = board_.finished();
            for (; printed_ < done.size(); ++printed_)
                Console::out(StationBoard::socketLine(done[printed_].address.socketName(), &done[printed_],
                                                      MonotonicClock::now()) +
                             QLatin1Char('\n'));
            return;
        }
        const QStringList now = lines();
        Console::out(MeterOutput::redrawn(now, linesShown_));
        linesShown_ = static_cast<int>(now.size());
    }

    int finish()
    {
        const QList<MeterStatus> done = board_.finished();
        const int exit = board_.anyInterrupted() ? ExitStatus::Interrupted
                         : board_.anyFailed()    ? ExitStatus::MeterFailed
                                                 : ExitStatus::Ok;
        if (json_) {
            writeJsonLine({{QStringLiteral("event"), QStringLiteral("summary")},
                           {QStringLiteral("counters"), board_.counters()},
                           {QStringLiteral("exit_status"), exit}});
            return exit;
        }
        QString advice;
        for (const MeterStatus &s : done)
            if (s.leftInBootLoader != false && profile_.firmware.contains(s.model))
                advice += MeterOutput::bootLoaderAdvice({s}, profile_.firmware.value(s.model).filePath);
        Console::out(QStringLiteral("\nstation %1 stopped: %2\n").arg(Escaped::text(profile_.name), board_.counters()) +
                     advice);
        return exit;
    }

    const StationProfile &profile_;
    bool json_;
    QString operator_;
    StationBoard board_;
    std::map<QString, Socket> sockets_;  // by name, in order
    std::unique_ptr<BackgroundPush> push_;  // none without a records server
    int linesShown_ = 0;
    qsizetype printed_ = 0;
};
}

int runStation(const QStringList &args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs a station: meters are upgraded as they are plugged into its sockets, until\n"
        "the station is stopped (SIGINT, SIGTERM or SIGHUP: no new meter is started, and\n"
        "meters in flight finish their line and stop).\n"
        "The PROFILE (TOML) names the station, its sockets (a watched folder of device\n"
        "links, or fixed devices) and, per model, the upgrade file, its SHA-256 and the\n"
        "version. It is read and every file checked before any meter is touched; any\n"
        "problem is a usage error. A meter is identified when it appears: a model the\n"
        "profile lacks is not touched, one that reports the profile's version is current,\n"
        "any other is upgraded and verified.\n"
        "Asks once for confirmation (y/N) on a terminal; elsewhere --yes is required.\n"
        "Exit status: 0 nothing failed, 1 a meter failed, 2 usage error or a bad profile,\n"
        "130 a stop cut an upgrade short."));
    parser.addPositionalArgument(QStringLiteral("PROFILE"), QStringLiteral("The station's profile (TOML)."));
    const QCommandLineOption yes(QStringLiteral("yes"), QStringLiteral("Do not ask for confirmation."));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("One JSON object per line per event."));
    const QCommandLineOption operatorName(QStringLiteral("operator"),
                                          QStringLiteral("Who runs the station, for the records (default: the user)."),
                                          QStringLiteral("NAME"));
    parser.addOptions({yes, json, operatorName});
    const int status = CommandLine::parse(parser, args, true);
    if (status >= 0)
        return status;
    const QString path = parser.positionalArguments().first();
    const ProfileReading reading = StationProfiles::read(path, QSysInfo::machineHostName());
    if (!reading.ok()) {
        for (const ProfileProblem &p : reading.problems)
            Console::err(QStringLiteral("ovfw station: %1:%2 %3\n").arg(Escaped::text(path), where(p), p.text));
        Console::err(QStringLiteral("No meter was touched.\n"));
        return ExitStatus::Usage;
    }
    QString serverProblem;
    RecordsServerChoice::chosen({}, reading.profile.recordsServer, serverProblem);
    if (!serverProblem.isEmpty()) {
        Console::err(QStringLiteral("ovfw station: %1: %2\nNo meter was touched.\n").arg(Escaped::text(path), serverProblem));
        return ExitStatus::Usage;
    }
    if (!confirmed(parser.isSet(yes), reading.profile))
        return ExitStatus::Usage;
    StopSignal::reserveNoteSlots(kMostFinishNotes);
    StopSignal::install();
    const SleepInhibited noSleep(QStringLiteral("ovfw station"));
    Station station(reading.profile, parser.isSet(json), parser.value(operatorName));
    return station.run();
}
