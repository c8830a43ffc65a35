#pragma once
#include "base/Prompts.h"
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

// What the benchmarks share: the meter emulator as a process, processor time
// and memory of a process, and a user who answers every question at once.
namespace BenchSupport {

// Starts the meter emulator with `args`; returns its device path (empty when
// it did not start).
QString startEmulator(QProcess &process, const QStringList &args);
void stopEmulator(QProcess &process);

// The middle of `values` (the upper one of two); 0 when there are none.
double median(QList<double> values);

double ownCpuSeconds();
double processCpuSeconds(qint64 pid);
// The peak resident memory of this process so far, in KiB.
long peakResidentKiB();

// An Intel HEX file of `dataBytes` random bytes from srec_cat, CR LF line
// ends, `recordBytes` data bytes per line. Returns its path or an empty string.
QString makeHexFile(const QString &dir, const QString &name, qint64 dataBytes, int recordBytes);

// Picks `file` in the dialog and answers OK, Retry (three times at most)
// or Abort to every box.
class AnsweringPrompts : public Prompts {
public:
    explicit AnsweringPrompts(QString file) : file_(std::move(file)) {}
    MsgAnswer MsgBox(const Question &question) override;
    std::optional<QString> ShowOpen(const QString &, const QString &, const QString &) override { return file_; }
    QStringList shown;

private:
    static constexpr int kMaxRetries = 3;
    QString file_;
    int retries_ = 0;
};

}
