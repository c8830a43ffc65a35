#pragma once
#include "base/MeterReply.h"
#include "link/MeterAddress.h"
#include "link/MeterState.h"
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>

class CommPort;
class Prompts;

// What the meter link tells its caller while it works. The window turns
// these into captions and check marks; the command line into its own output.
class LinkEvents {
public:
    virtual ~LinkEvents() = default;
    // Identification of a meter in normal mode starts on this port.
    virtual void portChecking(int portNumber) { Q_UNUSED(portNumber); }
    // A version reply was accepted; the identity is in the link's MeterState.
    virtual void identityRead() {}
    // The boot-loader probe of this port starts (the port has just been opened).
    virtual void bootPortChecking(int portNumber) { Q_UNUSED(portNumber); }
    // A port could not be opened and its box was shown: the program should
    // end once the running command has returned.
    virtual void quitRequested() {}
};

// How long the line must stay quiet before something is repeated
// automatically, so that a late answer to the first attempt cannot be taken
// for the answer to the repeat.
struct SettleTimes {
    double quietSeconds = 1.0;  // the settle ends after this much silence
    double mostSeconds = 3.0;   // or after this long, for a meter that keeps talking
};

// How an attempt to reach the meter on a port ended.
enum class LinkResult {
    Answered,        // a valid reply came
    NoAnswer,        // the port opened but no valid reply came (or the line was lost)
    PortOpenFailed,  // the port could not be opened
};

// Everything said to the meter on one port: opening and closing the port with
// the meter's line settings, the timed pauses, identification of a meter in
// normal mode, the boot-loader probe and entry, each upgrade line and the
// acknowledgement of a command or a line. Nothing outside the link writes to
// or reads from the port. One instance serves one meter on one thread; its
// waits run that thread's event loop, and it holds that meter's state.
//
// A link is made for the meter's address, where a port number has already
// become its device (the command line's meters, a station's socket), and
// reaches that device and no other. The window's link is made without one:
// its search aims it at port after port by number, and the port control
// finds each number's device.
class MeterLink {
public:
    static constexpr double kTickSeconds = 0.054;  // unit of TDelay
    static constexpr int kTicksPerSecond = 18;     // SDelay's nominal second: 0.972 s
    static constexpr int kInBufferBytes = 100;
    static constexpr double kAcknowledgeSeconds = 0.3;  // the meter's window to answer
    static inline const QString kLineSettings = QStringLiteral("9600,n,8,1");
    static inline const QByteArray kCarriageReturn = QByteArrayLiteral("\r");
    static inline const QByteArray kQuietCommand = QByteArrayLiteral("H\r");
    static inline const QByteArray kVersionRequest = QByteArrayLiteral("V\r");
    static inline const QByteArray kUpgradeModeCommand = QByteArrayLiteral("\xC2\xD4\r");

    MeterLink(CommPort &comm, Prompts &prompts, LinkEvents &events, MeterAddress meterAt = {});

    MeterState &meter() { return meter_; }
    const MeterState &meter() const { return meter_; }

    // The port and the waits. Com_Open opens the device of the link's
    // address, or the port numbered Port_Number when the address names no
    // device; a failure is reported in its box and ends in quitRequested().
    void Com_Open();
    void Com_Close();
    bool isOpen() const;
    // Port discovery: whether port n can be opened and closed again. Leaves
    // the port closed; the state's Port_Number is not changed.
    bool portOpens(int portNumber);
    void TDelay(double ticks);
    void SDelay(const std::int16_t &seconds);

    // Identification of a meter in normal mode on `portNumber`, which becomes
    // the link's Port_Number: quiet it, then ask for its version reply.
    // `found` is true when a valid reply was stored.
    LinkResult Check_Version(std::int16_t portNumber, bool &found);
    // The same on the link's own address. Answered when a valid version
    // reply was stored.
    LinkResult checkVersion();
    // Where the link reaches its meter now.
    const MeterAddress &address() const { return address_; }
    void Com_Input_Vers(bool &valid);
    // A meter that is restarting: identified on the link's port again and
    // again, for up to `seconds` or until `stop` says so, pausing while its
    // adapter is gone. Whether a valid reply was stored.
    bool identifyWithin(double seconds, const std::function<bool()> &stop);

    // One port of the boot-loader search: reopen `portNumber` (the link's
    // Port_Number from then on), pause, send the upgrade-mode command and
    // judge the reply.
    LinkResult probeBootAt(std::int16_t portNumber, bool &acknowledged);
    // The same on the link's own address. Answered when the switch was
    // acknowledged.
    LinkResult probeBoot();

    // The switch of an identified meter into its boot loader: the quiet
    // command, its replies read and dropped for 0.2 s, then the upgrade-mode
    // command; whether it was acknowledged. Port errors reach the caller.
    bool switchToBootLoader();

    // After the last switch attempt went unacknowledged: up to `seconds` more
    // for a "PASS" that comes late; whether it came. Nothing is sent. Port
    // errors reach the caller.
    bool awaitLateAcknowledge(double seconds);

    // Lets the thread serve its pending events once (the window's, where the
    // link runs on the window's thread), the port's input among them.
    void serveEvents();

    // One upgrade line, sent with a carriage return, and its acknowledgement.
    // Whatever is still unread from earlier replies is dropped first, so a
    // late or split reply cannot answer for this line. Port errors reach the
    // caller.
    // The meter has `windowSeconds` to answer.
    MeterReply sendLine(const QByteArray &line, double windowSeconds = kAcknowledgeSeconds);

    // The meter's reply to what was just written: up to its carriage return
    // or for at most 0.3 s; accepted when it contains "PASS". Port errors
    // reach the caller.
    void Acknowledge(bool &accepted);
    // The same, telling a refusal from no answer at all.
    MeterReply acknowledgement();
    // Whether the last acknowledgement waited in vain: not a byte came.
    bool heardNothing() const { return heardNothing_; }

    // Before an automatic repeat of what was last written: waits until the
    // line has been quiet for the settle time. When the last acknowledgement
    // ended without a whole reply, the first reply to end inside the settle
    // answers what was written: Accepted when it holds "PASS" (the wait ends
    // there). Otherwise the wait runs on to the quiet, and says Refused when
    // anything was heard, NoAnswer when not a byte came. Port errors reach
    // the caller.
    MeterReply settle(const SettleTimes &times);

private:
    // The window's search: port `portNumber`, by number.
    void aimAt(std::int16_t portNumber);
    MeterReply awaitReply(double deadline);  // monotonic seconds
    void drainAfterQuiet();
    void discardReceived();

    MeterState meter_;
    MeterAddress address_;
    bool heardNothing_ = false;
    // What the last acknowledgement read, when its reply had not ended yet.
    QByteArray unfinishedReply_;
    bool replyUnfinished_ = false;
    // Lines sent since the meter was last heard keeping pace with the wire
    // (answering only after the line had left); -1 until it has been.
    int linesSinceHeardPaced_ = -1;
    // Seconds from a line's leaving to its answer's carriage return, the last
    // time a line was listened to throughout.
    double answerWholeAfterLine_ = 0;
    CommPort &Comm1;
    Prompts &prompts_;
    LinkEvents &events_;
};
