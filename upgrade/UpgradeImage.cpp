#include "upgrade/UpgradeImage.h"
#include <QCryptographicHash>
#include "base/FwUpErrors.h"
#include "upgrade/UpgradeFile.h"
#include "upgrade/UpgradeFileName.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
constexpr qsizetype kCopyChunkBytes = 64 * 1024;
}

UpgradeImage::UpgradeImage(const QString &path, Keep keep)
    : path_(path), modelCode_(UpgradeFileName::modelCode(path)), versionText_(UpgradeFileName::versionText(path))
{
    read(keep);
}

void UpgradeImage::append(const QByteArray &bytes)
{
    if (!copy_.isOpen() || copyFailed_)
        return;
    pending_ += bytes;
    if (pending_.size() < kCopyChunkBytes)
        return;
    copyFailed_ = !copy_.append(pending_);
    pending_.clear();
}

void UpgradeImage::read(Keep keep)
{
    static const QByteArray kTerminators[] = {"", "\r", "\n", "\r\n"};
    QCryptographicHash digest(QCryptographicHash::Sha256);
    UpgradeFile file;
    HexFileChecker checker;
    try {
        file.open(path_);
        report_.opened = true;
        if (keep == Keep::Copy && !copy_.create())
            throw FwUpError(FwUpErrorNumber::FileIoError);
        while (!file.atEnd()) {
            const QByteArray line = file.readLine();
            ++fileLines_;
            if (file.lastLineTooLong()) {
                report_.lineTooLong = true;
                if (report_.fault.isEmpty()) {
                    report_.faultLine = fileLines_;
                    report_.faultText = line;
                    report_.fault = QStringLiteral("the line is longer than any Intel HEX record can be "
                                                   "(over %1 characters) - not an upgrade file?")
                                        .arg(UpgradeFile::kLongestLineChars);
                }
                break;
            }
            const QByteArray bytes = line + kTerminators[static_cast<int>(file.lastLineEnd())];
            digest.addData(bytes);
            bytesRead_ += bytes.size();
            append(bytes);
            if (!report_.fault.isEmpty())
                continue;  // the first fault is the one told; the copy goes on
            const QString fault = checker.feed(line, file.lastLineEnd());
            if (!fault.isEmpty()) {
                report_.faultLine = checker.lines();
                report_.faultText = line;
                report_.fault = fault;
            }
        }
        sha256_ = QString::fromLatin1(digest.result().toHex());
        if (copy_.isOpen() && !copyFailed_)
            copyFailed_ = !copy_.append(pending_);
        pending_.clear();
        if (copyFailed_)
            throw FwUpError(FwUpErrorNumber::FileIoError);
    } catch (const FwUpError &e) {
        errorNumber_ = e.code();
        report_.openError = QStringLiteral("%1: %2").arg(e.code()).arg(e.description());
        report_.openErrorNumber = e.code();
        report_.openErrorText = e.description();
        copy_.discard();
        return;
    }
    report_.lines = checker.lines();
    report_.dataBytes = checker.dataBytes();
    report_.ranges = checker.ranges();
    if (report_.fault.isEmpty()) {
        report_.fault = checker.finish();
        if (!report_.fault.isEmpty())
            report_.faultLine = checker.lines();
    }
    report_.ok = report_.fault.isEmpty();
}

std::unique_ptr<UpgradeFile> UpgradeImage::reader() const
{
    auto file = std::make_unique<UpgradeFile>();
    file->openCopy(copy_);
    return file;
}

FileFacts UpgradeImage::facts() const
{
    FileFacts facts;
    facts.path = QFileInfo(path_).absoluteFilePath();
    facts.targetVersion = versionText_.trimmed();
    facts.sha256 = sha256_;
    facts.size = bytesRead_;
    facts.lines = fileLines_;
    return facts;
}
