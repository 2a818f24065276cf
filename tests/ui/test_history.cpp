// The History window over four pages kept before the history was turned off: the menu item, the
// note on turning it on, the filter, Send Again, Export (parsed back) and Clear.

#include "mainwin_fixture.h"

#include "store/history.h"
#include "ui/history.h"

#include <QAction>
#include <QComboBox>
#include <QMenuBar>
#include <QMessageBox>
#include <QTableView>

using namespace dazoroz;
using namespace dazoroz::ui;
using namespace dazoroz::ui::testing;

class TestHistory : public QObject {
    Q_OBJECT

private slots:
    void keptPages() {
        QTemporaryDir state;
        qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
        {
            store::History history(store::historyFilePath());
            using O = store::Outcome;
            for (auto [name, id, message, outcome] :
                 {std::tuple{"Ann", "111", "Disk full\r\non db1", O::accepted},
                  {"bob", "222", "Call me, \"now\"", O::refused},
                  {"", "5551234", "Typed\x01", O::failed},
                  {"Zed", "999", "x", O::cancelled}}) {
                store::PageRow row{0, {},  {},  "cli", name, id,      message,
                                   1, "s", 444, false, {},   outcome, "550"};
                history.insert(row);
            }
        }
        Program p(iniText("127.0.0.1", 444, 60), "Ann, 111\r\nbob, 222\r\nCy, 333\r\n");
        QVERIFY(p.show());
        QAction* item = p.main().menuBar()->actions().last();
        QCOMPARE(item->text(), QStringLiteral("History"));
        item->trigger();
        auto* form = p.main().findChild<ThistoryForm*>(QStringLiteral("historyForm"));
        QVERIFY(form != nullptr && form->isVisible());
        auto* note = child<QLabel>(form, "historyNote");
        QVERIFY(note->isVisible());
        QVERIFY(note->text().contains("tick \"Keep a history of sent pages\""));

        const auto column = [&](int c) {
            QStringList texts;
            for (int r = 0; r < form->model().rowCount(); ++r)
                texts << form->model().index(r, c).data().toString();
            return texts;
        };
        QCOMPARE(column(HistoryModel::Message),
                 (QStringList{"x", "Typed\\x01", "Call me, \"now\"", "Disk full"}));
        const QModelIndex disk = form->model().index(3, HistoryModel::Message);
        QVERIFY(disk.data(Qt::ToolTipRole).toString().contains("Disk full<br>on db1"));
        const auto filterBy = [&](const QString& text, int outcome) {
            auto* filter = child<QLineEdit>(form, "filterEdit");
            filter->clear();
            QTest::keyClicks(filter, text);
            child<QComboBox>(form, "outcomeCombo")->setCurrentIndex(outcome);
            return column(HistoryModel::PagerID);
        };
        QCOMPARE(filterBy("", 1), (QStringList{"999", "5551234", "222"}));
        QCOMPARE(filterBy("ANN", 0), QStringList{"111"});
        filterBy("", 0);

        const auto sendAgain = [&](const QList<int>& rows) {
            auto* table = child<QTableView>(form, "historyTable");
            table->clearSelection();
            for (const int r : rows)
                table->selectionModel()->select(form->model().index(r, 0),
                                                QItemSelectionModel::Select |
                                                    QItemSelectionModel::Rows);
            QTest::mouseClick(child<QPushButton>(form, "sendAgainButton"), Qt::LeftButton);
        };
        sendAgain({1});
        QCOMPARE(p.mode(), QStringLiteral("single 5551234"));
        QCOMPARE(p.memo()->toPlainText(), QStringLiteral("Typed\x01"));
        sendAgain({0, 2, 3});
        QCOMPARE(p.mode(), QStringLiteral("multi"));
        QCOMPARE(p.rows(), (QStringList{"Ann, 111 [x]", "bob, 222 [x]", "Cy, 333"}));
        QCOMPARE(p.main().statusBarText(), QStringLiteral("Not in the names list: Zed, 999"));
        QCOMPARE(p.memo()->toPlainText(), QStringLiteral("x"));

        const QString file = state.filePath(QStringLiteral("out.csv"));
        QVERIFY(form->exportTo(file));
        // The rows shown, newest first (the CSV quoting is the store's own test).
        const QByteArray csv = readFile(file);
        QVERIFY(csv.startsWith("time,program,name,pager_id,message,"));
        qsizetype at = 0;
        for (const char* row :
             {",cli,Zed,999,x,", ",cli,,5551234,Typed\x01,",
              ",cli,bob,222,\"Call me, \"\"now\"\"\",", ",cli,Ann,111,\"Disk full\r\non db1\","})
            QVERIFY2((at = csv.indexOf(row, at)) >= 0, row);

        auto* confirm = form->findChild<QMessageBox*>(QStringLiteral("clearConfirm"));
        for (const auto button : {QMessageBox::No, QMessageBox::Yes}) {
            ModalDriver driver(confirm, [&] { confirm->button(button)->click(); });
            QTest::mouseClick(child<QPushButton>(form, "clearButton"), Qt::LeftButton);
            QCOMPARE(form->model().rowCount(), button == QMessageBox::No ? 4 : 0);
        }
        QVERIFY(QFile::exists(QString::fromStdString(store::historyFilePath())));
    }
};

QTEST_MAIN(TestHistory)
#include "test_history.moc"
