#pragma once
#include "history/AttemptRecord.h"
#include <QList>
#include <functional>
#include <optional>

class HistoryStore;
struct DeviceIdentity;

// What `ovfw history` asks of the store. Empty fields do not filter.
struct HistoryFilter {
    static constexpr int kDefaultLimit = 50;
    QString serial;
    int port = 0;
    // A device as it was named, or the real device the row's name reached.
    QString device;
    QString realDevice;
    QString station;
    QString socket;
    QString sinceUtc;     // as stored: rows started at or after it
    bool failed = false;  // failed, stopped, left unfinished, interrupted or not verified
    int limit = kDefaultLimit;
};

namespace HistoryQuery {
// Each row, newest first, handed over as it is read; rows never completed
// carry "running" or "interrupted" as their outcome, as their process lives
// or not. False when the history could not be read (the store's problem()
// says why); a store with nothing recorded yet reads as no rows.
bool forEach(HistoryStore &store, const HistoryFilter &filter, const std::function<void(const AttemptRecord &)> &row);
// The same rows, gathered.
QList<AttemptRecord> find(HistoryStore &store, const HistoryFilter &filter);
// The model last identified on a device, or empty: keyed on its adapter's
// USB serial number where it has one, else on the real device.
QString lastModelOn(HistoryStore &store, const DeviceIdentity &device);
// The last row of a station's socket, or of the adapter with that USB serial
// number (empty: the socket alone); nullopt when there is none.
std::optional<AttemptRecord> lastAtSocket(HistoryStore &store, const QString &station, const QString &socket,
                                          const QString &usbSerial);
}
