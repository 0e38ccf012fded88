#include "ui/WriteDisksDlg.h"

#include <QFileDialog>
#include <QHeaderView>
#include <QPushButton>

#include "ui/DialogUnits.h"
#include "ui/UiResources.h"
#include "ui_WriteDisksDlg.h"

namespace vorn {

CWriteDisksDlg::CWriteDisksDlg(const CDiskListModel& disks, DiskRecord source, QWidget* parent)
    : QDialog(parent),
      m_ui(std::make_unique<Ui::WriteDisksDlg>()),
      m_disks(disks),
      m_source(std::move(source)) {
  InitUiResources();
  UseDialogFont(this);
  m_ui->setupUi(this);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  if (m_source.kind == DiskKind::kNone) {
    m_ui->m_diskShowRadio->setEnabled(false);
    m_ui->m_showSetRadio->setChecked(true);
  } else {
    m_ui->m_diskShowRadio->setText(QStringLiteral("The show &of %1").arg(m_source.shown));
  }
  QTableView* table = m_ui->m_diskTable;
  table->setModel(&m_targets);
  table->verticalHeader()->hide();
  table->horizontalHeader()->setStretchLastSection(true);
  table->setColumnWidth(CWriteTargetModel::kDisk, ScaleWidth(230, font()));
  table->setColumnWidth(CWriteTargetModel::kPhase, ScaleWidth(70, font()));
  table->setColumnWidth(CWriteTargetModel::kPercent, ScaleWidth(60, font()));

  connect(m_ui->m_showSetRadio, &QRadioButton::toggled, this, [this](bool file) {
    m_ui->m_showSetEdit->setEnabled(file);
    m_ui->m_browseButton->setEnabled(file);
    // A show set file may go onto the selected disk too; the disk's own show
    // is never written back onto it.
    Follow();
  });
  connect(m_ui->m_showSetEdit, &QLineEdit::textChanged, this, &CWriteDisksDlg::UpdateButtons);
  connect(m_ui->m_browseButton, &QPushButton::clicked, this, &CWriteDisksDlg::Browse);
  connect(m_ui->m_writeButton, &QPushButton::clicked, this, &CWriteDisksDlg::WriteRequested);
  connect(m_ui->m_cancelButton, &QPushButton::clicked, this, &CWriteDisksDlg::CancelRequested);
  connect(m_ui->m_closeButton, &QPushButton::clicked, this, &CWriteDisksDlg::reject);
  connect(&m_targets, &QAbstractItemModel::dataChanged, this, &CWriteDisksDlg::UpdateButtons);
  connect(&m_targets, &QAbstractItemModel::modelReset, this, &CWriteDisksDlg::UpdateButtons);
  // A card plugged in or pulled while the dialog is open: the window rebuilds
  // its list (or, while writing, once the write ends) and the rows follow.
  connect(&m_disks, &QAbstractItemModel::modelReset, this, &CWriteDisksDlg::Follow);
  connect(&m_disks, &QAbstractItemModel::dataChanged, this, &CWriteDisksDlg::Follow);
  Follow();
}

CWriteDisksDlg::~CWriteDisksDlg() = default;

QString CWriteDisksDlg::ShowSetFile() const {
  return m_ui->m_showSetRadio->isChecked() ? m_ui->m_showSetEdit->text().trimmed() : QString();
}

QTableView* CWriteDisksDlg::DiskTable() const { return m_ui->m_diskTable; }
QLineEdit* CWriteDisksDlg::StatusField() const { return m_ui->m_statusEdit; }
QProgressBar* CWriteDisksDlg::ProgressBar() const { return m_ui->m_progressBar; }

QPushButton* CWriteDisksDlg::Button(const char* objectName) const {
  return findChild<QPushButton*>(QString::fromLatin1(objectName));
}

void CWriteDisksDlg::Follow() {
  m_targets.Follow(m_disks, m_ui->m_showSetRadio->isChecked() ? DiskRecord{} : m_source);
}

void CWriteDisksDlg::SetRunnerBusy(bool busy) {
  m_runnerBusy = busy;
  UpdateButtons();
}

void CWriteDisksDlg::SetWriting(bool writing) {
  m_writing = writing;
  m_targets.SetWriting(writing);
  if (writing) {
    m_ui->m_progressBar->setRange(0, 0);
    m_ui->m_progressBar->setTextVisible(false);
  }
  UpdateButtons();
}

void CWriteDisksDlg::ShowEnd(const QString& text) {
  m_ui->m_statusEdit->setText(text);
  m_ui->m_statusEdit->setCursorPosition(0);
  m_ui->m_statusEdit->setToolTip(text);
  m_ui->m_progressBar->setRange(0, 1);
  m_ui->m_progressBar->setValue(1);
}

void CWriteDisksDlg::Listen(const CSyncProgressRelay& relay) {
  connect(&relay, &CSyncProgressRelay::Progressed, this, [this](qulonglong target, int phase, int percent) {
    m_targets.SetProgress(static_cast<std::size_t>(target), static_cast<SyncPhase>(phase), percent);
  }, Qt::QueuedConnection);
}

void CWriteDisksDlg::UpdateButtons() {
  const bool showChosen = !m_ui->m_showSetRadio->isChecked() || !ShowSetFile().isEmpty();
  m_ui->m_writeButton->setEnabled(!m_writing && !m_runnerBusy && showChosen && !m_targets.Ticked().empty());
  m_ui->m_cancelButton->setVisible(m_writing);
  m_ui->m_closeButton->setVisible(!m_writing);
  for (QWidget* choice : {static_cast<QWidget*>(m_ui->m_diskShowRadio), static_cast<QWidget*>(m_ui->m_showSetRadio)}) {
    choice->setEnabled(!m_writing && (choice != m_ui->m_diskShowRadio || m_source.kind != DiskKind::kNone));
  }
  m_ui->m_showSetEdit->setEnabled(!m_writing && m_ui->m_showSetRadio->isChecked());
  m_ui->m_browseButton->setEnabled(!m_writing && m_ui->m_showSetRadio->isChecked());
}

void CWriteDisksDlg::Browse() {
  const QString file = QFileDialog::getOpenFileName(this, QStringLiteral("Show set file"), m_ui->m_showSetEdit->text(),
                                                    QStringLiteral("Show sets (*.toml);;All files (*)"));
  if (!file.isEmpty()) m_ui->m_showSetEdit->setText(file);
}

void CWriteDisksDlg::reject() {
  if (m_writing) {
    emit CancelRequested();
    return;
  }
  QDialog::reject();
}

}  // namespace vorn
