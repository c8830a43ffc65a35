#include "usb/UsbAdapter.h"
#include <QRegularExpression>
#include <windows.h>
#include <setupapi.h>
#include <initguid.h>
#include <devguid.h>

namespace {
constexpr DWORD kTextChars = 512;

QString property(HDEVINFO set, SP_DEVINFO_DATA &info, DWORD which)
{
    wchar_t text[kTextChars] = {};
    if (!::SetupDiGetDeviceRegistryPropertyW(set, &info, which, nullptr, reinterpret_cast<BYTE *>(text),
                                             sizeof text - sizeof(wchar_t), nullptr))
        return {};
    return QString::fromWCharArray(text);
}

QString portName(HDEVINFO set, SP_DEVINFO_DATA &info)
{
    HKEY key = ::SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE)
        return {};
    wchar_t text[kTextChars] = {};
    DWORD bytes = sizeof text - sizeof(wchar_t);
    DWORD type = 0;
    const bool read = ::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE *>(text), &bytes) ==
                          ERROR_SUCCESS && type == REG_SZ;
    ::RegCloseKey(key);
    return read ? QString::fromWCharArray(text) : QString();
}

QString instanceId(HDEVINFO set, SP_DEVINFO_DATA &info)
{
    wchar_t text[kTextChars] = {};
    if (!::SetupDiGetDeviceInstanceIdW(set, &info, text, kTextChars - 1, nullptr))
        return {};
    return QString::fromWCharArray(text);
}

// The serial number in a device's instance ID: the last part of a USB one
// ("USB\VID_0403&PID_6001\A50285BI"); in the adapter vendor's own bus
// driver's, the third field with the channel letter after it
// ("FTDIBUS\VID_0403+PID_6001+A50285BIA\0000").
QString serialNumberOf(const QString &id)
{
    const QStringList parts = id.split(QLatin1Char('\\'));
    if (parts.size() < 3)
        return {};
    if (parts.first().compare(QLatin1String("USB"), Qt::CaseInsensitive) == 0)
        return parts.at(2).contains(QLatin1Char('&')) ? QString() : parts.at(2);
    const QStringList fields = parts.at(1).split(QLatin1Char('+'));
    if (fields.size() < 3 || fields.at(2).size() < 2)
        return {};
    return fields.at(2).chopped(1);
}
}

std::optional<UsbAdapter> usbAdapterOf(const QString &device)
{
    const QString wanted = QString(device).remove(QStringLiteral("\\\\.\\"));
    HDEVINFO set = ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return std::nullopt;
    std::optional<UsbAdapter> found;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD i = 0; !found && ::SetupDiEnumDeviceInfo(set, i, &info); ++i) {
        if (portName(set, info).compare(wanted, Qt::CaseInsensitive) != 0)
            continue;
        static const QRegularExpression ids(QStringLiteral("VID_([0-9A-F]{4}).PID_([0-9A-F]{4})"),
                                            QRegularExpression::CaseInsensitiveOption);
        const QString id = instanceId(set, info);
        const QRegularExpressionMatch match = ids.match(id);
        if (!match.hasMatch())
            break;
        found = UsbAdapter{match.captured(1).toInt(nullptr, 16), match.captured(2).toInt(nullptr, 16),
                           property(set, info, SPDRP_DEVICEDESC), property(set, info, SPDRP_MFG),
                           serialNumberOf(id)};
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return found;
}
