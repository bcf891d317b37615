#include "app/logfilewriter.h"

#include <QDateTime>
#include <QLocale>

#include "app/appcontext.h"
#include "app/datapaths.h"
#include "app/scramble.h"

LogFileWriter *LogFileWriter::instance()
{
    static LogFileWriter writer(AppContext::instance()->dataPaths()->logFile());
    return &writer;
}

LogFileWriter::LogFileWriter(const QString &path) : m_file(path)
{
    // Text mode truncates: each run starts a fresh log. The first run of a new install has no data folder yet.
    EnsureParentDir(path);
    if (m_file.open(QIODevice::WriteOnly | QIODevice::Text))
        m_stream.setDevice(&m_file);
}

LogFileWriter::~LogFileWriter()
{
    QMutexLocker lock(&m_mutex);
    m_stream.flush();
    m_file.close();
}

void LogFileWriter::write(QtMsgType type, const QString &message)
{
    const char *level = nullptr;
    switch (type) {
    case QtDebugMsg:
        level = "Message: ";
        break;
    case QtCriticalMsg:
        level = "Critical: ";
        break;
    case QtFatalMsg:
        level = "Fatal: ";
        break;
    default:
        return;
    }

    // One lock around the whole line: the RAS notifier thread logs too.
    QMutexLocker lock(&m_mutex);
    if (!enabled || !m_stream.device())
        return;
    const QString stamp =
        QLocale(QStringLiteral("en")).toString(QDateTime::currentDateTime(), QStringLiteral("MMM dd hh:mm:ss | "));
    m_stream << stamp << level << QString::fromLatin1(ScrambleText(message).toLatin1()) << '\n';
    m_stream.flush();
}

void LogMessageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    LogFileWriter::instance()->write(type, message);
}
