#pragma once
#include <QString>
#include <array>
#include <cstdint>

// Program-wide state. One instance lives for the whole run; everything is
// zero or empty at start.
struct FwUpGlobals {
    static constexpr int kPortCount = 16;  // serial ports 1..16; index 0 is "no port"

    QString App_Path;            // the program's own folder
    bool First_Activate = false; // true from window load until its first activation
    bool Quit_Request = false;   // set once, never cleared; the main loop then ends
    std::array<bool, kPortCount + 1> Port_Present{};  // element 0 always false
    std::int16_t Port_Number = 0;      // port that opening uses; 0 = none
    std::int16_t Port_Menu_Index = 0;  // Port menu item of the port in use
    QString Model_Code;          // "3", "3A", or "*" while searching
    bool Boot_Mode = false;      // meter known to be in its boot loader
    QString Meter_Serial;
    QString Boot_Version;
    QString Firm_Version;
};

// Fixed facts of the application.
namespace FwUpApp {
inline const QString Title = QStringLiteral("ov Firmware Upgrade");
}
