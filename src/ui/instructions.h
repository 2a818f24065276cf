#pragma once

#include <QDialog>
#include <QStringList>

class QPlainTextEdit;
class QPushButton;

namespace dazoroz::ui {

// The ten lines of the Instructions window, exactly (line 6 empty, line 8 ending in a blank,
// two blanks inside line 9).
QStringList instructionLines();

// The Instructions window (object "instructionsForm"): modeless, first placed at screen
// position 238, 158 and later where the user left it. Its text is read-only but can be
// selected and copied. OK (the default button) and the close box hide it; Escape does nothing.
class TinstructionsForm : public QDialog {
    Q_OBJECT
public:
    explicit TinstructionsForm(QWidget* parent = nullptr);

    // Shows the window without blocking, or brings it to the front when it is open already.
    void showOrRaise();
    void okButtonClick();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QPlainTextEdit* memo_;
    QPushButton* okButton_;
};

} // namespace dazoroz::ui
