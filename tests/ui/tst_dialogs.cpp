#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

#include "app/appcontext.h"
#include "logcapture.h"
#include "ui/tovraaccountdialog.h"
#include "ui/tovragenericdialog.h"
#include "ui/tovrawelcomedialog.h"

template <typename T>
static T *Child(QWidget *parent, const char *name)
{
    T *child = parent->findChild<T *>(QLatin1String(name));
    if (!child)
        qFatal("no child %s", name);
    return child;
}

static QString Text(QWidget *parent, const char *name)
{
    return Child<QLabel>(parent, name)->text();
}

static QImage Picture(const QString &path)
{
    return QImage(path).convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

class tst_Dialogs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void genericSetup_data();
    void genericSetup();
    void genericChoice_data();
    void genericChoice();
    void traffic_data();
    void traffic();
    void accountLabel_data();
    void accountLabel();
    void placement_data();
    void placement();
    void logout();
    void welcomeWalk();
    void welcomeImage_data();
    void welcomeImage();
    void welcomeFile_data();
    void welcomeFile();

private:
    QTemporaryDir m_dir;
};

void tst_Dialogs::initTestCase()
{
    QVERIFY(m_dir.isValid());
    AppContext::instance()->dataPaths()->setDir(m_dir.path());
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("Data")));
}

void tst_Dialogs::genericSetup_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("buttons");
    QTest::addColumn<QString>("shown"); // t title, x text, p primary, s secondary
    QTest::newRow("empty title") << ""
                                 << "Body" << 2 << "xps";
    QTest::newRow("empty text") << "Title"
                                << "" << 2 << "tps";
    QTest::newRow("primary only") << "Title"
                                  << "Body" << 0 << "txp";
    QTest::newRow("secondary only") << "Title"
                                    << "Body" << 1 << "txs";
}

void tst_Dialogs::genericSetup()
{
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(int, buttons);
    QFETCH(QString, shown);
    TovraGenericDialog dialog;
    // A previous set-up that hid everything must not stick.
    dialog.Setup(QString(), QString(), QStringLiteral("X"), QStringLiteral("Y"), title.isEmpty() ? 0 : 1);
    dialog.Setup(title, text, QStringLiteral("OK"), QStringLiteral("CANCEL"), buttons);
    QString visible;
    for (const auto &[letter, name] :
         {std::pair{'t', "titleLabel"}, {'x', "textLabel"}, {'p', "primaryButton"}, {'s', "secondaryButton"}})
        if (Child<QWidget>(&dialog, name)->isVisibleTo(&dialog))
            visible += QLatin1Char(letter);
    QCOMPARE(visible, shown);
    QCOMPARE(Text(&dialog, "textLabel"), text);
    QCOMPARE(Child<QPushButton>(&dialog, "primaryButton")->text(), QStringLiteral("OK"));
    QCOMPARE(Child<QPushButton>(&dialog, "secondaryButton")->text(), QStringLiteral("CANCEL"));
}

void tst_Dialogs::genericChoice_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("primary");
    QTest::newRow("primary button") << "primaryButton" << true;
    QTest::newRow("secondary button") << "secondaryButton" << false;
    QTest::newRow("window closed") << "" << false;
    QTest::newRow("primary, then shown again at once") << "again" << true;
}

void tst_Dialogs::genericChoice()
{
    QFETCH(QString, how);
    QFETCH(bool, primary);
    TovraGenericDialog dialog;
    dialog.Setup(QStringLiteral("Title"), QString(), QStringLiteral("OK"), QStringLiteral("CANCEL"), 2);
    QSignalSpy primarySpy(&dialog, &TovraGenericDialog::PrimaryPressed);
    QSignalSpy secondarySpy(&dialog, &TovraGenericDialog::SecondaryPressed);
    dialog.show();
    QElapsedTimer timer;
    timer.start();
    if (how.isEmpty())
        dialog.close();
    else
        QTest::mouseClick(
            Child<QPushButton>(&dialog, how == QLatin1String("again") ? "primaryButton" : qPrintable(how)),
            Qt::LeftButton);
    if (how == QLatin1String("again"))
        dialog.show();
    QSignalSpy &expected = primary ? primarySpy : secondarySpy;
    QCOMPARE(expected.count(), 0);
    QVERIFY(expected.wait(10000));
    QVERIFY(timer.elapsed() >= 50);
    QTest::qWait(100);
    QCOMPARE(primarySpy.count() + secondarySpy.count(), 1);
}

void tst_Dialogs::traffic_data()
{
    QTest::addColumn<bool>("unlimited");
    QTest::addColumn<QList<double>>("plan"); // total GB, total MB, left GB, left MB
    QTest::addColumn<QString>("limit");
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("value");
    QTest::newRow("unlimited") << true << QList<double>{0, 0, 0, 0} << "UNLIMITED"
                               << "Your current traffic plan is unlimited" << 100 << 100;
    QTest::newRow("half a GB") << false << QList<double>{0.5, 512, 0.25, 256} << "512 MB"
                               << "256.00 MB traffic left" << 50 << 25;
    QTest::newRow("50 GB") << false << QList<double>{50, 51200, 12.5, 12800} << "50 GB"
                           << "12.50 GB traffic left" << 5000 << 1250;
    QTest::newRow("used up beyond the plan") << false << QList<double>{2, 2048, -0.5, -512} << "2 GB"
                                             << "-512.00 MB traffic left" << 200 << 0;
    QTest::newRow("no allowance") << false << QList<double>{0, 0, 0, 0} << "0 MB"
                                  << "0.00 MB traffic left" << 1 << 0;
}

void tst_Dialogs::traffic()
{
    QFETCH(bool, unlimited);
    QFETCH(QList<double>, plan);
    QFETCH(QString, limit);
    QFETCH(QString, line);
    QFETCH(int, maximum);
    QFETCH(int, value);
    TovraAccountDialog dialog;
    dialog.SetTraffic(true, 0, 0, 0, 0);
    dialog.SetTraffic(unlimited, plan[0], plan[1], plan[2], plan[3]);
    dialog.RetranslateTexts();
    QCOMPARE(Text(&dialog, "limitLabel"), limit);
    QCOMPARE(Text(&dialog, "trafficLabel"), line);
    QCOMPARE(Child<QProgressBar>(&dialog, "progressBar")->maximum(), maximum);
    QCOMPARE(Child<QProgressBar>(&dialog, "progressBar")->value(), value);
}

void tst_Dialogs::accountLabel_data()
{
    QTest::addColumn<QString>("account");
    QTest::addColumn<QString>("shown");
    QTest::newRow("address") << "jan@Google.example"
                             << "jan@Google.example";
    QTest::newRow("facebook") << "Jan Facebook"
                              << "logged in with Facebook";
    QTest::newRow("google") << "Google account"
                            << "logged in with Google";
}

void tst_Dialogs::accountLabel()
{
    QFETCH(QString, account);
    QFETCH(QString, shown);
    TovraAccountDialog dialog;
    dialog.SetAccountText(account);
    QCOMPARE(Text(&dialog, "accountLabel"), shown);
    dialog.RetranslateTexts();
    QCOMPARE(Text(&dialog, "accountLabel"), shown);
}

void tst_Dialogs::placement_data()
{
    QTest::addColumn<QRect>("mainWindow");
    QTest::addColumn<int>("screenRight");
    QTest::addColumn<QPoint>("pos"); // the dialog is 360 x 420
    QTest::newRow("room on the right") << QRect(20, 100, 380, 620) << 1920 << QPoint(401, 200);
    QTest::newRow("near the right edge") << QRect(1500, 100, 380, 620) << 1920 << QPoint(1140, 200);
    QTest::newRow("no room either side") << QRect(100, 0, 380, 620) << 800 << QPoint(110, 100);
}

void tst_Dialogs::placement()
{
    QFETCH(QRect, mainWindow);
    QFETCH(int, screenRight);
    QFETCH(QPoint, pos);
    TovraAccountDialog dialog;
    dialog.SetMainWindowGeometry(mainWindow, screenRight);
    dialog.show();
    QCOMPARE(dialog.size(), QSize(360, 420));
    QCOMPARE(dialog.pos(), pos);
}

void tst_Dialogs::logout()
{
    TovraAccountDialog dialog;
    QSignalSpy logoutSpy(&dialog, &TovraAccountDialog::LogoutRequested);
    dialog.show();
    for (int round = 0; round < 2; ++round) {
        QTest::mouseClick(Child<QPushButton>(&dialog, "logoutButton"), Qt::LeftButton);
        auto *question = dialog.findChild<TovraGenericDialog *>();
        QVERIFY(question && question->isVisible());
        QCOMPARE(Text(question, "titleLabel"), QStringLiteral("Are you sure you want to logout?"));
        QCOMPARE(Text(question, "textLabel"),
                 QStringLiteral("You will be prompted to enter your login details again."));
        QTest::mouseClick(Child<QPushButton>(question, round == 0 ? "secondaryButton" : "primaryButton"),
                          Qt::LeftButton);
        QTest::qWait(200);
        QCOMPARE(logoutSpy.count(), round);
    }
    QVERIFY(!dialog.isVisible());
}

void tst_Dialogs::welcomeWalk()
{
    QFile::remove(AppContext::instance()->dataPaths()->localeFile());
    TovraWelcomeDialog guide;
    guide.show();
    // Button presses and the state after each: page, next text, skip shown, back shown.
    const QList<std::tuple<const char *, int, QString, bool, bool>> steps{
        {"", 1, "NEXT", true, false},           {"nextButton", 2, "NEXT", false, true},
        {"nextButton", 3, "NEXT", false, true}, {"nextButton", 4, "START", false, true},
        {"backButton", 3, "NEXT", false, true}, {"backButton", 2, "NEXT", false, true},
        {"backButton", 1, "NEXT", true, false}, {"nextButton", 2, "NEXT", false, true}};
    for (const auto &[button, page, next, skip, back] : steps) {
        if (*button)
            QTest::mouseClick(Child<QPushButton>(&guide, button), Qt::LeftButton);
        QCOMPARE(guide.page(), page);
        QCOMPARE(Child<QPushButton>(&guide, "nextButton")->text(), next);
        QCOMPARE(Child<QPushButton>(&guide, "skipButton")->isVisible(), skip);
        QCOMPARE(Child<QPushButton>(&guide, "backButton")->isVisible(), back);
        QCOMPARE(Child<QLabel>(&guide, "imageLabel")
                     ->pixmap(Qt::ReturnByValue)
                     .toImage()
                     .convertToFormat(QImage::Format_ARGB32_Premultiplied),
                 Picture(QStringLiteral(":/welcome/resources/welcome/WelcomeImage_0%1_en.png").arg(page)));
    }
    QFile::remove(AppContext::instance()->dataPaths()->welcomeFile());
    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(Child<QPushButton>(&guide, "nextButton"), Qt::LeftButton);
    QVERIFY(!guide.isVisible());
    QVERIFY(IsWelcomeGuideAlreadyShown(AppContext::instance()->dataPaths()->welcomeFile()));
    guide.show();
    QCOMPARE(guide.page(), 1);
}

void tst_Dialogs::welcomeImage_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("image");
    QTest::newRow("German page 3") << "de" << 3 << "WelcomeImage_03_de.png";
    QTest::newRow("Dutch page 4") << "nl" << 4 << "WelcomeImage_04_nl.png";
    QTest::newRow("language without pictures") << "fr" << 2 << "WelcomeImage_02_en.png";
}

void tst_Dialogs::welcomeImage()
{
    QFETCH(QString, locale);
    QFETCH(int, page);
    QFETCH(QString, image);
    QFile file(AppContext::instance()->dataPaths()->localeFile());
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(locale.toUtf8()) == 2);
    file.close();
    TovraWelcomeDialog guide;
    guide.LoadImage(page);
    QCOMPARE(Picture(QStringLiteral(":/welcome/resources/welcome/") + image),
             Child<QLabel>(&guide, "imageLabel")
                 ->pixmap(Qt::ReturnByValue)
                 .toImage()
                 .convertToFormat(QImage::Format_ARGB32_Premultiplied));
    QCOMPARE(Picture(QStringLiteral(":/welcome/resources/welcome/") +
                     image.replace(QLatin1String(".png"), QLatin1String("@2x.png")))
                 .size(),
             QSize(1196, 800));
}

void tst_Dialogs::welcomeFile_data()
{
    QTest::addColumn<bool>("writable");
    QTest::addColumn<QString>("log");
    QTest::newRow("written") << true << "Welcome Guide indicator successfully stored";
    QTest::newRow("cannot be written") << false << "Can't write to file with Welcome Guide indicator";
}

void tst_Dialogs::welcomeFile()
{
    QFETCH(bool, writable);
    QFETCH(QString, log);
    const QString path = AppContext::instance()->dataPaths()->welcomeFile();
    QFile::remove(path);
    QDir().rmdir(path);
    if (!writable)
        QVERIFY(QDir().mkdir(path));
    TovraWelcomeDialog guide;
    guide.show();
    LogCapture capture;
    QTest::mouseClick(Child<QPushButton>(&guide, "skipButton"), Qt::LeftButton);
    QVERIFY(!guide.isVisible());
    QCOMPARE(LogCapture::lines(), QStringList{log});
    QFile file(path);
    QCOMPARE(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray(), writable ? "false" : "");
    QDir().rmdir(path);
}

QTEST_MAIN(tst_Dialogs)
#include "tst_dialogs.moc"
