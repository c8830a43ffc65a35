#pragma once
#include "link/MeterAddress.h"
#include <QJsonObject>
#include <QList>
#include <QMutex>
#include <QString>
#include <functional>
#include <optional>

enum class MeterResult {
    Pending,
    Completed,    // upgraded: every line accepted, the end record last
    Failed,       // see message
    Interrupted,  // stopped by SIGINT/SIGTERM
    Identified,   // identify: a meter in normal mode answered
    BootLoader,   // identify: a boot loader answered
    NoMeter,      // nothing answered
    Unreadable,   // identify: something answered, but not with a version reply
    Current,      // station: the meter has the profile's version already
    NotTouched,   // station: reached, but not for this station to change (see message)
};

QString resultName(MeterResult r);   // the label JSON and transcripts use
QString resultWords(MeterResult r);  // the same for people: the live lines and the summary

// What is known of one meter while its thread works.
struct MeterStatus {
    MeterAddress address;
    int noteSlot = -1;  // its part of a second signal's note; -1: none
    QString phase = QStringLiteral("waiting");
    QString serial, model, bootVersion, firmVersion;
    qint64 lines = 0;       // acknowledged
    qint64 totalLines = 0;
    qint64 bytes = 0;       // sent and acknowledged, line ends included
    double startedAt = 0;   // monotonic seconds
    double transferStartedAt = 0;
    double finishedAt = 0;
    int retries = 0;
    MeterResult result = MeterResult::Pending;
    QString message;
    QString hint;  // what to try next, for a person; never in JSON
    std::optional<bool> leftInBootLoader = false;  // nullopt: it may be, nobody knows
    QString transcript;
};

// A finished meter's result and its reason, for people. A stopped meter's
// reason says so itself ("stopped after line 41").
QString resultLine(const MeterStatus &s);
// `text` in the colour of the result on a terminal: green for success, red
// for a failure.
QString paintedAs(MeterResult r, const QString &text);

// The meters of one run, shared between their threads and the main thread,
// and the JSON event stream (one object per line on standard output).
class MeterBoard {
public:
    MeterBoard(const QList<MeterAddress> &meters, bool json);

    int size() const { return static_cast<int>(meters_.size()); }
    bool json() const { return json_; }
    void update(int index, const std::function<void(MeterStatus &)> &change);
    MeterStatus at(int index) const;
    // Where meter `index` is reached; fixed when the board is made.
    const MeterAddress &addressOf(int index) const { return addresses_.at(index); }
    QList<MeterStatus> all() const;
    // Writes one JSON event for the meter (its name and the time added) when JSON is on.
    void event(int index, const QString &name, QJsonObject fields = {}) const;
    // -v: what happens on the way (a retry, a presumed restart), for people.
    // Kept for the run to print only when told so.
    void tellAlong(bool on) { tellingAlong_ = on; }
    void say(int index, const QString &text);
    // What was said since the last call, one line each, the meter named first.
    QStringList takeSaid();
    // Seconds since the board was made.
    double elapsed() const;

private:
    mutable QMutex mutex_;
    QList<MeterStatus> meters_;
    const QList<MeterAddress> addresses_;
    bool json_;
    double start_;
    bool tellingAlong_ = false;
    QStringList said_;
};

// One JSON object as a line, compact, with its line end.
QString jsonLine(const QJsonObject &object);
// Writes one JSON object as a line on standard output.
void writeJsonLine(const QJsonObject &object);
