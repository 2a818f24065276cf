#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;

namespace dazoroz::ui {

// A names entry split for editing: the name is what stands before the first comma; the pager
// number is everything from the second character after that comma (the comma and the one
// character after it, normally the blank of ", ", are dropped). Without a comma the whole entry
// is the name and the number is empty.
struct EntryParts {
    QString name;
    QString pagerNumber;
};
EntryParts splitEntry(const QString& entry);
// name + ", " + pager number, neither trimmed nor checked.
QString joinEntry(const QString& name, const QString& pagerNumber);

// The name entry dialog (object "addNameForm", caption " "), used by the main window's Add and
// Edit flows: set both fields, exec(), and on QDialog::Accepted read them. Created once and
// hidden between uses. The user can type at most 15 characters into the name and 14 into the
// number; text put in with setFields is shown in full. OK is the default button (Enter),
// Cancel the cancel button (Esc); there is no close box. Each showing gives the name field the
// focus when it is empty; otherwise the focus stays where the dialog last had it.
class TaddNameForm : public QDialog {
    Q_OBJECT
public:
    explicit TaddNameForm(QWidget* parent = nullptr);

    void setFields(const QString& name, const QString& pagerNumber);
    QString name() const;
    QString pagerNumber() const;

    void FormShow();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLineEdit* nameEdit_;
    QLineEdit* pagerIDEdit_;
    QPushButton* okButton_;
    QPushButton* cancelButton_;
};

} // namespace dazoroz::ui
