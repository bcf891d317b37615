// The client signed in and left alone, beside the helper service at idle. The main window is signed in through
// its sign-in view against the stand-in provider on loopback (both service controllers are stand-ins, no tunnel);
// the helper runs as root in a network namespace of its own. Over the window it prints, for each program, the CPU
// time of all its threads and how often they were put on a CPU (from /proc/PID/task/*/schedstat, in nanoseconds),
// and for the client the timer events of its GUI thread by receiving class.
// Usage: bench_idle [seconds]   (60 when not given)
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMap>
#include <QProcess>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTimerEvent>

#include <cstdio>
#include <unistd.h>

#include "app/appcontext.h"
#include "support/fakeservicecontroller.h"
#include "support/logcapture.h"
#include "support/standinprovider.h"
#include "ui/tovramainwindow.h"
#include "vpn/rasapi.h"

namespace {

struct Usage
{
    long long cpuNs = 0;
    long long runs = 0;
    QMap<QString, long long> cpuByThread; // by thread name and id
};

// Summed over the threads of pid: CPU time and the number of times a thread was put on a CPU.
Usage usage(qint64 pid)
{
    Usage total;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(tasks + QLatin1Char('/') + task + QStringLiteral("/schedstat"));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> fields = file.readAll().trimmed().split(' ');
        total.cpuNs += fields.value(0).toLongLong();
        QFile comm(tasks + QLatin1Char('/') + task + QStringLiteral("/comm"));
        comm.open(QIODevice::ReadOnly);
        total.cpuByThread[QString::fromUtf8(comm.readAll().trimmed()) + QLatin1Char(' ') + task] +=
            fields.value(0).toLongLong();
        total.runs += fields.value(2).toLongLong();
    }
    return total;
}

class TimerCounter : public QObject
{
public:
    QMap<QByteArray, int> counts;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Timer)
            ++counts[watched->metaObject()->className()];
        return false;
    }
};

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = std::max(1, app.arguments().value(1, QStringLiteral("60")).toInt());

    ProviderFixture fixture;
    if (!fixture.start()) {
        std::fprintf(stderr, "the stand-in provider did not start: %s\n", qPrintable(fixture.provider.errorString()));
        return 1;
    }

    // The helper in a network namespace of its own, so its port is its own.
    QTemporaryDir helperState;
    QProcess helper;
    if (geteuid() == 0) {
        helper.start(QStringLiteral("unshare"),
                     {QStringLiteral("-n"), QStringLiteral("sh"), QStringLiteral("-c"),
                      QStringLiteral("ip link set lo up && exec \"$0\" -e foreground -statedir \"$1\""),
                      QStringLiteral(TOVRA_BIN_DIR "/TovraVPNService"), helperState.path()});
        helper.waitForStarted();
    }

    TovraMainWindow::Backends backends;
    backends.openVpnService = std::make_unique<FakeServiceController>("OpenVPNService");
    backends.helperService = std::make_unique<FakeServiceController>("TovraVPNService");
    TovraMainWindow window(std::move(backends));
    window.setTrayCheck([] { return true; });
    // Loopback is the whole network here.
    window.setStartupNetworkChecks([] { return true; }, [] { return true; });
    window.show();
    // As the production constructor arranges it.
    QTimer::singleShot(100, &window, &TovraMainWindow::Initialize);
    const auto view = [&] { return window.findChild<QStackedWidget *>(QStringLiteral("tovraCurrentView")); };
    if (!QTest::qWaitFor([&] { return view()->currentIndex() == 1; }, 60000)) {
        std::fprintf(stderr, "the sign-in view did not show\n");
        return 1;
    }
    QTest::keyClicks(window.findChild<QLineEdit *>(QStringLiteral("tovraLoginEmailEdit")),
                     QStringLiteral("active@tovra.test"));
    QTest::keyClicks(window.findChild<QLineEdit *>(QStringLiteral("tovraLoginPasswordEdit")),
                     QStringLiteral("Active-2026"));
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("tovraLoginButton")), Qt::LeftButton);
    if (!QTest::qWaitFor([&] { return window.connectionState() == StateDisconnected && view()->currentIndex() != 1; },
                         90000)) {
        std::fprintf(stderr, "sign-in did not finish:\n%s\n", qPrintable(LogCapture::dump()));
        return 1;
    }
    // Lets the replies of the sign-in settle before the window.
    QTest::qWait(2000);

    TimerCounter counter;
    app.installEventFilter(&counter);
    const Usage clientBefore = usage(getpid());
    const Usage helperBefore = helper.processId() > 0 ? usage(helper.processId()) : Usage();
    // The event loop itself: QTest::qWait would wake every 10 ms.
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    const Usage clientAfter = usage(getpid());
    const Usage helperAfter = helper.processId() > 0 ? usage(helper.processId()) : Usage();
    app.removeEventFilter(&counter);

    std::printf("idle for %d s, signed in (stand-in provider on loopback, no tunnel); schedstat of all threads\n",
                seconds);
    std::printf("client: CPU %.3f ms, put on a CPU %lld times (%.2f a second)\n",
                (clientAfter.cpuNs - clientBefore.cpuNs) / 1e6, clientAfter.runs - clientBefore.runs,
                double(clientAfter.runs - clientBefore.runs) / seconds);
    for (auto it = clientAfter.cpuByThread.cbegin(); it != clientAfter.cpuByThread.cend(); ++it)
        std::printf("  thread %-24s CPU %.3f ms\n", qPrintable(it.key()),
                    (it.value() - clientBefore.cpuByThread.value(it.key())) / 1e6);
    int timers = 0;
    for (auto it = counter.counts.cbegin(); it != counter.counts.cend(); ++it) {
        std::printf("  %5d timer events to %s\n", it.value(), it.key().constData());
        timers += it.value();
    }
    std::printf("client GUI thread: %d timer events (%.2f a second)\n", timers, double(timers) / seconds);
    if (helper.state() != QProcess::Running)
        std::printf("helper: ended early (%s)\n", helper.readAllStandardError().constData());
    else if (helper.processId() > 0)
        std::printf("helper: CPU %.3f ms, put on a CPU %lld times\n", (helperAfter.cpuNs - helperBefore.cpuNs) / 1e6,
                    helperAfter.runs - helperBefore.runs);
    else
        std::printf("helper: not measured (needs root for its own network namespace)\n");
    helper.terminate();
    helper.waitForFinished(10000);
    return 0;
}
