#include "ui_test_support.h"

#include <QApplication>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTest>

#include <memory>

using dazoroz::ui::NamesCheckList;
using namespace dazoroz::ui::testing;

namespace {

// Everything the list tells the main window, in order, with the selection at that moment.
class EventLog {
public:
    explicit EventLog(NamesCheckList& list) : list_(list) {
        QObject::connect(&list, &NamesCheckList::stateChanged, &context_,
                         [this](int row, bool oldChecked, bool newChecked) {
                             events.append(QStringLiteral("state %1 %2->%3")
                                               .arg(row)
                                               .arg(int{oldChecked})
                                               .arg(int{newChecked}));
                         });
        QObject::connect(&list, &NamesCheckList::listClicked, &context_, [this] {
            events.append(QStringLiteral("click sel=%1").arg(list_.selectedRow()));
        });
        QObject::connect(&list, &NamesCheckList::listDoubleClicked, &context_, [this] {
            events.append(QStringLiteral("dblclick sel=%1").arg(list_.selectedRow()));
        });
    }
    QStringList events;

private:
    NamesCheckList& list_;
    QObject context_; // disconnects the log when it goes
};

// The check box as the style places it for a row, computed here independently of the list.
QRect styleCheckRect(NamesCheckList& list, int row) {
    const QModelIndex index = list.model()->index(row, 0);
    QStyleOptionViewItem opt;
    opt.initFrom(&list);
    opt.widget = &list;
    opt.rect = list.visualRect(index);
    opt.font = list.font();
    opt.fontMetrics = QFontMetrics(list.font());
    opt.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    opt.checkState = index.data(Qt::CheckStateRole).value<Qt::CheckState>();
    opt.text = index.data().toString();
    opt.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    return list.style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, &list);
}

} // namespace

class TestNamesCheckList : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<NamesCheckList> list;

    // Ann, 1 / bob, 2 / Cy, 3 / dee, 4 on screen at the main window's size.
    void makeList() {
        list = std::make_unique<NamesCheckList>();
        list->resize(185, 179);
        for (const char* e : {"Cy, 3", "dee, 4", "bob, 2", "Ann, 1"})
            list->addEntry(e);
        list->show();
        QVERIFY(QTest::qWaitForWindowExposed(list.get()));
    }
    QPoint boxCentre(int row) { return styleCheckRect(*list, row).center(); }
    QPoint textPoint(int row) {
        const QRect box = styleCheckRect(*list, row);
        return {box.right() + 30, box.center().y()};
    }

private slots:
    void init() { makeList(); }
    void cleanup() { list.reset(); }

    void clickOnRow_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("where");
        QTest::addColumn<bool>("checkedBefore");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<bool>("checkedAfter");
        const auto add = [](const char* tag, int row, const char* where, bool before,
                            const QStringList& expected, bool after) {
            QTest::newRow(tag) << row << QString::fromLatin1(where) << before << expected << after;
        };
        add("box of unchecked", 1, "centre", false, {"state 1 0->1", "click sel=1"}, true);
        add("box of checked", 2, "centre", true, {"state 2 1->0", "click sel=2"}, false);
        add("box, top left pixel", 0, "topLeft", false, {"state 0 0->1", "click sel=0"}, true);
        add("box, bottom right pixel", 3, "bottomRight", false, {"state 3 0->1", "click sel=3"},
            true);
        add("just right of the box", 1, "rightOutside", false, {"click sel=1"}, false);
        add("just left of the box", 1, "leftOutside", true, {"click sel=1"}, true);
        add("text of unchecked", 1, "text", false, {"click sel=1"}, false);
        add("text of checked", 2, "text", true, {"click sel=2"}, true);
    }
    void clickOnRow() {
        QFETCH(int, row);
        QFETCH(QString, where);
        QFETCH(bool, checkedBefore);
        QFETCH(QStringList, expected);
        QFETCH(bool, checkedAfter);
        list->setChecked(row, checkedBefore);
        EventLog log(*list);
        const QRect box = styleCheckRect(*list, row);
        const QHash<QString, QPoint> points{{"centre", box.center()},
                                            {"topLeft", box.topLeft()},
                                            {"bottomRight", box.bottomRight()},
                                            {"rightOutside", {box.right() + 1, box.center().y()}},
                                            {"leftOutside", {box.left() - 1, box.center().y()}},
                                            {"text", textPoint(row)}};
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, points.value(where));
        QCOMPARE(log.events, expected);
        QCOMPARE(list->isChecked(row), checkedAfter);
        QCOMPARE(list->selectedRow(), row);
        QVERIFY(list->hasFocus());
    }

    void clickBelowTheLastRowOrRightClickDoesNothing() {
        list->setSelectedRow(1);
        EventLog log(*list);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(30, 16 * 4 + 20));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(8, 16 * 4 + 5));
        QTest::mouseClick(list->viewport(), Qt::RightButton, {}, boxCentre(2));
        QCOMPARE(log.events, QStringList{});
        QCOMPARE(list->selectedRow(), 1);
        QCOMPARE(list->checkedCount(), 0);
    }

    void dragDoesNotMoveTheSelection() {
        EventLog log(*list);
        QTest::mousePress(list->viewport(), Qt::LeftButton, {}, textPoint(0));
        QTest::mouseMove(list->viewport(), textPoint(2));
        QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, textPoint(2));
        QCOMPARE(log.events, QStringList{"click sel=0"});
        QCOMPARE(list->selectedRow(), 0);
    }

    void realDoubleClick_data() {
        QTest::addColumn<bool>("onBox");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("box: one toggle, then double-click")
            << true << QStringList{"state 2 0->1", "click sel=2", "dblclick sel=2"};
        QTest::newRow("text: click, then double-click")
            << false << QStringList{"click sel=2", "dblclick sel=2"};
    }
    void realDoubleClick() {
        QFETCH(bool, onBox);
        QFETCH(QStringList, expected);
        EventLog log(*list);
        ::realDoubleClick(list->viewport(), onBox ? boxCentre(2) : textPoint(2));
        QCOMPARE(log.events, expected);
        QCOMPARE(list->isChecked(2), onBox);
        QCOMPARE(list->checkedCount(), onBox ? 1 : 0);
    }

    void typedCharacter_data() {
        QTest::addColumn<int>("selected");
        QTest::addColumn<bool>("checkedBefore");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<bool>("checkedAfter");
        const auto row = [](const char* tag, int selected, bool before, Qt::Key key,
                            const char* text, int modifiers, const QStringList& expected,
                            bool after) {
            QTest::newRow(tag) << selected << before << int{key} << QString::fromLatin1(text)
                               << modifiers << expected << after;
        };
        const int none = Qt::NoModifier;
        row("blank on checked", 1, true, Qt::Key_Space, " ", none, {"state 1 1->0", "click sel=1"},
            false);
        row("blank on unchecked", 1, false, Qt::Key_Space, " ", none,
            {"state 1 0->1", "click sel=1"}, true);
        row("letter toggles, no search", 0, false, Qt::Key_D, "d", none,
            {"state 0 0->1", "click sel=0"}, true);
        row("digit", 3, true, Qt::Key_1, "1", none, {"state 3 1->0", "click sel=3"}, false);
        row("no row selected", -1, false, Qt::Key_Space, " ", none, {}, false);
        row("Ctrl+blank is no character", 1, false, Qt::Key_Space, " ", int{Qt::ControlModifier},
            {}, false);
        row("Alt+letter is a mnemonic", 1, false, Qt::Key_A, "a", int{Qt::AltModifier}, {}, false);
        row("Return is no character", 1, false, Qt::Key_Return, "\r", none, {}, false);
    }
    void typedCharacter() {
        QFETCH(int, selected);
        QFETCH(bool, checkedBefore);
        QFETCH(int, key);
        QFETCH(QString, text);
        QFETCH(int, modifiers);
        QFETCH(QStringList, expected);
        QFETCH(bool, checkedAfter);
        const int row = selected >= 0 ? selected : 1;
        list->setChecked(row, checkedBefore);
        list->setSelectedRow(selected);
        list->setFocus();
        EventLog log(*list);
        QKeyEvent press(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers), text);
        QApplication::sendEvent(list.get(), &press);
        QCOMPARE(log.events, expected);
        QCOMPARE(list->isChecked(row), checkedAfter);
        QCOMPARE(list->selectedRow(), selected);
    }

    void arrowKeysRaiseClick() {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, textPoint(0));
        EventLog log(*list);
        QTest::keyClick(list.get(), Qt::Key_Down);
        QTest::keyClick(list.get(), Qt::Key_Down);
        QTest::keyClick(list.get(), Qt::Key_Up);
        QTest::keyClick(list.get(), Qt::Key_End);
        QTest::keyClick(list.get(), Qt::Key_Down); // already at the end: nothing moves
        QTest::keyClick(list.get(), Qt::Key_Home);
        QTest::keyClick(list.get(), Qt::Key_Up); // already at the top
        QCOMPARE(log.events, (QStringList{"click sel=1", "click sel=2", "click sel=1",
                                          "click sel=3", "click sel=0"}));
        QCOMPARE(list->checkedCount(), 0);
    }

    void programSettingRaisesStateChangeEveryTime() {
        EventLog log(*list);
        list->setChecked(0, true);
        list->setChecked(0, true);
        list->setChecked(0, false);
        list->setChecked(3, false);
        QCOMPARE(log.events,
                 (QStringList{"state 0 0->1", "state 0 1->1", "state 0 1->0", "state 3 0->0"}));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, list->setChecked(4, true));
        QCOMPARE(log.events.size(), 4);
    }

    void marksAndSelectionStayWithTheirEntries() {
        list->setChecked(1, true); // bob
        list->setChecked(3, true); // dee
        list->setSelectedRow(2);   // Cy
        QCOMPARE(list->addEntry("Ax, 9"), 1);
        QCOMPARE(list->addEntry("Zed, 7"), 5);
        QCOMPARE(list->addEntry("BOB, 2"), 2); // equal but for case: ordered by the exact text
        QCOMPARE(checkListRows(*list), (QStringList{"Ann, 1", "Ax, 9", "BOB, 2", "bob, 2 [x]",
                                                    "Cy, 3", "dee, 4 [x]", "Zed, 7"}));
        QCOMPARE(list->selectedRow(), 4);
        QCOMPARE(QString::fromStdString(list->text(list->selectedRow())), "Cy, 3");

        list->removeEntry(3); // the checked bob goes with its mark
        QCOMPARE(checkListRows(*list),
                 (QStringList{"Ann, 1", "Ax, 9", "BOB, 2", "Cy, 3", "dee, 4 [x]", "Zed, 7"}));
        QCOMPARE(list->checkedCount(), 1);
        QCOMPARE(list->selectedRow(), 3);

        list->removeEntry(3); // the selected entry: no row is selected after
        QCOMPARE(list->selectedRow(), -1);
        QCOMPARE(checkListRows(*list),
                 (QStringList{"Ann, 1", "Ax, 9", "BOB, 2", "dee, 4 [x]", "Zed, 7"}));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, list->removeEntry(5));
        QCOMPARE(list->count(), 5);

        // A blank typed now toggles nothing: no row is selected.
        EventLog log(*list);
        QTest::keyClick(list.get(), Qt::Key_Space);
        QCOMPARE(log.events, QStringList{});
    }

    void noHorizontalScrollingVerticalWhenNeeded() {
        QVERIFY(!list->verticalScrollBar()->isVisible());
        list->addEntry(std::string(400, 'W') + ", 1");
        for (int i = 0; i < 20; ++i)
            list->addEntry("name " + std::to_string(i) + ", " + std::to_string(i));
        QCoreApplication::processEvents();
        QTRY_VERIFY(list->verticalScrollBar()->isVisible());
        QVERIFY(!list->horizontalScrollBar()->isVisible());
        QCOMPARE(list->horizontalScrollBar()->maximum(), 0);
        list->scrollToBottom();
        QCOMPARE(list->horizontalScrollBar()->value(), 0);
    }

    // Emptied, then loaded: rows show the file's bytes as UTF-8 plain text, never as markup.
    void clearingAndLoadingTheNamesFile() {
        writeFile(QStringLiteral("names.txt"),
                  "bob, 2\r\n<img src=x>, 5\r\nAlice, 1\r\n\r\nZo\xc3\xab, 3\r\n<b>x</b>, 4\r\n");
        list->setChecked(1, true);
        list->setSelectedRow(1);
        list->clearEntries();
        QCOMPARE(list->checkedCount(), 0);
        QCOMPARE(list->selectedRow(), -1);
        {
            // An empty list takes no keys or clicks.
            EventLog log(*list);
            QTest::keyClick(list.get(), Qt::Key_Down);
            QTest::keyClick(list.get(), Qt::Key_Space);
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(8, 8));
            QCOMPARE(log.events, QStringList{});
        }
        list->namesModel().loadNames();
        const QStringList expected{"",         "<b>x</b>, 4", "<img src=x>, 5",
                                   "Alice, 1", "bob, 2",      QStringLiteral("Zoë, 3")};
        QCOMPARE(checkListRows(*list), expected);
        QStringList shown;
        for (int r = 0; r < list->count(); ++r)
            shown << list->model()->index(r, 0).data().toString();
        QCOMPARE(shown, expected);
        QCOMPARE(list->checkedCount(), 0);
        QCOMPARE(list->selectedRow(), -1);
        list->setChecked(2, true);
        QVERIFY(list->namesModel().saveNames());
        QCOMPARE(readFile(QStringLiteral("names.txt")),
                 "\r\n<b>x</b>, 4\r\n<img src=x>, 5\r\nAlice, 1\r\nbob, 2\r\nZo\xc3\xab, 3\r\n");
    }

    void hundredThousandEntriesShowAndScroll() {
        QByteArray bytes;
        for (int i = 100000; i > 0; --i)
            bytes += "name " + QByteArray::number(i) + ", " + QByteArray::number(i) + "\r\n";
        writeFile(QStringLiteral("names.txt"), bytes);
        list->clearEntries();
        list->namesModel().loadNames();
        QCOMPARE(list->count(), 100000);
        list->scrollToBottom();
        QCoreApplication::processEvents();
        const int last = list->count() - 1;
        const QRect lastRect = list->visualRect(list->model()->index(last, 0));
        QVERIFY(list->viewport()->rect().contains(lastRect));
        EventLog log(*list);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          styleCheckRect(*list, last).center());
        QCOMPARE(log.events, (QStringList{QStringLiteral("state %1 0->1").arg(last),
                                          QStringLiteral("click sel=%1").arg(last)}));
        QTest::keyClick(list.get(), Qt::Key_Home);
        QCOMPARE(list->selectedRow(), 0);
        QVERIFY(list->viewport()->rect().contains(list->visualRect(list->model()->index(0, 0))));
    }
};

QTEST_MAIN(TestNamesCheckList)
#include "test_names_checklist.moc"
