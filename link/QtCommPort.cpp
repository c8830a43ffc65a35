#include "link/QtCommPort.h"
#include "base/FwUpErrors.h"
#include "base/MonotonicClock.h"
#include "link/PortWait.h"
#include <QStringList>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <termios.h>
#endif

namespace {
constexpr int kMostWakeChars = 255;  // VMIN is one byte

#ifdef Q_OS_LINUX
bool setModes(int fd, const termios &modes)
{
#if defined(__x86_64__) || defined(__i386__) || defined(__aarch64__) || defined(__arm__) || defined(__riscv)
    // Where the C library's termios begins with the kernel's own layout, one
    // call sets it; tcsetattr() would read the modes back twice around it.
    return ::ioctl(fd, TCSETS, &modes) == 0;
#else
    return ::tcsetattr(fd, TCSANOW, &modes) == 0;
#endif
}
#endif
}

QtCommPort::QtCommPort(PortMap map, QObject *parent) : CommPort(parent), map_(std::move(map))
{
    connect(&serial_, &QSerialPort::readyRead, this, &CommPort::inputArrived);
    connect(&serial_, &QSerialPort::errorOccurred, this, &QtCommPort::onError);
}

QtCommPort::~QtCommPort()
{
    closePort();
}

void QtCommPort::closePort()
{
    inputWakeChars_ = 1;
    modes_.reset();
    serial_.close();
    hold_.release();
}

void QtCommPort::requireOpen() const
{
    if (!serial_.isOpen())
        throw FwUpError(FwUpErrorNumber::CommPortNotOpen);
}

void QtCommPort::setCommPort(int portNumber)
{
    if (serial_.isOpen())
        throw FwUpError(FwUpErrorNumber::CommPortAlreadyOpen);
    if (portNumber < 1 || portNumber > PortMap::kPortCount)
        throw FwUpError(FwUpErrorNumber::CommPortNumberInvalid);
    portNumber_ = portNumber;
    namedDevice_.clear();
}

void QtCommPort::setCommDevice(const QString &path)
{
    if (serial_.isOpen())
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
    static const QMap<QString, QSerialPort::Parity> parities = {
        {QStringLiteral("n"), QSerialPort::NoParity}, {QStringLiteral("e"), QSerialPort::EvenParity},
        {QStringLiteral("o"), QSerialPort::OddParity}, {QStringLiteral("m"), QSerialPort::MarkParity},
        {QStringLiteral("s"), QSerialPort::SpaceParity}};
    static const QMap<QString, QSerialPort::StopBits> stops = {
        {QStringLiteral("1"), QSerialPort::OneStop}, {QStringLiteral("1.5"), QSerialPort::OneAndHalfStop},
        {QStringLiteral("2"), QSerialPort::TwoStop}};
    if (f.size() != 4 || !okBaud || baud <= 0 || !okData || data < 5 || data > 8 ||
        !parities.contains(parity) || !stops.contains(stop))
        throw FwUpError(FwUpErrorNumber::CommSettingsInvalid);
    modes_.reset();
    serial_.setBaudRate(baud);
    serial_.setParity(parities.value(parity));
    serial_.setDataBits(static_cast<QSerialPort::DataBits>(data));
    serial_.setStopBits(stops.value(stop));
}

void QtCommPort::setInBufferSize(int bytes)
{
    // Limiting QSerialPort's buffer would leave the
    // rest in the driver, out of sight of inBufferCount(), so draining a
    // chatty meter would never finish; the buffer stays unlimited instead,
    // and nothing the meter sends is lost.
    Q_UNUSED(bytes);
}

void QtCommPort::setHandshaking(int mode)
{
    static constexpr int kXonXoff = 1, kRtsCts = 2, kBoth = 3;
    modes_.reset();
    switch (mode) {
    case kXonXoff: serial_.setFlowControl(QSerialPort::SoftwareControl); break;
    case kRtsCts:
    case kBoth: serial_.setFlowControl(QSerialPort::HardwareControl); break;
    default: serial_.setFlowControl(QSerialPort::NoFlowControl); break;
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
    if (serial_.isOpen())
        throw FwUpError(FwUpErrorNumber::CommPortAlreadyOpen);
    modes_.reset();
    openState_ = openHeld(serial_, hold_, namedDevice_.isEmpty() ? map_.deviceFor(portNumber_) : namedDevice_);
    switch (openState_) {
    case PortState::Present: break;
    case PortState::Missing: throw FwUpError(FwUpErrorNumber::CommPortMissing);
    case PortState::InUse:
    case PortState::LeftExclusive:
    case PortState::NoPermission: throw FwUpError(FwUpErrorNumber::CommPortInUse);
    case PortState::NotSerial:
    case PortState::OpenFailed: throw FwUpError(FwUpErrorNumber::CommPortOpenFailed);
    }
    lowLatency_ = requestLowLatency();
    // Whatever reached the driver while the port was closed is not part of
    // this conversation, as on a real line.
    serial_.clear(QSerialPort::Input);
    if (rts_)
        setRTSEnable(true);
}

bool QtCommPort::requestLowLatency()
{
#ifdef Q_OS_LINUX
    serial_struct ss{};
    const int fd = static_cast<int>(serial_.handle());
    if (::ioctl(fd, TIOCGSERIAL, &ss) != 0)
        return false;  // not a UART driver (a pty, say): nothing to tune
    ss.flags |= ASYNC_LOW_LATENCY;
    return ::ioctl(fd, TIOCSSERIAL, &ss) == 0;
#else
    return false;
#endif
}

void QtCommPort::setRTSEnable(bool enable)
{
    rts_ = enable;
    if (!serial_.isOpen())
        return;
    // A pseudo-terminal has no modem lines; that is not an error for the meter.
    if (!serial_.setRequestToSend(enable))
        serial_.clearError();
}

void QtCommPort::output(const QByteArray &bytes)
{
    requireOpen();
    inputAtOutput_ = serial_.bytesAvailable();
    serial_.write(bytes);
    serial_.flush();
    wireFreeAt_ = std::max(wireFreeAt_, MonotonicClock::now()) + bytes.size() * characterSeconds();
}

double QtCommPort::characterSeconds() const
{
    constexpr int kStartBits = 1;
    const int stopBits = serial_.stopBits() == QSerialPort::TwoStop ? 2 : 1;
    const int parityBits = serial_.parity() == QSerialPort::NoParity ? 0 : 1;
    const int baud = std::max(1, static_cast<int>(serial_.baudRate()));
    return static_cast<double>(kStartBits + serial_.dataBits() + parityBits + stopBits) / baud;
}

qint64 QtCommPort::driverQueued(DriverQueue queue) const
{
#ifdef Q_OS_LINUX
    int count = 0;
    if (::ioctl(static_cast<int>(serial_.handle()), queue == DriverQueue::Output ? TIOCOUTQ : TIOCINQ, &count) == 0)
        return count;
#else
    Q_UNUSED(queue);
#endif
    return 0;
}

void QtCommPort::waitForWritten(int milliseconds)
{
    requireOpen();
    const double limit = MonotonicClock::now() + milliseconds / 1000.0;
    for (;;) {
        if (!serial_.isOpen())
            return;
        if (serial_.bytesAvailable() > inputAtOutput_) {
            // The meter answered: it has the whole line, whatever the wire
            // model says (a fast meter is ahead of it line after line).
            wireFreeAt_ = MonotonicClock::now();
            return;
        }
        if (serial_.bytesToWrite() > 0)
            serial_.flush();
        const qint64 queued = serial_.bytesToWrite() + driverQueued(DriverQueue::Output);
        const double now = MonotonicClock::now();
        if (queued == 0 && now >= wireFreeAt_)
            break;
        if (now >= limit)
            return;
        // Sleep until the queue should be out, or input wakes us.
        const double due = queued > 0 ? now + queued * characterSeconds() : wireFreeAt_;
        sleepUntilInput(std::min(due, limit), *this);
    }
#ifdef Q_OS_LINUX
    // The last few characters in the adapter's own buffer: a short block,
    // none at all on a pseudo-terminal.
    ::tcdrain(static_cast<int>(serial_.handle()));
#endif
}

int QtCommPort::inBufferCount()
{
    requireOpen();
    return static_cast<int>(serial_.bytesAvailable());
}

QByteArray QtCommPort::input()
{
    requireOpen();
    return inputLen_ > 0 ? serial_.read(inputLen_) : serial_.readAll();
}

void QtCommPort::setInputWakeChars(int chars)
{
    chars = std::clamp(chars, 1, kMostWakeChars);
    if (!serial_.isOpen() || chars == inputWakeChars_)
        return;
#ifdef Q_OS_LINUX
    // In raw mode with no inter-character time, the line discipline reports
    // input to poll() once VMIN characters are waiting; the descriptor stays
    // non-blocking, so reads take whatever is there as before.
    // The modes are read once per opening and settings, not per change: an
    // upgrade changes the count twice a line.
    const int fd = static_cast<int>(serial_.handle());
    if (!modes_) {
        auto read = std::make_unique<termios>();
        if (::tcgetattr(fd, read.get()) != 0)
            return;
        modes_ = std::move(read);
    }
    if (modes_->c_cc[VTIME] != 0)
        return;
    modes_->c_cc[VMIN] = static_cast<cc_t>(chars);
    if (setModes(fd, *modes_))
        inputWakeChars_ = chars;
    else
        modes_.reset();
#endif
}

QByteArray QtCommPort::inputThrough(char end)
{
    requireOpen();
    const QByteArray waiting = serial_.peek(serial_.bytesAvailable());
    const qsizetype endAt = waiting.indexOf(end);
    return serial_.read(endAt < 0 ? waiting.size() : endAt + 1);
}

void QtCommPort::waitForInputUntil(double deadline)
{
    if (!waitsBlocked_ || !serial_.isOpen()) {
        CommPort::waitForInputUntil(deadline);
        return;
    }
    const double remaining = deadline - MonotonicClock::now();
    if (remaining <= 0)
        return;
    // As the event loop's wait: what arrives is read into the port and
    // announced, a lost line closes it, and time up is no error.
    if (!serial_.waitForReadyRead(static_cast<int>(std::ceil(remaining * 1000.0))) &&
        serial_.error() == QSerialPort::TimeoutError)
        serial_.clearError();
}

void QtCommPort::yieldOnce()
{
    if (!waitsBlocked_ || !serial_.isOpen()) {
        CommPort::yieldOnce();
        return;
    }
    // What the event loop's pass would take in: nothing until the wake
    // count is reached.
    if (driverQueued(DriverQueue::Input) >= inputWakeChars_ && !serial_.waitForReadyRead(0) &&
        serial_.error() == QSerialPort::TimeoutError)
        serial_.clearError();
}

void QtCommPort::restUntil(double deadline)
{
    const double remaining = deadline - MonotonicClock::now();
    if (waitsBlocked_ && remaining > 0)
        std::this_thread::sleep_for(std::chrono::duration<double>(remaining));
}

bool QtCommPort::waitForInput(int milliseconds)
{
    requireOpen();
    if (serial_.bytesAvailable() > 0)
        return true;
    const bool arrived = serial_.waitForReadyRead(milliseconds);
    if (!arrived && serial_.error() == QSerialPort::TimeoutError)
        serial_.clearError();
    return arrived;
}

void QtCommPort::onError(QSerialPort::SerialPortError error)
{
    // A vanished adapter reports a resource error; a hung-up line (a pty whose
    // far end closed) reports a read error.
    if (error == QSerialPort::ResourceError || error == QSerialPort::ReadError) {
        // The device went away (adapter unplugged, far end hung up): from now
        // on the port is closed and every operation on it says so.
        closePort();
        emit inputArrived();
    }
}
