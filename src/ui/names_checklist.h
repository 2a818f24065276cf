#pragma once

#include "store/names_list.h"

#include <QAbstractListModel>
#include <QListView>
#include <QStyledItemDelegate>

#include <filesystem>
#include <string>

namespace dazoroz::ui {

// The names list as an item model. It holds the program's only copy of the list (a
// store::NamesList) and makes every change through the model's notifications. Rows show the
// entry text unchanged (UTF-8) with a check box for the mark; the list stays sorted.
class NamesListModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit NamesListModel(QObject* parent = nullptr);

    const store::NamesList& names() const noexcept { return names_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Sets the mark of `row` and raises markSet, also when the mark does not change.
    // Throws std::out_of_range for a row that does not exist.
    void setChecked(int row, bool checked);
    // Adds an unchecked entry at its sorted place; returns its row.
    int add(std::string text);
    // Removes `row` and its mark. Throws std::out_of_range for a row that does not exist.
    void removeAt(int row);
    // Removes every row.
    void clear();
    // Adds every line of the names file at its sorted place (the caller empties the list
    // first); a missing or unreadable file adds what could be read, silently.
    void loadNames(const std::filesystem::path& file = store::kNamesFileName);
    // Writes the whole list to the names file; returns whether the file was replaced.
    bool saveNames(const std::filesystem::path& file = store::kNamesFileName) const;

signals:
    // Raised every time a mark is set, by the user or by the program.
    void markSet(int row, bool oldChecked, bool newChecked);

private:
    store::NamesList names_;
};

// Draws the rows and tells where a row's check box is, exactly as the style places it.
class NamesCheckDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // The check box of `index` for a row drawn with `option` (rect = the row's rectangle).
    QRect checkBoxRect(const QStyleOptionViewItem& option, const QModelIndex& index) const;

    // Marks change only through the list's own mouse and key handling.
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
};

// The check list of names (objectName "namesListbox" in the main window). One row per entry,
// 16 pixels high, a check box at the left of each row, at most one selected row, a vertical
// scroll bar when needed and no horizontal scrolling. It behaves as the main window needs:
//
//  - stateChanged(row, old, new) on every setting of a mark (user or program, also unchanged);
//  - a left click inside a row's check box toggles that mark (stateChanged), then selects the
//    row and raises listClicked; a click elsewhere on a row only selects it and raises
//    listClicked; a click below the last row does nothing;
//  - a character typed while the list has the focus (a blank, a letter...) toggles the mark of
//    the selected row, then raises listClicked; with no selected row it does nothing;
//  - moving the selection with the keyboard (arrows, Page Up/Down, Home, End) raises
//    listClicked;
//  - the second click of a double click on a row raises listDoubleClicked only (the first
//    click acted as a single click).
//
// The base class's clicked/doubleClicked/pressed signals are not the list's notifications.
class NamesCheckList : public QListView {
    Q_OBJECT
public:
    explicit NamesCheckList(QWidget* parent = nullptr);

    NamesListModel& namesModel() noexcept { return model_; }
    const store::NamesList& names() const noexcept { return model_.names(); }

    int count() const { return model_.rowCount(); }
    const std::string& text(int row) const { return names().text(row); }
    bool isChecked(int row) const { return names().isChecked(row); }
    int checkedCount() const noexcept { return names().checkedCount(); }
    // Sets a mark (raises stateChanged even when unchanged).
    void setChecked(int row, bool checked) { model_.setChecked(row, checked); }

    // The selected row, or -1 when no row is selected.
    int selectedRow() const;
    // Selects `row`; -1 leaves no row selected.
    void setSelectedRow(int row);

    // Adds an unchecked entry at its sorted place; returns its row. The selection stays with
    // its entry.
    int addEntry(std::string text);
    // Removes an entry and its mark; when it was the selected one, no row is selected after.
    void removeEntry(int row);
    // Removes every entry; no row is selected after.
    void clearEntries();

    // The check box of `row` in viewport coordinates (empty for a row that does not exist).
    QRect checkBoxRect(int row) const;

signals:
    void stateChanged(int row, bool oldChecked, bool newChecked);
    void listClicked();
    void listDoubleClicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyboardSearch(const QString& search) override;

private:
    void toggle(int row);

    NamesListModel model_;
    NamesCheckDelegate delegate_;
};

} // namespace dazoroz::ui
