#include "link/QtCommPort.h"
#include "link/LineWatch.h"
#include "base/FwUpErrors.h"
#include "base/MonotonicClock.h"
#include <QLockFile>
#include <QMap>
#include <QStringList>
#include <algorithm>

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
