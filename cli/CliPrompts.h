#pragma once
#include "base/Prompts.h"
#include <QString>
#include <atomic>
#include <functional>

// The answers the command line gives the upgrade in place of a person: the
// file named on the command line, OK to the warning, a bounded number of
// retries when the meter does not answer or refuses a line, and Cancel to
// everything once a stop is requested. The outcome boxes become the result.
class CliPrompts : public Prompts {
public:
    enum class Decision { Warning, NotResponding, LineRefused, Outcome, PortOpenFailed, Unexpected };
    // Told of every answer: what was asked, the attempt (for retries), the answer.
    using Observer = std::function<void(Decision, const QString &text, int attempt, MsgAnswer answer)>;

    CliPrompts(QString filePath, int retries, const std::atomic<bool> &stop, Observer observer);

    MsgAnswer MsgBox(const QString &text, int style, const QString &title) override;
    std::optional<QString> ShowOpen(const QString &dialogTitle, const QString &filter,
                                    const QString &initialFileName) override;

    // A new line is about to be sent: its refusals are counted afresh.
    void lineStarted() { lineRefusals_ = 0; }

    QString outcomeText() const { return outcome_; }  // the last outcome box, trimmed
    bool portOpenFailed() const { return portOpenFailed_; }
    int retries() const { return retries_; }
    int retryLimit() const { return retryLimit_; }
    bool gaveUpOnLine() const { return gaveUpOnLine_; }  // a refused line was given up

private:
    MsgAnswer decide(Decision d, const QString &text, int attempt, MsgAnswer answer);

    QString filePath_;
    int retryLimit_;
    const std::atomic<bool> &stop_;
    Observer observer_;
    int notResponding_ = 0;
    int lineRefusals_ = 0;
    int retries_ = 0;
    bool portOpenFailed_ = false;
    bool gaveUpOnLine_ = false;
    QString outcome_;
};
