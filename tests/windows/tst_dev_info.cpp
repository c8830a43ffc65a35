#include "FakeChipIdLibrary.h"
#include "IconPixels.h"
#include "WindowRig.h"
#include "usb/FtdiChipIdLibrary.h"
#include "windows/Layout.h"
#include "windows/frmDevInfo.h"
#include <QApplication>
#include <QClipboard>
#include <QDirIterator>
#include <QListWidget>
#include <QWindow>
#include <QtTest>

namespace {
const QString kUntouched = QStringLiteral("clipboard untouched");

QStringList lines(const frmDevInfo &w)
{
    QStringList out;
    for (int i = 0; i < w.LoggerList->count(); ++i)
        out << w.LoggerList->item(i)->text();
    return out;
}

// The USB devices of the adapters' maker (vendor 0403) as the kernel lists
// them; none where it lists no USB bus.
int adaptersTheKernelLists()
{
    int count = 0;
    QDirIterator devices(QStringLiteral("/sys/bus/usb/devices"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (devices.hasNext()) {
        QFile vendor(devices.next() + QStringLiteral("/idVendor"));
        count += vendor.open(QIODevice::ReadOnly) && vendor.readAll().trimmed() == "0403";
    }
    return count;
}

// Opens Tools, Device Info on the main window; returns what the list showed.
QStringList openDeviceInfo(frmFwUpMain &w)
{
    QStringList shown;
    QTimer::singleShot(0, &w, [&] {
        if (auto *info = qobject_cast<frmDevInfo *>(QApplication::activeModalWidget())) {
            shown = lines(*info);
            info->close();
        }
    });
    w.mnuDeviceInfo->trigger();
    return shown;
}

FakeChipIdLibrary::Adapter adapter(const QByteArray &description, std::int32_t chipId)
{
    FakeChipIdLibrary::Adapter a;
    a.description = description;
    a.chipId = chipId;
    return a;
}
}

class TestDevInfo : public QObject {
    Q_OBJECT
private slots:
    void init() { QGuiApplication::clipboard()->setText(kUntouched); }

    void noAdapters()
    {
        WindowRig rig{QString()};
        QCOMPARE(openDeviceInfo(*rig.window), QStringList{"Number of Devices = 0"});
        QCOMPARE(QGuiApplication::clipboard()->text(), kUntouched);
    }

    void twoAdaptersAndReopening()
    {
        WindowRig rig{QString()};
        rig.chipId.adapters = {adapter("FT232R USB UART", 123456), adapter("USB <-> Serial", 777)};
        const QStringList expected{"Number of Devices = 2", "Description = FT232R USB UART",
                                   "Chip ID = 123456", "Description = USB <-> Serial", "Chip ID = 777"};
        QCOMPARE(openDeviceInfo(*rig.window), expected);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("777"));
        QCOMPARE(openDeviceInfo(*rig.window), expected);  // listed once, not twice
    }

    void failuresAreListedAndTheStepsGoOn()
    {
        WindowRig rig{QString()};
        auto noDescription = adapter("", 42);
        noDescription.descriptionStatus = ChipIdLibrary::DeviceNotOpened;
        auto noChipId = adapter("FT2232H", 0);
        noChipId.chipIdStatus = ChipIdLibrary::NoChipId;
        rig.chipId.adapters = {noDescription, noChipId};
        QCOMPARE(openDeviceInfo(*rig.window),
                 (QStringList{"Number of Devices = 2", "FTID_GetDeviceDescription failed status = 3",
                              "Chip ID = 42", "Description = FT2232H",
                              "FTID_GetDeviceChipID failed status = 5"}));
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("42"));

        // A failed count: the per-device steps still run over the count the
        // window kept from its last opening.
        rig.chipId.countStatus = ChipIdLibrary::UsbUnavailable;
        rig.chipId.adapters = {adapter("A", 1), adapter("B", 2), adapter("C", 3)};
        QCOMPARE(openDeviceInfo(*rig.window),
                 (QStringList{"FTID_GetNumDevs failed status = 1", "Description = A", "Chip ID = 1",
                              "Description = B", "Chip ID = 2"}));
        QVERIFY(rig.prompts.problems().isEmpty());
    }

    void signedChipIdsAndLongDescriptions()
    {
        WindowRig rig{QString()};
        const QByteArray d255(255, 'x'), d256(256, 'y');
        rig.chipId.adapters = {adapter(d255, static_cast<std::int32_t>(0x80000001u)), adapter(d256, -1)};
        const QStringList shown = openDeviceInfo(*rig.window);
        QCOMPARE(shown.size(), 5);
        QCOMPARE(shown[1], QStringLiteral("Description = ") + QString(255, 'x'));
        QCOMPARE(shown[2], QStringLiteral("Chip ID = -2147483647"));
        QCOMPARE(shown[3], QStringLiteral("Description = ") + QString(256, 'y'));
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("-1"));
    }

    void windowAsBuilt()
    {
        FakeChipIdLibrary library;
        frmDevInfo w(library);
        QCOMPARE(w.windowTitle(), QStringLiteral("USB Device Info"));
        QCOMPARE(w.size(), QSize(319, 195));
        QCOMPARE(w.LoggerList->geometry(), QRect(8, 4, 305, 184));
        QCOMPARE(w.LoggerList->font().pointSizeF(), 12.0);
        QVERIFY(!w.LoggerList->isSortingEnabled());
    }

    // Opened from the main window, it lands where a window nobody places
    // lands, not centred on the main window; Esc leaves it open, the close
    // box closes it.
    void placedByTheDesktopClosedByItsCloseBox()
    {
        WindowRig rig{QString()};
        frmFwUpMain &w = *rig.window;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QWidget unplaced(&w, Qt::Window);
        unplaced.setFixedSize(Layout::twips(0, 0, 4785, 2925).size());
        unplaced.show();
        QVERIFY(QTest::qWaitForWindowExposed(&unplaced));
        const QPoint desktopsPlace = unplaced.geometry().topLeft();
        unplaced.close();
        QPoint placedAt;
        bool openAfterEsc = false;
        QTimer::singleShot(0, &w, [&] {
            auto *info = qobject_cast<frmDevInfo *>(QApplication::activeModalWidget());
            if (!info)
                return;
            placedAt = info->geometry().topLeft();
            QTest::keyClick(info->LoggerList, Qt::Key_Escape);
            openAfterEsc = info->isVisible();
            info->close();
        });
        w.mnuDeviceInfo->trigger();
        QCOMPARE(placedAt, desktopsPlace);
        QVERIFY(openAfterEsc);
    }

    // The main window's icon is not handed down to it.
    void carriesNoIcon()
    {
        WindowRig rig{QString()};
        frmDevInfo w(rig.chipId, rig.window.get());
        w.winId();  // the window as the window system is given it
        QVERIFY(drawsNothing(w.windowIcon()));
        QVERIFY(drawsNothing(w.windowHandle()->icon()));
    }

    // The real library on this machine counts the adapters the kernel lists
    // (none where the machine has no USB at all), and gives each its two
    // lines, whether it can be opened or not.
    void realLibraryOnThisMachine()
    {
        const int listed = adaptersTheKernelLists();
        FtdiChipIdLibrary library;
        frmDevInfo w(library);
        w.Form_Load();
        const QStringList shown = lines(w);
        QVERIFY(!shown.isEmpty());
        QCOMPARE(shown.first(), QStringLiteral("Number of Devices = %1").arg(listed));
        QCOMPARE(shown.size(), 1 + 2 * listed);
        std::int32_t chipId = 0;
        QCOMPARE(library.FTID_GetDeviceChipID(w.Num_Devices + 5, chipId),
                 std::int32_t(ChipIdLibrary::DeviceNotFound));
    }
};

QTEST_MAIN(TestDevInfo)
#include "tst_dev_info.moc"
