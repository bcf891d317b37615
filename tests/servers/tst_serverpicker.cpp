#include <QListView>
#include <QtTest>

#include "app/appcontext.h"
#include "logcapture.h"
#include "servers/tovracomboboxdelegate.h"
#include "servers/tovraservermanager.h"
#include "servers/tovraservermodel.h"
#include "servers/tovraserverscombobox.h"

static const QColor FlagRedNL(174, 28, 40);
static const QColor StarOrange(249, 163, 71);

static TovraServer Server(const QString &name, const QString &code, bool alive = true, int load = 0)
{
    TovraServer s;
    s.displayName = name;
    s.countryCode = code;
    s.key = name.toLower();
    s.isAlive = alive;
    s.loadPercentage = load;
    return s;
}

static QPixmap Solid(const QColor &color)
{
    QPixmap pixmap(8, 8);
    pixmap.fill(color);
    return pixmap;
}

static bool Near(const QColor &a, const QColor &b, int tolerance = 40)
{
    return qAbs(a.red() - b.red()) + qAbs(a.green() - b.green()) + qAbs(a.blue() - b.blue()) <= tolerance;
}

// The darkest pixel of an area: the text colour's core.
static QColor Darkest(const QImage &image, const QRect &area)
{
    QColor darkest(Qt::white);
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (image.pixelColor(x, y).lightness() < darkest.lightness())
                darkest = image.pixelColor(x, y);
    return darkest;
}

class tst_ServerPicker : public QObject
{
    Q_OBJECT

private slots:
    void modelRows_data();
    void modelRows();
    void setFavorite_data();
    void setFavorite();
    void decoration();
    void updateSmartCategory_data();
    void updateSmartCategory();
    void rebuildInContext();
    void starClicks_data();
    void starClicks();
    void wheelKeepsSelection();
    void paintOpenList();
    void paintClosedPicker();
};

void tst_ServerPicker::modelRows_data()
{
    QTest::addColumn<bool>("alive");
    QTest::addColumn<int>("load");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("alive") << true << 40 << true;
    QTest::newRow("dead, full load still selectable") << false << 100 << true;
    QTest::newRow("dead, load 99") << false << 99 << false;
}

void tst_ServerPicker::modelRows()
{
    QFETCH(bool, alive);
    QFETCH(int, load);
    QFETCH(bool, enabled);
    TovraServerModel model({Server(QStringLiteral("Netherlands"), QStringLiteral("NL"), alive, load)});
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.flags(model.index(0)), enabled ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags);
    QCOMPARE(model.data(model.index(0)).toString(), QStringLiteral("Netherlands"));
    QCOMPARE(model.data(model.index(0), Qt::DecorationRole).userType(), int(QMetaType::QPixmap));
    QVERIFY(!model.data(model.index(0), Qt::ToolTipRole).isValid());
    QVERIFY(!model.data(model.index(1)).isValid());
    QCOMPARE(model.flags(model.index(1)), Qt::NoItemFlags);
}

void tst_ServerPicker::setFavorite_data()
{
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("on");
    QTest::addColumn<int>("after");
    QTest::addColumn<QList<int>>("changed");
    QTest::newRow("second clears first") << 0 << 2 << true << 2 << QList<int>{0, 2};
    QTest::newRow("off") << 1 << 1 << false << -1 << QList<int>{1};
    QTest::newRow("row past the end") << 0 << 3 << true << 0 << QList<int>{};
    QTest::newRow("negative row") << 0 << -1 << true << 0 << QList<int>{};
}

void tst_ServerPicker::setFavorite()
{
    QFETCH(int, before);
    QFETCH(int, row);
    QFETCH(bool, on);
    QFETCH(int, after);
    QFETCH(QList<int>, changed);
    QList<TovraServer> rows{Server(QStringLiteral("A"), QStringLiteral("NL")),
                            Server(QStringLiteral("B"), QStringLiteral("DE")),
                            Server(QStringLiteral("C"), QStringLiteral("US"))};
    rows[before].isFavorite = true;
    TovraServerModel model(rows);
    QSignalSpy spy(&model, &QAbstractItemModel::dataChanged);
    model.SetFavorite(row, on);
    QList<int> seen;
    for (const QList<QVariant> &args : spy)
        seen << args.at(0).toModelIndex().row();
    QCOMPARE(seen, changed);
    for (int i = 0; i < rows.size(); ++i)
        QCOMPARE(model.server(i).isFavorite, i == after);
}

void tst_ServerPicker::decoration()
{
    LogCapture log;
    const QImage nl = TovraServerModel::DecorationPixmap(QStringLiteral("NL"), true).toImage();
    QCOMPARE(nl.size(), QSize(56, 29));
    QVERIFY(Near(nl.pixelColor(29 + 12, 4 + 2), FlagRedNL));
    QVERIFY(Near(nl.pixelColor(11, 13), StarOrange));
    // A code without a flag keeps its star, and no flag painted earlier shows through.
    for (int i = 0; i < 2; ++i) {
        const QImage none = TovraServerModel::DecorationPixmap(QStringLiteral("QQ"), true).toImage();
        QCOMPARE(none.size(), QSize(56, 29));
        QVERIFY(Near(none.pixelColor(11, 13), StarOrange));
        QCOMPARE(none.pixelColor(29 + 12, 4 + 2).alpha(), 0);
    }
    QCOMPARE(TovraServerModel::DecorationPixmap(QStringLiteral("NL"), false).toImage().pixelColor(11, 13).alpha(), 0);
    QCOMPARE(LogCapture::lines().filter(QStringLiteral("QQ.png")).size(), 1);
}

void tst_ServerPicker::updateSmartCategory_data()
{
    QTest::addColumn<bool>("smart");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("bestCode");
    QTest::addColumn<QString>("log");
    QTest::newRow("same country") << true << 1 << "DE"
                                  << "Smart server list category [Germany] updated with server address: de7 (10.0.0.7)";
    QTest::newRow("other country") << true << 1 << "NL"
                                   << "Error occurred on updating smart server list category: Smart list enabled: true "
                                      "category index: 1 smart list size: 2 category country code DE received server "
                                      "country code: NL";
    QTest::newRow("smart list off") << false << 1 << "DE"
                                    << "Error occurred on updating smart server list category: Smart list enabled: "
                                       "false category index: 1 smart list size: 2 category country code DE received "
                                       "server country code: DE";
    QTest::newRow("no such row") << true << 2 << "DE"
                                 << "Error occurred on updating smart server list category: Smart list enabled: true "
                                    "category index: 2 smart list size: 2 received server country code: DE";
}

void tst_ServerPicker::updateSmartCategory()
{
    QFETCH(bool, smart);
    QFETCH(int, row);
    QFETCH(QString, bestCode);
    QFETCH(QString, log);
    AppContext::instance()->config()->smartServerList = smart;
    TovraServerModel model({Server(QStringLiteral("Netherlands"), QStringLiteral("NL")),
                            Server(QStringLiteral("Germany"), QStringLiteral("DE"))});
    TovraServer best = Server(QString(), bestCode);
    best.shortName = QStringLiteral("de7");
    best.ip = QStringLiteral("10.0.0.7");
    best.loadPercentage = 70;
    LogCapture capture;
    model.UpdateSmartCategory(row, best);
    QVERIFY2(LogCapture::contains(log), qPrintable(LogCapture::dump()));
    const bool updated = log.startsWith(QLatin1String("Smart"));
    QCOMPARE(model.server(1).shortName, updated ? QStringLiteral("de7") : QString());
    QCOMPARE(model.server(1).loadPercentage, updated ? 70 : 0);
    QCOMPARE(model.server(1).displayName, QStringLiteral("Germany"));
}

void tst_ServerPicker::rebuildInContext()
{
    AppContext *context = AppContext::instance();
    context->config()->smartServerList = false;
    context->serverManager()->SetServerLists({Server(QStringLiteral("A"), QStringLiteral("NL"))}, {}, {}, {});
    QPointer<TovraServerModel> first = context->RebuildServerModel();
    context->serverManager()->SetServerLists(
        {Server(QStringLiteral("B"), QStringLiteral("DE")), Server(QStringLiteral("C"), QStringLiteral("US"))}, {}, {},
        {});
    TovraServerModel *second = context->RebuildServerModel();
    QVERIFY(first.isNull());
    QCOMPARE(context->serverModel(), second);
    QCOMPARE(second->rowCount(), 2);
    second->SetFavorite(0, true);
    QVERIFY(!context->serverManager()->GetMainList().at(0).isFavorite);
}

void tst_ServerPicker::starClicks_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QPoint>("pos");
    QTest::addColumn<bool>("toggles");
    QTest::addColumn<bool>("opens");
    QTest::newRow("enabled, star") << true << QPoint(10, 20) << true << false;
    QTest::newRow("enabled, right of the star") << true << QPoint(30, 20) << false << true;
    QTest::newRow("disabled, star") << false << QPoint(10, 10) << true << false;
    QTest::newRow("disabled, below the star") << false << QPoint(10, 25) << false << false;
}

void tst_ServerPicker::starClicks()
{
    QFETCH(bool, enabled);
    QFETCH(QPoint, pos);
    QFETCH(bool, toggles);
    QFETCH(bool, opens);
    TovraServerModel model(
        {Server(QStringLiteral("A"), QStringLiteral("NL")), Server(QStringLiteral("B"), QStringLiteral("DE"))});
    TovraServersComboBox picker;
    picker.setModel(&model);
    picker.resize(300, 48);
    picker.setEnabled(enabled);
    picker.show();
    QVERIFY(QTest::qWaitForWindowExposed(&picker));
    QSignalSpy spy(&picker, &TovraServersComboBox::favoriteStateChanged);
    QTest::mouseClick(&picker, Qt::LeftButton, Qt::NoModifier, pos);
    QCOMPARE(spy.count(), toggles ? 1 : 0);
    QCOMPARE(picker.view()->isVisible(), opens);
}

void tst_ServerPicker::wheelKeepsSelection()
{
    TovraServerModel model(
        {Server(QStringLiteral("A"), QStringLiteral("NL")), Server(QStringLiteral("B"), QStringLiteral("DE"))});
    TovraServersComboBox picker;
    picker.setModel(&model);
    picker.show();
    QWheelEvent wheel(QPointF(20, 10), picker.mapToGlobal(QPoint(20, 10)), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&picker, &wheel);
    QCOMPARE(picker.currentIndex(), 0);
}

void tst_ServerPicker::paintOpenList()
{
    TovraServerModel model({Server(QStringLiteral("Netherlands"), QStringLiteral("NL")),
                            Server(QStringLiteral("Netherlands"), QStringLiteral("NL")),
                            Server(QStringLiteral("Germany"), QStringLiteral("DE"), false, 99)});
    TovraServersComboBox picker;
    picker.setModel(&model);
    QListView view;
    view.setModel(&model);
    view.setIconSize(QSize(56, 29));
    view.setItemDelegate(new TovraComboBoxDelegate(&picker, &view));
    view.resize(320, 200);
    view.setCurrentIndex(model.index(1));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const QImage image = view.viewport()->grab().toImage();
    const QRect current = view.visualRect(model.index(0));
    const QRect hovered = view.visualRect(model.index(1));
    const QRect disabled = view.visualRect(model.index(2));
    QCOMPARE(image.pixelColor(current.center().x(), current.top() + 1), QColor(226, 231, 235));
    QCOMPARE(image.pixelColor(current.center().x(), current.bottom()), QColor(239, 239, 239));
    QCOMPARE(image.pixelColor(disabled.center().x(), disabled.bottom()), QColor(239, 239, 239));
    // Only the picker's current row is shaded, not every row of the same name.
    QVERIFY(image.pixelColor(hovered.center().x(), hovered.top() + 4) != QColor(226, 231, 235));
    // The hover frame: top edge at the row's top + 1, left edge at its left + 2.
    QCOMPARE(image.pixelColor(hovered.center().x(), hovered.top() + 1), QColor(249, 163, 71));
    QCOMPARE(image.pixelColor(hovered.left() + 2, hovered.center().y()), QColor(249, 163, 71));
    QVERIFY(image.pixelColor(current.left() + 2, current.center().y()) != QColor(249, 163, 71));
    const QColor enabledText = Darkest(image, current.adjusted(60, 2, -90, -2));
    const QColor grayText = Darkest(image, disabled.adjusted(60, 2, -90, -2));
    QVERIFY2(enabledText.blue() - enabledText.red() > 15, qPrintable(enabledText.name()));
    QVERIFY2(grayText.red() == grayText.blue() && grayText.lightness() < 200, qPrintable(grayText.name()));
}

void tst_ServerPicker::paintClosedPicker()
{
    TovraServer server = Server(QStringLiteral("Netherlands"), QStringLiteral("NL"));
    server.isFavorite = true;
    server.featureIcon = Solid(Qt::magenta);
    server.loadIcon = Solid(Qt::cyan);
    TovraServerModel model({server});
    TovraServersComboBox picker;
    picker.setModel(&model);
    picker.resize(320, 48);
    picker.show();
    QVERIFY(QTest::qWaitForWindowExposed(&picker));
    const QImage image = picker.grab().toImage();
    QStyleOptionComboBox option;
    option.initFrom(&picker);
    const QRect field =
        picker.style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, &picker);
    const QPoint icon = field.topLeft() + QPoint(3, 6);
    QVERIFY(Near(image.pixelColor(icon + QPoint(11, 13)), StarOrange));
    QVERIFY(Near(image.pixelColor(icon + QPoint(29 + 12, 4 + 2)), FlagRedNL));
    QCOMPARE(image.pixelColor(field.right() - 76 + 4, field.top() + 12 + 4), QColor(Qt::magenta));
    QCOMPARE(image.pixelColor(field.right() - 24 + 4, field.top() + 14 + 4), QColor(Qt::cyan));
    QVERIFY(image.pixelColor(field.right() - 76 - 1, field.top() + 12 + 4) != QColor(Qt::magenta));
}

QTEST_MAIN(tst_ServerPicker)
#include "tst_serverpicker.moc"
