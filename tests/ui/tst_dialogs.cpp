#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QPushButton>
#include <QtTest>

#include "app/appcontext.h"
#include "logcapture.h"
#include "testfiles.h"
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

// Whether the guide shows the welcome picture of that page and language.
static bool ShowsPicture(QWidget *guide, int page, const char *language)
{
    const QString path = QStringLiteral(":/welcome/resources/welcome/WelcomeImage_0%1_%2.png").arg(page).arg(language);
    const QImage::Format format = QImage::Format_ARGB32_Premultiplied;
    return Child<QLabel>(guide, "imageLabel")->pixmap(Qt::ReturnByValue).toImage().convertToFormat(format) ==
           QPixmap(path).toImage().convertToFormat(format);
}

class tst_Dialogs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { AppContext::instance()->dataPaths()->setDir(m_dir.path()); }
    void generic();
    void account();
    void welcomeWalk();

private:
    QTemporaryDir m_dir;
};

void tst_Dialogs::generic()
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
    // How it ends (button, or the window closed), what follows at once (shown again, set up again), whether
    // PRIMARY is reported: one signal, once the window is gone; none for a use that was set up anew.
    for (const auto &[button, then, primary] : {std::tuple{"primaryButton", "", 1},
                                                {"secondaryButton", "", 0},
                                                {"", "", 0},
                                                {"primaryButton", "show", 1},
                                                {"primaryButton", "setup", -1}}) {
        QSignalSpy primarySpy(&dialog, &TovraGenericDialog::PrimaryPressed),
            secondarySpy(&dialog, &TovraGenericDialog::SecondaryPressed);
        dialog.show();
        *button ? QTest::mouseClick(Child(&dialog, button), Qt::LeftButton) : void(dialog.close());
        if (QLatin1String(then) == QLatin1String("show"))
            dialog.show();
        if (QLatin1String(then) == QLatin1String("setup"))
            dialog.Setup(QStringLiteral("<b>9.9</b>"), QString(), QStringLiteral("OK"), QString(), 0);
        QSignalSpy &expected = primary ? primarySpy : secondarySpy;
        QVERIFY(expected.isEmpty() && (primary < 0 || expected.wait(10000)));
        QTest::qWait(100);
        QCOMPARE(primarySpy.count() + secondarySpy.count(), int(primary >= 0));
    }
    // Opaque to its corners, so that no desktop shows them black.
    QCOMPARE(qAlpha(dialog.grab().toImage().pixel(0, 0)), 255);
    // A title from outside (an update's version) is shown as it is, never as markup.
    QCOMPARE(Child<QLabel>(&dialog, "titleLabel")->textFormat(), Qt::PlainText);
}

void tst_Dialogs::account()
{
    TovraAccountDialog dialog; // 360 x 420
    // Plan (total GB, total MB, left GB, left MB; none: unlimited), texts, the bar's maximum and value; each plan
    // follows an unlimited one, whose full bar must not stay.
    for (const auto &[plan, texts, bar] :
         {std::tuple{QList<double>{}, "UNLIMITED|Your current traffic plan is unlimited", QPoint(100, 100)},
          {QList<double>{0.5, 512, 0.25, 256}, "512 MB|256.00 MB traffic left", QPoint(50, 25)},
          {QList<double>{50, 51200, 12.5, 12800}, "50 GB|12.50 GB traffic left", QPoint(5000, 1250)},
          {QList<double>{2, 2048, -0.5, -512}, "2 GB|-512.00 MB traffic left", QPoint(200, 0)},
          {QList<double>{0, 0, 0, 0}, "0 MB|0.00 MB traffic left", QPoint(1, 0)}}) {
        dialog.SetTraffic(true, 0, 0, 0, 0);
        if (!plan.isEmpty())
            dialog.SetTraffic(false, plan[0], plan[1], plan[2], plan[3]);
        dialog.RetranslateTexts();
        QCOMPARE(Text(&dialog, "limitLabel") + QLatin1Char('|') + Text(&dialog, "trafficLabel"), QLatin1String(texts));
        auto *progress = Child<QProgressBar>(&dialog, "progressBar");
        QCOMPARE(QPoint(progress->maximum(), progress->value()), bar);
    }
    for (const auto &[account, shown] : {std::pair{"jan@Google.example", "jan@Google.example"},
                                         {"Jan Facebook", "logged in with Facebook"},
                                         {"Google account", "logged in with Google"}}) {
        dialog.SetAccountText(QLatin1String(account));
        dialog.RetranslateTexts();
        QCOMPARE(Text(&dialog, "accountLabel"), QLatin1String(shown));
    }
    // Main window, screen's right edge, dialog's place on the 800 x 600 offscreen screen: near the left edge, near
    // the right edge, no room either side, and a main window partly off the screen, which the dialog is not.
    QCOMPARE(QGuiApplication::primaryScreen()->availableGeometry(), QRect(0, 0, 800, 600));
    for (const auto &[mainWindow, screenRight, pos] : {std::tuple{QRect(20, 50, 380, 500), 800, QPoint(401, 90)},
                                                       {QRect(420, 50, 380, 500), 800, QPoint(60, 90)},
                                                       {QRect(100, 0, 380, 620), 800, QPoint(110, 100)},
                                                       {QRect(-200, 400, 380, 400), 800, QPoint(181, 180)}}) {
        dialog.SetMainWindowGeometry(mainWindow, screenRight);
        dialog.show();
        QCOMPARE(dialog.geometry(), QRect(pos, QSize(360, 420)));
        dialog.hide();
    }
    // Dragged with the left button from a free spot, the frameless window follows the pointer.
    dialog.show();
    const QPoint start = dialog.pos();
    for (const auto &[type, local] : {std::pair{QEvent::MouseButtonPress, QPointF(10, 10)},
                                      {QEvent::MouseMove, QPointF(40, 50)},
                                      {QEvent::MouseButtonRelease, QPointF(40, 50)}}) {
        QMouseEvent event(type, local, QPointF(start) + local, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&dialog, &event);
    }
    QCOMPARE(dialog.pos(), start + QPoint(30, 40));
    dialog.hide();
    // Logout is asked each time; CANCEL, then LOGOUT: one request, and the dialog closes.
    QSignalSpy logout(&dialog, &TovraAccountDialog::LogoutRequested);
    dialog.show();
    for (const char *answer : {"secondaryButton", "primaryButton"}) {
        QTest::mouseClick(Child(&dialog, "logoutButton"), Qt::LeftButton);
        auto *question = dialog.findChild<TovraGenericDialog *>();
        QVERIFY(question->isVisible() && Text(question, "titleLabel") == "Are you sure you want to logout?");
        QTest::mouseClick(Child(question, answer), Qt::LeftButton);
    }
    QVERIFY(logout.wait(10000));
    QTest::qWait(200);
    QVERIFY(logout.count() == 1 && !dialog.isVisible());
}

void tst_Dialogs::welcomeWalk()
{
    QVERIFY(writeFile(AppContext::instance()->dataPaths()->localeFile(), "de"));
    const QString welcomeFile = AppContext::instance()->dataPaths()->welcomeFile();
    QFile::remove(welcomeFile);
    TovraWelcomeDialog guide;
    guide.show();
    auto *next = Child(&guide, "nextButton"), *skip = Child(&guide, "skipButton"), *back = Child(&guide, "backButton");
    // Three presses of NEXT, then three of BACK: page, NEXT's text, whether SKIP TIPS and BACK show.
    const QStringList states{"1 NEXT 10", "2 NEXT 01", "3 NEXT 01", "4 START 01",
                             "3 NEXT 01", "2 NEXT 01", "1 NEXT 10"};
    for (int i = 0; i < states.size(); ++i) {
        if (i > 0)
            QTest::mouseClick(i < 4 ? next : back, Qt::LeftButton);
        QCOMPARE(QString::number(guide.page()) + ' ' + next->text() + ' ' + QString::number(skip->isVisible()) +
                     QString::number(back->isVisible()),
                 states[i]);
        QVERIFY(ShowsPicture(&guide, guide.page(), "de"));
    }
    LogCapture log;
    for (int i = 0; i < 4; ++i)
        QTest::mouseClick(next, Qt::LeftButton);
    QVERIFY(!guide.isVisible());
    QCOMPARE(LogCapture::lines(), QStringList{QStringLiteral("Welcome Guide indicator successfully stored")});
    QCOMPARE(readFile(welcomeFile), "false");
    // A language without its own pictures shows the English ones.
    QVERIFY(writeFile(AppContext::instance()->dataPaths()->localeFile(), "fr"));
    guide.show();
    QVERIFY(ShowsPicture(&guide, 1, "en"));
    // A welcome file that cannot be written is logged as such.
    QVERIFY(QFile::remove(welcomeFile) && QDir().mkdir(welcomeFile));
    LogCapture::clear();
    QTest::mouseClick(skip, Qt::LeftButton);
    QVERIFY(!guide.isVisible() && QDir().rmdir(welcomeFile));
    QCOMPARE(LogCapture::lines(), QStringList{QStringLiteral("Can't write to file with Welcome Guide indicator")});
}

QTEST_MAIN(tst_Dialogs)
#include "tst_dialogs.moc"
