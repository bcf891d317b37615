// RAS backend for Linux. There is no NetworkManager backend for IKEv2, L2TP/IPSec and PPTP tunnels yet, so
// there is no phone book and no dial: the calls answer with the RAS error a missing phone book gives, and the
// manager reports a connection problem.
#include <QCoreApplication>
#include <QDebug>

#include "vpn/rasapi.h"

namespace {

constexpr quint32 ErrorNoConnection = 668; // ERROR_NO_CONNECTION

void logMissingBackend(const char *call)
{
    qDebug().noquote()
        << QLatin1String(call) +
               QLatin1String(" is not available: no NetworkManager backend for IKEv2, L2TP/IPSec and PPTP tunnels.");
}

class UnixRasApi : public RasApi
{
public:
    quint32 validateEntryName(const QString &) override { return Ras::ErrorCannotFindPhonebookEntry; }

    quint32 setEntryProperties(const QString &, const RasEntry &) override
    {
        logMissingBackend("RAS phone-book entry");
        return Ras::ErrorCannotOpenPhonebook;
    }

    quint32 getEntryProperties(const QString &, RasEntry *) override
    {
        logMissingBackend("RAS phone-book entry");
        return Ras::ErrorCannotOpenPhonebook;
    }

    quint32 setCredentials(const QString &, const RasCredentials &, bool) override
    {
        logMissingBackend("RAS credential store");
        return Ras::ErrorCannotOpenPhonebook;
    }

    quint32 dial(const RasDialParams &, RasNotifier, RasHandle *handle) override
    {
        logMissingBackend("RAS dial");
        *handle = 0;
        return Ras::ErrorCannotOpenPhonebook;
    }

    quint32 getConnectStatus(RasHandle, RasConnStatus *) override { return Ras::ErrorInvalidHandle; }

    quint32 hangUp(RasHandle) override { return Ras::ErrorInvalidHandle; }

    quint32 getErrorString(quint32 error, int bufferChars, QString *text) override
    {
        QString message;
        switch (error) {
        case Ras::ErrorInvalidHandle:
            message = QStringLiteral("The handle is invalid.");
            break;
        case Ras::ErrorCannotOpenPhonebook:
            message = QStringLiteral("The system could not open the phone book file.");
            break;
        case Ras::ErrorCannotFindPhonebookEntry:
            message = QStringLiteral("The system could not find the phone book entry for this connection.");
            break;
        case ErrorNoConnection:
            message = QStringLiteral("The connection was closed.");
            break;
        default:
            return Ras::ErrorInvalidParameter;
        }
        if (message.size() >= bufferChars)
            return Ras::ErrorInvalidParameter;
        *text = message;
        return Ras::Success;
    }

    quint32 deleteEntry(const QString &) override { return Ras::ErrorCannotFindPhonebookEntry; }

    void dispatchMessages() override { QCoreApplication::processEvents(); }
};

} // namespace

std::unique_ptr<RasApi> CreateRasApi()
{
    return std::make_unique<UnixRasApi>();
}
