// The acknowledgement reader, fed from a scripted port: whatever the meter
// sent, it must stop at the first carriage return, judge only what came
// before it, and leave the rest unread.
#include "ScriptedCommPort.h"
#include "ScriptedPrompts.h"
#include "link/MeterLink.h"
#include <QCoreApplication>
#include <cstdint>
#include <cstdlib>

namespace {
QCoreApplication *app = nullptr;
}

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    app = new QCoreApplication(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // Ended by a carriage return, so no case waits out the 0.3 s limit.
    const QByteArray sent = QByteArray(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size)) + '\r';
    ScriptedCommPort comm;
    ScriptedPrompts prompts;
    LinkEvents events;
    MeterLink link(comm, prompts, events);
    comm.preload(sent);
    bool accepted = false;
    link.Acknowledge(accepted);
    const qsizetype cr = sent.indexOf('\r');
    if (accepted != sent.left(cr).contains("PASS"))
        std::abort();
    if (comm.inBufferCount() != sent.size() - cr - 1)
        std::abort();
    return 0;
}
