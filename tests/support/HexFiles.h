#pragma once
#include <QByteArray>
#include <QString>

// Upgrade files made by srec_cat from random bytes, as a firmware build
// would make them, and what a meter should hold after receiving them.
namespace HexFiles {

struct Made {
    QString path;      // the Intel HEX file, CR LF line ends
    QByteArray image;  // the data as srec_cat reads the file back
    int lines = 0;
};

// `dataBytes` random bytes from address 0, `recordBytes` data bytes per line,
// written as `dir`/`name`. Returns an empty path when srec_cat fails.
Made make(const QString &dir, const QString &name, int dataBytes, int recordBytes = 32);

// Writes `content` as a file; returns its path.
QString write(const QString &dir, const QString &name, const QByteArray &content);

QByteArray readAll(const QString &path);

}
