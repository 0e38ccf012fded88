#pragma once
// The about box: icon, "VORN3 Manager Version 1.0", OK.

#include <QDialog>
#include <memory>

namespace Ui {
class AboutDlg;
}

namespace vorn {

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
  ~CAboutDlg() override;

 private:
  std::unique_ptr<Ui::AboutDlg> m_ui;
};

}  // namespace vorn
