#include "app/logfilewriter.h"

#include <QDateTime>

#include "app/appcontext.h"
#include "app/datapaths.h"
#include "app/ownerfile.h"
#include "app/scramble.h"

LogFileWriter *LogFileWriter::instance()
{
    static LogFileWriter writer(AppContext::instance()->dataPaths()->logFile());
    return &writer;
}

LogFileWriter::LogFileWriter(const QString &path)
{
    // Each run starts a fresh log, readable by its user only. The first run of a new install has no data folder
    // yet. Unbuffered: each line reaches the operating system before the next message is taken, so a crash keeps
    // every line logged so far. A log that cannot be opened loses its messages quietly.
    EnsureParentDir(path);
    QString error;
    OwnerFile::openForWriting(path, &m_file, QIODevice::Text | QIODevice::Unbuffered, &error);
    m_line.reserve(1024);
}

LogFileWriter::~LogFileWriter()
{
    QMutexLocker lock(&m_mutex);
    m_file.close();
}

void LogFileWriter::write(QtMsgType type, const QString &message)
{
    QLatin1String level;
    switch (type) {
    case QtDebugMsg:
        level = QLatin1String("Message: ");
        break;
    case QtCriticalMsg:
        level = QLatin1String("Critical: ");
        break;
    case QtFatalMsg:
        level = QLatin1String("Fatal: ");
        break;
    default:
        return;
    }

    // One lock around the whole line: the RAS notifier thread logs too.
    QMutexLocker lock(&m_mutex);
    if (!enabled || !m_file.isOpen())
        return;
    const qint64 msecs = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = msecs / 1000 - (msecs % 1000 < 0 ? 1 : 0);
    if (second != m_stampSecond) {
        // Local-time offsets change on whole seconds, so one text serves the whole second.
        m_stamp =
            m_english.toString(QDateTime::fromSecsSinceEpoch(second), QStringLiteral("MMM dd hh:mm:ss | ")).toLatin1();
        m_stampSecond = second;
    }
    // resize(0) keeps the reserved buffer.
    m_line.resize(0);
    m_line.append(m_stamp).append(level.data(), level.size());
    AppendScrambled(m_line, message);
    m_line.append('\n');
    m_file.write(m_line);
}

void LogMessageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    LogFileWriter::instance()->write(type, message);
}
