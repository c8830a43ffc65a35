#pragma once
#include "base/FwUpGlobals.h"
#include <QByteArray>
#include <QString>
#include <cstdint>

class CommPort;
class Prompts;

// What the meter link tells its caller while it works. The window turns
// these into captions and check marks; the command line into its own output.
class LinkEvents {
public:
    virtual ~LinkEvents() = default;
    // Identification of a meter in normal mode starts on this port.
    virtual void portChecking(int portNumber) { Q_UNUSED(portNumber); }
    // A version reply was accepted; the identity is in the program-wide state.
    virtual void identityRead() {}
    // The boot-loader probe of this port starts (the port has just been opened).
    virtual void bootPortChecking(int portNumber) { Q_UNUSED(portNumber); }
    // A port could not be opened: Quit_Request is set, and the program should
    // end once the running command has returned.
    virtual void quitRequested() {}
};

// Everything said to the meter on the port numbered Port_Number: opening and
// closing the port with the meter's line settings, the timed pauses,
// identification of a meter in normal mode, the boot-loader probe and the
// acknowledgement of a command or an upgrade line. One instance serves one
// port on one thread; its waits run that thread's event loop.
class MeterLink {
public:
    static constexpr double kTickSeconds = 0.054;  // unit of TDelay
    static constexpr int kTicksPerSecond = 18;     // SDelay's nominal second: 0.972 s
    static constexpr int kInBufferBytes = 100;
    static inline const QString kLineSettings = QStringLiteral("9600,n,8,1");
    static inline const QByteArray kCarriageReturn = QByteArrayLiteral("\r");
    static inline const QByteArray kQuietCommand = QByteArrayLiteral("H\r");
    static inline const QByteArray kVersionRequest = QByteArrayLiteral("V\r");
    static inline const QByteArray kUpgradeModeCommand = QByteArrayLiteral("\xC2\xD4\r");

    MeterLink(FwUpGlobals &globals, CommPort &comm, Prompts &prompts, LinkEvents &events);

    // The port and the waits.
    void Com_Open();
    void Com_Close();
    void TDelay(double ticks);
    void SDelay(const std::int16_t &seconds);

    // Identification of a meter in normal mode on Port_Number: quiet it, then
    // ask for its version reply. True when a valid reply was stored.
    void Check_Version(bool &found);
    void Com_Input_Vers(bool &valid);

    // One port of the boot-loader search: reopen Port_Number, pause, send the
    // upgrade-mode command and judge the reply. A port that cannot be opened
    // counts as no answer.
    void Probe_Boot(bool &acknowledged);

    // The meter's reply to what was just written: up to its carriage return
    // or for at most 0.3 s; accepted when it contains "PASS". Port errors
    // reach the caller.
    void Acknowledge(bool &accepted);

    CommPort &port() { return Comm1; }
    FwUpGlobals &globals() { return g; }

private:
    FwUpGlobals &g;
    CommPort &Comm1;
    Prompts &prompts_;
    LinkEvents &events_;
};
