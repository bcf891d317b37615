#include <QtTest>
#include <QtWidgets>

#include "fakeservicecontroller.h"
#include "ui/tovramainwindow.h"
#include "vpn/rasapi.h"

// The main window's look: resources named by the sources, its fixed size and the colours of its style sheets.
class TestLook : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        TovraMainWindow::Backends backends;
        backends.openVpnService = std::make_unique<FakeServiceController>(QStringLiteral("OpenVPNService"));
        backends.helperService = std::make_unique<FakeServiceController>(QStringLiteral("TovraVPNService"));
        (m_window = std::make_unique<TovraMainWindow>(std::move(backends)))->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    void resourceAndTwin_data()
    {
        QTest::addColumn<QString>("path");
        const QRegularExpression named(QStringLiteral(":/[A-Za-z0-9_/.-]+\\.png"));
        QDirIterator it(QStringLiteral(TOVRA_SOURCE_DIR "/client"), {"*.cpp", "*.h", "*.ui"}, QDir::Files,
                        QDirIterator::Subdirectories);
        QSet<QString> seen;
        while (it.hasNext()) {
            QFile file(it.next());
            QVERIFY(file.open(QIODevice::ReadOnly));
            auto m = named.globalMatch(QString::fromUtf8(file.readAll()));
            while (m.hasNext())
                seen << m.next().captured();
        }
        QVERIFY2(seen.size() > 40, "the forms name their images");
        for (const QString &path : seen)
            QTest::newRow(qPrintable(path)) << path;
    }

    void resourceAndTwin()
    {
        QFETCH(QString, path);
        const QImage image(path);
        QVERIFY2(!image.isNull(), "missing");
        QCOMPARE(QImage(QString(path).insert(path.size() - 4, QStringLiteral("@2x"))).size(), image.size() * 2);
    }

    void fixedSize()
    {
        QWidget *central = m_window->centralWidget();
        for (const QSize asked : {QSize(800, 700), QSize(200, 100)}) {
            m_window->resize(asked);
            central->resize(asked);
            for (QWidget *w : {static_cast<QWidget *>(m_window.get()), central}) {
                QCOMPARE(w->size(), QSize(425, 479));
                QCOMPARE(w->minimumSize(), w->maximumSize());
            }
        }
    }

    // How many pixels of the widget, as the window shows it, have the colour its style gives.
    void colours_data()
    {
        QTest::addColumn<int>("view");
        QTest::addColumn<QString>("widget");
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<int>("least");
        QTest::newRow("disabled request button orange")
            << 2 << "tovraPasswordRequestButton" << QColor(0xf79100) << 9000;
        QTest::newRow("disabled sign-in button grey") << 1 << "tovraLoginButton" << QColor(0xc4cbd2) << 9000;
        QTest::newRow("facebook button") << 1 << "tovraLoginFacebookButton" << QColor(0x2e5a99) << 9000;
        QTest::newRow("start view error box") << 0 << "tovraInitErrorLabel" << QColor(221, 79, 50) << 9000;
        QTest::newRow("status caption") << 3 << "tovraMainStatusCaptionLabel" << QColor(247, 143, 0) << 20;
    }

    void colours()
    {
        QFETCH(int, view);
        QFETCH(QString, widget);
        QFETCH(QColor, colour);
        QFETCH(int, least);
        showView(view);
        const QImage shown = grab(widget);
        int count = 0;
        for (int i = 0; i < shown.width() * shown.height(); ++i)
            count += shown.pixel(i % shown.width(), i / shown.width()) == colour.rgb();
        QVERIFY2(count >= least, qPrintable(QString::number(count)));
    }

    // The switch on each page of the button stack shows its own image.
    void switchImages_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("image");
        QTest::newRow("connecting") << 0 << "tovraCancelButton"
                                    << "ButtonOnSwitchGrey";
        QTest::newRow("disconnected") << 1 << "tovraConnectButton"
                                      << "ButtonOffSwitch";
        QTest::newRow("connected") << 2 << "tovraDisconnectButton"
                                   << "ButtonOnSwitch";
    }

    void switchImages()
    {
        QFETCH(int, page);
        QFETCH(QString, button);
        QFETCH(QString, image);
        showView(3);
        m_window->findChild<QStackedWidget *>(QStringLiteral("tovraMainButtonPanel"))->setCurrentIndex(page);
        QVERIFY(m_window->findChild<QPushButton *>(button)->isVisible());
        const QImage art(QStringLiteral(":/buttons/resources/buttons/%1.png").arg(image));
        const QImage shown = grab(button);
        QCOMPARE(shown.size(), art.size());
        // The track beside the knob and the knob's mark, where the three images differ.
        for (const QPoint p : {QPoint(16, 26), QPoint(48, 26), QPoint(72, 26), QPoint(24, 26)})
            QVERIFY2(qAbs(qGreen(shown.pixel(p)) - qGreen(art.pixel(p))) < 12 &&
                         qAbs(qRed(shown.pixel(p)) - qRed(art.pixel(p))) < 12,
                     qPrintable(QStringLiteral("%1 at %2,%3").arg(image).arg(p.x()).arg(p.y())));
    }

private:
    void showView(int view)
    {
        m_window->findChild<QStackedWidget *>(QStringLiteral("tovraCurrentView"))->setCurrentIndex(view);
        m_window->findChild<QLabel *>(QStringLiteral("tovraInitErrorLabel"))->setText(QStringLiteral("No access."));
        m_window->findChild<QLabel *>(QStringLiteral("tovraInitErrorLabel"))->show();
        for (const char *name : {"tovraPasswordRequestButton", "tovraLoginButton"})
            m_window->findChild<QPushButton *>(name)->setEnabled(false);
    }
    // The window's pixels under the widget, so transparent widgets show what lies behind them.
    QImage grab(const QString &name)
    {
        auto *w = m_window->findChild<QWidget *>(name);
        const QRect r(w->mapTo(m_window.get(), QPoint(0, 0)), w->size());
        return m_window->grab(r).toImage().convertToFormat(QImage::Format_RGB32);
    }

    std::unique_ptr<TovraMainWindow> m_window;
};

QTEST_MAIN(TestLook)
#include "tst_look.moc"
