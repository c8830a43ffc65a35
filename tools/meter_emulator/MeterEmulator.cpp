#include "MeterEmulator.h"
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr double kBitsPerCharacter = 10;  // start, 8 data, stop
constexpr double kBaud = 9600;
constexpr speed_t kMeterSpeed = B9600;
constexpr std::size_t kMaxLineBytes = 4096;
constexpr char kCR = '\r';
const std::string kUpgradeModeCommand = "\xC2\xD4";
const std::string kPass = "PASS\r";
const std::string kFail = "FAIL\r";
const std::string kReading = "R,00123.4,kWh\r\n";
// Time for the last acknowledgement to reach the tool before the line drops;
// a hang-up discards whatever the far end has not read yet.
constexpr double kHangupGraceSeconds = 0.05;
// A meter that restarts is deaf and dumb this long before its boot loader runs.
constexpr double kRestartSilenceSeconds = 1.0;

double monotonicSeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

MeterEmulator::MeterEmulator(EmulatorOptions options)
    : o_(std::move(options)), byteSeconds_(o_.pacing ? kBitsPerCharacter / kBaud : 0),
      boot_(o_.startInBoot), faults_(o_.noiseRate, o_.dropReplyEvery, o_.seed)
{
    start_ = monotonicSeconds();
    quiet_ = !o_.chatter;
}

MeterEmulator::~MeterEmulator()
{
    stats_.write(o_.statsPath);
    if (!o_.linkPath.empty())
        ::unlink(o_.linkPath.c_str());
    if (log_)
        std::fclose(log_);
    if (slaveHold_ >= 0)
        ::close(slaveHold_);
    if (master_ >= 0)
        ::close(master_);
}

double MeterEmulator::now() const
{
    return monotonicSeconds() - start_;
}

std::string MeterEmulator::openLine(std::string &error)
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        return {};
    }
    const char *name = ::ptsname(master_);
    std::string path = name ? name : "";
    slaveHold_ = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    termios t{};
    if (slaveHold_ < 0 || ::tcgetattr(slaveHold_, &t) != 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return {};
    }
    ::cfmakeraw(&t);  // carriage returns must arrive as they were sent
    ::tcsetattr(slaveHold_, TCSANOW, &t);
    if (!o_.logPath.empty()) {
        log_ = std::fopen(o_.logPath.c_str(), "w");
        if (!log_) {
            error = "cannot write " + o_.logPath + ": " + std::strerror(errno);
            return {};
        }
        std::setvbuf(log_, nullptr, _IOLBF, 0);
    }
    if (!o_.linkPath.empty()) {
        ::unlink(o_.linkPath.c_str());
        if (::symlink(path.c_str(), o_.linkPath.c_str()) != 0) {
            error = "cannot make link " + o_.linkPath + ": " + std::strerror(errno);
            o_.linkPath.clear();
            return {};
        }
    }
    nextChatterAt_ = now();
    return path;
}

void MeterEmulator::log(double t, const char *direction, const std::uint8_t *data, std::size_t n)
{
    if (!log_ || n == 0)
        return;
    std::fprintf(log_, "%.6f %s", t, direction);
    for (std::size_t i = 0; i < n; ++i)
        std::fprintf(log_, " %02X", data[i]);
    std::fputc('\n', log_);
}

// A pseudo-terminal carries the speed the tool set on its end (its
// master reads the same settings), though neither parity nor data bits
// change what passes. A meter hears a line at another speed as noise: the
// emulator then understands nothing, and says so once.
bool MeterEmulator::lineAtMeterSpeed()
{
    termios line{};
    if (::tcgetattr(master_, &line) != 0 || ::cfgetospeed(&line) == kMeterSpeed)
        return true;
    if (!wrongSpeedTold_)
        std::fprintf(stderr, "ov_meter_emulator: the line is not set to 9600 baud; nothing sent is understood\n");
    wrongSpeedTold_ = true;
    return false;
}

void MeterEmulator::receive(const std::uint8_t *sent, std::size_t n, double t)
{
    if (!lineAtMeterSpeed()) {
        log(t, "rx?", sent, n);  // heard as noise
        return;
    }
    std::string heard(reinterpret_cast<const char *>(sent), n);
    stats_.bitsFlippedReceived +=
        static_cast<long long>(faults_.corruptReceived(reinterpret_cast<std::uint8_t *>(heard.data()), n));
    log(t, "rx", reinterpret_cast<const std::uint8_t *>(heard.data()), n);
    for (std::size_t i = 0; i < n; ++i) {
        rxFreeAt_ = std::max(rxFreeAt_, t) + byteSeconds_;
        const char c = heard[i];
        if (c == kCR) {
            commands_.push_back({rxFreeAt_, rxLine_, rxSent_});
            rxLine_.clear();
            rxSent_.clear();
        } else if (rxLine_.size() < kMaxLineBytes) {
            rxLine_ += c;
        }
        // What the tool meant, without its line ends.
        if (sent[i] != kCR && rxSent_.size() < kMaxLineBytes)
            rxSent_ += static_cast<char>(sent[i]);
    }
}

void MeterEmulator::send(const std::string &text, double at, bool isReply)
{
    if (o_.silent)
        return;
    std::string onLine = text;
    stats_.bitsFlippedSent += static_cast<long long>(faults_.corruptSent(onLine));
    double t = at;
    if (isReply)
        t += (o_.replyDelayMs + o_.lateReplyMs) / 1000.0;
    t = std::max(t, txFreeAt_);
    for (char c : onLine) {
        tx_.push_back({t, static_cast<std::uint8_t>(c)});
        t += byteSeconds_;
    }
    txFreeAt_ = t;
}

void MeterEmulator::handle(const Command &command)
{
    if (command.at < silentUntil_)
        return;  // restarting: nothing is heard
    if (boot_)
        handleBoot(command);
    else
        handleNormal(command.text, command.at);
}

void MeterEmulator::restart(double at)
{
    // The line in progress and every reply not yet on the wire are lost, and
    // so is the partial image; the boot loader comes back after a silence.
    restarted_ = true;
    ++stats_.resets;
    tx_.clear();
    txFreeAt_ = at;
    silentUntil_ = at + kRestartSilenceSeconds;
    image_ = IntelHexImage{};
    recordsAccepted_ = 0;
    stats_.letThroughInImage = 0;
    armed_ = false;
    boot_ = true;
    quiet_ = true;
    stats_.write(o_.statsPath);
}

void MeterEmulator::handleNormal(const std::string &line, double at)
{
    if (line == "H") {
        ++quietCommands_;
        if (!o_.neverQuiet && quietCommands_ >= o_.quietAfter)
            quiet_ = true;
    } else if (line == "V") {
        std::string reply = o_.identity;
        if (o_.garble) {
            const auto o = reply.find('O');
            if (o != std::string::npos)
                reply[o] = '0';
            reply.insert(reply.size() / 2, "\x07#");
        }
        send(reply + "\r", at);
    } else if (line == kUpgradeModeCommand) {
        boot_ = true;
        quiet_ = true;
        send(kPass, at + o_.switchDelayMs / 1000.0);
    }
}

void MeterEmulator::handleBoot(const Command &command)
{
    const std::string &line = command.text;
    const double at = command.at;
    if (line == kUpgradeModeCommand) {
        armed_ = true;
        send(kPass, at + o_.switchDelayMs / 1000.0);
        return;
    }
    if (line.empty() || line == "H")
        return;  // the boot loader ignores wake-ups and quiet commands
    if (!armed_) {
        send(kFail, at);
        return;
    }
    const int recordNumber = recordsAccepted_ + 1;
    if (recordNumber == o_.resetAt && !restarted_) {
        restart(at);
        return;
    }
    if (recordNumber == o_.refuseLine && (o_.refuseCount < 0 || refusals_ < o_.refuseCount)) {
        ++refusals_;
        send(kFail, at);
        return;
    }
    const auto outcome = image_.accept(line);
    if (outcome == IntelHexImage::Outcome::Invalid) {
        send(kFail, at);
        return;
    }
    ++recordsAccepted_;
    double answerAt = at;
    if (o_.slowEvery > 0 && recordNumber % o_.slowEvery == 0)
        answerAt += o_.slowMs / 1000.0;
    if (line != command.sent) {
        ++stats_.letThrough;
        ++stats_.letThroughInImage;
    }
    if (outcome == IntelHexImage::Outcome::EndOfFile) {
        writeImage();
        answerAt += o_.commitDelayMs / 1000.0;
    }
    if (faults_.dropsReply())
        ++stats_.repliesDropped;
    else
        send(kPass, answerAt);
    if (outcome == IntelHexImage::Outcome::EndOfFile && !o_.restartInto.empty()) {
        // The new firmware starts and names its version in the last field.
        boot_ = false;
        o_.identity = o_.identity.substr(0, o_.identity.rfind(',') + 1) + o_.restartInto;
        if (!o_.swappedFor.empty()) {  // "V,SERIAL,BOOT,FIRMWARE": another meter in its place
            const std::size_t serialAt = o_.identity.find(',') + 1;
            o_.identity.replace(serialAt, o_.identity.find(',', serialAt) - serialAt, o_.swappedFor);
        }
    }
    if (o_.hangupAfter > 0 && recordsAccepted_ == o_.hangupAfter)
        hangupAt_ = txFreeAt_ + kHangupGraceSeconds;
}

void MeterEmulator::writeImage()
{
    stats_.write(o_.statsPath);
    if (o_.imagePath.empty())
        return;
    const std::string tmp = o_.imagePath + ".part";
    const std::string hexSuffix = ".hex";
    const bool asHex = o_.imagePath.size() >= hexSuffix.size() &&
                       o_.imagePath.compare(o_.imagePath.size() - hexSuffix.size(), hexSuffix.size(), hexSuffix) == 0;
    if (FILE *f = std::fopen(tmp.c_str(), "wb")) {
        const bool ok = asHex ? image_.writeHex(f) : image_.writeBinary(f);
        if (std::fclose(f) == 0 && ok)
            std::rename(tmp.c_str(), o_.imagePath.c_str());
    }
}

void MeterEmulator::writeDue(double t)
{
    std::uint8_t burst[256];
    std::size_t n = 0;
    while (!tx_.empty() && tx_.front().at <= t && n < sizeof burst) {
        burst[n++] = tx_.front().byte;
        tx_.pop_front();
    }
    if (n == 0)
        return;
    // A full line (the tool has the port closed and is not reading) loses the
    // rest, as a real line would.
    const ssize_t written = ::write(master_, burst, n);
    log(t, "tx", burst, written > 0 ? static_cast<std::size_t>(written) : 0);
}

double MeterEmulator::nextEventTime() const
{
    double next = 1e300;
    if (!commands_.empty()) next = std::min(next, commands_.front().at);
    if (!tx_.empty()) next = std::min(next, tx_.front().at);
    if (!quiet_ && !o_.silent) next = std::min(next, nextChatterAt_);
    if (hangupAt_ >= 0) next = std::min(next, hangupAt_);
    return next;
}

void MeterEmulator::run(volatile bool &stopFlag)
{
    while (!stopFlag) {
        double t = now();
        while (!commands_.empty() && commands_.front().at <= t) {
            const Command c = commands_.front();
            commands_.pop_front();
            handle(c);
        }
        if (!quiet_ && t >= nextChatterAt_) {
            if (txFreeAt_ > t) {
                // A reading starts only on an idle line, so nothing queues up
                // behind the pacing and a quiet command leaves at most the
                // reading in progress to finish.
                nextChatterAt_ = txFreeAt_;
            } else {
                send(kReading, t, false);
                nextChatterAt_ = t + o_.chatterIntervalMs / 1000.0;
            }
        }
        writeDue(t);
        if (hangupAt_ >= 0 && t >= hangupAt_ && tx_.empty())
            return;  // closing the master drops the line for the tool

        const double wait = nextEventTime() - now();
        const int timeoutMs = wait > 3600 ? -1 : std::max(0, static_cast<int>(std::ceil(wait * 1000)));
        pollfd pfd{master_, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, timeoutMs);
        if (ready > 0 && (pfd.revents & POLLIN)) {
            std::uint8_t buf[512];
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n > 0)
                receive(buf, static_cast<std::size_t>(n), now());
        }
    }
}
