// RAS backend on rasapi32 and the user32 message pump.
#include <winsock2.h>

#include <windows.h>

#include <ras.h>
#include <raserror.h>

#include <QAtomicPointer>
#include <QDebug>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <set>
#include <vector>

#include "vpn/rasapi.h"

#ifndef VS_Ikev2Only
#define VS_Ikev2Only 7
#endif

namespace {

using EntryRecord = RASENTRYW;
using DialParamsRecord = RASDIALPARAMSW;
using CredentialsRecord = RASCREDENTIALSW;
using ConnStatusRecord = RASCONNSTATUSW;

// RAS tells the versions of a record apart by dwSize and only accepts the sizes it knows for the
// architecture it runs on. The client fills the record version that ends with the field named here, so
// dwSize is that version's size (the headers pack RAS records to 4 bytes), whatever newer fields an SDK adds.
constexpr DWORD RecordSize(size_t fieldOffset, size_t fieldSize)
{
    return static_cast<DWORD>((fieldOffset + fieldSize + 3) / 4 * 4);
}
constexpr DWORD EntrySize = RecordSize(offsetof(EntryRecord, dwRedialPause), sizeof(EntryRecord::dwRedialPause));
constexpr DWORD DialParamsSize =
    RecordSize(offsetof(DialParamsRecord, dwCallbackId), sizeof(DialParamsRecord::dwCallbackId));
constexpr DWORD CredentialsSize =
    RecordSize(offsetof(CredentialsRecord, szDomain), sizeof(CredentialsRecord::szDomain));
constexpr DWORD ConnStatusSize =
    RecordSize(offsetof(ConnStatusRecord, szPhoneNumber), sizeof(ConnStatusRecord::szPhoneNumber));
static_assert(sizeof(EntryRecord) >= EntrySize && sizeof(DialParamsRecord) >= DialParamsSize &&
                  sizeof(CredentialsRecord) >= CredentialsSize && sizeof(ConnStatusRecord) >= ConnStatusSize,
              "record versions fit their records");

// The client is a 32-bit program built against Vista-level headers: the sizes the 32-bit RAS expects.
#if defined(__i386__) || defined(_M_IX86)
static_assert(EntrySize == 5616, "RASENTRYW size");
static_assert(DialParamsSize == 2104, "RASDIALPARAMSW size");
static_assert(CredentialsSize == 1068, "RASCREDENTIALSW size");
static_assert(ConnStatusSize == 564, "RASCONNSTATUSW size");
#if _WIN32_WINNT == 0x0600
static_assert(sizeof(RASDIALPARAMSW) == 2104, "RASDIALPARAMSW size");
static_assert(sizeof(RASCREDENTIALSW) == 1068, "RASCREDENTIALSW size");
static_assert(sizeof(RASCONNSTATUSW) == 564, "RASCONNSTATUSW size");
#endif
#endif

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

HRASCONN ToConnection(RasHandle handle)
{
    return reinterpret_cast<HRASCONN>(handle);
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
        std::memset(&record, 0, sizeof(record));
        if (entry.native.size() == static_cast<int>(EntrySize))
            std::memcpy(&record, entry.native.constData(), EntrySize);
        record.dwSize = EntrySize;
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
            !CopyText(record.szDeviceType, entry.deviceType) || !CopyText(record.szDeviceName, entry.deviceName)) {
            Wipe(&record);
            return ERROR_INVALID_PARAMETER;
        }
        const DWORD result = RasSetEntryPropertiesW(nullptr, Wide(entryName), &record, EntrySize, nullptr, 0);
        Wipe(&record);
        return result;
    }

    quint32 getEntryProperties(const QString &entryName, RasEntry *entry) override
    {
        RASENTRYW record;
        std::memset(&record, 0, sizeof(record));
        record.dwSize = EntrySize;
        DWORD size = EntrySize;
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
            entry->native = QByteArray(reinterpret_cast<const char *>(&record), static_cast<int>(EntrySize));
        }
        Wipe(&record);
        return result;
    }

    quint32 setCredentials(const QString &entryName, const RasCredentials &credentials, bool clear) override
    {
        RASCREDENTIALSW record;
        std::memset(&record, 0, sizeof(record));
        record.dwSize = CredentialsSize;
        record.dwMask = credentials.mask;
        if (!CopyText(record.szPassword, credentials.password)) {
            Wipe(&record);
            return ERROR_INVALID_PARAMETER;
        }
        const DWORD result = RasSetCredentialsW(nullptr, Wide(entryName), &record, clear ? TRUE : FALSE);
        Wipe(&record);
        return result;
    }

    quint32 dial(const RasDialParams &params, RasNotifier notifier, RasHandle *handle) override
    {
        RASDIALPARAMSW record;
        std::memset(&record, 0, sizeof(record));
        record.dwSize = DialParamsSize;
        if (!CopyText(record.szEntryName, params.entryName) || !CopyText(record.szPhoneNumber, params.phoneNumber) ||
            !CopyText(record.szUserName, params.userName) || !CopyText(record.szPassword, params.password)) {
            Wipe(&record);
            return ERROR_INVALID_PARAMETER;
        }
        dialNotifier.storeRelease(reinterpret_cast<void *>(notifier));
        HRASCONN connection = nullptr;
        const DWORD result =
            RasDialW(nullptr, nullptr, &record, 1, reinterpret_cast<LPVOID>(&DialNotification), &connection);
        Wipe(&record);
        if (result != ERROR_SUCCESS) {
            // A dial that fails at once may still have written a handle, which must be hung up all the same.
            if (connection != nullptr)
                ReleaseFailedDial(connection);
            *handle = 0;
            return result;
        }
        *handle = reinterpret_cast<RasHandle>(connection);
        m_open.insert(*handle);
        return result;
    }

    quint32 getConnectStatus(RasHandle handle, RasConnStatus *status) override
    {
        *status = RasConnStatus();
        // A handle RAS has reported gone is never passed on: RAS may give its value to a later connection.
        if (m_open.count(handle) == 0)
            return ERROR_INVALID_HANDLE;
        RASCONNSTATUSW record;
        std::memset(&record, 0, sizeof(record));
        record.dwSize = ConnStatusSize;
        const DWORD result = RasGetConnectStatusW(ToConnection(handle), &record);
        if (result == ERROR_INVALID_HANDLE) {
            m_open.erase(handle);
            return result;
        }
        status->state = static_cast<quint32>(record.rasconnstate);
        status->error = record.dwError;
        return result;
    }

    // The handle stays known until a status query reports it gone (the hang-up wait); after that every call
    // with it answers ERROR_INVALID_HANDLE without reaching RAS.
    quint32 hangUp(RasHandle handle) override
    {
        if (m_open.count(handle) == 0)
            return ERROR_INVALID_HANDLE;
        return RasHangUpW(ToConnection(handle));
    }

    quint32 getErrorString(quint32 error, int bufferChars, QString *text) override
    {
        if (bufferChars <= 0)
            return ERROR_INVALID_PARAMETER;
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
            if (message.message == WM_QUIT) {
                // The quit request belongs to the application's event loop: put it back and stop here.
                PostQuitMessage(static_cast<int>(message.wParam));
                return;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }

private:
    // Hangs up the handle of a dial that failed at once and waits, briefly, until RAS has released it.
    static void ReleaseFailedDial(HRASCONN connection)
    {
        RasHangUpW(connection);
        const ULONGLONG start = GetTickCount64();
        for (;;) {
            RASCONNSTATUSW record;
            std::memset(&record, 0, sizeof(record));
            record.dwSize = ConnStatusSize;
            if (RasGetConnectStatusW(connection, &record) == ERROR_INVALID_HANDLE)
                return;
            if (GetTickCount64() - start >= FailedDialReleaseMs) {
                qDebug() << "RAS still holds the handle of the failed dial.";
                return;
            }
            Sleep(10);
        }
    }

    static constexpr ULONGLONG FailedDialReleaseMs = 3000;

    // Handles of connections this backend dialled that RAS has not yet reported gone.
    std::set<RasHandle> m_open;
};

} // namespace

std::unique_ptr<RasApi> CreateRasApi()
{
    return std::make_unique<WindowsRasApi>();
}
