// The main window and the Device Info window, drawn by their own code.
#include "GuidePictures.h"
#include "SampleMeters.h"
#include "app/DocumentOpener.h"
#include "app/frmFwUpMain.h"
#include "base/Prompts.h"
#include "link/QtCommPort.h"
#include "usb/ChipIdLibrary.h"
#include "windows/frmDevInfo.h"
#include <QDir>
#include <QPainter>
#include <QProgressBar>
#include <cstring>

namespace {
constexpr int kUpgradeFileBytes = 4096;
constexpr int kShownAtPercent = 40;  // the upgrading window's progress bar
constexpr int kPercent = 100;
const QString kPort = QStringLiteral("3");
const QString kFileName = QStringLiteral("OV3A_FW0211.OVH");
const QColor kFrameColour(0x9a, 0x9a, 0x9a);

// The answers a person would give for the pictures: OK to the warning and
// to the end; anything else is a fault of the run, answered with a stop.
class PictureAnswers : public Prompts {
public:
    explicit PictureAnswers(QString file) : file_(std::move(file)) {}
    MsgAnswer MsgBox(const Question &question) override
    {
        switch (question.facts.kind) {
        case QuestionKind::UpgradeWarning:
        case QuestionKind::UpgradeComplete: return MsgAnswer::OK;
        case QuestionKind::NoMeterDetected:
            unexpected = true;
            return MsgAnswer::Abort;
        default:
            unexpected = true;
            return MsgAnswer::Cancel;
        }
    }
    std::optional<QString> ShowOpen(const QString &, const QString &, const QString &) override { return file_; }
    bool unexpected = false;

private:
    QString file_;
};

// A window as it is grabbed has no edge of its own; on white paper it gets
// the thin line a desktop draws round it.
QImage framed(QImage image)
{
    QPainter painter(&image);
    painter.setPen(QPen(kFrameColour, 1));
    const QRectF edge(QPointF(0, 0), image.deviceIndependentSize());
    painter.drawRect(edge.adjusted(0.5, 0.5, -0.5, -0.5));
    return image;
}

class NoDocuments : public DocumentOpener {
public:
    void openDocument(const QString &) override {}
};

// Two adapters of the bench, as the chip-ID library reports them.
class BenchAdapters : public ChipIdLibrary {
public:
    std::int32_t FTID_GetNumDevices(std::int32_t &count) override
    {
        count = kCount;
        return Success;
    }
    std::int32_t FTID_GetDeviceDescription(std::int32_t index, char *buffer, std::int32_t size) override
    {
        return copy(index, "USB <-> Serial Cable", buffer, size);
    }
    std::int32_t FTID_GetDeviceSerialNumber(std::int32_t index, char *buffer, std::int32_t size) override
    {
        return copy(index, index == 0 ? "FT4VQ1A2" : "FT4VQ3B7", buffer, size);
    }
    std::int32_t FTID_GetDeviceChipID(std::int32_t index, std::int32_t &chipId) override
    {
        if (index < 0 || index >= kCount)
            return DeviceNotFound;
        chipId = index == 0 ? kFirstChipId : kSecondChipId;
        return Success;
    }

private:
    static constexpr std::int32_t kCount = 2;
    static constexpr std::int32_t kFirstChipId = 1486290726;
    static constexpr std::int32_t kSecondChipId = 1486301895;
    static std::int32_t copy(std::int32_t index, const char *text, char *buffer, std::int32_t size)
    {
        if (index < 0 || index >= kCount)
            return DeviceNotFound;
        const std::size_t length = std::strlen(text);
        if (size <= 0 || static_cast<std::size_t>(size) <= length)
            return InvalidParameter;
        std::memcpy(buffer, text, length + 1);
        return Success;
    }
};
}

namespace GuidePictures {

QString mainWindow(const QString &emulator, const QString &workDir, const QString &outDir)
{
    const QString file = QDir(workDir).filePath(kFileName);
    if (!SampleMeters::writeUpgradeFile(file, kUpgradeFileBytes))
        return QStringLiteral("cannot write %1").arg(file);
    SampleMeters::Meter meter(emulator, {QStringLiteral("--no-pacing")});
    if (meter.device().isEmpty())
        return QStringLiteral("the meter emulator did not start");

    FwUpGlobals g;
    QtCommPort comm(PortMap::fromOverride(QStringLiteral("%1=%2").arg(kPort, meter.device())));
    PictureAnswers answers(file);
    BenchAdapters adapters;
    NoDocuments documents;
    frmFwUpMain w(g, {comm, answers, workDir, adapters, documents});
    w.Form_Load();
    w.show();
    w.cmdConnect_Click();
    if (!w.Meter_Connected)
        return QStringLiteral("no meter connected on %1").arg(meter.device());
    QString problem = save(framed(w.grab().toImage()), outDir, kConnected);

    QImage upgrading;
    QObject::connect(w.pbUpgrade, &QProgressBar::valueChanged, &w, [&](int value) {
        if (upgrading.isNull() && value * kPercent >= w.pbUpgrade->maximum() * kShownAtPercent)
            upgrading = framed(w.grab().toImage());
    });
    w.cmdUpgrade_Click();
    if (answers.unexpected || upgrading.isNull())
        return QStringLiteral("the upgrade did not go through");
    if (problem.isEmpty())
        problem = save(upgrading, outDir, kUpgrading);
    return problem;
}

QString deviceInfo(const QString &outDir)
{
    BenchAdapters adapters;
    frmDevInfo info(adapters);
    info.Form_Load();
    info.show();
    return save(framed(info.grab().toImage()), outDir, kDeviceInfo);
}

} // namespace GuidePictures
