// A Qt generic plugin loaded into the measured program (QT_QPA_GENERIC_PLUGINS=startupprobe): when the first window
// has been exposed and painted, it prints "PROBE <monotonic ns> <VmHWM kB> <process CPU ns>" on stdout and quits
// the program.
#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QGenericPlugin>
#include <QWindow>

#include <cstdio>
#include <ctime>

namespace {

long peakMemoryKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

} // namespace

class StartupProbe : public QObject
{
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!m_seen && event->type() == QEvent::Expose) {
            const auto *window = qobject_cast<QWindow *>(watched);
            if (window && window->isExposed()) {
                m_seen = true;
                // Queued: the widget paints while the expose event is handled.
                QMetaObject::invokeMethod(this, &StartupProbe::report, Qt::QueuedConnection);
            }
        }
        return false;
    }

private:
    void report()
    {
        timespec now{}, cpu{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
        std::printf("PROBE %lld %ld %lld\n", static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec,
                    peakMemoryKb(), static_cast<long long>(cpu.tv_sec) * 1000000000LL + cpu.tv_nsec);
        std::fflush(stdout);
        QCoreApplication::quit();
    }

    bool m_seen = false;
};

class StartupProbePlugin : public QGenericPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "startupprobe.json")
public:
    QObject *create(const QString &, const QString &) override
    {
        auto *probe = new StartupProbe;
        QCoreApplication::instance()->installEventFilter(probe);
        return probe;
    }
};

#include "startupprobe.moc"
