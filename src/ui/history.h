#pragma once

#include "store/history.h"
#include "store/settings.h"

#include <QAbstractTableModel>
#include <QDialog>
#include <QList>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QMessageBox;
class QPushButton;
class QTableView;

namespace dazoroz::ui {

// One recipient of a page, as Send Again hands it to the main window.
struct PageRecipient {
    QString name; // empty for a typed pager ID
    QString pagerID;
    friend bool operator==(const PageRecipient&, const PageRecipient&) = default;
};

// The history's rows for the table, newest first: the ids of the matching rows are read at
// once, a row's text only when the view shows it, a block of rows at a time, so that a long
// history opens as fast as a short one. Text is shown as plain text, control characters as
// \xNN.
class HistoryModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Time, Recipient, PagerID, Message, Server, Outcome, Reply, ColumnCount };

    explicit HistoryModel(QObject* parent = nullptr);

    // The database to show (none: no rows); the rows are read again.
    void setHistory(store::History* history);
    // Reads the matching rows again. Throws store::HistoryError.
    void setFilter(const store::HistoryFilter& filter);
    const std::vector<std::int64_t>& ids() const noexcept { return ids_; }
    const store::HistoryFilter& filter() const noexcept { return filter_; }
    // The whole row shown at `row`.
    std::optional<store::PageRow> pageRow(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    const store::PageRow* cachedRow(int row) const;

    store::History* history_ = nullptr;
    store::HistoryFilter filter_;
    std::vector<std::int64_t> ids_;
    mutable std::unordered_map<int, std::vector<store::PageRow>> blocks_;
};

// The History window (object "historyForm"): the pages sent from this computer, newest first,
// with a filter (text in any column, as it is typed) and a choice of outcomes. Send Again puts
// the selected rows' message and recipients into the main window (sendAgainRequested); Export...
// writes the rows shown as CSV; Clear... empties the history after a confirmation. With the
// history off it says how to turn it on, and shows the rows kept before, if any. Modeless; the
// rows are read again at every showing and after every send (reload).
class ThistoryForm : public QDialog {
    Q_OBJECT
public:
    explicit ThistoryForm(store::Settings& settings = store::settings(), QWidget* parent = nullptr);
    ~ThistoryForm() override;

    void showOrRaise();
    // Opens the database again (as the settings now say) and reads the rows.
    void reload();
    void filterChange();
    void sendAgainButtonClick();
    void exportButtonClick();
    // Writes the rows shown to `file` as CSV, readable by the user only; false (and an error
    // report) when it cannot.
    bool exportTo(const QString& file);
    void clearButtonClick();

    HistoryModel& model() noexcept { return *model_; }

signals:
    void sendAgainRequested(const QString& message, const QList<PageRecipient>& recipients);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void showProblem(const QString& text);

    store::Settings& settings_;
    std::unique_ptr<store::History> history_;
    HistoryModel* model_;
    QLabel* note_;
    QLineEdit* filterEdit_;
    QComboBox* outcomeCombo_;
    QTableView* table_;
    QPushButton* sendAgainButton_;
    QPushButton* exportButton_;
    QPushButton* clearButton_;
    QLabel* countLabel_;
    QMessageBox* clearConfirm_;
};

} // namespace dazoroz::ui
