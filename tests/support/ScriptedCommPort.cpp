#include "ScriptedCommPort.h"
#include "app/FwUpErrors.h"
#include <QTimer>

void ScriptedCommPort::arrive(int afterMs, const QByteArray &bytes)
{
    QTimer::singleShot(afterMs, Qt::PreciseTimer, this, [this, bytes] {
        buffer_ += bytes;
        emit inputArrived();
    });
}

void ScriptedCommPort::requireOpen() const
{
    if (!open_)
        throw FwUpError(FwUpErrorNumber::CommPortNotOpen);
}

void ScriptedCommPort::output(const QByteArray &bytes)
{
    requireOpen();
    written += bytes;
}

int ScriptedCommPort::inBufferCount()
{
    requireOpen();
    return static_cast<int>(buffer_.size());
}

QByteArray ScriptedCommPort::input()
{
    requireOpen();
    const QByteArray one = buffer_.left(1);
    buffer_.remove(0, 1);
    return one;
}
