#pragma once
#include "history/AttemptRecord.h"
#include "history/HistoryQuery.h"
#include <QString>
#include <functional>

class RecordsSession;

// `ovfw history --server`: the records server's table read as the local
// history is, with the same filters.
namespace ServerHistoryQuery {
// Each row, newest first, handed over as it is read; false with the reason
// in `problem` when it could not be read.
bool forEach(RecordsSession &server, const HistoryFilter &filter,
             const std::function<void(const AttemptRecord &)> &row, QString &problem);
}
