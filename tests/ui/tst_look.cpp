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
        m_window = std::make_unique<TovraMainWindow>(std::move(backends));
        m_window->show();
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
        QString twin = path;
        twin.insert(twin.size() - 4, QStringLiteral("@2x"));
        QCOMPARE(QImage(twin).size(), image.size() * 2);
    }

    void fixedSize_data()
    {
        QTest::addColumn<QSize>("asked");
        QTest::newRow("larger") << QSize(800, 700);
        QTest::newRow("smaller") << QSize(200, 100);
    }

    void fixedSize()
    {
        QFETCH(QSize, asked);
        QWidget *central = m_window->centralWidget();
        m_window->resize(asked);
        central->resize(asked);
        QCOMPARE(m_window->size(), QSize(425, 479));
        QCOMPARE(central->size(), QSize(425, 479));
        for (QWidget *w : {static_cast<QWidget *>(m_window.get()), central}) {
            QCOMPARE(w->minimumSize(), QSize(425, 479));
            QCOMPARE(w->maximumSize(), QSize(425, 479));
        }
    }

    // A pixel of a grabbed widget, as the page shows it.
    void colours_data()
    {
        QTest::addColumn<int>("view");
        QTest::addColumn<QString>("widget");
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<QColor>("expected");
        QTest::newRow("disabled request button stays orange")
            << 2 << "tovraPasswordRequestButton" << QPoint(6, 6) << QColor(0xf7, 0x91, 0x00);
        QTest::newRow("error box red") << 0 << "tovraInitErrorLabel" << QPoint(26, 6) << QColor(221, 79, 50);
        QTest::newRow("error box side margin clear")
            << 0 << "tovraInitErrorLabel" << QPoint(8, 20) << QColor(255, 255, 255);
        QTest::newRow("facebook button") << 1 << "tovraLoginFacebookButton" << QPoint(100, 4)
                                         << QColor(0x2e, 0x5a, 0x99);
    }

    void colours()
    {
        QFETCH(int, view);
        QFETCH(QString, widget);
        QFETCH(QPoint, at);
        QFETCH(QColor, expected);
        showView(view);
        QCOMPARE(pixel(widget, at), expected.rgb());
    }

    void disabledLoginIsGrey()
    {
        showView(1);
        auto *login = m_window->findChild<QPushButton *>(QStringLiteral("tovraLoginButton"));
        login->setEnabled(false);
        const QColor c = QColor::fromRgb(pixel(QStringLiteral("tovraLoginButton"), QPoint(6, 6)));
        QVERIFY2(c.hsvSaturation() < 40 && c.value() > 120, qPrintable(c.name()));
        login->setEnabled(true);
        QCOMPARE(pixel(QStringLiteral("tovraLoginButton"), QPoint(6, 6)), QColor(0xf7, 0x91, 0x00).rgb());
    }

    void statusCaptionColour()
    {
        showView(3);
        const QImage caption = grab(QStringLiteral("tovraMainStatusCaptionLabel"));
        int orange = 0;
        for (int y = 0; y < caption.height(); ++y)
            for (int x = 0; x < caption.width(); ++x)
                orange += caption.pixel(x, y) == QColor(247, 143, 0).rgb();
        QVERIFY2(orange > 20, "the caption's letters are drawn in its orange");
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
        auto *error = m_window->findChild<QLabel *>(QStringLiteral("tovraInitErrorLabel"));
        error->setText(QStringLiteral("There is no access."));
        error->show();
        m_window->findChild<QPushButton *>(QStringLiteral("tovraPasswordRequestButton"))->setEnabled(false);
    }
    // The window's pixels under the widget, so transparent widgets show what lies behind them.
    QImage grab(const QString &name)
    {
        auto *w = m_window->findChild<QWidget *>(name);
        const QRect r(w->mapTo(m_window.get(), QPoint(0, 0)), w->size());
        return m_window->grab(r).toImage().convertToFormat(QImage::Format_RGB32);
    }
    QRgb pixel(const QString &name, QPoint at) { return grab(name).pixel(at) | 0xff000000; }

    std::unique_ptr<TovraMainWindow> m_window;
};

QTEST_MAIN(TestLook)
#include "tst_look.moc"
