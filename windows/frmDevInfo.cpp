#include "windows/frmDevInfo.h"
#include "windows/Artwork.h"
#include "windows/Layout.h"
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QListWidget>

namespace {
constexpr double kListFontPoints = 12;
}

frmDevInfo::frmDevInfo(ChipIdLibrary &library, QWidget *parent)
    : QDialog(parent), Dev_Description(kDescriptionBytes, ' '), library_(library)
{
    setObjectName(QStringLiteral("frmDevInfo"));
    setWindowTitle(QStringLiteral("USB Device Info"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(Layout::twips(0, 0, 4785, 2925).size());
    setWindowIcon(Artwork::blankIcon());  // not the main window's
    LoggerList = new QListWidget(this);
    LoggerList->setObjectName(QStringLiteral("LoggerList"));
    LoggerList->setGeometry(Layout::twips(120, 60, 4575, 2760));
    LoggerList->setFont(Layout::font(Layout::kSansSerif, kListFontPoints));
    LoggerList->setSortingEnabled(false);
}

void frmDevInfo::showModal()
{
    LoggerList->clear();
    Form_Load();
    LoggerList->setFocus();
    exec();
}

void frmDevInfo::showEvent(QShowEvent *event)
{
    // Not QDialog's: that one centres the window on the main window.
    QWidget::showEvent(event);  // NOLINT(bugprone-parent-virtual-call)
}

void frmDevInfo::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmDevInfo::append(const QString &line)
{
    LoggerList->addItem(line);
}

void frmDevInfo::Form_Load()
{
    Get_Num_Devices();
    const std::int32_t count = std::min<std::int32_t>(Num_Devices, kMaxDevices);
    for (std::int32_t i = 0; i < count; ++i) {
        Dev_Index = static_cast<std::int16_t>(i);
        Get_Device_Description();
        Get_Device_Chip_ID();
    }
}

void frmDevInfo::Get_Num_Devices()
{
    Dev_Status = library_.FTID_GetNumDevices(Num_Devices);
    if (Dev_Status != 0)
        append(QStringLiteral("FTID_GetNumDevs failed status = %1").arg(Dev_Status));
    else
        append(QStringLiteral("Number of Devices = %1").arg(Num_Devices));
}

void frmDevInfo::Get_Device_Description()
{
    Dev_Description.resize(kDescriptionBytes);
    Dev_Status = library_.FTID_GetDeviceDescription(Dev_Index, Dev_Description.data(), kDescriptionBytes);
    if (Dev_Status != 0) {
        append(QStringLiteral("FTID_GetDeviceDescription failed status = %1").arg(Dev_Status));
        return;
    }
    const int end = Dev_Description.indexOf('\0');
    append(QStringLiteral("Description = ") +
           QString::fromLatin1(end < 0 ? Dev_Description : Dev_Description.left(end)));
}

void frmDevInfo::Get_Device_Chip_ID()
{
    Dev_Status = library_.FTID_GetDeviceChipID(Dev_Index, Chip_ID);
    if (Dev_Status != 0) {
        append(QStringLiteral("FTID_GetDeviceChipID failed status = %1").arg(Dev_Status));
        return;
    }
    append(QStringLiteral("Chip ID = %1").arg(Chip_ID));
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(QString::number(Chip_ID));
}
