#pragma once
// The result of "Check disk...": a window of its own (not modal, so the
// operator can keep it open beside the main window) with a summary line and
// the list of green, amber and red findings.

#include <QDialog>

#include <string>
#include <vector>

#include "disk/DiskCheck.h"

class QLabel;
class QTreeView;

namespace vorn {

class CCheckResultModel;

class CCheckResultDlg final : public QDialog {
 public:
  // `disk` as the combo shows it; `titles` name the routines (UTF-8).
  CCheckResultDlg(QWidget* parent, const QString& disk, std::vector<CheckFinding> findings,
                  std::vector<std::string> titles);

  CCheckResultModel& Model() { return *m_model; }
  QString Summary() const;

 private:
  CCheckResultModel* m_model;
  QLabel* m_summary;
  QTreeView* m_list;
};

}  // namespace vorn
