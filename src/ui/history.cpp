#include "history.h"

#include "error_report.h"
#include "form_parts.h"

#include "store/file_io.h"
#include "store/printable.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>
#include <QStringList>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <filesystem>
#include <stdexcept>
#include <string_view>
#include <utility>

namespace dazoroz::ui {

namespace {

// Rows are read a block at a time; this many blocks are kept, then all are dropped.
constexpr int kBlockRows = 128;
constexpr std::size_t kKeptBlocks = 64;

constexpr std::array<const char*, HistoryModel::ColumnCount> kHeaders = {
    "Time", "Recipient", "Pager ID", "Message", "Server", "Outcome", "Reply"};
constexpr std::array<int, HistoryModel::ColumnCount> kColumnWidths = {125, 90, 80, 200,
                                                                      110, 70, 150};

const QString kOffNote = QStringLiteral(
    "The history is off: pages are not recorded. To keep a history, open Configure and tick "
    "\"Keep a history of sent pages\" under Optional settings.");

// Text from the database as one line of plain text: control characters as \xNN.
QString shown(std::string_view text) {
    const std::string safe = store::printable(text);
    return QString::fromUtf8(safe.data(), static_cast<qsizetype>(safe.size()));
}

QString fromStd(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

std::string_view firstLine(std::string_view text) {
    return text.substr(0, text.find_first_of("\r\n"));
}

// The whole message for a tooltip, which Qt would take for markup if it looked like some: its
// lines escaped, as rich text.
QString messageTip(std::string_view text) {
    QStringList lines;
    while (true) {
        const std::size_t end = text.find_first_of("\r\n");
        lines << shown(text.substr(0, end)).toHtmlEscaped();
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + (text.substr(end, 2) == "\r\n" ? 2 : 1));
    }
    return QStringLiteral("<p style=\"white-space:pre-wrap\">") +
           lines.join(QStringLiteral("<br>")) + QStringLiteral("</p>");
}

} // namespace

// --- HistoryModel ----------------------------------------------------------------------------

HistoryModel::HistoryModel(QObject* parent) : QAbstractTableModel(parent) {}

void HistoryModel::setHistory(store::History* history) {
    beginResetModel();
    history_ = history;
    ids_.clear();
    blocks_.clear();
    endResetModel();
}

void HistoryModel::setFilter(const store::HistoryFilter& filter) {
    beginResetModel();
    filter_ = filter;
    blocks_.clear();
    ids_.clear();
    try {
        if (history_ != nullptr)
            ids_ = history_->ids(filter_);
    } catch (...) {
        endResetModel();
        throw;
    }
    endResetModel();
}

const store::PageRow* HistoryModel::cachedRow(int row) const {
    if (history_ == nullptr || row < 0 || row >= rowCount())
        return nullptr;
    const int block = row / kBlockRows;
    auto found = blocks_.find(block);
    if (found == blocks_.end()) {
        if (blocks_.size() >= kKeptBlocks)
            blocks_.clear();
        std::vector<store::PageRow> rows;
        const int end = std::min(rowCount(), (block + 1) * kBlockRows);
        try {
            for (int r = block * kBlockRows; r < end; ++r) {
                const auto id = ids_[static_cast<std::size_t>(r)];
                std::optional<store::PageRow> page = history_->row(id);
                rows.push_back(page ? std::move(*page) : store::PageRow{});
            }
        } catch (const std::exception&) {
            return nullptr; // shown empty; the next showing tries again
        }
        found = blocks_.emplace(block, std::move(rows)).first;
    }
    return &found->second[static_cast<std::size_t>(row % kBlockRows)];
}

std::optional<store::PageRow> HistoryModel::pageRow(int row) const {
    const store::PageRow* page = cachedRow(row);
    return page != nullptr && page->id != 0 ? std::optional(*page) : std::nullopt;
}

int HistoryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(ids_.size());
}

int HistoryModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant HistoryModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    const store::PageRow* page = cachedRow(index.row());
    if (page == nullptr)
        return {};
    if (role == Qt::ToolTipRole)
        return index.column() == Message ? QVariant(messageTip(page->message)) : QVariant();
    switch (index.column()) {
    case Time:
        return shown(page->localTime);
    case Recipient:
        return shown(page->name);
    case PagerID:
        return shown(page->pagerID);
    case Message:
        return shown(firstLine(page->message));
    case Server:
        return shown(page->server);
    case Outcome:
        return QString::fromLatin1(store::outcomeName(page->outcome));
    case Reply:
        return shown(page->reply);
    default:
        return {};
    }
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= ColumnCount)
        return {};
    return QString::fromLatin1(kHeaders[static_cast<std::size_t>(section)]);
}

// --- ThistoryForm ----------------------------------------------------------------------------

ThistoryForm::ThistoryForm(store::Settings& settings, QWidget* parent)
    : QDialog(parent, Qt::Window), settings_(settings), model_(new HistoryModel(this)) {
    setObjectName(QStringLiteral("historyForm"));
    setWindowTitle(QStringLiteral("Dazoroz History"));
    resize(860, 420);

    auto* layout = new QVBoxLayout(this);
    note_ = new QLabel(this);
    note_->setObjectName(QStringLiteral("historyNote"));
    note_->setTextFormat(Qt::PlainText);
    note_->setWordWrap(true);
    note_->hide();
    layout->addWidget(note_);

    auto* top = new QHBoxLayout;
    auto* filterLabel = new QLabel(QStringLiteral("&Filter:"), this);
    filterEdit_ = new QLineEdit(this);
    filterEdit_->setObjectName(QStringLiteral("filterEdit"));
    filterEdit_->setPlaceholderText(QStringLiteral("Text in any column"));
    filterEdit_->setClearButtonEnabled(true);
    filterLabel->setBuddy(filterEdit_);
    outcomeCombo_ = new QComboBox(this);
    outcomeCombo_->setObjectName(QStringLiteral("outcomeCombo"));
    outcomeCombo_->addItems(
        {QStringLiteral("All outcomes"), QStringLiteral("Failed"), QStringLiteral("Accepted")});
    outcomeCombo_->setToolTip(
        QStringLiteral("Failed: every page not accepted (refused, failed, cancelled, unknown)"));
    top->addWidget(filterLabel);
    top->addWidget(filterEdit_, 1);
    top->addWidget(outcomeCombo_);
    layout->addLayout(top);

    table_ = new QTableView(this);
    table_->setObjectName(QStringLiteral("historyTable"));
    table_->setModel(model_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setWordWrap(false);
    table_->setAlternatingRowColors(true);
    table_->verticalHeader()->hide();
    // Every row as high as the next: the view never measures rows it does not show.
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    for (int c = 0; c < HistoryModel::ColumnCount; ++c)
        table_->setColumnWidth(c, kColumnWidths[static_cast<std::size_t>(c)]);
    table_->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(table_, 1);

    auto* bottom = new QHBoxLayout;
    countLabel_ = new QLabel(this);
    countLabel_->setObjectName(QStringLiteral("historyCount"));
    countLabel_->setTextFormat(Qt::PlainText);
    const auto button = [this](const char* name, const QString& caption) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        return b;
    };
    sendAgainButton_ = button("sendAgainButton", QStringLiteral("Send &Again"));
    sendAgainButton_->setToolTip(
        QStringLiteral("Put the selected pages' message and recipients into the main window"));
    exportButton_ = button("exportButton", QStringLiteral("&Export..."));
    clearButton_ = button("clearButton", QStringLiteral("C&lear..."));
    QPushButton* close = button("closeButton", QStringLiteral("Close"));
    bottom->addWidget(countLabel_, 1);
    for (QPushButton* b : {sendAgainButton_, exportButton_, clearButton_, close})
        bottom->addWidget(b);
    layout->addLayout(bottom);

    clearConfirm_ = new QMessageBox(
        QMessageBox::Question, QStringLiteral("Clear History"),
        QStringLiteral("Delete every page from the history? This cannot be undone."),
        QMessageBox::Yes | QMessageBox::No, this);
    clearConfirm_->setObjectName(QStringLiteral("clearConfirm"));
    clearConfirm_->setDefaultButton(QMessageBox::No);

    connect(filterEdit_, &QLineEdit::textChanged, this, &ThistoryForm::filterChange);
    connect(outcomeCombo_, &QComboBox::currentIndexChanged, this, &ThistoryForm::filterChange);
    connect(table_, &QTableView::doubleClicked, this, &ThistoryForm::sendAgainButtonClick);
    connect(sendAgainButton_, &QPushButton::clicked, this, &ThistoryForm::sendAgainButtonClick);
    connect(exportButton_, &QPushButton::clicked, this, &ThistoryForm::exportButtonClick);
    connect(clearButton_, &QPushButton::clicked, this, &ThistoryForm::clearButtonClick);
    connect(close, &QPushButton::clicked, this, &QDialog::hide);
}

ThistoryForm::~ThistoryForm() {
    model_->setHistory(nullptr);
}

void ThistoryForm::showEvent(QShowEvent* event) {
    if (!event->spontaneous())
        reload();
    QDialog::showEvent(event);
}

void ThistoryForm::showOrRaise() {
    show();
    raise();
    activateWindow();
}

void ThistoryForm::showProblem(const QString& text) {
    QString note = settings_.keepHistory ? QString() : kOffNote;
    if (!text.isEmpty())
        note += (note.isEmpty() ? QString() : QStringLiteral("\n")) + text;
    note_->setText(note);
    note_->setVisible(!note.isEmpty());
    const int count = model_->rowCount();
    countLabel_->setText(count == 1 ? QStringLiteral("1 page")
                                    : QStringLiteral("%1 pages").arg(count));
}

void ThistoryForm::reload() {
    model_->setHistory(nullptr);
    history_.reset();
    const std::filesystem::path file = store::historyFilePath();
    QString problem;
    try {
        // With the history off, one kept before is shown, but none is made.
        std::error_code ec;
        if (settings_.keepHistory ||
            std::filesystem::exists(std::filesystem::symlink_status(file, ec)))
            history_ = std::make_unique<store::History>(file, settings_.keepHistory
                                                                  ? store::History::Mode::create
                                                                  : store::History::Mode::existing);
        model_->setHistory(history_.get());
        filterChange();
        return;
    } catch (const std::exception& e) {
        problem = QStringLiteral("The history could not be read: ") + shown(e.what());
    }
    history_.reset();
    model_->setHistory(nullptr);
    showProblem(problem);
}

void ThistoryForm::filterChange() {
    static constexpr std::array<store::HistoryFilter::Outcomes, 3> kChoices = {
        store::HistoryFilter::Outcomes::all, store::HistoryFilter::Outcomes::failed,
        store::HistoryFilter::Outcomes::accepted};
    store::HistoryFilter filter;
    filter.text = filterEdit_->text().toStdString();
    filter.outcomes =
        kChoices[static_cast<std::size_t>(std::max(0, outcomeCombo_->currentIndex()))];
    QString problem;
    try {
        model_->setFilter(filter);
    } catch (const std::exception& e) {
        problem = QStringLiteral("The history could not be read: ") + shown(e.what());
    }
    showProblem(problem);
}

void ThistoryForm::sendAgainButtonClick() {
    QModelIndexList rows = table_->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QString message;
    bool haveMessage = false;
    QList<PageRecipient> recipients;
    for (const QModelIndex& index : rows) {
        const std::optional<store::PageRow> page = model_->pageRow(index.row());
        if (!page)
            continue;
        // The newest selected page's message.
        if (!std::exchange(haveMessage, true))
            message = fromStd(page->message);
        const PageRecipient recipient{fromStd(page->name), fromStd(page->pagerID)};
        if (!recipients.contains(recipient))
            recipients.append(recipient);
    }
    if (!recipients.isEmpty())
        emit sendAgainRequested(message, recipients);
}

void ThistoryForm::exportButtonClick() {
    const QString file =
        QFileDialog::getSaveFileName(this, QStringLiteral("Export History"),
                                     QDir::home().filePath(QStringLiteral("dazoroz-history.csv")),
                                     QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (!file.isEmpty())
        exportTo(file);
}

bool ThistoryForm::exportTo(const QString& file) {
    return guarded(this, [&] {
        if (!history_)
            throw std::runtime_error("There is no history to export");
        // The rows shown: none recorded since the table was filled.
        const std::string csv =
            history_->csv(model_->filter(), model_->ids().empty() ? 0 : model_->ids().front());
        // The pages are as private as the history they come from.
        if (!store::replaceFile(QFile::encodeName(file).toStdString(), csv, store::systemFileOps(),
                                store::FileAccess::OwnerOnly))
            throw std::runtime_error("Unable to write to " +
                                     shown(file.toStdString()).toStdString());
    });
}

void ThistoryForm::clearButtonClick() {
    if (!history_ || clearConfirm_->exec() != QMessageBox::Yes)
        return;
    guarded(this, [this] { history_->clear(); });
    reload();
}

} // namespace dazoroz::ui
