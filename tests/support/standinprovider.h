// Starts tovra-provider on free ports with its own state folder, for tests
// that talk to the stand-in provider over HTTPS.
#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>

#include "support/logcapture.h"

class StandInProvider : public QObject
{
    Q_OBJECT
public:
    explicit StandInProvider(QObject *parent = nullptr);
    ~StandInProvider() override;

    // Starts the program and waits (at most timeoutMs) for its LISTENING
    // line. extraArgs are added to the command line (e.g. --data FILE).
    bool start(const QStringList &extraArgs = {}, int timeoutMs = 20000);
    // SIGTERM, then waits for the exit; returns whether it ended with code 0.
    bool stop();
    bool isRunning() const;
    QString errorString() const { return m_error; }
    // Everything the program wrote on stdout and stderr so far.
    QByteArray output() const { return m_output; }

    QString apiUrl() const;    // https://127.0.0.1:PORT
    QString portalUrl() const; // https://127.0.0.1:PORT
    quint16 apiPort() const { return m_apiPort; }
    quint16 portalPort() const { return m_portalPort; }
    QString statePath() const;

    // Test endpoints. They return false (and set errorString) when the
    // program does not answer with 200.
    bool script(const QString &path, int status, const QByteArray &body, int delayMs = 0,
                const QString &method = QString());
    bool script(const QJsonObject &scriptEntry);
    bool reset();
    // Recorded requests (optionally only those to path), oldest first.
    QJsonArray requests(const QString &path = QString());
    QJsonArray tickets();

    // Synchronous request to the API origin for tests of the program itself.
    struct Response
    {
        int status = 0; // 0: no HTTP answer
        QByteArray body;
        QList<QPair<QByteArray, QByteArray>> headers;
    };
    Response call(const QByteArray &method, const QString &url, const QByteArray &body = QByteArray(),
                  const QList<QPair<QByteArray, QByteArray>> &headers = {}, int timeoutMs = 20000);

private:
    QJsonDocument fetchJson(const QString &path);

    std::unique_ptr<QTemporaryDir> m_state;
    QProcess m_process;
    QByteArray m_output;
    QString m_error;
    quint16 m_apiPort = 0;
    quint16 m_portalPort = 0;
};

// The stand-in as the client's suites use it: the client gets a data folder of its own and its API, portal and
// map origins point at the stand-in; the log is captured and the pages the client opens are recorded.
class ProviderFixture : public QObject
{
    Q_OBJECT
public:
    ~ProviderFixture() override { stop(); }
    // From initTestCase; on false, provider.errorString() says why.
    bool start();
    void stop();
    // From init: the stand-in forgets scripts and requests; log and opened pages are cleared.
    bool reset();
    bool logged(const QString &text) const { return LogCapture::anyContains(text); }
    // The newest request to path, or an empty object.
    QJsonObject lastRequest(const QString &path);

    StandInProvider provider;
    QList<QUrl> opened;

public slots:
    void openUrl(const QUrl &url) { opened << url; }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<LogCapture> m_log;
};
