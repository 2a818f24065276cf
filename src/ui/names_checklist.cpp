#include "names_checklist.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyle>

namespace dazoroz::ui {

namespace {

constexpr int kRowHeight = 16;

// Ends a model reset even when the work in between throws.
class ResetScope {
public:
    ResetScope(NamesListModel& model, void (NamesListModel::*end)()) : model_(model), end_(end) {}
    ~ResetScope() { (model_.*end_)(); }
    ResetScope(const ResetScope&) = delete;
    ResetScope& operator=(const ResetScope&) = delete;

private:
    NamesListModel& model_;
    void (NamesListModel::*end_)();
};

// A key that types a character: printable text, without Ctrl or Alt (shortcuts, mnemonics).
bool typesCharacter(const QKeyEvent* event) {
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    const QString text = event->text();
    return !text.isEmpty() && text.front().isPrint();
}

} // namespace

// --- model ---------------------------------------------------------------------------------

NamesListModel::NamesListModel(QObject* parent) : QAbstractListModel(parent) {}

int NamesListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : names_.size();
}

QVariant NamesListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= names_.size())
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: {
        const std::string& t = names_.text(index.row());
        return QString::fromUtf8(t.data(), static_cast<qsizetype>(t.size()));
    }
    case Qt::CheckStateRole:
        return names_.isChecked(index.row()) ? Qt::Checked : Qt::Unchecked;
    case Qt::SizeHintRole:
        // Rows are as wide as the view: no horizontal scrolling.
        return QSize(1, kRowHeight);
    default:
        return {};
    }
}

Qt::ItemFlags NamesListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable |
           Qt::ItemNeverHasChildren;
}

void NamesListModel::setChecked(int row, bool checked) {
    const bool old = names_.isChecked(row); // throws for a bad row
    names_.setChecked(row, checked);
    if (old != checked) {
        const QModelIndex i = index(row);
        emit dataChanged(i, i, {Qt::CheckStateRole});
    }
    emit markSet(row, old, checked);
}

int NamesListModel::add(std::string text) {
    const int row = names_.insertionRow(text);
    beginInsertRows(QModelIndex(), row, row);
    const int added = names_.add(std::move(text));
    endInsertRows();
    Q_ASSERT(added == row);
    return added;
}

void NamesListModel::removeAt(int row) {
    names_.text(row); // throws for a bad row, before any notification
    beginRemoveRows(QModelIndex(), row, row);
    names_.removeAt(row);
    endRemoveRows();
}

void NamesListModel::clear() {
    beginResetModel();
    ResetScope end(*this, &NamesListModel::endResetModel);
    names_.clear();
}

void NamesListModel::loadNames(const std::filesystem::path& file) {
    beginResetModel();
    ResetScope end(*this, &NamesListModel::endResetModel);
    store::loadNames(names_, file);
}

bool NamesListModel::saveNames(const std::filesystem::path& file) const {
    return store::saveNames(names_, file);
}

// --- delegate ------------------------------------------------------------------------------

QRect NamesCheckDelegate::checkBoxRect(const QStyleOptionViewItem& option,
                                       const QModelIndex& index) const {
    // The same computation as the delegate's own check handling.
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    const QWidget* widget = option.widget;
    const QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    return style->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, widget);
}

bool NamesCheckDelegate::editorEvent(QEvent*, QAbstractItemModel*, const QStyleOptionViewItem&,
                                     const QModelIndex&) {
    return false;
}

// --- view ----------------------------------------------------------------------------------

NamesCheckList::NamesCheckList(QWidget* parent) : QListView(parent), delegate_(this) {
    setObjectName(QStringLiteral("namesListbox"));
    setModel(&model_);
    setItemDelegate(&delegate_);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragDropMode(QAbstractItemView::NoDragDrop);
    setUniformItemSizes(true); // large lists lay out and scroll in constant time per row
    setTextElideMode(Qt::ElideNone);
    setWordWrap(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFocusPolicy(Qt::StrongFocus);
    // White rows and check boxes whatever the window's background.
    QPalette pal = palette();
    pal.setColor(QPalette::Base, Qt::white);
    pal.setColor(QPalette::Text, pal.color(QPalette::WindowText));
    setPalette(pal);
    connect(&model_, &NamesListModel::markSet, this, &NamesCheckList::stateChanged);
}

int NamesCheckList::selectedRow() const {
    const QModelIndex current = currentIndex();
    if (!current.isValid() || !selectionModel()->isSelected(current))
        return -1;
    return current.row();
}

void NamesCheckList::setSelectedRow(int row) {
    if (row < 0 || row >= count()) {
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::Clear);
        return;
    }
    selectionModel()->setCurrentIndex(model_.index(row), QItemSelectionModel::ClearAndSelect |
                                                             QItemSelectionModel::Rows);
}

int NamesCheckList::addEntry(std::string text) {
    return model_.add(std::move(text));
}

void NamesCheckList::removeEntry(int row) {
    if (row >= 0 && row == currentIndex().row())
        setSelectedRow(-1); // the selection goes with its entry, to no other row
    model_.removeAt(row);
}

void NamesCheckList::clearEntries() {
    setSelectedRow(-1);
    model_.clear();
}

QRect NamesCheckList::checkBoxRect(int row) const {
    if (row < 0 || row >= count())
        return {};
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QModelIndex index = model_.index(row);
    option.rect = visualRect(index);
    return delegate_.checkBoxRect(option, index);
}

void NamesCheckList::toggle(int row) {
    model_.setChecked(row, !model_.names().isChecked(row));
}

void NamesCheckList::mousePressEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton)
        return;
    const QModelIndex index = indexAt(event->position().toPoint());
    if (!index.isValid())
        return;
    const int row = index.row();
    if (checkBoxRect(row).contains(event->position().toPoint()))
        toggle(row);
    setSelectedRow(row);
    emit listClicked();
}

void NamesCheckList::mouseReleaseEvent(QMouseEvent* event) {
    // Everything happened at the press; the base class would toggle marks here.
    event->accept();
}

void NamesCheckList::mouseMoveEvent(QMouseEvent* event) {
    // No drag selection, no drag and drop.
    event->accept();
}

void NamesCheckList::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton)
        return;
    if (indexAt(event->position().toPoint()).isValid())
        emit listDoubleClicked();
}

void NamesCheckList::keyPressEvent(QKeyEvent* event) {
    if (typesCharacter(event)) {
        event->accept();
        if (const int row = selectedRow(); row >= 0) {
            toggle(row);
            emit listClicked();
        }
        return;
    }
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Select) {
        event->accept(); // with Ctrl the base class would take the selection away
        return;
    }
    const int before = selectedRow();
    QListView::keyPressEvent(event);
    if (const int after = selectedRow(); after >= 0 && after != before)
        emit listClicked();
}

void NamesCheckList::keyboardSearch(const QString&) {
    // Typed characters toggle marks; they never move the selection.
}

} // namespace dazoroz::ui
