#pragma once
#include <QByteArray>
#include <QList>
#include <QProcess>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

// A pseudo-terminal of a given width for a child's standard output, and
// what the child drew on it.
class TerminalCapture {
public:
    explicit TerminalCapture(int columns)
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            return;
        slave_ = ::open(::ptsname(master_), O_RDWR | O_NOCTTY);
        ::fcntl(master_, F_SETFL, O_NONBLOCK);
        resize(columns);
    }
    ~TerminalCapture() { close(); }
    TerminalCapture(const TerminalCapture &) = delete;
    TerminalCapture &operator=(const TerminalCapture &) = delete;

    bool isOpen() const { return master_ >= 0 && slave_ >= 0; }
    void resize(int columns)
    {
        winsize size{};
        size.ws_row = 24;
        size.ws_col = static_cast<unsigned short>(columns);
        ::ioctl(master_, TIOCSWINSZ, &size);
    }
    // The child's standard output goes to the terminal.
    void attach(QProcess &p) const
    {
        const int slave = slave_;
        p.setChildProcessModifier([slave] { ::dup2(slave, STDOUT_FILENO); });
    }
    // Takes in what was drawn so far; returns it all.
    const QByteArray &drain()
    {
        char buffer[4096];
        for (ssize_t n; master_ >= 0 && (n = ::read(master_, buffer, sizeof buffer)) > 0;)
            shown_.append(buffer, static_cast<int>(n));
        return shown_;
    }
    void close()
    {
        for (int *fd : {&slave_, &master_})
            if (*fd >= 0) {
                ::close(*fd);
                *fd = -1;
            }
    }

    // Each line redrawn in place (after its erase, up to its line end), as it
    // shows (colour codes left out), with where in the output it began.
    struct Line {
        qsizetype at;
        QByteArray text;
    };
    QList<Line> redrawnLines() const
    {
        static const QByteArray kErase("\r\x1b[2K");
        QList<Line> lines;
        for (qsizetype at = shown_.indexOf(kErase); at >= 0; at = shown_.indexOf(kErase, at + 1)) {
            const qsizetype start = at + kErase.size();
            QByteArray text = shown_.mid(start, shown_.indexOf('\n', start) - start);
            for (qsizetype code = text.indexOf("\x1b["); code >= 0; code = text.indexOf("\x1b[", code))
                text.remove(code, text.indexOf('m', code) + 1 - code);
            lines.append({at, text.trimmed()});
        }
        return lines;
    }

private:
    int master_ = -1;
    int slave_ = -1;
    QByteArray shown_;
};
