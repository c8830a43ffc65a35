#pragma once
#include "cli/CliPrompts.h"
#include "cli/MeterObservers.h"
#include "cli/MeterReporter.h"
#include "link/MeterLink.h"
#include "link/QtCommPort.h"
#include "link/TranscriptCommPort.h"

class MeterBoard;
class MeterAddress;
class PortMap;

// Everything one meter's job reaches its meter through, made on the job's
// thread, each part on the ones before it: the serial port (its waits
// block in the line), the transcript around it, the reporter (started), the
// prompts, the link's events and the link, which looks for any model.
// `upgrade`, `identify` and a station's sockets all use it.
class MeterStack {
public:
    MeterStack(const MeterAddress &address, const PortMap &map, MeterBoard &board, int index, const QString &logDir);
    MeterStack(const MeterStack &) = delete;
    MeterStack &operator=(const MeterStack &) = delete;

    // Closes the meter's port; an error in closing is of no use to anyone.
    void closeQuietly();

private:
    QtCommPort serial_;

public:
    TranscriptCommPort port;
    MeterReporter report;
    CliPrompts prompts;

private:
    CliLinkEvents linkEvents_;

public:
    MeterLink link;
};
