#pragma once
#include <QJsonValue>
#include <QString>

// Where one meter is reached, and how it is named to a person, in JSON and in
// the command that finishes it. One of three forms:
// - a numbered port, 1 to 16, with the device the port map gives it;
// - a device named by its path (`ovfw upgrade --device PATH`);
// - a station's socket: its name and the device it stands for.
// An address made from anything else is empty (isValid() false).
class MeterAddress {
public:
    enum class Form { None, Port, Device, Socket };

    MeterAddress() = default;
    // A port outside 1..16 gives an empty address.
    static MeterAddress port(int number, const QString &device);
    static MeterAddress device(const QString &path);
    static MeterAddress socket(const QString &name, const QString &device);

    bool isValid() const { return form_ != Form::None; }
    Form form() const { return form_; }
    // The port number, or 0 when the meter is not reached by a number.
    int portNumber() const { return form_ == Form::Port ? number_ : 0; }
    // The device opened for it; for a port, the port map's (empty when the
    // map has no such port).
    const QString &devicePath() const { return device_; }
    const QString &socketName() const { return name_; }

    // "port 3", "/dev/ttyACM0", "socket A"; as it stands in a sentence.
    QString displayName() const;
    // "Port 3", "/dev/ttyACM0", "Socket A"; at the head of a line.
    QString title() const;
    // The field that names the meter in a JSON event, and its value:
    // "port": 3, "device": "/dev/ttyACM0", or "socket": "A".
    QString jsonKey() const;
    QJsonValue jsonName() const;
    // The option that reaches this meter again, quoted for a shell:
    // "--port 3" or "--device '/dev/ttyACM0'" (a socket by its device).
    QString recoveryOption() const;
    // A file name stem for this meter's files: "port3", "dev_ttyACM0", "socket-A".
    QString fileStem() const;

    bool operator==(const MeterAddress &other) const
    {
        return form_ == other.form_ && number_ == other.number_ && device_ == other.device_ && name_ == other.name_;
    }

private:
    Form form_ = Form::None;
    int number_ = 0;
    QString device_;
    QString name_;
};
