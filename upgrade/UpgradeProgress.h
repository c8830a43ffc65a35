#pragma once
#include <QtGlobal>

// The progress of a transfer on a scale of one unit per 8 bytes of the file.
// Each line adds (its length + 2) / 8 before it is sent: the 2 stands for the
// carriage return and line feed that ended it, so a file with CR LF line ends
// reaches the maximum exactly with its last line. The values are single
// precision, as the bar holds them.
struct UpgradeProgress {
    static constexpr double kBytesPerUnit = 8.0;
    static constexpr int kLineEndBytes = 2;
    static constexpr int kWidgetSteps = 10000;  // resolution of a bar widget

    float min = 0;
    float max = 0;
    float value = 0;
    qint64 linesRead = 0;
    qint64 bytesRead = 0;  // line characters, without terminators

    static UpgradeProgress forFileSize(qint64 bytes)
    {
        UpgradeProgress p;
        p.max = static_cast<float>(bytes / kBytesPerUnit);
        return p;
    }

    void advance(qint64 lineChars)
    {
        value = static_cast<float>(static_cast<double>(value) + (lineChars + kLineEndBytes) / kBytesPerUnit);
        ++linesRead;
        bytesRead += lineChars;
    }

    // The value on a widget of kWidgetSteps steps: held at the end when the
    // value runs past the maximum (lines ended by a carriage return alone),
    // and full only when the value has reached the maximum.
    int widgetStep() const
    {
        if (max <= min || value >= max)
            return value >= max ? kWidgetSteps : 0;
        const double share = (static_cast<double>(value) - min) / (static_cast<double>(max) - min);
        return qBound(0, static_cast<int>(share * kWidgetSteps), kWidgetSteps - 1);
    }
};
