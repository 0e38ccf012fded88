#include "ui/CheckResultModel.h"

#include <QColor>
#include <QPainter>
#include <QPixmap>

namespace vorn {

QColor LevelColor(CheckLevel level) {
  switch (level) {
    case CheckLevel::kGreen:
      return QColor(0x2e, 0x9d, 0x3e);
    case CheckLevel::kAmber:
      return QColor(0xe0, 0x9b, 0x00);
    case CheckLevel::kRed:
      return QColor(0xd0, 0x21, 0x21);
  }
  return Qt::red;
}

void CCheckResultModel::SetFindings(std::vector<CheckFinding> findings, std::vector<std::string> titles) {
  beginResetModel();
  m_findings = std::move(findings);
  m_titles = std::move(titles);
  endResetModel();
}

int CCheckResultModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_findings.size());
}

int CCheckResultModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QString CCheckResultModel::Subject(int row) const {
  const CheckFinding& finding = m_findings.at(static_cast<std::size_t>(row));
  if (!finding.routine) return QStringLiteral("Disk");
  QString subject = QStringLiteral("Routine %1").arg(*finding.routine);
  const std::size_t k = *finding.routine - 1;
  if (k < m_titles.size() && !m_titles[k].empty()) subject += QStringLiteral(" \"%1\"").arg(QString::fromStdString(m_titles[k]));
  return subject;
}

QVariant CCheckResultModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const CheckFinding& finding = m_findings[static_cast<std::size_t>(index.row())];
  if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
    switch (index.column()) {
      case kResult:
        return QString::fromLatin1(CheckLevelName(finding.level));
      case kSubject:
        return Subject(index.row());
      case kFinding:
        return QString::fromStdString(finding.text);
    }
  }
  // The colour says it at a glance; the word says it to whom colours do not.
  if (role == Qt::DecorationRole && index.column() == kResult) {
    QPixmap dot(12, 12);
    dot.fill(Qt::transparent);
    QPainter painter(&dot);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(LevelColor(finding.level));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(1, 1, 10, 10);
    return dot;
  }
  if (role == Qt::UserRole) return static_cast<int>(finding.level);
  return {};
}

QVariant CCheckResultModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case kResult:
      return QStringLiteral("Result");
    case kSubject:
      return QStringLiteral("Routine");
    case kFinding:
      return QStringLiteral("Finding");
  }
  return {};
}

}  // namespace vorn
