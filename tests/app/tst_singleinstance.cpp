#include <QtTest>

#include "app/scramble.h"

// Runs real client processes from a private copy of the program, so each test has its own data folder
// and, through its own home folder, its own user session.
class tst_SingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void secondStartLeavesFirstAndLog();
    void exitSwitch_data();
    void exitSwitch();
    void exitWithoutInstance();
    void killedFirstDoesNotBlock();
    void freshLogPerRun();
    void translationAndStartLines();

private:
    QProcess *start(const QStringList &args = {});
    bool waitForStarted(QProcess *process);
    QStringList logLines() const;
    QByteArray logBytes() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_program;
    QList<QProcess *> m_processes;
};

void tst_SingleInstance::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_program = m_dir->filePath(QStringLiteral("TovraVPN"));
    QVERIFY(QFile::copy(QStringLiteral(TOVRA_BIN_DIR "/TovraVPN"), m_program));
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("home")));
}

void tst_SingleInstance::cleanup()
{
    for (QProcess *process : qAsConst(m_processes)) {
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(5000);
        }
        delete process;
    }
    m_processes.clear();
    m_dir.reset();
}

QProcess *tst_SingleInstance::start(const QStringList &args)
{
    auto *process = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_dir->filePath(QStringLiteral("home")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // The offscreen platform leaves its screen behind at exit; exit codes are what is checked here.
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    process->setProcessEnvironment(env);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(m_program, args);
    m_processes.append(process);
    return process;
}

QByteArray tst_SingleInstance::logBytes() const
{
    QFile file(m_dir->filePath(QStringLiteral("Data/TOVRA.log")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList tst_SingleInstance::logLines() const
{
    QStringList result;
    const QList<QByteArray> lines = logBytes().split('\n');
    for (const QByteArray &line : lines) {
        const int at = line.indexOf(": ", 20);
        if (at > 0)
            result.append(UnscrambleText(QString::fromLatin1(line.mid(at + 2))));
    }
    return result;
}

bool tst_SingleInstance::waitForStarted(QProcess *process)
{
    if (!process->waitForStarted(10000))
        return false;
    QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired() && process->state() == QProcess::Running) {
        const QStringList lines = logLines();
        for (const QString &line : lines) {
            if (line.startsWith(QLatin1String("Kernel version:")))
                return true;
        }
        QTest::qWait(50);
    }
    return false;
}

void tst_SingleInstance::secondStartLeavesFirstAndLog()
{
    QProcess *first = start();
    QVERIFY(waitForStarted(first));
    const QByteArray before = logBytes();

    QProcess *second = start();
    QVERIFY(second->waitForFinished(15000));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QCOMPARE(logBytes(), before);
    QCOMPARE(first->state(), QProcess::Running);
}

void tst_SingleInstance::exitSwitch_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("firstQuits");
    QTest::newRow("/exit") << QStringList{QStringLiteral("/exit")} << true;
    QTest::newRow("/exit after other arguments") << QStringList{QStringLiteral("-x"), QStringLiteral("/exit")} << true;
    QTest::newRow("/EXIT is ignored") << QStringList{QStringLiteral("/EXIT")} << false;
    QTest::newRow("/exit2 is ignored") << QStringList{QStringLiteral("/exit2")} << false;
}

void tst_SingleInstance::exitSwitch()
{
    QFETCH(QStringList, args);
    QFETCH(bool, firstQuits);
    QProcess *first = start();
    QVERIFY(waitForStarted(first));

    QProcess *second = start(args);
    QVERIFY(second->waitForFinished(15000));
    QCOMPARE(second->exitCode(), 0);
    if (firstQuits) {
        QVERIFY(first->waitForFinished(15000));
        QCOMPARE(first->exitStatus(), QProcess::NormalExit);
        QCOMPARE(first->exitCode(), 0);
    } else {
        QVERIFY(!first->waitForFinished(1000));
        // A real "/exit" still reaches it afterwards.
        QProcess *third = start({QStringLiteral("/exit")});
        QVERIFY(third->waitForFinished(15000));
        QVERIFY(first->waitForFinished(15000));
        QCOMPARE(first->exitCode(), 0);
    }
}

void tst_SingleInstance::exitWithoutInstance()
{
    QProcess *process = start({QStringLiteral("/exit")});
    QVERIFY(process->waitForFinished(15000));
    QCOMPARE(process->exitCode(), 0);
    QVERIFY(logBytes().isEmpty());
}

void tst_SingleInstance::killedFirstDoesNotBlock()
{
    QProcess *first = start();
    QVERIFY(waitForStarted(first));
    first->kill();
    QVERIFY(first->waitForFinished(10000));
    // Only the next run's own start lines may count.
    QVERIFY(QFile::remove(m_dir->filePath(QStringLiteral("Data/TOVRA.log"))));

    QProcess *next = start();
    QVERIFY2(waitForStarted(next), "a killed instance blocked the next start");
    QProcess *exit = start({QStringLiteral("/exit")});
    QVERIFY(exit->waitForFinished(15000));
    QVERIFY(next->waitForFinished(15000));
    QCOMPARE(next->exitCode(), 0);
}

void tst_SingleInstance::freshLogPerRun()
{
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("Data")));
    QFile old(m_dir->filePath(QStringLiteral("Data/TOVRA.log")));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("Dec 06 01:25:42 | Message: left by an earlier run\n");
    old.close();

    QProcess *process = start();
    QVERIFY(waitForStarted(process));
    QVERIFY(!logBytes().contains("earlier run"));
    QCOMPARE(logLines().filter(QStringLiteral("TOVRA started")).size(), 1);
    QProcess *exit = start({QStringLiteral("/exit")});
    QVERIFY(exit->waitForFinished(15000));
    QVERIFY(process->waitForFinished(15000));
}

void tst_SingleInstance::translationAndStartLines()
{
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("Data")));
    QFile locale(m_dir->filePath(QStringLiteral("Data/locale.config")));
    QVERIFY(locale.open(QIODevice::WriteOnly));
    locale.write("de");
    locale.close();

    QProcess *process = start();
    QVERIFY(waitForStarted(process));
    const QStringList lines = logLines();
    QVERIFY2(lines.size() >= 5, qPrintable(lines.join(QLatin1Char('\n'))));
    QCOMPARE(lines.at(0), QStringLiteral("TOVRA started"));
    QCOMPARE(lines.at(1),
             QStringLiteral("Loading translation from:  ") + m_dir->path() + QStringLiteral("/language/language_de"));
    QCOMPARE(lines.at(2), QStringLiteral("Application version:  4.1.5 (71)"));
    QVERIFY(lines.at(3).startsWith(QLatin1String("OS:  ")));
    QVERIFY(lines.at(4).startsWith(QLatin1String("Kernel version:  ")));
}

QTEST_GUILESS_MAIN(tst_SingleInstance)
#include "tst_singleinstance.moc"
