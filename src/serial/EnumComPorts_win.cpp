#include "serial/EnumComPorts_win.h"
#include "serial/EComPort.h"
#include "serial/EnumComPorts.h"

namespace {

// Closes the key however the listing ends.
class TRegistryKey {
public:
    TRegistryKey(HKEY root, const char* subKey) {
        if (RegOpenKeyExA(root, subKey, 0, KEY_READ, &key_) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~TRegistryKey() {
        if (key_)
            RegCloseKey(key_);
    }
    TRegistryKey(const TRegistryKey&) = delete;
    TRegistryKey& operator=(const TRegistryKey&) = delete;

    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

} // namespace

bool RegistryComPorts(HKEY root, const char* subKey, QStringList& names) {
    const TRegistryKey key(root, subKey);
    if (!key.Get())
        return false;
    QStringList found;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD nameLength = sizeof name;
        BYTE data[256];
        DWORD dataLength = sizeof data;
        const LONG result =
            RegEnumValueA(key.Get(), index, name, &nameLength, nullptr, nullptr, data, &dataLength);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS)
            throw EComPortExt(CE_RegError, static_cast<uint32_t>(result),
                              QStringLiteral("EnumComPorts"));
        // The data is the name with its terminating zero, which is not part of the name.
        QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(dataLength));
        while (text.endsWith('\0'))
            text.chop(1);
        found.append(QString::fromLocal8Bit(text));
    }
    names = found;
    return true;
}

bool ListPresentComPorts(QStringList& names) {
    return RegistryComPorts(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", names);
}

int ComparePortNames(const QString& a, const QString& b) {
    const int order = CompareStringEx(
        LOCALE_NAME_USER_DEFAULT, NORM_IGNORECASE, reinterpret_cast<const wchar_t*>(a.utf16()),
        static_cast<int>(a.size()), reinterpret_cast<const wchar_t*>(b.utf16()),
        static_cast<int>(b.size()), nullptr, nullptr, 0);
    if (order == 0)
        return QString::compare(a, b, Qt::CaseInsensitive); // not comparable by the locale
    return order - CSTR_EQUAL;
}

QStringList PortAccessNotes() {
    QStringList names;
    if (!ListPresentComPorts(names) || !names.isEmpty())
        return {};
    return {QStringLiteral("[NOTE: WINDOWS LISTS NO SERIAL PORT: THE DEVICE'S USB SERIAL DRIVER "
                           "MAY BE MISSING (DEVICE MANAGER SHOWS THE PORT UNDER \"PORTS (COM & "
                           "LPT)\")]")};
}

QList<QPair<QString, QString>> ForbiddenComPorts() {
    return {};
}

QString ForbiddingGroup(const QString&) {
    return {}; // access to a port is not a matter of groups here
}
