#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

#include "app/appcontext.h"
#include "logcapture.h"
#include "ui/tovraaccountdialog.h"
#include "ui/tovragenericdialog.h"
#include "ui/tovrawelcomedialog.h"

template <typename T = QPushButton>
static T *Child(QWidget *parent, const char *name)
{
    return parent->findChild<T *>(QLatin1String(name));
}

static QString Text(QWidget *parent, const char *name)
{
    return Child<QLabel>(parent, name)->text();
}

static QImage Picture(const QPixmap &pixmap)
{
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

static void WriteLocale(const char *code)
{
    QFile file(AppContext::instance()->dataPaths()->localeFile());
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(code) == 2);
}

class tst_Dialogs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void genericSetup();
    void genericChoice_data();
    void genericChoice();
    void traffic_data();
    void traffic();
    void accountLabel();
    void placement();
    void welcomeWalk();

private:
    QTemporaryDir m_dir;
};

void tst_Dialogs::initTestCase()
{
    AppContext::instance()->dataPaths()->setDir(m_dir.path());
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("Data")));
}

void tst_Dialogs::genericSetup()
{
    TovraGenericDialog dialog;
    // Set-ups and what they show: t title, x text, p primary, s secondary; what one hid the next brings back.
    for (const auto &[title, text, buttons, shown] : {std::tuple{"", "Body", 2, "xps"},
                                                      {"Title", "", 0, "tp"},
                                                      {"Title", "Body", 1, "txs"},
                                                      {"T", "B", 2, "txps"}}) {
        dialog.Setup(QLatin1String(title), QLatin1String(text), QStringLiteral("OK"), QString(), buttons);
        QString visible;
        for (const auto &[letter, name] :
             {std::pair{'t', "titleLabel"}, {'x', "textLabel"}, {'p', "primaryButton"}, {'s', "secondaryButton"}})
            visible += Child<QWidget>(&dialog, name)->isVisibleTo(&dialog) ? QString(QLatin1Char(letter)) : QString();
        QCOMPARE(visible, QLatin1String(shown));
        QCOMPARE(Text(&dialog, "textLabel") + Child(&dialog, "primaryButton")->text(), QLatin1String(text) + "OK");
    }
}

void tst_Dialogs::genericChoice_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("showAgain");
    QTest::addColumn<bool>("primary");
    QTest::newRow("primary button") << "primaryButton" << false << true;
    QTest::newRow("secondary button") << "secondaryButton" << false << false;
    QTest::newRow("window closed") << "" << false << false;
    QTest::newRow("primary, shown again at once") << "primaryButton" << true << true;
}

void tst_Dialogs::genericChoice()
{
    QFETCH(QString, button);
    QFETCH(bool, showAgain);
    QFETCH(bool, primary);
    TovraGenericDialog dialog;
    QSignalSpy primarySpy(&dialog, &TovraGenericDialog::PrimaryPressed);
    QSignalSpy secondarySpy(&dialog, &TovraGenericDialog::SecondaryPressed);
    dialog.show();
    QElapsedTimer timer;
    timer.start();
    button.isEmpty() ? void(dialog.close()) : QTest::mouseClick(Child(&dialog, qPrintable(button)), Qt::LeftButton);
    if (showAgain)
        dialog.show();
    QSignalSpy &expected = primary ? primarySpy : secondarySpy;
    QCOMPARE(expected.count(), 0);
    QVERIFY(expected.wait(10000) && timer.elapsed() >= 50);
    QTest::qWait(100);
    QCOMPARE(primarySpy.count() + secondarySpy.count(), 1);
}

void tst_Dialogs::traffic_data()
{
    QTest::addColumn<QList<double>>("plan"); // total GB, total MB, left GB, left MB; empty: unlimited
    QTest::addColumn<QString>("texts");
    QTest::addColumn<QPoint>("bar"); // maximum, value
    QTest::newRow("unlimited") << QList<double>{} << "UNLIMITED|Your current traffic plan is unlimited"
                               << QPoint(100, 100);
    QTest::newRow("half a GB") << QList<double>{0.5, 512, 0.25, 256} << "512 MB|256.00 MB traffic left"
                               << QPoint(50, 25);
    QTest::newRow("50 GB") << QList<double>{50, 51200, 12.5, 12800} << "50 GB|12.50 GB traffic left"
                           << QPoint(5000, 1250);
    QTest::newRow("beyond the plan") << QList<double>{2, 2048, -0.5, -512} << "2 GB|-512.00 MB traffic left"
                                     << QPoint(200, 0);
    QTest::newRow("no allowance") << QList<double>{0, 0, 0, 0} << "0 MB|0.00 MB traffic left" << QPoint(1, 0);
}

void tst_Dialogs::traffic()
{
    QFETCH(QList<double>, plan);
    QFETCH(QString, texts);
    QFETCH(QPoint, bar);
    TovraAccountDialog dialog;
    dialog.SetTraffic(true, 0, 0, 0, 0);
    plan.isEmpty() ? dialog.SetTraffic(true, 0, 0, 0, 0) : dialog.SetTraffic(false, plan[0], plan[1], plan[2], plan[3]);
    dialog.RetranslateTexts();
    QCOMPARE(Text(&dialog, "limitLabel") + QLatin1Char('|') + Text(&dialog, "trafficLabel"), texts);
    auto *progress = Child<QProgressBar>(&dialog, "progressBar");
    QCOMPARE(QPoint(progress->maximum(), progress->value()), bar);
}

void tst_Dialogs::accountLabel()
{
    TovraAccountDialog dialog;
    for (const auto &[account, shown] : {std::pair{"jan@Google.example", "jan@Google.example"},
                                         {"Jan Facebook", "logged in with Facebook"},
                                         {"Google account", "logged in with Google"}}) {
        dialog.SetAccountText(QLatin1String(account));
        dialog.RetranslateTexts();
        QCOMPARE(Text(&dialog, "accountLabel"), QLatin1String(shown));
    }
}

void tst_Dialogs::placement()
{
    TovraAccountDialog dialog; // 360 x 420
    // Main window, screen's right edge, dialog's place: near the left edge, near the right edge, no room either side.
    for (const auto &[mainWindow, screenRight, pos] : {std::tuple{QRect(20, 100, 380, 620), 1920, QPoint(401, 200)},
                                                       {QRect(1500, 100, 380, 620), 1920, QPoint(1140, 200)},
                                                       {QRect(100, 0, 380, 620), 800, QPoint(110, 100)}}) {
        dialog.SetMainWindowGeometry(mainWindow, screenRight);
        dialog.show();
        QCOMPARE(dialog.geometry(), QRect(pos, QSize(360, 420)));
        dialog.hide();
    }
}

void tst_Dialogs::welcomeWalk()
{
    WriteLocale("de");
    QFile::remove(AppContext::instance()->dataPaths()->welcomeFile());
    TovraWelcomeDialog guide;
    guide.show();
    // After each press: page, next button's text, SKIP TIPS shown, BACK shown.
    const QList<std::tuple<const char *, int, const char *, bool, bool>> steps{
        {"", 1, "NEXT", true, false},           {"nextButton", 2, "NEXT", false, true},
        {"nextButton", 3, "NEXT", false, true}, {"nextButton", 4, "START", false, true},
        {"backButton", 3, "NEXT", false, true}, {"backButton", 2, "NEXT", false, true},
        {"backButton", 1, "NEXT", true, false}};
    for (const auto &[button, page, next, skip, back] : steps) {
        if (*button)
            QTest::mouseClick(Child(&guide, button), Qt::LeftButton);
        QCOMPARE(guide.page(), page);
        QCOMPARE(Child(&guide, "nextButton")->text(), QLatin1String(next));
        QCOMPARE(QPair(Child(&guide, "skipButton")->isVisible(), Child(&guide, "backButton")->isVisible()),
                 QPair(skip, back));
        QCOMPARE(Picture(Child<QLabel>(&guide, "imageLabel")->pixmap(Qt::ReturnByValue)),
                 Picture(QPixmap(QStringLiteral(":/welcome/resources/welcome/WelcomeImage_0%1_de.png").arg(page))));
    }
    LogCapture log;
    for (int i = 0; i < 4; ++i)
        QTest::mouseClick(Child(&guide, "nextButton"), Qt::LeftButton);
    QVERIFY(!guide.isVisible());
    QCOMPARE(LogCapture::lines(), QStringList{QStringLiteral("Welcome Guide indicator successfully stored")});
    QFile file(AppContext::instance()->dataPaths()->welcomeFile());
    QVERIFY(file.open(QIODevice::ReadOnly) && file.readAll() == "false");
    // A language without its own pictures shows the English ones.
    WriteLocale("fr");
    guide.show();
    QCOMPARE(Picture(Child<QLabel>(&guide, "imageLabel")->pixmap(Qt::ReturnByValue)),
             Picture(QPixmap(QStringLiteral(":/welcome/resources/welcome/WelcomeImage_01_en.png"))));
    // A welcome file that cannot be written is logged as such.
    QVERIFY(file.remove() && QDir().mkdir(file.fileName()));
    LogCapture::clear();
    QTest::mouseClick(Child(&guide, "skipButton"), Qt::LeftButton);
    QVERIFY(!guide.isVisible() && QDir().rmdir(file.fileName()));
    QCOMPARE(LogCapture::lines(), QStringList{QStringLiteral("Can't write to file with Welcome Guide indicator")});
}

QTEST_MAIN(tst_Dialogs)
#include "tst_dialogs.moc"
