#pragma once
#include <QByteArray>
#include <QString>
#include <cstdint>

// What is known of one meter: the port its link uses and what the meter said
// of itself. One per meter, owned by its link.
struct MeterState {
    // The model while a search has found none, or a meter answered only in
    // its boot loader.
    static inline const QString kAnyModel = QStringLiteral("*");

    std::int16_t Port_Number = 0;  // port that opening uses; 0 = none
    QString Model_Code;            // "3", "3A", or kAnyModel
    bool Boot_Mode = false;        // meter known to be in its boot loader
    QString Meter_Serial;
    QString Boot_Version;
    QString Firm_Version;
    // What the last identification heard, as it came: the version reply read
    // (valid or not), or the chatter that never fell silent. Empty: nothing.
    QByteArray lastReply;
};
