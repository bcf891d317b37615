// Writing 100,000 log lines with the client's log writer, as the client does for every message: once straight
// through the writer and once through qDebug() and the installed message handler. Prints the time per line.
#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>

#include "app/appcontext.h"
#include "app/datapaths.h"
#include "app/logfilewriter.h"

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    AppContext::instance()->dataPaths()->setDir(dir.path());
    const QString path = AppContext::instance()->dataPaths()->logFile();
    qInstallMessageHandler(LogMessageHandler);

    const int lines = 100000;
    const QString message = QStringLiteral("Server ab-1234 added to full list as Country 17, City 42");
    LogFileWriter *writer = LogFileWriter::instance();

    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < lines; ++i)
        writer->write(QtDebugMsg, message);
    const double direct = double(timer.nsecsElapsed()) / lines;

    timer.restart();
    for (int i = 0; i < lines; ++i)
        qDebug().noquote() << message;
    const double handler = double(timer.nsecsElapsed()) / lines;

    const qint64 bytes = QFileInfo(path).size();
    writer->enabled = false;
    std::printf("log writer, %d lines of a %d-character message each way, %lld bytes written\n", lines,
                static_cast<int>(message.size()), static_cast<long long>(bytes));
    std::printf("LogFileWriter::write: %.0f ns per line\n", direct);
    std::printf("qDebug() through the message handler: %.0f ns per line\n", handler);
    return 0;
}
