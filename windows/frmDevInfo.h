#pragma once
#include "usb/ChipIdLibrary.h"
#include <QDialog>
#include <cstdint>

class QListWidget;

// Lists the USB-serial adapters with their descriptions and chip IDs, and
// puts the last chip ID read on the clipboard. The main window keeps one
// instance for the whole run; its values survive closing and reopening. It
// opens where the windowing system puts new windows, and closes only by its
// close box or the system's close command, not by Esc.
class frmDevInfo : public QDialog {
    Q_OBJECT
public:
    static constexpr int kDescriptionBytes = 256;
    static constexpr int kMaxDevices = 32768;  // Dev_Index is 16 bits wide

    explicit frmDevInfo(ChipIdLibrary &library, QWidget *parent = nullptr);

    // Rebuilds the list from fresh library calls, then shows the window modal.
    void showModal();
    void Form_Load();

    QListWidget *LoggerList = nullptr;

    std::int32_t Num_Devices = 0;
    std::int16_t Dev_Index = 0;
    std::int32_t Dev_Status = 0;
    QByteArray Dev_Description;  // always kDescriptionBytes long
    std::int32_t Chip_ID = 0;

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void Get_Num_Devices();
    void Get_Device_Description();
    void Get_Device_Chip_ID();
    void append(const QString &line);

    ChipIdLibrary &library_;
};
