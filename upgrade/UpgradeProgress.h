#pragma once
#include <QtGlobal>

// The progress of a transfer on a scale of one unit per 8 bytes of the file.
// Each line adds (its length + the length of its own terminator) / 8 before it
// is sent: 2 for a carriage return and line feed, 1 for either alone, 0 for a
// last line without one; so every file reaches the maximum exactly with its
// last line, and not before. The values are single precision, as the bar
// holds them; whether the end is reached is decided on the exact byte count.
struct UpgradeProgress {
    static constexpr double kBytesPerUnit = 8.0;
    static constexpr int kLineEndBytes = 2;
    static constexpr int kWidgetSteps = 10000;  // resolution of a bar widget

    float min = 0;
    float max = 0;
    float value = 0;
    qint64 linesRead = 0;
    qint64 bytesRead = 0;  // line characters, without terminators
    qint64 fileBytes = 0;
    qint64 bytesConsumed = 0;  // line characters and their terminators

    static UpgradeProgress forFileSize(qint64 bytes)
    {
        UpgradeProgress p;
        p.max = static_cast<float>(bytes / kBytesPerUnit);
        p.fileBytes = bytes;
        return p;
    }

    void advance(qint64 lineChars, int lineEndChars = kLineEndBytes)
    {
        value = static_cast<float>(static_cast<double>(value) + (lineChars + lineEndChars) / kBytesPerUnit);
        ++linesRead;
        bytesRead += lineChars;
        bytesConsumed += lineChars + lineEndChars;
    }

    bool atEnd() const { return bytesConsumed >= fileBytes; }

    // The value on a widget of kWidgetSteps steps: full exactly when every
    // byte of the file has been read, and one step short of it until then,
    // whatever the rounding of the single-precision value.
    int widgetStep() const
    {
        if (atEnd())
            return kWidgetSteps;
        if (max <= min)
            return 0;
        const double share = (static_cast<double>(value) - min) / (static_cast<double>(max) - min);
        return qBound(0, static_cast<int>(share * kWidgetSteps), kWidgetSteps - 1);
    }
};
