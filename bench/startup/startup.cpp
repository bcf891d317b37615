// Start-up of the client beside a bare Qt widget program, both on the offscreen platform, alternating in one
// run while the stand-in provider serves the client's API origin. Per program, medians of several runs: time from
// start to the first shown (exposed and painted) window, CPU time spent until then (steadier on a loaded machine)
// and peak memory (VmHWM) at that point; then the client's ratios to the bare program.
// The client's main window is still a stub, so its first shown window stands for the first view switch.
// Usage: bench_startup [runs]
#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

struct Sample
{
    double ms = 0;
    double cpuMs = 0;
    double peakMb = 0;
};

long long monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// One start of program until the probe reports; false when it ends or hangs without a shown window.
bool measure(const QString &program, const QProcessEnvironment &environment, Sample *sample)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    const long long start = monotonicNs();
    process.start(program, QStringList());
    QByteArray output;
    while (!output.contains('\n') && process.waitForReadyRead(30000))
        output += process.readAllStandardOutput();
    const bool ended = process.waitForFinished(30000);
    if (!ended)
        process.kill();
    output += process.readAllStandardOutput();
    const int at = output.indexOf("PROBE ");
    if (at < 0) {
        std::fprintf(stderr, "%s showed no window (output: %s%s)\n", qPrintable(program), output.constData(),
                     process.readAllStandardError().constData());
        return false;
    }
    const QList<QByteArray> fields = output.mid(at, output.indexOf('\n', at) - at).split(' ');
    sample->ms = (fields.value(1).toLongLong() - start) / 1e6;
    sample->peakMb = fields.value(2).toLong() / 1024.0;
    sample->cpuMs = fields.value(3).toLongLong() / 1e6;
    return true;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// The stand-in on the ports the client is built to call; free ports when those are taken.
bool startProvider(QProcess *provider, const QString &state, bool *defaultPorts)
{
    for (const bool defaults : {true, false}) {
        QStringList args{QStringLiteral("--state"), state};
        if (!defaults)
            args << QStringLiteral("--api-port") << QStringLiteral("0") << QStringLiteral("--portal-port")
                 << QStringLiteral("0");
        provider->start(QStringLiteral(TOVRA_PROVIDER_EXE), args);
        QByteArray output;
        while (!output.contains("LISTENING") && provider->waitForReadyRead(20000))
            output += provider->readAllStandardOutput();
        if (output.contains("LISTENING")) {
            *defaultPorts = defaults;
            return true;
        }
        provider->kill();
        provider->waitForFinished();
    }
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = std::max(1, app.arguments().value(1, QStringLiteral("7")).toInt());

    QTemporaryDir state;
    QProcess provider;
    provider.setProcessChannelMode(QProcess::MergedChannels);
    bool defaultPorts = false;
    if (!startProvider(&provider, state.path(), &defaultPorts)) {
        std::fprintf(stderr, "the stand-in provider did not start\n");
        return 1;
    }

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QT_PLUGIN_PATH"), QStringLiteral(TOVRA_PROBE_PLUGIN_DIR));
    environment.insert(QStringLiteral("QT_QPA_GENERIC_PLUGINS"), QStringLiteral("startupprobe"));

    const QString programs[2] = {QStringLiteral(TOVRA_BARE_EXE), QStringLiteral(TOVRA_CLIENT_EXE)};
    std::vector<double> ms[2], cpu[2], peak[2];
    Sample sample;
    // One unmeasured start of each warms the file cache.
    for (const QString &program : programs) {
        if (!measure(program, environment, &sample))
            return 1;
    }
    for (int run = 0; run < runs; ++run) {
        for (int i = 0; i < 2; ++i) {
            if (!measure(programs[i], environment, &sample))
                return 1;
            ms[i].push_back(sample.ms);
            cpu[i].push_back(sample.cpuMs);
            peak[i].push_back(sample.peakMb);
        }
    }
    provider.terminate();
    provider.waitForFinished(10000);

    std::printf("start-up to the first shown window, offscreen, median of %d runs; stand-in provider on %s\n", runs,
                defaultPorts ? "the client's built-in ports" : "free ports (the built-in ones were taken)");
    const char *names[2] = {"bare Qt widget program", "client"};
    for (int i = 0; i < 2; ++i)
        std::printf("%-24s %7.1f ms (CPU %6.1f ms)  peak %6.1f MB\n", names[i], median(ms[i]), median(cpu[i]),
                    median(peak[i]));
    std::printf("client / bare: time %.2f (CPU time %.2f), peak memory %.2f\n", median(ms[1]) / median(ms[0]),
                median(cpu[1]) / median(cpu[0]), median(peak[1]) / median(peak[0]));
    return 0;
}
