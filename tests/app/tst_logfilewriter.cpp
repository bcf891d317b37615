#include <QtTest>

#include <thread>

#include "app/appcontext.h"
#include "app/logfilewriter.h"
#include "app/scramble.h"

namespace {
const QRegularExpression linePattern(QStringLiteral(
    "^([A-Z][a-z]{2}) \\d\\d \\d\\d:\\d\\d:\\d\\d \\| (Message|Critical|Fatal): ([A-Y]{4}[A-Za-z0-9+/=]*[A-Y]{4})$"));
}

class tst_LogFileWriter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void lines();
    void wholeLinesFromTwoThreads();
    void disabledWriterWritesNothing();

private:
    QStringList readLines() const;
    QTemporaryDir m_dir;
    QtMessageHandler m_previous = nullptr;
};

void tst_LogFileWriter::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("Data")));
    // A stale log of an earlier run is emptied when the writer opens.
    QFile old(m_dir.filePath(QStringLiteral("Data/TOVRA.log")));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("old run\n");
    old.close();
    AppContext::instance()->dataPaths()->setDir(m_dir.path());
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    m_previous = qInstallMessageHandler(LogMessageHandler);
}

void tst_LogFileWriter::cleanupTestCase()
{
    qInstallMessageHandler(m_previous);
}

QStringList tst_LogFileWriter::readLines() const
{
    QFile file(m_dir.filePath(QStringLiteral("Data/TOVRA.log")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
#ifndef Q_OS_WIN
    // Text mode writes the platform's line end.
    if (bytes.contains('\r'))
        return {QStringLiteral("carriage return found")};
#endif
    QStringList result = QString::fromLatin1(bytes).split(QLatin1Char('\n'));
    if (!result.isEmpty() && result.last().isEmpty())
        result.removeLast();
    return result;
}

void tst_LogFileWriter::lines()
{
    qDebug() << "Get local ip";
    qWarning() << "a warning stays out";
    qInfo() << "info stays out";
    qCritical() << "Critical thing" << 42;
    qDebug().noquote() << "Grüße aus" << QStringLiteral("Köln");

    const QStringList lines = readLines();
    QCOMPARE(lines.size(), 3);
    const QStringList expectedLevels{QStringLiteral("Message"), QStringLiteral("Critical"), QStringLiteral("Message")};
    const QStringList expectedTexts{QStringLiteral("Get local ip"), QStringLiteral("Critical thing 42"),
                                    QStringLiteral("Grüße aus Köln")};
    const QStringList englishMonths{"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int i = 0; i < lines.size(); ++i) {
        const QRegularExpressionMatch match = linePattern.match(lines.at(i));
        QVERIFY2(match.hasMatch(), qPrintable(lines.at(i)));
        QVERIFY2(englishMonths.contains(match.captured(1)), qPrintable(lines.at(i)));
        QCOMPARE(match.captured(2), expectedLevels.at(i));
        QCOMPARE(UnscrambleText(match.captured(3)), expectedTexts.at(i));
    }
}

void tst_LogFileWriter::wholeLinesFromTwoThreads()
{
    const int before = readLines().size();
    constexpr int perThread = 400;
    const auto spam = [](const char *who) {
        for (int i = 0; i < perThread; ++i)
            qDebug() << who << "line" << i << QByteArray(64, 'x');
    };
    std::thread other(spam, "worker");
    spam("main");
    other.join();

    const QStringList lines = readLines().mid(before);
    QCOMPARE(lines.size(), 2 * perThread);
    int fromWorker = 0;
    for (const QString &line : lines) {
        const QRegularExpressionMatch match = linePattern.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        const QString text = UnscrambleText(match.captured(3));
        QVERIFY2(text.endsWith(QString(64, QLatin1Char('x')) + QLatin1Char('"')), qPrintable(text));
        if (text.startsWith(QLatin1String("worker")))
            ++fromWorker;
    }
    QCOMPARE(fromWorker, perThread);
}

void tst_LogFileWriter::disabledWriterWritesNothing()
{
    const int before = readLines().size();
    LogFileWriter::instance()->enabled = false;
    qDebug() << "during tear-down";
    LogFileWriter::instance()->enabled = true;
    QCOMPARE(readLines().size(), before);
}

QTEST_GUILESS_MAIN(tst_LogFileWriter)
#include "tst_logfilewriter.moc"
