#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <memory>

// Platform-neutral view of the Remote Access Service calls the RAS tunnel manager makes.
// Every call takes the default phone book; results are 0 or a Win32/RAS error code.

using RasHandle = quintptr; // 0 is the null connection handle

// Called by RAS on a thread of its own while a dial makes progress.
using RasNotifier = void (*)(RasHandle handle, quint32 message, quint32 state, quint32 error, quint32 extendedError);

namespace Ras {
constexpr quint32 Success = 0;
constexpr quint32 ErrorAccessDenied = 5;
constexpr quint32 ErrorInvalidHandle = 6;
constexpr quint32 ErrorInvalidParameter = 87;
constexpr quint32 ErrorAlreadyExists = 183;
constexpr quint32 ErrorBufferInvalid = 610;
constexpr quint32 ErrorCannotOpenPhonebook = 621;
constexpr quint32 ErrorCannotFindPhonebookEntry = 623;

// Connection states reported by the notifier and the status query.
constexpr quint32 StateConnected = 0x2000;
constexpr quint32 StateDisconnected = 0x2001;
} // namespace Ras

// The entry fields the manager sets. `native` is the backend's own copy of the whole record as last read;
// on write the backend starts from it, so fields not named here survive a read-modify-write.
struct RasEntry
{
    quint32 options = 0;         // dwfOptions
    QString localPhoneNumber;    // szLocalPhoneNumber
    quint32 netProtocols = 0;    // dwfNetProtocols
    quint32 framingProtocol = 0; // dwFramingProtocol
    QString deviceType;          // szDeviceType
    QString deviceName;          // szDeviceName
    quint32 dialMode = 0;        // dwDialMode
    quint32 type = 0;            // dwType
    quint32 encryptionType = 0;  // dwEncryptionType
    quint32 vpnStrategy = 0;     // dwVpnStrategy
    quint32 options2 = 0;        // dwfOptions2
    quint32 redialCount = 0;     // dwRedialCount
    quint32 redialPause = 0;     // dwRedialPause
    QByteArray native;
};

struct RasCredentials
{
    quint32 mask = 0; // dwMask
    QString password; // szPassword
};

struct RasDialParams
{
    QString entryName;   // szEntryName
    QString phoneNumber; // szPhoneNumber; empty dials the entry's own address
    QString userName;    // szUserName
    QString password;    // szPassword
};

struct RasConnStatus
{
    quint32 state = 0; // rasconnstate
    quint32 error = 0; // dwError
};

class RasApi
{
public:
    virtual ~RasApi() = default;

    // Ras::ErrorAlreadyExists when the entry exists.
    virtual quint32 validateEntryName(const QString &entryName) = 0;
    virtual quint32 setEntryProperties(const QString &entryName, const RasEntry &entry) = 0;
    virtual quint32 getEntryProperties(const QString &entryName, RasEntry *entry) = 0;
    virtual quint32 setCredentials(const QString &entryName, const RasCredentials &credentials,
                                   bool clearCredentials) = 0;
    // Starts an asynchronous dial; `handle` is written before the call returns.
    virtual quint32 dial(const RasDialParams &params, RasNotifier notifier, RasHandle *handle) = 0;
    virtual quint32 getConnectStatus(RasHandle handle, RasConnStatus *status) = 0;
    virtual quint32 hangUp(RasHandle handle) = 0;
    // 0 when a text was written; `bufferChars` is the size of the text buffer offered to RAS.
    virtual quint32 getErrorString(quint32 error, int bufferChars, QString *text) = 0;
    virtual quint32 deleteEntry(const QString &entryName) = 0;
    // Removes and dispatches every pending window message of the calling thread.
    virtual void dispatchMessages() = 0;
    // The network device that carries a connected tunnel, where it has one of its own; empty when unknown.
    virtual QString tunnelDevice() const { return QString(); }
};

// The backend of the platform the program is built for.
std::unique_ptr<RasApi> CreateRasApi();
