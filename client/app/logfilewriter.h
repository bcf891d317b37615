#pragma once

#include <QByteArray>
#include <QFile>
#include <QLocale>
#include <QMutex>
#include <QString>
#include <QtGlobal>

#include <atomic>

// Writes the client's log file: one scrambled line per debug, critical or fatal message.
class LogFileWriter
{
public:
    static LogFileWriter *instance();

    // Cleared when the event loop has returned, so nothing of the tear-down reaches the file. Atomic: the RAS
    // notifier thread may be logging while the main thread clears it.
    std::atomic<bool> enabled{true};

    void write(QtMsgType type, const QString &message);

private:
    explicit LogFileWriter(const QString &path);
    ~LogFileWriter();
    Q_DISABLE_COPY(LogFileWriter)

    QFile m_file;
    QMutex m_mutex;
    const QLocale m_english{QStringLiteral("en")};
    // The time stamp text of m_stampSecond (seconds since the epoch); remade when the second changes.
    qint64 m_stampSecond = -1;
    QByteArray m_stamp;
    // The line being written; keeps its capacity from line to line.
    QByteArray m_line;
};

void LogMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message);
