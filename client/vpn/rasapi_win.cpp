// RAS backend on rasapi32 and the user32 message pump.
#include <winsock2.h>

#include <windows.h>

#include <ras.h>
#include <raserror.h>

#include <QAtomicPointer>
#include <cstring>
#include <cwchar>
#include <vector>

#include "vpn/rasapi.h"

#ifndef VS_Ikev2Only
#define VS_Ikev2Only 7
#endif

// RAS only accepts the dwSize values of the architecture it runs on; the client is a 32-bit program
// built against Vista-level headers.
#if defined(__i386__) || defined(_M_IX86)
static_assert(sizeof(RASENTRYW) == 5616, "RASENTRYW size");
static_assert(sizeof(RASDIALPARAMSW) == 2104, "RASDIALPARAMSW size");
static_assert(sizeof(RASCREDENTIALSW) == 1068, "RASCREDENTIALSW size");
static_assert(sizeof(RASCONNSTATUSW) == 564, "RASCONNSTATUSW size");
#endif

namespace {

const wchar_t *Wide(const QString &text)
{
    return reinterpret_cast<const wchar_t *>(text.utf16());
}

// False when the text does not fit the field with its terminator.
template <size_t N>
bool CopyText(WCHAR (&field)[N], const QString &text)
{
    if (static_cast<size_t>(text.size()) >= N)
        return false;
    std::memcpy(field, text.utf16(), static_cast<size_t>(text.size()) * sizeof(WCHAR));
    field[text.size()] = 0;
    return true;
}

template <size_t N>
QString FieldText(const WCHAR (&field)[N])
{
    size_t length = 0;
    while (length < N && field[length] != 0)
        ++length;
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(field), static_cast<int>(length));
}

template <typename T>
void Wipe(T *record)
{
    SecureZeroMemory(record, sizeof(T));
}

// RasDial's notifier has no context argument.
QAtomicPointer<void> dialNotifier;

VOID WINAPI DialNotification(HRASCONN handle, UINT message, RASCONNSTATE state, DWORD error, DWORD extendedError)
{
    if (auto notifier = reinterpret_cast<RasNotifier>(dialNotifier.loadAcquire()))
        notifier(reinterpret_cast<RasHandle>(handle), message, static_cast<quint32>(state), error, extendedError);
}

class WindowsRasApi : public RasApi
{
public:
    quint32 validateEntryName(const QString &entryName) override
    {
        return RasValidateEntryNameW(nullptr, Wide(entryName));
    }

    quint32 setEntryProperties(const QString &entryName, const RasEntry &entry) override
    {
        RASENTRYW record;
        if (entry.native.size() == static_cast<int>(sizeof(record)))
            std::memcpy(&record, entry.native.constData(), sizeof(record));
        else
            std::memset(&record, 0, sizeof(record));
        record.dwSize = sizeof(record);
        record.dwfOptions = entry.options;
        record.dwfNetProtocols = entry.netProtocols;
        record.dwFramingProtocol = entry.framingProtocol;
        record.dwDialMode = entry.dialMode;
        record.dwType = entry.type;
        record.dwEncryptionType = entry.encryptionType;
        record.dwVpnStrategy = entry.vpnStrategy;
        record.dwfOptions2 = entry.options2;
        record.dwRedialCount = entry.redialCount;
        record.dwRedialPause = entry.redialPause;
        if (!CopyText(record.szLocalPhoneNumber, entry.localPhoneNumber) ||
            !CopyText(record.szDeviceType, entry.deviceType) || !CopyText(record.szDeviceName, entry.deviceName))
            return ERROR_INVALID_PARAMETER;
        const DWORD result = RasSetEntryPropertiesW(nullptr, Wide(entryName), &record, sizeof(record), nullptr, 0);
        Wipe(&record);
        return result;
    }

    quint32 getEntryProperties(const QString &entryName, RasEntry *entry) override
    {
        RASENTRYW record;
        std::memset(&record, 0, sizeof(record));
        record.dwSize = sizeof(record);
        DWORD size = sizeof(record);
        const DWORD result = RasGetEntryPropertiesW(nullptr, Wide(entryName), &record, &size, nullptr, nullptr);
        if (result == 0) {
            entry->options = record.dwfOptions;
            entry->localPhoneNumber = FieldText(record.szLocalPhoneNumber);
            entry->netProtocols = record.dwfNetProtocols;
            entry->framingProtocol = record.dwFramingProtocol;
            entry->deviceType = FieldText(record.szDeviceType);
            entry->deviceName = FieldText(record.szDeviceName);
            entry->dialMode = record.dwDialMode;
            entry->type = record.dwType;
            entry->encryptionType = record.dwEncryptionType;
            entry->vpnStrategy = record.dwVpnStrategy;
            entry->options2 = record.dwfOptions2;
            entry->redialCount = record.dwRedialCount;
            entry->redialPause = record.dwRedialPause;
            entry->native = QByteArray(reinterpret_cast<const char *>(&record), sizeof(record));
        }
        Wipe(&record);
        return result;
    }

    quint32 setCredentials(const QString &entryName, const RasCredentials &credentials, bool clear) override
    {
        RASCREDENTIALSW record;
        std::memset(&record, 0, sizeof(record));
        record.dwSize = sizeof(record);
        record.dwMask = credentials.mask;
        if (!CopyText(record.szPassword, credentials.password))
            return ERROR_INVALID_PARAMETER;
        const DWORD result = RasSetCredentialsW(nullptr, Wide(entryName), &record, clear ? TRUE : FALSE);
        Wipe(&record);
        return result;
    }

    quint32 dial(const RasDialParams &params, RasNotifier notifier, RasHandle *handle) override
    {
        RASDIALPARAMSW record;
        std::memset(&record, 0, sizeof(record));
        record.dwSize = sizeof(record);
        if (!CopyText(record.szEntryName, params.entryName) || !CopyText(record.szPhoneNumber, params.phoneNumber) ||
            !CopyText(record.szUserName, params.userName) || !CopyText(record.szPassword, params.password)) {
            Wipe(&record);
            return ERROR_INVALID_PARAMETER;
        }
        dialNotifier.storeRelease(reinterpret_cast<void *>(notifier));
        HRASCONN connection = nullptr;
        const DWORD result =
            RasDialW(nullptr, nullptr, &record, 1, reinterpret_cast<LPVOID>(&DialNotification), &connection);
        *handle = reinterpret_cast<RasHandle>(connection);
        Wipe(&record);
        return result;
    }

    quint32 getConnectStatus(RasHandle handle, RasConnStatus *status) override
    {
        RASCONNSTATUSW record;
        std::memset(&record, 0, sizeof(record));
        record.dwSize = sizeof(record);
        const DWORD result = RasGetConnectStatusW(reinterpret_cast<HRASCONN>(handle), &record);
        status->state = static_cast<quint32>(record.rasconnstate);
        status->error = record.dwError;
        return result;
    }

    quint32 hangUp(RasHandle handle) override { return RasHangUpW(reinterpret_cast<HRASCONN>(handle)); }

    quint32 getErrorString(quint32 error, int bufferChars, QString *text) override
    {
        std::vector<WCHAR> buffer(static_cast<size_t>(bufferChars), 0);
        const DWORD result = RasGetErrorStringW(error, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (result == 0) {
            buffer.back() = 0;
            *text = QString::fromWCharArray(buffer.data(), static_cast<int>(std::wcslen(buffer.data())));
        }
        return result;
    }

    quint32 deleteEntry(const QString &entryName) override { return RasDeleteEntryW(nullptr, Wide(entryName)); }

    void dispatchMessages() override
    {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
};

} // namespace

std::unique_ptr<RasApi> CreateRasApi()
{
    return std::make_unique<WindowsRasApi>();
}
