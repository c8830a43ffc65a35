#include "link/TranscriptCommPort.h"
#include "base/Escaped.h"
#include "base/MonotonicClock.h"
#include "base/NoReplaceFiles.h"
#include <QFile>
#include <cstdio>

namespace {
constexpr char kCarriageReturn = '\r';

QByteArray escaped(const QByteArray &bytes)
{
    return Escaped::bytes(bytes).toLatin1();
}
}

TranscriptCommPort::TranscriptCommPort(CommPort &inner)
    : inner_(inner), start_(MonotonicClock::now())
{
    connect(&inner_, &CommPort::inputArrived, this, &CommPort::inputArrived);
}

TranscriptCommPort::~TranscriptCommPort()
{
    if (file_) {
        flushReceived();
        std::fclose(file_);
    }
}

bool TranscriptCommPort::openTranscript(const QString &path)
{
    file_ = createNewFile(path);  // never over another run's
    if (file_)
        path_ = path;
    return file_ != nullptr;
}

bool TranscriptCommPort::renameTranscript(const QString &path)
{
    if (!file_ || path == path_)
        return false;
    // The stream keeps writing to the file under its new name.
    if (!renameOpenFile(file_, path_, path))
        return false;
    path_ = path;
    return true;
}

double TranscriptCommPort::elapsed() const
{
    return MonotonicClock::now() - start_;
}

void TranscriptCommPort::writeLine(const char *direction, const QByteArray &bytes, double at)
{
    if (!file_)
        return;
    std::fprintf(file_, "%10.6f %s %s\n", at, direction, bytes.constData());
    std::fflush(file_);
}

void TranscriptCommPort::flushReceived()
{
    if (received_.isEmpty())
        return;
    writeLine("rx", escaped(received_), receivedAt_);
    received_.clear();
}

void TranscriptCommPort::note(const QString &text)
{
    if (!file_)
        return;  // nothing is written, so nothing is worded
    flushReceived();
    writeLine("--", Escaped::text(text).toUtf8(), elapsed());
}

void TranscriptCommPort::setPortOpen(bool open)
{
    const bool was = inner_.portOpen();
    inner_.setPortOpen(open);
    if (was != open)
        note(open ? QStringLiteral("port opened") : QStringLiteral("port closed"));
}

void TranscriptCommPort::output(const QByteArray &bytes)
{
    inner_.output(bytes);
    if (!file_)
        return;
    flushReceived();
    writeLine("tx", escaped(bytes), elapsed());
}

QByteArray TranscriptCommPort::input()
{
    return recorded(inner_.input());
}

QByteArray TranscriptCommPort::inputThrough(char end)
{
    return recorded(inner_.inputThrough(end));
}

QByteArray TranscriptCommPort::recorded(QByteArray got)
{
    if (file_ && !got.isEmpty()) {
        if (received_.isEmpty())
            receivedAt_ = elapsed();
        received_ += got;
        if (got.endsWith(kCarriageReturn))
            flushReceived();
    }
    return got;
}
