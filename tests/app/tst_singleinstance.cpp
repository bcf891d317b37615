#include <QtTest>

#include "app/apptypes.h"
#include "app/scramble.h"
#include "testfiles.h"
#include "tovraconstants.h"

// Runs real client processes from a private copy of the program, so each test has its own data folder
// and, through its own home folder, its own user session.
class tst_SingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { qDeleteAll(m_processes), m_processes.clear(), m_dir.reset(); } // kills what still runs
    void oneInstancePerSession();

private:
    // Without display, the process finds no screen, as from an ssh session or a cron job.
    QProcess *start(const QStringList &args = {}, bool display = true);
    // Starts the program with args and waits for it to end with code 0.
    bool runToEnd(const QStringList &args, bool display = true);
    // A start without display: its exit code and what it printed.
    QPair<int, QByteArray> runWithoutDisplay(const QStringList &args);
    bool waitForStarted(QProcess *process);
    QStringList logLines() const; // unscrambled

    std::unique_ptr<QTemporaryDir> m_dir;
    QList<QProcess *> m_processes;
};

void tst_SingleInstance::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QFile::copy(QStringLiteral(TOVRA_BIN_DIR "/TovraVPN"), m_dir->filePath(QStringLiteral("TovraVPN"))));
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("home")) && QDir(m_dir->path()).mkpath(QStringLiteral("Data")));
}

QProcess *tst_SingleInstance::start(const QStringList &args, bool display)
{
    auto *process = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_dir->filePath(QStringLiteral("home")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (!display) {
        for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(QLatin1String(name));
        process->setProcessChannelMode(QProcess::MergedChannels);
    }
    // The offscreen platform leaves its screen behind at exit; exit codes are what is checked here.
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    process->setProcessEnvironment(env);
    if (display)
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(m_dir->filePath(QStringLiteral("TovraVPN")), args);
    m_processes.append(process);
    return process;
}

bool tst_SingleInstance::runToEnd(const QStringList &args, bool display)
{
    QProcess *process = start(args, display);
    return process->waitForFinished(30000) && process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0;
}

QPair<int, QByteArray> tst_SingleInstance::runWithoutDisplay(const QStringList &args)
{
    QProcess *process = start(args, false);
    if (!process->waitForFinished(30000) || process->exitStatus() != QProcess::NormalExit)
        return {-1, process->readAll()};
    return {process->exitCode(), process->readAll()};
}

QStringList tst_SingleInstance::logLines() const
{
    QStringList result;
    QFile file(m_dir->filePath(QStringLiteral("Data/TOVRA.log")));
    for (const QByteArray &line : (file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray()).split('\n')) {
        const int at = line.indexOf(": ", 20);
        if (at > 0)
            result.append(UnscrambleText(QString::fromLatin1(line.mid(at + 2))));
    }
    return result;
}

bool tst_SingleInstance::waitForStarted(QProcess *process)
{
    const auto started = [&] { return logLines().join(QLatin1Char('\n')).contains(QLatin1String("Kernel version:")); };
    return process->waitForStarted(30000) && QTest::qWaitFor(started, 30000) && process->state() == QProcess::Running;
}

void tst_SingleInstance::oneInstancePerSession()
{
    QVERIFY(runToEnd({QStringLiteral("/exit")})); // nobody to tell
    QVERIFY(logLines().isEmpty());
    // Without a display a lone start cannot show its window: it says so and ends, it does not abort.
    const QPair<int, QByteArray> lone = runWithoutDisplay({});
    QVERIFY2(lone.first == 1 && lone.second.contains("TOVRA VPN cannot start: "), lone.second.constData());
    // A killed instance leaves its lock and socket behind; they must not block the next start.
    QProcess *killed = start();
    QVERIFY(waitForStarted(killed));
    killed->kill();
    QVERIFY(killed->waitForFinished(30000));
    QVERIFY(writeFile(m_dir->filePath(QStringLiteral("Data/TOVRA.log")),
                      "Dec 06 01:25:42 | Message: left by an earlier run\n"));
    QVERIFY(writeFile(m_dir->filePath(QStringLiteral("Data/locale.config")), "de"));

    QProcess *first = start();
    QVERIFY(waitForStarted(first));
    const QStringList lines = logLines(); // this run's lines only
    QVERIFY2(lines.size() >= 6, qPrintable(lines.join(QLatin1Char('\n'))));
    // The messages of the steps before the log, a missing settings file on a first start, open it.
    QCOMPARE(lines.mid(0, 6),
             QStringList({"Can't open settings file.", "TOVRA started",
                          "Loading translation from: " + m_dir->path() + "/language/language_de",
                          "Application version: " + FormatVersion(QString::fromUtf8(TovraConstants::ProjectVersion)),
                          "OS: " + QSysInfo::prettyProductName(), "Kernel version: " + QSysInfo::kernelVersion()}));

    // Later starts end at once and write nothing; a switch that is not exactly "/exit" is ignored.
    const QStringList before = logLines();
    for (const QString &arg : {QStringLiteral("/EXIT"), QStringLiteral("/exit2")})
        QVERIFY2(runToEnd({arg}), qPrintable(arg));
    QVERIFY(runToEnd({})); // would keep running if the first had gone
    const QPair<int, QByteArray> second = runWithoutDisplay({});
    QVERIFY2(second.first == 0 && second.second.contains("TOVRA VPN is already running"), second.second.constData());
    QCOMPARE(first->state(), QProcess::Running);
    // The first instance goes on logging its start-up; a later one would have begun the log afresh.
    const QStringList after = logLines();
    QCOMPARE(after.mid(0, before.size()), before);
    QCOMPARE(after.count(QStringLiteral("TOVRA started")), 1);

    QVERIFY(runToEnd({QStringLiteral("-x"), QStringLiteral("/exit")}, false));
    QVERIFY(first->waitForFinished(30000) && first->exitStatus() == QProcess::NormalExit && first->exitCode() == 0);
}

QTEST_GUILESS_MAIN(tst_SingleInstance)
#include "tst_singleinstance.moc"
