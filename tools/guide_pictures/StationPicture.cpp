// `ovfw station`'s board during a short run against emulated meters: the
// station's own jobs on its own sockets, its own board lines, drawn as the
// terminal it runs on shows them.
#include "GuidePictures.h"
#include "SampleMeters.h"
#include "base/MonotonicClock.h"
#include "cli/StationBoard.h"
#include "cli/StationJob.h"
#include "cli/StopSignal.h"
#include "base/EventWait.h"
#include "station/StationProfile.h"
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontMetricsF>
#include <QtMath>
#include <QPainter>
#include <map>
#include <memory>

namespace {
constexpr int kUpgradeFileBytes = 4096;
constexpr int kShownAtPercent = 40;  // the meter being upgraded
constexpr int kPercent = 100;
constexpr double kPollSeconds = 0.1;
constexpr double kLongestRunSeconds = 60;
const QString kFileName = QStringLiteral("OV3A_FW0211.OVH");
const QString kCommand = QStringLiteral("$ ovfw station bench-2.toml --yes");

// A terminal of the usual size, light text on a dark ground.
constexpr int kTerminalColumns = 80;
constexpr int kTerminalRows = 8;
constexpr int kFontPixels = 12;
constexpr int kPaddingPixels = 10;
constexpr double kDrawScale = 2;  // drawn at twice its size, for print
const QColor kGround(0x1e, 0x1e, 0x1e);
const QColor kText(0xd8, 0xd8, 0xd8);

QString sha256Of(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&f);
    return QString::fromLatin1(hash.result().toHex());
}

// The board's lines as the station draws them on a terminal: its heading,
// then a line per socket, each cut to the terminal's width.
QStringList boardLines(const StationBoard &board, const std::map<QString, std::unique_ptr<StationJob>> &jobs)
{
    QStringList out = board.heading();
    const double now = MonotonicClock::now();
    for (const auto &[name, job] : jobs) {
        const std::shared_ptr<MeterBoard> meter = job->board();
        const MeterStatus status = meter ? meter->at(0) : MeterStatus{};
        out << StationBoard::socketLine(name, meter ? &status : nullptr, now);
    }
    for (QString &line : out)
        line = line.left(kTerminalColumns - 1);
    return out;
}

QImage terminal(const QStringList &lines)
{
    QFont font;
    font.setFamilies({QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Liberation Mono")});
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(kFontPixels);
    const QFontMetricsF metrics(font);
    const QSize size(2 * kPaddingPixels + qCeil(metrics.horizontalAdvance(QString(kTerminalColumns, QLatin1Char('M')))),
                     2 * kPaddingPixels + qCeil(kTerminalRows * metrics.lineSpacing()));
    QImage image(size * kDrawScale, QImage::Format_RGB32);
    image.setDevicePixelRatio(kDrawScale);
    image.fill(kGround);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(kText);
    double baseline = kPaddingPixels + metrics.ascent();
    for (const QString &line : lines) {
        painter.drawText(QPointF(kPaddingPixels, baseline), line);
        baseline += metrics.lineSpacing();
    }
    return image;
}

bool finished(const StationJob &job)
{
    const std::shared_ptr<MeterBoard> meter = job.board();
    return meter && meter->at(0).result != MeterResult::Pending;
}

bool partWay(const StationJob &job)
{
    const std::shared_ptr<MeterBoard> meter = job.board();
    if (!meter)
        return false;
    const MeterStatus s = meter->at(0);
    return s.totalLines > 0 && s.lines * kPercent >= s.totalLines * kShownAtPercent;
}
}

namespace GuidePictures {

QString stationBoard(const QString &emulator, const QString &workDir, const QString &outDir)
{
    const QDir dir(workDir);
    const QString file = dir.filePath(kFileName);
    if (!SampleMeters::writeUpgradeFile(file, kUpgradeFileBytes))
        return QStringLiteral("cannot write %1").arg(file);
    // The one being upgraded goes at the meter's own 9600 baud, so the
    // picture finds it part-way.
    SampleMeters::Meter upgrading(emulator, SampleMeters::identity(QStringLiteral("3A"), QStringLiteral("01234"),
                                                                   QStringLiteral("2.10")));
    const QStringList fast{QStringLiteral("--no-pacing")};
    SampleMeters::Meter current(emulator, fast + SampleMeters::identity(QStringLiteral("3A"), QStringLiteral("01187"),
                                                                        QStringLiteral("2.11")));
    SampleMeters::Meter otherModel(emulator, fast + SampleMeters::identity(QStringLiteral("3C"),
                                                                           QStringLiteral("00412"),
                                                                           QStringLiteral("1.05")));
    SampleMeters::Meter none(emulator, fast + QStringList{QStringLiteral("--silent")});
    for (const SampleMeters::Meter *m : {&upgrading, &current, &otherModel, &none})
        if (m->device().isEmpty())
            return QStringLiteral("the meter emulator did not start");

    const QString profilePath = dir.filePath(QStringLiteral("bench-2.toml"));
    QFile profileFile(profilePath);
    const QString profileText =
        QStringLiteral("[station]\nname = \"bench-2\"\n[models.3A]\nfile = \"%1\"\nsha256 = \"%2\"\n"
                       "[sockets]\nbay-1 = \"%3\"\nbay-2 = \"%4\"\nbay-3 = \"%5\"\nbay-4 = \"%6\"\n")
            .arg(kFileName, sha256Of(file), upgrading.device(), current.device(), otherModel.device(),
                 none.device());
    if (!profileFile.open(QIODevice::WriteOnly) || profileFile.write(profileText.toUtf8()) < 0)
        return QStringLiteral("cannot write %1").arg(profilePath);
    profileFile.close();
    const ProfileReading reading = StationProfiles::read(profilePath, QStringLiteral("bench-2"));
    if (!reading.ok())
        return QStringLiteral("the station's profile was refused: %1").arg(reading.problems.first().text);

    StationBoard board(reading.profile);
    const StationSettings settings{reading.profile, false, QStringLiteral("bench"), {},
                                   [&board](const MeterStatus &done) { board.count(done); }};
    std::map<QString, std::unique_ptr<StationJob>> jobs;  // by socket name, as the station keeps them
    for (const StationSocket &s : reading.profile.sockets)
        jobs[s.name] = std::make_unique<StationJob>(settings, MeterAddress::socket(s.name, s.device),
                                                    StationJob::Kind::Fixed);
    for (auto &[name, job] : jobs)
        job->start();
    QStringList lines;
    const double deadline = MonotonicClock::now() + kLongestRunSeconds;
    while (lines.isEmpty() && MonotonicClock::now() < deadline) {
        EventWait::sleepFor(kPollSeconds);
        if (partWay(*jobs.at(QStringLiteral("bay-1"))) && finished(*jobs.at(QStringLiteral("bay-2"))) &&
            finished(*jobs.at(QStringLiteral("bay-3"))))
            lines = boardLines(board, jobs);
    }
    StopSignal::request();
    for (auto &[name, job] : jobs)
        job->wait();
    if (lines.isEmpty())
        return QStringLiteral("the station's meters did not reach the picture's moment in time");
    return save(terminal(QStringList{kCommand} + lines), outDir, kStationBoard);
}

} // namespace GuidePictures
