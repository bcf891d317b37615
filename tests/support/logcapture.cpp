#include "logcapture.h"

#include <QTest>

#include <algorithm>

namespace {
QMutex mutex;
QStringList captured;
} // namespace

LogCapture::LogCapture() : m_previous(qInstallMessageHandler(&LogCapture::handler))
{
    clear();
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
}

QStringList LogCapture::lines()
{
    QMutexLocker lock(&mutex);
    return captured;
}

bool LogCapture::anyContains(const QString &text)
{
    const QStringList all = lines();
    return std::any_of(all.begin(), all.end(), [&text](const QString &line) { return line.contains(text); });
}

void LogCapture::clear()
{
    QMutexLocker lock(&mutex);
    captured.clear();
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg)
        return;
    QMutexLocker lock(&mutex);
    captured.append(message);
}

bool LogCapture::waitFor(const QString &line, int timeoutMs)
{
    return QTest::qWaitFor([&line] { return contains(line); }, timeoutMs);
}
