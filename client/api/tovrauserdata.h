#pragma once

#include <QMetaType>
#include <QString>

// The signed-in user's account record.
struct TovraUserData
{
    QString token;
    QString email;
    QString id;
    QString firstName;
    QString lastName;
    quint64 bytesTotal = 0;
    quint64 bytesUsed = 0;
    bool isUnlimited = false;
    bool isAnnual = false;
    bool isTrial = false;
    QString status;
    bool isB2b = false;

    // All texts empty, byte counts 0, all flags false.
    void clear() { *this = TovraUserData(); }
};

Q_DECLARE_METATYPE(TovraUserData)
