#include "link/WindowsPortSettings.h"

namespace {

std::wstring widened(const std::string &text)
{
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(size > 0 ? static_cast<std::size_t>(size) : 0, L'\0');
    if (size > 0)
        ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), size);
    if (!wide.empty())
        wide.pop_back();  // the terminating null
    return wide;
}

BYTE parityOf(SerialSettings::Parity parity)
{
    switch (parity) {
    case SerialSettings::Parity::Even: return EVENPARITY;
    case SerialSettings::Parity::Odd: return ODDPARITY;
    case SerialSettings::Parity::Mark: return MARKPARITY;
    case SerialSettings::Parity::Space: return SPACEPARITY;
    case SerialSettings::Parity::None: break;
    }
    return NOPARITY;
}

}

namespace WindowsPortSettings {

std::wstring devicePath(const std::string &device)
{
    const std::wstring wide = widened(device);
    return wide.rfind(L"\\\\.\\", 0) == 0 ? wide : L"\\\\.\\" + wide;
}

std::wstring holdName(const std::string &device)
{
    std::string name = device;
    for (char &c : name)
        c = c == '\\' ? '_' : static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return widened(name);
}

void apply(const SerialSettings &settings, DCB &dcb)
{
    dcb.BaudRate = static_cast<DWORD>(settings.baud);
    dcb.ByteSize = static_cast<BYTE>(settings.dataBits);
    dcb.Parity = parityOf(settings.parity);
    dcb.StopBits = settings.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = settings.parity != SerialSettings::Parity::None;
    dcb.fDtrControl = settings.dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    const bool rtsCts = settings.flow == SerialSettings::Flow::RtsCts;
    dcb.fOutxCtsFlow = rtsCts;
    dcb.fRtsControl = rtsCts ? RTS_CONTROL_HANDSHAKE : settings.rts ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    const bool xonXoff = settings.flow == SerialSettings::Flow::XonXoff;
    dcb.fOutX = xonXoff;
    dcb.fInX = xonXoff;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
}

COMMTIMEOUTS waitingReads(DWORD longestMs)
{
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = longestMs;
    return timeouts;
}

}
