#include "ui/CheckResultDlg.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QTreeView>
#include <QVBoxLayout>

#include "ui/CheckResultModel.h"

namespace vorn {

CCheckResultDlg::CCheckResultDlg(QWidget* parent, const QString& disk, std::vector<CheckFinding> findings,
                                 std::vector<std::string> titles)
    : QDialog(parent), m_model(new CCheckResultModel(this)), m_summary(new QLabel(this)), m_list(new QTreeView(this)) {
  setObjectName(QStringLiteral("checkResult"));
  setAttribute(Qt::WA_DeleteOnClose);
  setModal(false);
  setWindowTitle(QStringLiteral("Check of %1").arg(disk));

  const CheckLevel worst = WorstLevel(findings);
  std::size_t counts[3] = {0, 0, 0};
  for (const CheckFinding& finding : findings) ++counts[static_cast<int>(finding.level)];
  m_model->SetFindings(std::move(findings), std::move(titles));

  m_summary->setObjectName(QStringLiteral("checkSummary"));
  m_summary->setText(QStringLiteral("%1: %2 (%3 green, %4 amber, %5 red)")
                         .arg(disk, QString::fromLatin1(CheckLevelName(worst)))
                         .arg(counts[0])
                         .arg(counts[1])
                         .arg(counts[2]));
  m_summary->setStyleSheet(QStringLiteral("font-weight: bold; color: %1").arg(LevelColor(worst).name()));
  m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);

  m_list->setObjectName(QStringLiteral("checkFindings"));
  m_list->setModel(m_model);
  m_list->setRootIsDecorated(false);
  m_list->setAlternatingRowColors(true);
  m_list->setWordWrap(true);
  m_list->header()->setStretchLastSection(true);
  m_list->resizeColumnToContents(CCheckResultModel::kResult);
  m_list->resizeColumnToContents(CCheckResultModel::kSubject);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_summary);
  layout->addWidget(m_list, 1);
  layout->addWidget(buttons);
  resize(720, 360);
}

QString CCheckResultDlg::Summary() const { return m_summary->text(); }

}  // namespace vorn
