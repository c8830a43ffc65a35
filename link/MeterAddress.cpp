#include "link/MeterAddress.h"
#include "base/Escaped.h"
#include "base/ShellQuote.h"
#include "link/PortMap.h"

namespace {
// A path as one word of a file name: its folders joined by '_'.
QString pathStem(QString path)
{
    path.replace(QLatin1Char('/'), QLatin1Char('_'));
    while (path.startsWith(QLatin1Char('_')))
        path.remove(0, 1);
    return path;
}
}

MeterAddress MeterAddress::port(int number, const QString &device)
{
    MeterAddress a;
    if (number < 1 || number > PortMap::kPortCount)
        return a;
    a.form_ = Form::Port;
    a.number_ = number;
    a.device_ = device;
    return a;
}

MeterAddress MeterAddress::device(const QString &path)
{
    MeterAddress a;
    if (path.isEmpty())
        return a;
    a.form_ = Form::Device;
    a.device_ = path;
    return a;
}

MeterAddress MeterAddress::socket(const QString &name, const QString &device)
{
    MeterAddress a;
    if (name.isEmpty() || device.isEmpty())
        return a;
    a.form_ = Form::Socket;
    a.name_ = name;
    a.device_ = device;
    return a;
}

QString MeterAddress::displayName() const
{
    switch (form_) {
    case Form::None: return QStringLiteral("no meter");
    case Form::Port: return QStringLiteral("port %1").arg(number_);
    case Form::Device: return Escaped::text(device_);
    case Form::Socket: return QStringLiteral("socket %1").arg(Escaped::text(name_));
    }
    return {};
}

QString MeterAddress::title() const
{
    switch (form_) {
    case Form::None: return QStringLiteral("No meter");
    case Form::Port: return QStringLiteral("Port %1").arg(number_);
    case Form::Device: return Escaped::text(device_);
    case Form::Socket: return QStringLiteral("Socket %1").arg(Escaped::text(name_));
    }
    return {};
}

QString MeterAddress::jsonKey() const
{
    switch (form_) {
    case Form::Port: return QStringLiteral("port");
    case Form::Socket: return QStringLiteral("socket");
    case Form::None:
    case Form::Device: break;
    }
    return QStringLiteral("device");
}

QJsonValue MeterAddress::jsonName() const
{
    switch (form_) {
    case Form::None: return QJsonValue(QJsonValue::Null);
    case Form::Port: return number_;
    case Form::Device: return device_;
    case Form::Socket: return name_;
    }
    return {};
}

QString MeterAddress::recoveryOption() const
{
    if (form_ == Form::Port)
        return QStringLiteral("--port %1").arg(number_);
    return QStringLiteral("--device %1").arg(ShellQuote::path(device_));
}

QString MeterAddress::fileStem() const
{
    switch (form_) {
    case Form::None: return QStringLiteral("meter");
    case Form::Port: return QStringLiteral("port%1").arg(number_);
    case Form::Device: return pathStem(device_);
    case Form::Socket: return pathStem(name_);
    }
    return {};
}
