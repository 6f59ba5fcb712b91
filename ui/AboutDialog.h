#pragma once

#include <QDialog>

namespace perchlight {

// The about box (217): no caption, centred over its window; only OK or Enter close it, with 1.
// GUI thread.
class AboutDialog : public QDialog {
    Q_OBJECT

  public:
    explicit AboutDialog(QWidget* parent = nullptr);

  public slots:
    // Escape does not close the box.
    void reject() override {}

  protected:
    void closeEvent(QCloseEvent* event) override;
};

}  // namespace perchlight
