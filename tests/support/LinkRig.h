#pragma once
#include "ScriptedPrompts.h"
#include "link/MeterLink.h"
#include "link/QtCommPort.h"
#include <QStringList>

// Hears what the meter link reports, in order, as short texts.
class RecordingLinkEvents : public LinkEvents {
public:
    QStringList heard;
    void portChecking(int n) override { heard << QStringLiteral("checking %1").arg(n); }
    void identityRead() override { heard << QStringLiteral("identity"); }
    void bootPortChecking(int n) override { heard << QStringLiteral("boot %1").arg(n); }
    void quitRequested() override { heard << QStringLiteral("quit"); }
};

// The meter link on a real QSerialPort whose port numbers map to the given
// devices (OVFW_PORTS form, e.g. "3=/dev/pts/4"), with scripted prompts.
struct LinkRig {
    explicit LinkRig(const QString &portSpec) : comm(PortMap::fromOverride(portSpec)) {}

    QtCommPort comm;
    ScriptedPrompts prompts;
    RecordingLinkEvents events;
    MeterLink link{comm, prompts, events};
    MeterState &meter = link.meter();
};
