#pragma once
#include "usb/ChipIdLibrary.h"
#include <QHash>
#include <QString>
#include <cstdint>

// The chip IDs of the adapters the library lists, by USB serial number: the
// number a serial port's system information gives for its adapter. An
// adapter is left out when its serial number is empty or shared with another
// adapter (no port could be told apart by it), or when a read fails.
QHash<QString, std::uint32_t> chipIdsBySerialNumber(ChipIdLibrary &library);
