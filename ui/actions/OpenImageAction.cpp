// "Open disk image...": offers an image file as a disk for the session. A
// sound or routine file picked by mistake would be formatted over at the next
// click: it is checked first and not offered.
#include <QFile>
#include <QFileInfo>

#include <memory>
#include <optional>

#include "device/DeviceExceptions.h"
#include "disk/ImageCheck.h"
#include "ui/actions/DiskAction.h"

namespace vorn {

void OpenDiskImage(CActionHost& host, const QString& path) {
  if (path.isEmpty() || !host.Runner().Begin("open image")) return;
  const std::string file = QFile::encodeName(QFileInfo(path).absoluteFilePath()).toStdString();
  host.Runner().Run([file] {
    CImageDevice image(file, /*durable=*/false, ImageAccess::kRead);
    image.Open(CImageDevice::EntryFor(file));
    const std::optional<std::string> why = WhyNotADiskImage(image);
    image.Close();
    if (why) throw CFileAccessException(file + " is not a disk image: " + *why + "; it was not opened");
  }, [&host, file](const JobOutcome& outcome) {
    if (outcome.kind == JobOutcome::Kind::kFailed) {
      MessageRequest box = outcome.failure;
      box.detail = "File: " + file + (box.detail.empty() ? "" : "\n" + box.detail);
      ShowMessage(box);
    }
    host.Runner().End();
    if (outcome.Done()) host.OfferImage(file);
  });
}

}  // namespace vorn
