// `ovfw station PROFILE`: meters upgraded as they are plugged in, each socket
// known by its name, until the station is stopped.
#include "base/Escaped.h"
#include "base/MonotonicClock.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/MeterOutput.h"
#include "cli/RecordsClient.h"
#include "cli/StationBoard.h"
#include "cli/StationJob.h"
#include "cli/StopSignal.h"
#include "power/SleepInhibitor.h"
#include "station/SocketWatch.h"
#include "station/StationProfile.h"
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QSysInfo>
#include <QTimer>
#include <map>
#include <memory>
#include <optional>

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
    Station(const StationProfile &profile, bool json, QString operatorName, QString logDir)
        : settings_{profile, json, std::move(operatorName), std::move(logDir), {}}, board_(profile),
          push_(profile.recordsServer)
    {
        settings_.finished = [this](const MeterStatus &done) {
            board_.count(done);
            push_.request();  // its row is written already
        };
    }

    int run()
    {
        announce();
        std::unique_ptr<SocketWatch> watch;
        if (!profile().watch.isEmpty()) {
            watch = std::make_unique<SocketWatch>(profile().watch);
            QObject::connect(watch.get(), &SocketWatch::appeared, [this](const QString &name, const QString &device) {
                plugged(MeterAddress::socket(name, device), StationJob::Kind::Watched);
            });
            QObject::connect(watch.get(), &SocketWatch::gone, [this](const QString &name) { pulled(name); });
            if (!watch->start()) {
                Console::err(QStringLiteral("ovfw station: %1\n").arg(watch->problem()));
                return ExitStatus::Usage;
            }
        }
        for (const StationSocket &s : profile().sockets)
            plugged(MeterAddress::socket(s.name, s.device), StationJob::Kind::Fixed);
        QEventLoop loop;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            show();
            if (!StopSignal::requested())
                return;
            for (auto &[name, socket] : sockets_)
                if (socket.job)
                    socket.job->wakeUp();
            if (!anyRunning())
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
        push_.finish(exit);
        return exit;
    }

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
    void announce() const
    {
        if (settings_.json) {
            QJsonObject station{{QStringLiteral("event"), QStringLiteral("station")},
                                {QStringLiteral("station"), profile().name},
                                {QStringLiteral("models"), models()}};
            if (!profile().watch.isEmpty())
                station.insert(QStringLiteral("watch"), profile().watch);
            writeJsonLine(station);
            return;
        }
        const QString name = Escaped::text(profile().name);
        if (!profile().watch.isEmpty()) {
            Console::out(QStringLiteral("station %1: watching %2 for sockets\n").arg(name, Escaped::text(profile().watch)));
            if (!QFileInfo(profile().watch).isDir())
                Console::out(QStringLiteral("station %1: %2 does not exist yet; waiting for it\n")
                                 .arg(name, Escaped::text(profile().watch)));
            return;
        }
        QStringList sockets;
        for (const StationSocket &s : profile().sockets)
            sockets << QStringLiteral("%1 (%2)").arg(Escaped::text(s.name), Escaped::text(s.device));
        Console::out(QStringLiteral("station %1: asking sockets %2\n").arg(name, sockets.join(QStringLiteral(", "))));
    }

    QJsonArray models() const
    {
        QJsonArray list;
        for (const StationFirmware &f : profile().firmware)
            list.append(QJsonObject{{QStringLiteral("model"), f.model}, {QStringLiteral("version"), f.version}});
        return list;
    }

    // A link appeared: a new plug. A job still busy with the socket's last
    // plug is told to end; the new plug's job starts when it has.
    void plugged(const MeterAddress &where, StationJob::Kind kind)
    {
        const QString &name = where.socketName();
        Socket &socket = sockets_[name];
        socket.address = where;
        socket.kind = kind;
        socket.present = true;
        socket.device = QFileInfo(where.devicePath()).canonicalFilePath();
        ++socket.plugs;
        event(QStringLiteral("socket_appeared"), name);
        if (socket.job && socket.job->isRunning()) {
            socket.job->markRemoved();
            return;
        }
        startJob(name, socket);
    }

    void pulled(const QString &name)
    {
        Socket &socket = sockets_[name];
        socket.present = false;
        socket.device.clear();
        if (socket.job)
            socket.job->markRemoved();
        event(QStringLiteral("socket_gone"), name);
    }

    // A job ended: the plug that came meanwhile gets its own.
    void jobEnded(const QString &name, const StationJob *job)
    {
        Socket &socket = sockets_[name];
        if (socket.job.get() != job)
            return;  // replaced already
        socket.job->wait();  // told a moment before its thread is done
        if (socket.present && socket.jobPlug != socket.plugs)
            startJob(name, socket);
    }

    void startJob(const QString &name, Socket &socket)
    {
        if (StopSignal::requested())
            return;
        if (socket.job) {
            socket.job->wait();
            keepLast(socket);
        }
        socket.jobPlug = socket.plugs;
        socket.job = std::make_unique<StationJob>(settings_, socket.address, socket.kind, holderOf(name, socket));
        QObject::connect(
            socket.job.get(), &QThread::finished, &context_,
            [this, name, job = socket.job.get()] { jobEnded(name, job); }, Qt::QueuedConnection);
        socket.job->start();
    }

    // Another present socket whose link reaches the same device holds it.
    QString holderOf(const QString &name, const Socket &socket) const
    {
        if (socket.device.isEmpty())
            return {};
        for (const auto &[other, s] : sockets_)
            if (other != name && s.present && s.device == socket.device && s.job)
                return other;
        return {};
    }

    // A socket shows its last result until another meter is handled there.
    static void keepLast(Socket &socket)
    {
        const std::shared_ptr<MeterBoard> meter = socket.job ? socket.job->board() : nullptr;
        if (meter && meter->at(0).result != MeterResult::NoMeter && meter->at(0).result != MeterResult::Pending)
            socket.last = meter;
    }

    void event(const QString &name, const QString &socket) const
    {
        if (settings_.json)
            writeJsonLine({{QStringLiteral("event"), name}, {QStringLiteral("socket"), socket}});
    }

    bool anyRunning() const
    {
        for (const auto &[name, socket] : sockets_)
            if (socket.job && socket.job->isRunning())
                return true;
        return false;
    }

    // The meter a socket shows: the one in hand, else the last that ended there.
    static std::optional<MeterStatus> shownAt(const Socket &socket)
    {
        const std::shared_ptr<MeterBoard> meter = socket.job ? socket.job->board() : nullptr;
        if (meter && meter->at(0).result != MeterResult::NoMeter)
            return meter->at(0);
        if (socket.last)
            return socket.last->at(0);
        return std::nullopt;
    }

    QStringList lines() const
    {
        QStringList out = board_.heading();
        const double now = MonotonicClock::now();
        for (const auto &[name, socket] : sockets_) {
            const std::optional<MeterStatus> shown = shownAt(socket);
            out << StationBoard::socketLine(name, shown ? &*shown : nullptr, now);
        }
        return out;
    }

    // Live lines on a terminal, fitted to its width; otherwise a line for
    // each meter that has ended; nothing beyond the events with JSON.
    void show()
    {
        if (settings_.json)
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

    // Each socket once, with its latest state, and how to finish a meter
    // that state leaves in its boot loader.
    int finish()
    {
        const int exit = board_.anyInterrupted() ? ExitStatus::Interrupted
                         : board_.anyFailed()    ? ExitStatus::MeterFailed
                                                 : ExitStatus::Ok;
        if (settings_.json) {
            writeJsonLine({{QStringLiteral("event"), QStringLiteral("summary")},
                           {QStringLiteral("counters"), board_.counters()},
                           {QStringLiteral("counts"), board_.counts()},
                           {QStringLiteral("exit_status"), exit}});
            return exit;
        }
        QString latest, advice;
        for (auto &[name, socket] : sockets_) {
            keepLast(socket);
            if (!socket.last)
                continue;
            const MeterStatus s = socket.last->at(0);
            latest += StationBoard::socketLine(name, &s, MonotonicClock::now()) + QLatin1Char('\n');
            if (s.leftInBootLoader != false && profile().firmware.contains(s.model))
                advice += MeterOutput::bootLoaderAdvice({s}, profile().firmware.value(s.model).filePath);
        }
        Console::out(QStringLiteral("\nstation %1 stopped: %2\n").arg(Escaped::text(profile().name), board_.counters()) +
                     (Console::outIsTerminal() ? QString() : latest) + advice);
        return exit;
    }

    StationSettings settings_;
    StationBoard board_;
    QObject context_;  // the jobs' ends are told on the main thread
    std::map<QString, Socket> sockets_;  // by name, in order
    RecordsPushing push_;  // pushes nothing without a records server
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
        "The profile's keys: [station] name, watch (a folder of links) and settle\n"
        "(seconds), or a [sockets] table of NAME = \"DEVICE\"; per model\n"
        "[models.3A] file, sha256, version and retries; [records] server. The package's\n"
        "/usr/share/doc/ovfw-upgrade/station-profile.toml holds every key, explained.\n"
        "Asks once for confirmation (y/N) on a terminal; elsewhere --yes is required.\n"
        "Exit status: 0 nothing failed, 1 a meter failed, 2 usage error or a bad profile,\n"
        "130 a stop cut an upgrade short."));
    parser.addPositionalArgument(QStringLiteral("PROFILE"), QStringLiteral("The station's profile (TOML)."));
    const QCommandLineOption yes({QStringLiteral("y"), QStringLiteral("yes")}, QStringLiteral("Do not ask for confirmation."));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("One JSON object per line per event."));
    const QCommandLineOption operatorName(QStringLiteral("operator"),
                                          QStringLiteral("Who runs the station, for the records (default: the user)."),
                                          QStringLiteral("NAME"));
    const QCommandLineOption logDir(QStringLiteral("log"),
                                    QStringLiteral("A transcript of each meter's wire in DIR, named by socket, serial\n"
                                                   "and start time."),
                                    QStringLiteral("DIR"));
    parser.addOptions({yes, json, operatorName, logDir});
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
    const QString serverProblem = RecordsClient::serverProblem({}, reading.profile.recordsServer);
    if (!serverProblem.isEmpty()) {
        Console::err(QStringLiteral("ovfw station: %1: %2\nNo meter was touched.\n").arg(Escaped::text(path), serverProblem));
        return ExitStatus::Usage;
    }
    if (!confirmed(parser.isSet(yes), reading.profile))
        return ExitStatus::Usage;
    StopSignal::reserveNoteSlots(kMostFinishNotes);
    StopSignal::install();
    const SleepInhibited noSleep(QStringLiteral("ovfw station"));
    const QString logs = parser.value(logDir);
    if (!logs.isEmpty() && !QDir().mkpath(logs)) {
        Console::err(QStringLiteral("ovfw station: cannot make the log folder %1\nNo meter was touched.\n").arg(Escaped::text(logs)));
        return ExitStatus::Usage;
    }
    Station station(reading.profile, parser.isSet(json), parser.value(operatorName), logs);
    return station.run();
}
