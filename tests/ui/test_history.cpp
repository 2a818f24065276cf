// The History window over four recorded pages: the menu item, the filter, Send Again, Export
// (parsed back), Clear, and what it says with the history off.

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

private:
    std::unique_ptr<QTemporaryDir> state_;
    std::unique_ptr<Program> p;
    ThistoryForm* form = nullptr;

    // Four pages in the history, then the program, and History from its menu.
    void start(bool keepHistory) {
        state_ = std::make_unique<QTemporaryDir>();
        qputenv("XDG_STATE_HOME", QFile::encodeName(state_->path()));
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
        p = std::make_unique<Program>(iniText("127.0.0.1", 444, 60) +
                                          (keepHistory ? "keepHistory=1\r\n" : ""),
                                      "Ann, 111\r\nbob, 222\r\nCy, 333\r\n");
        QVERIFY(p->show());
        QAction* item = p->main().menuBar()->actions().last();
        QCOMPARE(item->text(), QStringLiteral("History"));
        item->trigger();
        form = p->main().findChild<ThistoryForm*>(QStringLiteral("historyForm"));
        QVERIFY(form != nullptr && form->isVisible());
    }
    QStringList column(int c) {
        QStringList texts;
        for (int r = 0; r < form->model().rowCount(); ++r)
            texts << form->model().index(r, c).data().toString();
        return texts;
    }
    void sendAgain(const QList<int>& rows) {
        auto* table = child<QTableView>(form, "historyTable");
        table->clearSelection();
        for (const int r : rows)
            table->selectionModel()->select(
                form->model().index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QTest::mouseClick(child<QPushButton>(form, "sendAgainButton"), Qt::LeftButton);
    }

private slots:
    void cleanup() { p.reset(); }

    void filters() {
        start(true);
        QCOMPARE(column(HistoryModel::Message),
                 (QStringList{"x", "Typed\\x01", "Call me, \"now\"", "Disk full"}));
        QVERIFY(form->model()
                    .index(3, HistoryModel::Message)
                    .data(Qt::ToolTipRole)
                    .toString()
                    .contains("Disk full<br>on db1"));
        const struct {
            const char* text;
            int outcome;
            QStringList ids;
        } rows[] = {{"", 1, {"999", "5551234", "222"}},
                    {"", 2, {"111"}},
                    {"ANN", 0, {"111"}},
                    {"db1", 0, {"111"}},
                    {"zz", 0, {}}};
        for (const auto& row : rows) {
            auto* filter = child<QLineEdit>(form, "filterEdit");
            filter->clear();
            QTest::keyClicks(filter, QString::fromUtf8(row.text));
            child<QComboBox>(form, "outcomeCombo")->setCurrentIndex(row.outcome);
            QCOMPARE(column(HistoryModel::PagerID), row.ids);
        }
    }

    void sendsAgain() {
        start(true);
        sendAgain({1});
        QCOMPARE(p->mode(), QStringLiteral("single 5551234"));
        QCOMPARE(p->memo()->toPlainText(), QStringLiteral("Typed\x01"));
        sendAgain({0, 2, 3});
        QCOMPARE(p->mode(), QStringLiteral("multi"));
        QCOMPARE(p->rows(), (QStringList{"Ann, 111 [x]", "bob, 222 [x]", "Cy, 333"}));
        QCOMPARE(p->main().statusBarText(), QStringLiteral("Not in the names list: Zed, 999"));
        QCOMPARE(p->memo()->toPlainText(), QStringLiteral("x"));
    }

    void exportsAndClears() {
        start(true);
        const QString file = state_->filePath(QStringLiteral("out.csv"));
        QVERIFY(form->exportTo(file));
        // RFC 4180 read back: fields split at commas outside quotes, "" inside quotes is one ".
        const QString csv = QString::fromUtf8(readFile(file));
        QStringList records{QString()};
        bool quoted = false;
        for (qsizetype i = 0; i < csv.size(); ++i) {
            if (csv[i] == '"' && !(quoted && csv.mid(i + 1, 1) == "\"" && ++i))
                quoted = !quoted;
            else if (!quoted && csv.mid(i, 2) == "\r\n" && ++i)
                records << QString();
            else
                records.last() += !quoted && csv[i] == ',' ? QChar('|') : csv[i];
        }
        QCOMPARE(records.takeLast(), QString());
        QCOMPARE(records.takeFirst(), QStringLiteral("time|program|name|pager_id|message|parts|"
                                                     "server|port|tls|login_id|outcome|reply"));
        QStringList fields;
        for (const QString& record : records)
            fields << record.section('|', 2, 2) + "/" + record.section('|', 4, 4) + "/" +
                          record.section('|', 10, 10);
        QCOMPARE(fields,
                 (QStringList{"Zed/x/cancelled", "/Typed\x01/failed",
                              "bob/Call me, \"now\"/refused", "Ann/Disk full\r\non db1/accepted"}));

        auto* confirm = form->findChild<QMessageBox*>(QStringLiteral("clearConfirm"));
        for (const auto button : {QMessageBox::No, QMessageBox::Yes}) {
            ModalDriver driver(confirm, [&] { confirm->button(button)->click(); });
            QTest::mouseClick(child<QPushButton>(form, "clearButton"), Qt::LeftButton);
            QCOMPARE(form->model().rowCount(), button == QMessageBox::No ? 4 : 0);
        }
        QVERIFY(QFile::exists(QString::fromStdString(store::historyFilePath())));
    }

    void saysHowToTurnItOn() {
        start(false);
        auto* note = child<QLabel>(form, "historyNote");
        QVERIFY(note->isVisible());
        QVERIFY(note->text().contains("tick \"Keep a history of sent pages\""));
        QCOMPARE(form->model().rowCount(), 4); // the pages kept before stay in view
    }
};

QTEST_MAIN(TestHistory)
#include "test_history.moc"
