// Makes the user guide's pictures from the program itself, at build time.
// Usage: ovfw_guide_pictures OUTPUT_DIR METER_EMULATOR
#include "GuidePictures.h"
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>

namespace {
constexpr double kMetresPerInch = 0.0254;
constexpr double kLogicalDpi = 96;
}

namespace GuidePictures {

QString save(QImage image, const QString &outDir, const QString &name)
{
    const int dotsPerMetre = qRound(image.devicePixelRatio() * kLogicalDpi / kMetresPerInch);
    image.setDotsPerMeterX(dotsPerMetre);
    image.setDotsPerMeterY(dotsPerMetre);
    const QString path = QDir(outDir).filePath(name);
    return image.save(path, "PNG") ? QString() : QStringLiteral("cannot write %1").arg(path);
}

} // namespace GuidePictures

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");  // a build machine has no display
    qputenv("QT_SCALE_FACTOR", "2");               // drawn at twice their size, for print
    QTemporaryDir work;
    // The run leaves nothing behind: no row in anyone's upgrade history, no
    // lock from the login manager, no port but the emulated ones.
    qputenv("OVFW_HISTORY", QDir(work.path()).filePath(QStringLiteral("history.sqlite")).toLocal8Bit());
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/ovfw-guide-pictures");
    qputenv("OVFW_PORTS", "");
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR METER_EMULATOR\n", argv[0]);
        return 2;
    }
    // Absolute: the window moves the current folder to its program folder.
    const QString outDir = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    const QString emulator = QFileInfo(QString::fromLocal8Bit(argv[2])).absoluteFilePath();
    const QDir workDir(work.path());
    if (!work.isValid() || !QDir().mkpath(outDir) || !workDir.mkdir(QStringLiteral("window")) ||
        !workDir.mkdir(QStringLiteral("station"))) {
        std::fprintf(stderr, "cannot make the folders for the pictures\n");
        return 1;
    }
    QString problem = GuidePictures::mainWindow(emulator, workDir.filePath(QStringLiteral("window")), outDir);
    if (problem.isEmpty())
        problem = GuidePictures::deviceInfo(outDir);
    if (problem.isEmpty())
        problem = GuidePictures::stationBoard(emulator, workDir.filePath(QStringLiteral("station")), outDir);
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "guide pictures: %s\n", qPrintable(problem));
        return 1;
    }
    return 0;
}
