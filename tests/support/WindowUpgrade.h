#pragma once
#include "DescriptorCount.h"
#include "HexFiles.h"
#include "MeterEmulatorProcess.h"
#include "WindowRig.h"
#include "power/SleepInhibitor.h"
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QtTest>

// What the window's upgrade and Connect tests share: the boxes' texts and
// styles, an emulator that answers at once, and the window's states before
// and after an upgrade.

inline const QString kTitle = QStringLiteral("Firmware Upgrade");
inline const QString kWarning = QStringLiteral(
    "Warning! Starting firmware upgrade will render the device inoperable until new firmware upgrade is "
    "complete.\r\nReady to download ");
inline const QString kNotResponding = QStringLiteral("Hardware not responding, check connections, try again ");
inline const QString kNoMeter = QStringLiteral(
    "No meter detected\r\nRetry - First check meter is connected and turned on.\r\n"
    "Ignore - If meter is already in upgrade mode (permanent red LED).\r\nOtherwise - Abort");
inline const QString kSearchTitle = QStringLiteral("ov Firmware Upgrade ");
inline constexpr int kNoMeterStyle = 2 + 16;  // Abort, Retry, Ignore; critical
inline constexpr int kWarningStyle = 1 + 48 + 256;
inline constexpr int kNotRespondingStyle = 1 + 64;
inline constexpr int kErrorSendingStyle = 5 + 64;
inline constexpr int kOutcomeStyle = 64;
inline constexpr int kDataBytes = 32 * 1024;
inline const QStringList kFast{"--no-pacing", "--reply-delay", "0"};

// The file's lines as the window sends them.
inline QList<QByteArray> linesOf(const QString &path)
{
    QList<QByteArray> out;
    for (const QByteArray &l : HexFiles::readAll(path).split('\n'))
        if (!l.isEmpty())
            out << l.chopped(1) + "\r";  // as sent: CR, no LF
    return out;
}

// The window back in its disconnected state after an upgrade.
inline void verifyDisconnected(WindowRig &rig)
{
    frmFwUpMain &w = *rig.window;
    QVERIFY(!w.Meter_Connected && !rig.comm.portOpen());
    QCOMPARE(w.cmdConnect->text(), QStringLiteral("Connect"));
    QVERIFY(w.cmdConnect->isEnabled() && !w.cmdUpgrade->isEnabled() && w.cmdExit->isEnabled());
    QCOMPARE(w.Label2->text(), QStringLiteral("Firmware Version"));
    QVERIFY(w.Label2->isHidden() && w.Label4->isHidden() && w.pbUpgrade->isHidden());
    QVERIFY(w.lblFirm->text().isEmpty() && w.lblhard->text().isEmpty() && w.lblBoot->text().isEmpty());
}

// A meter in normal mode, found by Connect.
inline void connectInNormalMode(WindowRig &rig)
{
    rig.window->Form_Load();
    rig.window->cmdConnect_Click();
    QVERIFY(rig.window->Meter_Connected);
}

// A meter found in its boot loader on port 1, through the window's own search.
inline void connectInBootLoader(WindowRig &rig)
{
    rig.window->Form_Load();
    rig.window->Check_Boot();
    QVERIFY(rig.window->Meter_Connected && rig.meter().Boot_Mode);
    rig.window->cmdUpgrade->setEnabled(true);
}

// The process's one-time resources (the platform's display connection, the
// child-process watcher, srec_cat's, the D-Bus thread the sleep inhibitor
// asks through), made before the tests count open descriptors.
inline void makeOneTimeResources()
{
    SleepInhibitor(QStringLiteral("warm-up")).acquire();
    MeterEmulatorProcess warmUp;
    QTemporaryDir dir;
    HexFiles::make(dir.path(), "warm-up", 64);
    WindowRig rig{QString()};
    rig.window->show();
    QTest::qWait(10);
}
