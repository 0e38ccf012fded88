// Makes the README's picture of the main window: a disk image with a few
// routines, the window on it, its contents saved as PNG.
//
//   ui_screenshot OUTPUT.png     (run under a display, e.g. xvfb-run)

#include <QApplication>
#include <QPixmap>

#include <cstdio>
#include <filesystem>

#include "UiTestSupport.h"
#include "disk/VornDisk.h"
#include "ui/ControlList.h"
#include "ui/DeviceSource.h"
#include "ui/ManagerDlg.h"

namespace {

namespace fs = std::filesystem;
using namespace vorn;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
    return 2;
  }
  QApplication app(argc, argv);
  const fs::path dir = fs::temp_directory_path() / "vorn-demo";
  fs::create_directories(dir);
  const std::string image = test::MakeImage(dir / "show-card.img", 65536);
  {
    CImageDevice device(image, false);
    device.Open(CImageDevice::EntryFor(image));
    CVornDisk disk(device, nullptr);
    disk.Format();
    struct Sample { const char* title; std::uint32_t bytes; std::uint8_t baud, protocol; };
    for (const Sample& s : {Sample{"Welcome Parrot", 3400000, 4, 0}, Sample{"Pirate Shanty", 5100000, 2, 1},
                            Sample{"Grand Finale", 8800000, 5, 5}, Sample{"Closing Bow", 1200000, 3, 2}}) {
      disk.AddRoutine(test::WriteRoutineFile(dir / (std::string(s.title) + ".vorn"), s.title, s.bytes,
                                             s.baud, 25, s.protocol),
                      nullptr);
    }
    device.Close();
  }
  qputenv("VORN_DEMO_IMAGE", QByteArray::fromStdString(image));
  int status = 1;
  {
    CManagerDlg dialog(MakeNoDeviceSource());
    dialog.show();
    test::WaitUntil([] { return false; }, 500);
    dialog.RoutineList()->selectRow(1);
    test::WaitUntil([] { return false; }, 200);
    status = dialog.grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
  }
  fs::remove_all(dir);
  return status;
}
