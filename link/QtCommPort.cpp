#include "link/QtCommPort.h"
#include "link/LineWatch.h"
#include "base/FwUpErrors.h"
#include "base/MonotonicClock.h"
#include "link/PortWait.h"
#include <QLockFile>
#include <QMap>
#include <QStringList>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>


namespace {
constexpr int kTakeInChunk = 4096;
constexpr int kMostWakeChars = 255;  // VMIN is one byte
}

QtCommPort::QtCommPort(PortMap map, QObject *parent)
    : CommPort(parent), map_(std::move(map)), line_(SerialLine::forThisPlatform())
{
}

QtCommPort::~QtCommPort()
{
    closePort();
}

void QtCommPort::closePort()
{
    inputWakeChars_ = lineWakeChars_ = 1;
    watch_.reset();
    line_->close();
    lock_.reset();
    buffer_.clear();
}

void QtCommPort::requireOpen() const
{
    if (!line_->isOpen())
        throw FwUpError(FwUpErrorNumber::CommPortNotOpen);
}

void QtCommPort::setCommPort(int portNumber)
{
    if (line_->isOpen())
        throw FwUpError(FwUpErrorNumber::CommPortAlreadyOpen);
    if (portNumber < 1 || portNumber > PortMap::kPortCount)
        throw FwUpError(FwUpErrorNumber::CommPortNumberInvalid);
    portNumber_ = portNumber;
    namedDevice_.clear();
}

void QtCommPort::setCommDevice(const QString &path)
{
    if (line_->isOpen())
        throw FwUpError(FwUpErrorNumber::CommPortAlreadyOpen);
    if (path.isEmpty())
        throw FwUpError(FwUpErrorNumber::CommPortNumberInvalid);
    namedDevice_ = path;
}

void QtCommPort::setSettings(const QString &settings)
{
    // "baud,parity,data,stop" with parity one of n, e, o, m, s.
    const QStringList f = settings.split(QLatin1Char(','));
    bool okBaud = false, okData = false;
    const int baud = f.value(0).toInt(&okBaud);
    const int data = f.value(2).toInt(&okData);
    const QString parity = f.value(1).toLower();
    const QString stop = f.value(3);
    static const QMap<QString, SerialSettings::Parity> parities = {
        {QStringLiteral("n"), SerialSettings::Parity::None}, {QStringLiteral("e"), SerialSettings::Parity::Even},
        {QStringLiteral("o"), SerialSettings::Parity::Odd}, {QStringLiteral("m"), SerialSettings::Parity::Mark},
        {QStringLiteral("s"), SerialSettings::Parity::Space}};
    // One and a half stop bits exist only on five-bit frames; a line takes two.
    static const QMap<QString, int> stops = {
        {QStringLiteral("1"), 1}, {QStringLiteral("1.5"), 2}, {QStringLiteral("2"), 2}};
    if (f.size() != 4 || !okBaud || baud <= 0 || !okData || data < 5 || data > 8 ||
        !parities.contains(parity) || !stops.contains(stop))
        throw FwUpError(FwUpErrorNumber::CommSettingsInvalid);
    settings_.baud = baud;
    settings_.parity = parities.value(parity);
    settings_.dataBits = data;
    settings_.stopBits = stops.value(stop);
}

void QtCommPort::setInBufferSize(int bytes)
{
    // Limiting the buffer would leave the rest in the driver, out of sight of
    // inBufferCount(), so draining a chatty meter would never finish; the
    // buffer stays unlimited instead, and nothing the meter sends is lost.
    Q_UNUSED(bytes);
}

void QtCommPort::setHandshaking(int mode)
{
    static constexpr int kXonXoff = 1, kRtsCts = 2, kBoth = 3;
    switch (mode) {
    case kXonXoff: settings_.flow = SerialSettings::Flow::XonXoff; break;
    case kRtsCts:
    case kBoth: settings_.flow = SerialSettings::Flow::RtsCts; break;
    default: settings_.flow = SerialSettings::Flow::None; break;
    }
}

void QtCommPort::setInputLen(int chars)
{
    inputLen_ = chars < 0 ? 0 : chars;
}

void QtCommPort::setPortOpen(bool open)
{
    if (!open) {
        closePort();
        return;
    }
    if (line_->isOpen())
        throw FwUpError(FwUpErrorNumber::CommPortAlreadyOpen);
    // The driver raises both modem lines on opening; RTS is lowered only
    // when asked for.
    SerialSettings settings = settings_;
    settings.dtr = settings.rts = true;
    openState_ = openHeld(*line_, lock_, namedDevice_.isEmpty() ? map_.deviceFor(portNumber_) : namedDevice_,
                          settings);
    switch (openState_) {
    case PortState::Present: break;
    case PortState::Missing: throw FwUpError(FwUpErrorNumber::CommPortMissing);
    case PortState::InUse:
    case PortState::LeftExclusive:
    case PortState::NoPermission: throw FwUpError(FwUpErrorNumber::CommPortInUse);
    case PortState::NotSerial:
    case PortState::OpenFailed: throw FwUpError(FwUpErrorNumber::CommPortOpenFailed);
    }
    // Whatever reached the driver while the port was closed was purged by
    // the opening: it is not part of this conversation, as on a real line.
    buffer_.clear();
    wakeCharsHeld_ = line_->setWakeChars(1);
    // A thread whose waits block in the line takes in as it waits.
    if (!waitsBlocked_)
        watch_ = LineWatch::forLine(*line_, this, [this] { takeIn(); });
    if (rts_)
        setRTSEnable(true);
}

void QtCommPort::takeIn()
{
    if (!line_->isOpen())
        return;
    char chunk[kTakeInChunk];
    bool took = false;
    for (;;) {
        const long n = line_->read(chunk, sizeof chunk);
        if (n < 0) {
            lineLost();
            return;
        }
        if (n == 0)
            break;
        buffer_.append(chunk, static_cast<qsizetype>(n));
        took = true;
        // Less than a chunk is all there was: asking again would only hear so.
        if (n < static_cast<long>(sizeof chunk))
            break;
    }
    if (watch_)
        watch_->rearm();
    if (took)
        emit inputArrived();
}

void QtCommPort::lineLost()
{
    // The device went away (adapter unplugged, far end hung up): from now
    // on the port is closed and every operation on it says so.
    closePort();
    emit inputArrived();
}

void QtCommPort::setRTSEnable(bool enable)
{
    rts_ = enable;
    if (line_->isOpen())
        line_->setRts(enable);  // a pseudo-terminal has no modem lines; that is no fault
}

void QtCommPort::output(const QByteArray &bytes)
{
    requireOpen();
    inputAtOutput_ = buffer_.size();
    if (!line_->write(bytes.constData(), static_cast<std::size_t>(bytes.size()))) {
        lineLost();
        return;
    }
    wireFreeAt_ = std::max(wireFreeAt_, MonotonicClock::now()) + bytes.size() * characterSeconds();
}

double QtCommPort::characterSeconds() const
{
    constexpr int kStartBits = 1;
    const int parityBits = settings_.parity == SerialSettings::Parity::None ? 0 : 1;
    const int baud = std::max(1, settings_.baud);
    return static_cast<double>(kStartBits + settings_.dataBits + parityBits + settings_.stopBits) / baud;
}

void QtCommPort::waitForWritten(int milliseconds)
{
    requireOpen();
    const double limit = MonotonicClock::now() + milliseconds / 1000.0;
    for (;;) {
        if (!line_->isOpen())
            return;
        if (buffer_.size() > inputAtOutput_) {
            // The meter answered: it has the whole line, whatever the wire
            // model says (a fast meter is ahead of it line after line).
            wireFreeAt_ = MonotonicClock::now();
            return;
        }
        const qint64 queued = line_->outputQueued();
        const double now = MonotonicClock::now();
        if (queued == 0 && now >= wireFreeAt_)
            break;
        if (now >= limit)
            return;
        // Sleep until the queue should be out, or input wakes us.
        const double due = queued > 0 ? now + queued * characterSeconds() : wireFreeAt_;
        sleepUntilInput(std::min(due, limit), *this);
    }
    // The last few characters in the adapter's own buffer: a short block,
    // none at all on a pseudo-terminal.
    if (line_->isOpen() && !line_->drain())
        lineLost();
}

int QtCommPort::inBufferCount()
{
    requireOpen();
    return static_cast<int>(buffer_.size());
}

QByteArray QtCommPort::input()
{
    requireOpen();
    const qsizetype count = inputLen_ > 0 ? std::min<qsizetype>(inputLen_, buffer_.size()) : buffer_.size();
    QByteArray taken = buffer_.left(count);
    buffer_.remove(0, count);
    return taken;
}

void QtCommPort::setInputWakeChars(int chars)
{
    chars = std::clamp(chars, 1, kMostWakeChars);
    if (!line_->isOpen() || !wakeCharsHeld_ || chars == inputWakeChars_)
        return;
    inputWakeChars_ = chars;
    // Waits that block in the line tell it just before they block: a wake
    // count asked for and given up again between two waits costs nothing.
    if (!waitsBlocked_)
        applyInputWake();
}

void QtCommPort::applyInputWake()
{
    if (lineWakeChars_ != inputWakeChars_ && line_->setWakeChars(inputWakeChars_))
        lineWakeChars_ = inputWakeChars_;
}

QByteArray QtCommPort::inputThrough(char end)
{
    requireOpen();
    const qsizetype endAt = buffer_.indexOf(end);
    const qsizetype count = endAt < 0 ? buffer_.size() : endAt + 1;
    QByteArray taken = buffer_.left(count);
    buffer_.remove(0, count);
    return taken;
}

void QtCommPort::waitForInputUntil(double deadline)
{
    if (!waitsBlocked_ || !line_->isOpen()) {
        CommPort::waitForInputUntil(deadline);
        return;
    }
    const double remaining = deadline - MonotonicClock::now();
    if (remaining <= 0)
        return;
    // As the event loop's wait: what arrives is taken into the port and
    // announced, a lost line closes it, and time up is no error.
    applyInputWake();
    switch (line_->waitReadable(static_cast<int>(std::ceil(remaining * 1000.0)))) {
    case SerialLine::Waited::Readable: takeIn(); break;
    case SerialLine::Waited::Lost: lineLost(); break;
    case SerialLine::Waited::TimeUp:
    case SerialLine::Waited::Stopped: break;
    }
}

void QtCommPort::yieldOnce()
{
    if (!waitsBlocked_ || !line_->isOpen()) {
        CommPort::yieldOnce();
        return;
    }
    // What the event loop's pass would take in: nothing until the wake
    // count is reached.
    if (line_->inputQueued() >= inputWakeChars_)
        takeIn();
}

void QtCommPort::restUntil(double deadline)
{
    // A line that wakes its wait only once a whole answer has come needs no
    // rest before that wait: the wait itself is the rest.
    const double remaining = deadline - MonotonicClock::now();
    if (waitsBlocked_ && !wakeCharsHeld_ && remaining > 0)
        std::this_thread::sleep_for(std::chrono::duration<double>(remaining));
}

bool QtCommPort::waitForInput(int milliseconds)
{
    requireOpen();
    if (!buffer_.isEmpty())
        return true;
    applyInputWake();
    switch (line_->waitReadable(milliseconds)) {
    case SerialLine::Waited::Readable: takeIn(); break;
    case SerialLine::Waited::Lost: lineLost(); break;
    case SerialLine::Waited::TimeUp:
    case SerialLine::Waited::Stopped: break;
    }
    return !buffer_.isEmpty();
}
