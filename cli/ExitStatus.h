#pragma once

// Exit statuses of ovfw.
namespace ExitStatus {
constexpr int Ok = 0;
constexpr int MeterFailed = 1;   // at least one meter failed
constexpr int Unreadable = 1;    // history: it exists but cannot be read
constexpr int PushFailed = 1;    // history push: rows are left for the next push
constexpr int Usage = 2;         // usage error, or the file failed its check
constexpr int Interrupted = 130; // SIGINT or SIGTERM
}
