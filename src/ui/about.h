#pragma once

#include <QDialog>

class QPushButton;

namespace dazoroz::ui {

// The About window (object "Aboutform"): modal (the main window calls exec() and ignores the
// result), centred on the screen at each showing. OK, the only control that takes the focus,
// answers Enter; OK and the close box hide the window; Escape does nothing.
class TAboutform : public QDialog {
    Q_OBJECT
public:
    explicit TAboutform(QWidget* parent = nullptr);

    void okButtonClick();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QPushButton* okButton_;
};

} // namespace dazoroz::ui
