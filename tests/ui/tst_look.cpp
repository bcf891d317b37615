#include <QtTest>
#include <QtWidgets>

#include "api/tovraauthmanager.h"
#include "app/appcontext.h"
#include "fakeservicecontroller.h"
#include "servers/tovraservermanager.h"
#include "ui/tovramainwindow.h"
#include "vpn/rasapi.h"

namespace {

// The pixels of image inside rect that match: their number and the smallest rectangle holding them.
QPair<int, QRect> find(const QImage &image, const QRect &rect, const std::function<bool(QRgb)> &match)
{
    QPair<int, QRect> found{0, QRect()};
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if (match(image.pixel(x, y)))
                found = {found.first + 1, found.second | QRect(x, y, 1, 1)};
    return found;
}

} // namespace

// The main window's look: resources named by the sources, its fixed size and the colours of its style sheets.
class TestLook : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // A list longer than the open picker shows, every load level.
        QList<TovraServer> servers;
        for (int i = 0; i < 10; ++i) {
            TovraServer server;
            server.displayName = server.key = server.shortName = QStringLiteral("Server %1").arg(i);
            server.isAlive = true;
            server.countryCode = QStringLiteral("NL");
            server.loadPercentage = i * 10;
            server.loadIcon = ServerIcons::loadIcon(server.loadPercentage);
            servers << server;
        }
        AppContext::instance()->config()->smartServerList = false;
        AppContext::instance()->serverManager()->SetServerLists(servers, {}, {}, {});
        AppContext::instance()->serverManager()->ApplyMainList();
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

    // The main view's map, painted in one colour: its margins to the window's edges, no band between it and the
    // footer, no white of the status panel beside it, and the picker above it.
    void mainViewMap_data()
    {
        QTest::addColumn<bool>("business");
        QTest::addColumn<int>("mapHeight");
        QTest::newRow("personal") << false << 194;
        QTest::newRow("business") << true << 174;
    }

    void mainViewMap()
    {
        QFETCH(bool, business);
        QFETCH(int, mapHeight);
        TovraUserData user;
        user.isB2b = business;
        AppContext::instance()->authManager()->OnUserDataChecked(TovraAuthManager::AuthSuccess, user);
        m_window->OnInitializationFinished();
        QImage map(417, mapHeight, QImage::Format_RGB32);
        const QRgb red = qRgb(255, 0, 0);
        map.fill(red);
        m_window->UpdateMapImage(true, map);
        const QImage shown = m_window->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const auto is = [](QRgb colour) { return [colour](QRgb p) { return p == colour; }; };
        const QRect drawn = find(shown, shown.rect(), is(red)).second;
        QCOMPARE(drawn.size(), map.size());
        QCOMPARE(drawn.left(), shown.width() - 1 - drawn.right()); // centred: as far from either edge
        const int footerLine = 446;
        QCOMPARE(shown.pixel(10, footerLine), qRgb(0xe2, 0xe7, 0xeb));
        QCOMPARE(drawn.bottom(), footerLine - 1);
        // Beside the map, from its top down: nothing of the white status panel.
        const QRect beside(1, drawn.top(), shown.width() - 2, drawn.height());
        QCOMPARE(find(shown, beside, is(qRgb(255, 255, 255))).first, 0);
        auto *picker = m_window->findChild<QWidget *>(QStringLiteral("tovraServersBox"));
        const int pickerBottom = picker->mapTo(m_window.get(), QPoint(0, picker->height() - 1)).y();
        QVERIFY2(pickerBottom + 8 < drawn.top(), qPrintable(QString::number(pickerBottom)));
    }

    // The closed picker's flag: apart from the server's name and centred on its letters.
    void pickerFlag()
    {
        showView(3);
        auto *picker = m_window->findChild<QComboBox *>(QStringLiteral("tovraServersBox"));
        picker->setCurrentIndex(1);
        const QImage shown = picker->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QRect half(0, 0, shown.width() / 2, shown.height());
        const QRect flag = find(shown, half, [](QRgb p) {
                               return qRed(p) > 150 && qGreen(p) < 80 && qBlue(p) < 80;
                           }).second; // the flag's red band
        const QRect text = find(shown, half, [](QRgb p) {
                               return qAbs(qRed(p) - 0x5b) + qAbs(qGreen(p) - 0x71) + qAbs(qBlue(p) - 0x78) < 60;
                           }).second;
        const auto rectText = [](const QRect &r) {
            return QStringLiteral("%1,%2 %3x%4 ").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
        };
        const QString where = rectText(flag) + rectText(text);
        QVERIFY2(text.left() - flag.right() > 5, qPrintable(where));
        // The flag's red band is its top third: the whole flag is three times as high. It stands on the letters'
        // line, no lower than a pixel under it, and centred on them.
        const int flagBottom = flag.top() + 3 * flag.height() - 1;
        QVERIFY2(flagBottom <= text.bottom() + 1, qPrintable(where));
        QVERIFY2(qAbs((flag.top() + flagBottom) / 2.0 - (text.top() + text.bottom()) / 2.0) <= 1.5, qPrintable(where));
    }

    // The open picker: a scroll bar of 6 px instead of scroll arrows, and the current row's load icon with its
    // empty bars apart from the row's colour.
    void openPicker()
    {
        showView(3);
        auto *picker = m_window->findChild<QComboBox *>(QStringLiteral("tovraServersBox"));
        picker->setCurrentIndex(1); // load 10 %: one full bar, two empty ones
        picker->showPopup();
        QAbstractItemView *list = picker->view();
        QTRY_VERIFY(list->isVisible());
        QCOMPARE(list->verticalScrollBar()->isVisible(), true);
        QCOMPARE(list->verticalScrollBar()->width(), 6);
        const QImage shown = list->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QRect row = list->visualRect(picker->model()->index(1, 0));
        const QRgb current = qRgb(226, 231, 235);
        // The icon's last bar (x 10 to 12, y 1 to 12) in the row as the delegate places it.
        const QRect bar(row.right() - 27 + 10, row.top() - 3 + 16 + 2, 3, 10);
        QVERIFY(find(shown, row.adjusted(2, 2, -40, -2), [current](QRgb p) { return p == current; }).first > 100);
        QCOMPARE(find(shown, bar, [current](QRgb p) { return p == current; }).first, 0);
        picker->hidePopup();
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
