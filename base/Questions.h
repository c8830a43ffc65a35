#pragma once
#include "base/MeterReply.h"
#include <QString>

// Every message box the tool shows, with its kind and the numbers it is
// about. The window shows the text, style and title exactly as they stand
// here; a caller answering without a person (the command line) decides by
// the kind and the numbers alone, never by the text.
namespace MsgStyle {
constexpr int OkOnly = 0;
constexpr int OkCancel = 1;
constexpr int AbortRetryIgnore = 2;
constexpr int RetryCancel = 5;
constexpr int Critical = 16;
constexpr int Exclamation = 48;
constexpr int Information = 64;
constexpr int DefaultButton2 = 256;
constexpr int ButtonsMask = 0x0F;
constexpr int IconMask = 0xF0;
constexpr int DefaultMask = 0xF00;
}

enum class QuestionKind {
    PortOpenFailed,      // a port could not be opened; the program ends after it
    NoMeterDetected,     // Connect found no meter in normal mode: Abort, Retry or Ignore
    NoHardwareDetected,  // the boot-loader search found nothing: Retry or Cancel
    UpgradeWarning,      // the meter is about to be switched into its boot loader: OK or Cancel
    NotResponding,       // the meter did not acknowledge the switch: OK tries again
    LineRefused,         // a line was not acknowledged: Retry sends it again
    UpgradeComplete,     // every line accepted, the end record last
    UnexpectedEnd,       // the transfer ended without the end record accepted last
    UpgradeError,        // a run-time error ended the upgrade
    SessionSaveFailed,   // the session file could not be written
    FileRefused,         // the chosen upgrade file failed its check: nothing was sent
};

// What a question is about, apart from its wording.
struct QuestionFacts {
    QuestionKind kind = QuestionKind::UpgradeError;
    int port = 0;         // PortOpenFailed
    qint64 line = 0;      // LineRefused: the line's number in the file, from 1
    int errorNumber = 0;  // UpgradeError
    MeterReply reply = MeterReply::Refused;  // LineRefused: refused, or not answered at all
    int attempt = 0;      // NotResponding, LineRefused: the attempt that failed, from 1
    // NotResponding, LineRefused: whether the upgrade's rules allow another
    // attempt; a person at the window decides regardless.
    bool repeatAllowed = true;
};

struct Question {
    QuestionFacts facts;
    QString text;
    int style = MsgStyle::OkOnly;
    QString title;  // empty: the application title
    QuestionKind kind() const { return facts.kind; }
};

namespace Questions {

inline const QString kSearchTitle = QStringLiteral("ov Firmware Upgrade ");  // trailing blank as shown
inline const QString kUpgradeTitle = QStringLiteral("Firmware Upgrade");
inline const QString kOpenPortTitle = QStringLiteral("Open Comms Port");
inline const QString kSaveTitle = QStringLiteral("Save Parameters");
constexpr int kShownLineChars = 1000;  // longer lines are cut in the refusal box

inline Question portOpenFailed(int port, const QString &lineSettings)
{
    return {{QuestionKind::PortOpenFailed, port, 0, 0},
            QStringLiteral("Error Opening Comm%1:%2").arg(port).arg(lineSettings),
            MsgStyle::OkOnly + MsgStyle::Critical,
            kOpenPortTitle};
}

inline Question noMeterDetected()
{
    return {{QuestionKind::NoMeterDetected},
            QStringLiteral("No meter detected\r\n"
                           "Retry - First check meter is connected and turned on.\r\n"
                           "Ignore - If meter is already in upgrade mode (permanent red LED).\r\n"
                           "Otherwise - Abort"),
            MsgStyle::AbortRetryIgnore + MsgStyle::Critical,
            kSearchTitle};
}

inline Question noHardwareDetected()
{
    return {{QuestionKind::NoHardwareDetected},
            QStringLiteral("No hardware detected: Check connection and Retry, or Cancel."),
            MsgStyle::RetryCancel + MsgStyle::Exclamation,
            kSearchTitle};
}

inline Question upgradeWarning(const QString &fileName)
{
    return {{QuestionKind::UpgradeWarning},
            QStringLiteral("Warning! Starting firmware upgrade will render the device inoperable until new "
                           "firmware upgrade is complete.\r\nReady to download ") +
                fileName,
            MsgStyle::OkCancel + MsgStyle::Exclamation + MsgStyle::DefaultButton2,
            kUpgradeTitle};
}

inline Question notResponding(int attempt = 1)
{
    return {{QuestionKind::NotResponding, 0, 0, 0, MeterReply::NoAnswer, attempt},
            QStringLiteral("Hardware not responding, check connections, try again "),
            MsgStyle::OkCancel + MsgStyle::Information,
            kUpgradeTitle};
}

// `line` is the line as read; shown whole up to kShownLineChars characters.
// The same box whether the meter refused the line or did not answer.
inline Question lineRefused(qint64 lineNumber, const QByteArray &line, MeterReply reply = MeterReply::Refused,
                            int attempt = 1)
{
    QString shown = QString::fromLatin1(line.left(kShownLineChars));
    if (line.size() > kShownLineChars)
        shown += QStringLiteral("...");
    return {{QuestionKind::LineRefused, 0, lineNumber, 0, reply, attempt},
            QStringLiteral("Error sending ") + shown,
            MsgStyle::RetryCancel + MsgStyle::Information,
            kUpgradeTitle};
}

inline Question upgradeComplete()
{
    return {{QuestionKind::UpgradeComplete},
            QStringLiteral("Upgrade Complete."),
            MsgStyle::OkOnly + MsgStyle::Information,
            kUpgradeTitle};
}

inline Question unexpectedEnd()
{
    return {{QuestionKind::UnexpectedEnd},
            QStringLiteral("Unexpected end of file"),
            MsgStyle::OkOnly + MsgStyle::Information,
            kUpgradeTitle};
}

inline Question upgradeError(int errorNumber, const QString &description)
{
    return {{QuestionKind::UpgradeError, 0, 0, errorNumber},
            QStringLiteral(" File Error: \n%1: '%2'").arg(errorNumber).arg(description),
            MsgStyle::OkOnly,
            QString()};
}

// `lineNumber` is 0 when the fault is the file's as a whole (its model, or
// no end record); `shownLine` is the offending line fit to show, or empty.
inline Question fileRefused(qint64 lineNumber, const QString &fault, const QString &shownLine)
{
    QString where = lineNumber > 0 ? QStringLiteral("Line %1: ").arg(lineNumber) : QString();
    QString text = QStringLiteral("This upgrade file cannot be sent.\n\n%1%2").arg(where, fault);
    if (!shownLine.isEmpty())
        text += QStringLiteral("\n%1").arg(shownLine);
    text += QStringLiteral("\n\nNothing was sent; the meter is as it was.");
    return {{QuestionKind::FileRefused, 0, lineNumber, 0}, text, MsgStyle::OkOnly + MsgStyle::Critical, QString()};
}

inline Question sessionSaveFailed()
{
    return {{QuestionKind::SessionSaveFailed},
            QStringLiteral("Error Saving Session Config File"),
            MsgStyle::OkOnly + MsgStyle::Critical,
            kSaveTitle};
}

}
