// Writing log lines with the client's log writer, as the client does for every message: straight through the
// writer and through qDebug() and the installed message handler, beside the floor of one write(2) of a line of the
// same length per line (each line reaches the operating system before the next). Prints the median over 7 rounds
// of 20,000 lines of the time per line, as CPU time of the process (steadier on a loaded machine) and wall time.
#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <unistd.h>
#include <vector>

#include "app/appcontext.h"
#include "app/datapaths.h"
#include "app/logfilewriter.h"

namespace {

const int kLines = 20000;
const int kRounds = 7;

long long cpuNs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

struct PerLine
{
    double cpuNs;
    double wallNs;
};

// Median time per line over the rounds of lines calls of write.
PerLine measure(const std::function<void()> &write)
{
    std::vector<double> cpu, wall;
    for (int round = 0; round < kRounds; ++round) {
        QElapsedTimer timer;
        const long long cpuStart = cpuNs();
        timer.start();
        for (int i = 0; i < kLines; ++i)
            write();
        wall.push_back(double(timer.nsecsElapsed()) / kLines);
        cpu.push_back(double(cpuNs() - cpuStart) / kLines);
    }
    std::sort(cpu.begin(), cpu.end());
    std::sort(wall.begin(), wall.end());
    return {cpu[kRounds / 2], wall[kRounds / 2]};
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    AppContext::instance()->dataPaths()->setDir(dir.path());
    const QString path = AppContext::instance()->dataPaths()->logFile();
    qInstallMessageHandler(LogMessageHandler);

    const QString message = QStringLiteral("Server ab-1234 added to full list as Country 17, City 42");
    LogFileWriter *writer = LogFileWriter::instance();

    // The floor: a line of the same length as the writer's ("Dec 07 23:55:03 | Message: ", the scrambled text
    // and the line end) handed to the kernel by one write(2).
    const QByteArray line(27 + 8 + (message.size() + 2) / 3 * 4 + 1, 'A');
    const QByteArray floorPath = QFile::encodeName(dir.filePath(QStringLiteral("floor.log")));
    const int fd = ::open(floorPath.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const PerLine floor = measure([&] {
        if (::write(fd, line.constData(), size_t(line.size())) != line.size())
            std::abort();
    });
    ::close(fd);

    const PerLine direct = measure([&] { writer->write(QtDebugMsg, message); });
    const PerLine handler = measure([&] { qDebug().noquote() << message; });

    const qint64 bytes = QFileInfo(path).size();
    writer->enabled = false;
    std::printf("log writer: %d rounds of %d lines of a %d-character message each way, %lld bytes written; "
                "median per line\n",
                kRounds, kLines, static_cast<int>(message.size()), static_cast<long long>(bytes));
    std::printf("%-42s %6.0f ns CPU  %6.0f ns wall\n", "floor: write(2) of a line of that length", floor.cpuNs,
                floor.wallNs);
    std::printf("%-42s %6.0f ns CPU  %6.0f ns wall\n", "LogFileWriter::write", direct.cpuNs, direct.wallNs);
    std::printf("%-42s %6.0f ns CPU  %6.0f ns wall\n", "qDebug() through the message handler", handler.cpuNs,
                handler.wallNs);
    std::printf("writer above the floor: %.0f ns CPU per line\n", direct.cpuNs - floor.cpuNs);
    return 0;
}
