// Building the four server lists from a server-list reply of 5,000 servers, with the client's log handler
// installed, as the client does it after every server-list reply. Prints the median time per build.
// "--no-log" discards the log lines instead, for comparison.
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "app/appcontext.h"
#include "app/logfilewriter.h"
#include "servers/serverlists.h"

// CPU time of the process, which a loaded machine disturbs less than the wall clock.
static double cpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

static QByteArray makeReply(int count)
{
    QJsonArray servers;
    for (int i = 0; i < count; ++i) {
        const int country = i % 120;
        const QString code = QStringLiteral("%1%2").arg(QChar('A' + country / 26)).arg(QChar('A' + country % 26));
        servers.append(QJsonObject{
            {QStringLiteral("city"), QStringLiteral("City %1").arg(i / 120)},
            {QStringLiteral("country_code"), code},
            {QStringLiteral("country_name"), QStringLiteral("Country %1").arg(country)},
            {QStringLiteral("short_name"), QStringLiteral("%1-%2").arg(code.toLower()).arg(i)},
            {QStringLiteral("ip"), QStringLiteral("10.%1.%2.%3").arg(i / 65536).arg((i / 256) % 256).arg(i % 256)},
            {QStringLiteral("is_p2p"), i % 3 == 0 ? 1 : 0},
            {QStringLiteral("is_streaming"), i % 4 == 0 ? 1 : 0},
            {QStringLiteral("is_alive"), i % 17 == 0 ? 0 : 1},
            {QStringLiteral("is_b2b"), i % 10 == 0 ? 1 : 0},
            {QStringLiteral("is_nearest"), country == 7 ? 1 : 0},
            {QStringLiteral("is_nearest_b2b"), country == 9 ? 1 : 0},
            {QStringLiteral("location"),
             QJsonObject{{QStringLiteral("coordinates"), QJsonArray{-180 + (i % 360), -60 + (i % 120)}}}},
            {QStringLiteral("load_percentage"), (i * 7) % 101},
        });
    }
    return QJsonDocument(servers).toJson(QJsonDocument::Compact);
}

int main(int argc, char **argv)
{
    std::vector<char *> args(argv, argv + argc);
    char platform[] = "-platform";
    char offscreen[] = "offscreen";
    args.push_back(platform);
    args.push_back(offscreen);
    int count = static_cast<int>(args.size());
    QGuiApplication app(count, args.data());
    const bool withLog = !app.arguments().contains(QStringLiteral("--no-log"));

    QTemporaryDir dir;
    AppContext::instance()->dataPaths()->setDir(dir.path());
    EnsureParentDir(AppContext::instance()->dataPaths()->logFile());
    if (withLog)
        qInstallMessageHandler(LogMessageHandler);
    else
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});

    const int servers = 5000;
    const int runs = 15;
    const QByteArray reply = makeReply(servers);
    ServerLists lists;
    std::vector<double> times, cpuTimes;
    for (int run = 0; run <= runs; ++run) {
        QElapsedTimer timer;
        const double cpuStart = cpuMs();
        timer.start();
        lists = BuildServerLists(QJsonDocument::fromJson(reply).array());
        const double ms = timer.nsecsElapsed() / 1e6;
        if (run > 0) { // the first run warms the icon cache and the log file
            times.push_back(ms);
            cpuTimes.push_back(cpuMs() - cpuStart);
        }
    }
    std::sort(times.begin(), times.end());
    std::sort(cpuTimes.begin(), cpuTimes.end());
    std::printf("server lists from a %d-server reply (%d bytes), %d runs, %s\n", servers,
                static_cast<int>(reply.size()), runs, withLog ? "log handler installed" : "log discarded");
    std::printf("lists: full %d, smart %d, full B2B %d, smart B2B %d\n", static_cast<int>(lists.full.size()),
                static_cast<int>(lists.smart.size()), static_cast<int>(lists.fullB2b.size()),
                static_cast<int>(lists.smartB2b.size()));
    std::printf("median %.1f ms per build (min %.1f ms, max %.1f ms)\n", times[times.size() / 2], times.front(),
                times.back());
    std::printf("median %.1f ms CPU time per build\n", cpuTimes[cpuTimes.size() / 2]);
    LogFileWriter::instance()->enabled = false;
    return 0;
}
