#include "cli/Station.h"
#include "base/Escaped.h"
#include "base/MonotonicClock.h"
#include "cli/Console.h"
#include "cli/ExitStatus.h"
#include "cli/MeterOutput.h"
#include "cli/StopSignal.h"
#include "station/SocketWatch.h"
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

namespace {
constexpr int kTickMs = 250;  // the board redrawn, a stop looked for
}

Station::Station(const StationProfile &profile, bool json, QString operatorName, QString logDir)
    : settings_{profile, json, std::move(operatorName), std::move(logDir), {}}, board_(profile),
      push_(profile.recordsServer)
{
    settings_.finished = [this](const MeterStatus &done) {
        board_.count(done);
        push_.request();  // its row is written already
    };
}

int Station::run()
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

// Where the station looks for meters, said once: a service's log shows it.
void Station::announce() const
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

QJsonArray Station::models() const
{
    QJsonArray list;
    for (const StationFirmware &f : profile().firmware)
        list.append(QJsonObject{{QStringLiteral("model"), f.model}, {QStringLiteral("version"), f.version}});
    return list;
}

// A link appeared: a new plug. A job still busy with the socket's last
// plug is told to end; the new plug's job starts when it has.
void Station::plugged(const MeterAddress &where, StationJob::Kind kind)
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

void Station::pulled(const QString &name)
{
    Socket &socket = sockets_[name];
    socket.present = false;
    socket.device.clear();
    if (socket.job)
        socket.job->markRemoved();
    event(QStringLiteral("socket_gone"), name);
}

// A job ended: the plug that came meanwhile gets its own.
void Station::jobEnded(const QString &name, const StationJob *job)
{
    Socket &socket = sockets_[name];
    if (socket.job.get() != job)
        return;  // replaced already
    socket.job->wait();  // told a moment before its thread is done
    if (socket.present && socket.jobPlug != socket.plugs)
        startJob(name, socket);
}

void Station::startJob(const QString &name, Socket &socket)
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
QString Station::holderOf(const QString &name, const Socket &socket) const
{
    if (socket.device.isEmpty())
        return {};
    for (const auto &[other, s] : sockets_)
        if (other != name && s.present && s.device == socket.device && s.job)
            return other;
    return {};
}

// A socket shows its last result until another meter is handled there.
void Station::keepLast(Socket &socket)
{
    const std::shared_ptr<MeterBoard> meter = socket.job ? socket.job->board() : nullptr;
    if (meter && meter->at(0).result != MeterResult::NoMeter && meter->at(0).result != MeterResult::Pending)
        socket.last = meter;
}

void Station::event(const QString &name, const QString &socket) const
{
    if (settings_.json)
        writeJsonLine({{QStringLiteral("event"), name}, {QStringLiteral("socket"), socket}});
}

bool Station::anyRunning() const
{
    for (const auto &[name, socket] : sockets_)
        if (socket.job && socket.job->isRunning())
            return true;
    return false;
}

// The meter a socket shows: the one in hand, else the last that ended there.
std::optional<MeterStatus> Station::shownAt(const Socket &socket)
{
    const std::shared_ptr<MeterBoard> meter = socket.job ? socket.job->board() : nullptr;
    if (meter && meter->at(0).result != MeterResult::NoMeter)
        return meter->at(0);
    if (socket.last)
        return socket.last->at(0);
    return std::nullopt;
}

QStringList Station::lines() const
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
void Station::show()
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
int Station::finish()
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
