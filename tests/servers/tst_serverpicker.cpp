#include <QListView>
#include <QTextDocument>
#include <QtTest>

#include "app/appcontext.h"
#include "logcapture.h"
#include "servers/tovracomboboxdelegate.h"
#include "servers/tovraservermanager.h"
#include "servers/tovraservermodel.h"
#include "servers/tovraserverscombobox.h"

static const QColor FlagRed(174, 28, 40), Star(249, 163, 71);

static TovraServer Server(const char *name, const char *code, bool alive = true, int load = 0)
{
    TovraServer s;
    s.displayName = s.key = QLatin1String(name);
    s.countryCode = QLatin1String(code);
    s.isAlive = alive;
    s.loadPercentage = load;
    return s;
}

static bool Near(const QColor &a, const QColor &b)
{
    return qAbs(a.red() - b.red()) + qAbs(a.green() - b.green()) + qAbs(a.blue() - b.blue()) <= 40;
}

class tst_ServerPicker : public QObject
{
    Q_OBJECT

private slots:
    void model();
    void decoration();
    void rebuildInContext();
    void clicks_data();
    void clicks();
    void painting();
};

void tst_ServerPicker::model()
{
    TovraServerModel model({Server("A", "NL"), Server("B", "DE", false, 100), Server("C", "US", false, 99)});
    const Qt::ItemFlags selectable = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    QCOMPARE(
        QList<Qt::ItemFlags>({model.flags(model.index(0)), model.flags(model.index(1)), model.flags(model.index(2))}),
        QList<Qt::ItemFlags>({selectable, selectable, Qt::NoItemFlags}));
    QCOMPARE(model.data(model.index(1)).toString(), QStringLiteral("B"));
    QVERIFY(!model.data(model.index(0), Qt::ToolTipRole).isValid() && !model.data(model.index(3)).isValid());
    // One favourite at a time; rows outside the list are ignored.
    QSignalSpy spy(&model, &QAbstractItemModel::dataChanged);
    for (int row : {0, 2, 3, -1})
        model.SetFavorite(row, true);
    model.SetFavorite(1, false);
    QList<int> changed, favorites;
    for (const QList<QVariant> &args : spy)
        changed << args.at(0).toModelIndex().row();
    for (int i = 0; i < model.rowCount(); ++i)
        if (model.server(i).isFavorite)
            favorites << i;
    QCOMPARE(changed, QList<int>({0, 0, 2, 1}));
    QCOMPARE(favorites, QList<int>{2});
}

void tst_ServerPicker::decoration()
{
    LogCapture log;
    const QImage nl = TovraServerModel::DecorationPixmap(QStringLiteral("NL"), true).toImage();
    QVERIFY(Near(nl.pixelColor(29 + 12, 4 + 2), FlagRed) && Near(nl.pixelColor(11, 13), Star));
    // A code without a flag keeps its star; no flag painted earlier shows through; the missing file is tried once.
    for (int i = 0; i < 2; ++i) {
        const QImage none = TovraServerModel::DecorationPixmap(QStringLiteral("QQ"), true).toImage();
        QVERIFY(none.size() == QSize(56, 29) && Near(none.pixelColor(11, 13), Star));
        QCOMPARE(none.pixelColor(29 + 12, 4 + 2).alpha(), 0);
    }
    QCOMPARE(TovraServerModel::DecorationPixmap(QStringLiteral("NL"), false).toImage().pixelColor(11, 13).alpha(), 0);
    QCOMPARE(LogCapture::lines().filter(QStringLiteral("QQ.png")).size(), 1);
}

void tst_ServerPicker::rebuildInContext()
{
    AppContext *context = AppContext::instance();
    context->config()->smartServerList = false;
    context->serverManager()->SetServerLists({Server("A", "NL")}, {}, {}, {});
    QPointer<TovraServerModel> first = context->RebuildServerModel();
    TovraServerModel *second = context->RebuildServerModel();
    QVERIFY(first.isNull() && context->serverModel() == second && second->rowCount() == 1);
}

void tst_ServerPicker::clicks_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QPoint>("pos");
    QTest::addColumn<bool>("toggles");
    QTest::addColumn<bool>("opens");
    QTest::newRow("enabled, star") << true << QPoint(10, 20) << true << false;
    QTest::newRow("enabled, beside the star") << true << QPoint(30, 20) << false << true;
    QTest::newRow("disabled, star") << false << QPoint(10, 10) << true << false;
    QTest::newRow("disabled, below the star") << false << QPoint(10, 25) << false << false;
}

void tst_ServerPicker::clicks()
{
    QFETCH(bool, enabled);
    QFETCH(QPoint, pos);
    QFETCH(bool, toggles);
    QFETCH(bool, opens);
    TovraServerModel model({Server("A", "NL"), Server("B", "DE")});
    QWidget window;
    auto *picker = new TovraServersComboBox(&window);
    picker->setModel(&model);
    picker->resize(300, 48);
    picker->setEnabled(enabled);
    window.show();
    QSignalSpy spy(picker, &TovraServersComboBox::favoriteStateChanged);
    QTest::mouseClick(picker, Qt::LeftButton, Qt::NoModifier, pos);
    QCOMPARE(spy.count(), toggles ? 1 : 0);
    QCOMPARE(picker->view()->isVisible(), opens);
    QWheelEvent wheel(QPointF(40, 20), picker->mapToGlobal(QPoint(40, 20)), {}, {0, -120}, {}, {}, {}, false);
    QApplication::sendEvent(picker, &wheel);
    QCOMPARE(picker->currentIndex(), 0);
}

void tst_ServerPicker::painting()
{
    QPixmap magenta(8, 8), cyan(8, 8);
    magenta.fill(Qt::magenta);
    cyan.fill(Qt::cyan);
    QList<TovraServer> rows{Server("Netherlands", "NL"), Server("Netherlands", "NL"), Server("Germany", "DE", false)};
    rows[0].isFavorite = true;
    rows[0].featureIcon = magenta;
    rows[0].loadIcon = cyan;
    TovraServerModel model(rows);
    TovraServersComboBox picker;
    picker.setModel(&model);
    picker.resize(320, 48);
    QImage image = picker.grab().toImage();
    QStyleOptionComboBox option;
    option.initFrom(&picker);
    const QRect field = picker.style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField);
    const QPoint icon = field.topLeft() + QPoint(3, 6);
    QVERIFY(Near(image.pixelColor(icon + QPoint(11, 13)), Star) &&
            Near(image.pixelColor(icon + QPoint(41, 6)), FlagRed));
    QCOMPARE(image.pixelColor(field.right() - 76 + 4, field.top() + 12 + 4), QColor(Qt::magenta));
    QCOMPARE(image.pixelColor(field.right() - 24 + 4, field.top() + 14 + 4), QColor(Qt::cyan));
    QTextDocument name; // names are shown as they are, not read as markup
    name.setHtml(TovraComboBoxDelegate::RowRichText(QStringLiteral("Bosnia & <b>Herzegovina"), false));
    QCOMPARE(name.toPlainText(), QStringLiteral("Bosnia & <b>Herzegovina"));

    // The open list: row 0 is the picker's current row, row 1 (same name) is hovered, row 2 is disabled.
    QListView view;
    view.setModel(&model);
    view.setIconSize(QSize(56, 29));
    view.setItemDelegate(new TovraComboBoxDelegate(&picker, &view));
    view.resize(320, 200);
    view.setCurrentIndex(model.index(1));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    image = view.viewport()->grab().toImage();
    const QRect current = view.visualRect(model.index(0)), hovered = view.visualRect(model.index(1));
    const QRect disabled = view.visualRect(model.index(2));
    QCOMPARE(image.pixelColor(current.center().x(), current.top() + 1), QColor(226, 231, 235));
    QVERIFY(image.pixelColor(hovered.center().x(), hovered.top() + 4) != QColor(226, 231, 235));
    QCOMPARE(image.pixelColor(current.center().x(), current.bottom()), QColor(239, 239, 239));
    QCOMPARE(image.pixelColor(hovered.center().x(), hovered.top() + 1), QColor(249, 163, 71));
    QCOMPARE(image.pixelColor(hovered.left() + 2, hovered.center().y()), QColor(249, 163, 71));
    // Text of a live row is blue-grey, of a disabled row grey.
    const QImage liveText = image.copy(hovered.adjusted(70, 3, -90, -3)),
                 grayText = image.copy(disabled.adjusted(70, 3, -90, -3));
    QImage blank(grayText.size(), grayText.format());
    blank.fill(Qt::white);
    QVERIFY(!liveText.allGray() && grayText.allGray() && grayText != blank);
}

QTEST_MAIN(tst_ServerPicker)
#include "tst_serverpicker.moc"
