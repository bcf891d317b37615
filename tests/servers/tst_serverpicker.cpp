#include <QListView>
#include <QPushButton>
#include <QTextDocument>
#include <QtTest>

#include "app/appcontext.h"
#include "logcapture.h"
#include "servers/tovracomboboxdelegate.h"
#include "servers/tovraservermanager.h"
#include "servers/tovraservermodel.h"
#include "servers/tovraserverscombobox.h"

static const QColor FlagRed(174, 28, 40), Star(247, 145, 0), HoverFrame(249, 163, 71), CurrentFill(226, 231, 235),
    Line(239, 239, 239), LiveText(0x5b, 0x71, 0x78);

static TovraServer Server(const char *name, const char *code, bool alive = true, int load = 0)
{
    TovraServer s;
    s.displayName = s.key = QLatin1String(name);
    s.countryCode = QLatin1String(code);
    s.isAlive = alive;
    s.loadPercentage = load;
    return s;
}

// Whether some pixel is close to the colour.
static bool Has(const QImage &image, const QColor &c)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    const auto *px = reinterpret_cast<const QRgb *>(rgb.constBits());
    return std::any_of(px, px + rgb.width() * rgb.height(), [&c](QRgb p) {
        return qAbs(qRed(p) - c.red()) + qAbs(qGreen(p) - c.green()) + qAbs(qBlue(p) - c.blue()) <= 30;
    });
}

class tst_ServerPicker : public QObject
{
    Q_OBJECT

private slots:
    void model();
    void clicks();
    void painting();
};

void tst_ServerPicker::model()
{
    TovraServerModel model({Server("A", "NL"), Server("Germany", "DE", false, 100), Server("C", "US", false, 99)});
    const Qt::ItemFlags selectable = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    QCOMPARE(
        QList<Qt::ItemFlags>({model.flags(model.index(0)), model.flags(model.index(1)), model.flags(model.index(2))}),
        QList<Qt::ItemFlags>({selectable, selectable, Qt::NoItemFlags}));
    // One favourite at a time; rows outside the list are ignored.
    QSignalSpy spy(&model, &QAbstractItemModel::dataChanged);
    for (int row : {0, 2, 3, -1})
        model.SetFavorite(row, true);
    model.SetFavorite(1, false);
    QList<int> changed;
    for (const QList<QVariant> &args : spy)
        changed << args.at(0).toModelIndex().row();
    QCOMPARE(changed, QList<int>({0, 0, 2, 1}));
    QVERIFY(model.server(2).isFavorite && !model.server(0).isFavorite && !model.server(1).isFavorite);
    // The best server goes only to a row of its country, and only with the smart list on.
    TovraServer best = Server("", "DE", true, 70);
    best.shortName = QStringLiteral("de7");
    best.ip = QStringLiteral("10.0.0.7");
    spy.clear();
    for (const auto &[smart, row, code] :
         {std::tuple{true, 1, "DE"}, {true, 1, "NL"}, {true, 3, "DE"}, {false, 1, "DE"}}) {
        AppContext::instance()->config()->smartServerList = smart;
        best.countryCode = QLatin1String(code);
        model.UpdateSmartCategory(row, best);
    }
    QCOMPARE(spy.size(), 1);
    const TovraServer updated = model.server(1);
    QCOMPARE(updated.shortName + updated.ip + updated.displayName + QString::number(updated.loadPercentage),
             "de710.0.0.7Germany70");
    // A rebuilt model replaces the context's previous one (the smart list is off now).
    AppContext *context = AppContext::instance();
    context->serverManager()->SetServerLists({Server("A", "NL")}, {}, {}, {});
    QPointer<TovraServerModel> first = context->RebuildServerModel();
    TovraServerModel *second = context->RebuildServerModel();
    QVERIFY(first.isNull() && context->serverModel() == second && second->rowCount() == 1);
}

void tst_ServerPicker::clicks()
{
    TovraServerModel model({Server("A", "NL"), Server("B", "DE")});
    // Enabled, where pressed, whether the star toggles, whether the list opens.
    for (const auto &[enabled, pos, toggles, opens] : {std::tuple{true, QPoint(10, 20), true, false},
                                                       {true, QPoint(30, 20), false, true},
                                                       {false, QPoint(10, 10), true, false},
                                                       {false, QPoint(10, 25), false, false}}) {
        QPushButton window; // takes any press the picker lets through
        auto *picker = new TovraServersComboBox(&window);
        picker->setModel(&model);
        picker->resize(300, 48);
        picker->setEnabled(enabled);
        window.resize(300, 48);
        window.show();
        QSignalSpy spy(picker, &TovraServersComboBox::favoriteStateChanged), through(&window, &QPushButton::pressed);
        QTest::mouseClick(picker, Qt::LeftButton, Qt::NoModifier, pos);
        QCOMPARE(QList<int>({spy.count(), through.count()}), QList<int>({toggles ? 1 : 0, 0}));
        QCOMPARE(picker->view()->isVisible(), opens);
        QWheelEvent wheel(QPointF(40, 20), picker->mapToGlobal(QPoint(40, 20)), {}, {0, -120}, {}, {}, {}, false);
        QApplication::sendEvent(picker, &wheel);
        QCOMPARE(picker->currentIndex(), 0);
    }
}

void tst_ServerPicker::painting()
{
    LogCapture log;
    const auto decoration = [](const char *code, bool favorite) {
        return TovraServerModel::DecorationPixmap(QLatin1String(code), favorite).toImage();
    };
    QVERIFY(Has(decoration("NL", true), FlagRed) && !Has(decoration("NL", false), Star));
    // A code without a flag keeps its star; no flag painted earlier shows through; the missing file is tried once.
    QVERIFY(Has(decoration("QQ", true), Star) && !Has(decoration("QQ", true), FlagRed));
    QCOMPARE(LogCapture::lines().filter(QStringLiteral("QQ.png")).size(), 1);

    QPixmap magenta(8, 8), cyan(8, 8);
    magenta.fill(Qt::magenta);
    cyan.fill(Qt::cyan);
    QList<TovraServer> rows{Server("Netherlands", "NL"), Server("Netherlands", "NL"), Server("Germany", "DE", false)};
    rows[0].featureIcon = magenta;
    rows[0].loadIcon = cyan;
    TovraServerModel model(rows);
    TovraServersComboBox picker;
    picker.setModel(&model);
    picker.resize(320, 48);
    const QImage field = picker.grab().toImage();
    QVERIFY(Has(field, FlagRed) && Has(field, Qt::magenta) && Has(field, Qt::cyan) && Has(field, LiveText));
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
    const QImage image = view.viewport()->grab().toImage();
    const QRect current = view.visualRect(model.index(0)), hovered = view.visualRect(model.index(1));
    // Current row: filled, with a grey bottom line; hovered row: framed, not filled.
    QCOMPARE(QList<QColor>({image.pixelColor(current.center().x(), current.top() + 1),
                            image.pixelColor(current.center().x(), current.bottom()),
                            image.pixelColor(hovered.center().x(), hovered.top() + 1)}),
             QList<QColor>({CurrentFill, Line, HoverFrame}));
    QVERIFY(image.pixelColor(hovered.center().x(), hovered.top() + 4) != CurrentFill);
    // Text of a live row is blue-grey, of a disabled row grey.
    const QImage live = image.copy(hovered.adjusted(70, 3, -90, -3)),
                 gray = image.copy(view.visualRect(model.index(2)).adjusted(70, 3, -90, -3));
    QVERIFY(Has(live, LiveText) && !live.allGray() && Has(gray, Qt::gray) && gray.allGray());
}

QTEST_MAIN(tst_ServerPicker)
#include "tst_serverpicker.moc"
