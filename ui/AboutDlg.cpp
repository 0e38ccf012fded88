#include "ui/AboutDlg.h"

#include "ui/DialogUnits.h"
#include "ui/UiResources.h"
#include "ui_AboutDlg.h"

namespace vorn {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), m_ui(std::make_unique<Ui::AboutDlg>()) {
  InitUiResources();
  UseDialogFont(this);
  m_ui->setupUi(this);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  ScaleToDialogFont(this);
  // The icon keeps its 32 x 32 pixels whatever the font, as an icon does.
  m_ui->m_iconLabel->resize(32, 32);
}

CAboutDlg::~CAboutDlg() = default;

}  // namespace vorn
