#pragma once
#include <QString>
#include <optional>

// Where the records server is, as libpq reads a connection string (a URL such
// as postgresql://user@host/db?sslmode=verify-full, or key=value words), laid
// out the way Qt's PostgreSQL driver takes it: host, port, database and user
// in their fields, every other libpq setting in its connect options.
//
// A password in the address is refused: a command line and a profile are
// read by others. libpq finds it itself in ~/.pgpass or in PGPASSFILE.
struct RecordsServerAddress {
    static constexpr const char *kEnvironmentVariable = "OVFW_HISTORY_SERVER";

    QString given;  // as the user wrote it, to name the server in messages
    QString host;
    int port = -1;  // -1: libpq's default
    QString database;
    QString user;
    // libpq's own words beyond those, as key='value' pairs joined by ';'
    // (the driver's separator), without connect_timeout: the push's deadline
    // sets that.
    QString connectOptions;
    // connect_timeout as given, in seconds; 0 when not.
    int connectTimeoutSeconds = 0;

    // nullopt, with the reason in `why`, when libpq cannot read `text` or it
    // holds a password.
    static std::optional<RecordsServerAddress> parse(const QString &text, QString &why);
};
