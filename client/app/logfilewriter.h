#pragma once

#include <QFile>
#include <QMutex>
#include <QString>
#include <QTextStream>
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
    QTextStream m_stream;
    QMutex m_mutex;
};

void LogMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message);
