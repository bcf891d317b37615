#pragma once

// What every harness shares: a Qt application object made once, log output dropped (qDebug is slow and
// the harness's findings come from the sanitizers; FUZZ_VERBOSE=1 keeps it), and a scratch folder for file readers.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace Fuzz {

inline void dropMessage(QtMsgType, const QMessageLogContext &, const QString &) {}

// Makes the application object of type App (QCoreApplication or QGuiApplication) once.
template <typename App>
inline void init()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char *argv[] = {name, nullptr};
    if (QCoreApplication::instance())
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // FUZZ_VERBOSE=1 keeps the log, for looking into one input.
    if (qgetenv("FUZZ_VERBOSE").isEmpty())
        qInstallMessageHandler(dropMessage);
    new App(argc, argv);
}

// A scratch folder of this process, removed at exit.
inline QString scratchDir()
{
    static QTemporaryDir dir;
    return dir.path();
}

inline QByteArray bytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), static_cast<int>(size));
}

inline void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    file.write(content);
}

// Splits the input at the first zero byte: the parts feed readers that take two texts.
inline QPair<QByteArray, QByteArray> split(const QByteArray &input)
{
    const int zero = input.indexOf('\0');
    if (zero < 0)
        return {input, QByteArray()};
    return {input.left(zero), input.mid(zero + 1)};
}

} // namespace Fuzz
