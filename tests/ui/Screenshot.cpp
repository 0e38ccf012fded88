// Makes the README's pictures of the main window, under a display (e.g.
// xvfb-run), into OUTPUT-DIR:
//   main-window.png  a disk image with a few routines
//   importing.png    an import under way: file, phase, percent, time left, Cancel
//   question.png     the question before a format, naming the disk and what goes
//
//   ui_screenshot OUTPUT-DIR

#include <QApplication>
#include <QMessageBox>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <filesystem>

#include "UiTestSupport.h"
#include "disk/VornDisk.h"
#include "ui/ControlList.h"
#include "ui/DeviceSource.h"
#include "ui/ManagerDlg.h"
#include "ui/QtMessagePresenter.h"

namespace {

namespace fs = std::filesystem;
using namespace vorn;

// The window with the file dialog replaced by a fixed choice.
class CScreenshotDlg : public CManagerDlg {
 public:
  using CManagerDlg::CManagerDlg;
  QStringList files;

 protected:
  QStringList AskForRoutineFiles() override { return files; }
};

bool Save(QWidget* widget, const fs::path& path) {
  const bool saved = widget->grab().save(QString::fromStdString(path.string()));
  if (!saved) std::fprintf(stderr, "could not write %s\n", path.c_str());
  return saved;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT-DIR\n", argv[0]);
    return 2;
  }
  const fs::path out = argv[1];
  QApplication app(argc, argv);
  const fs::path dir = fs::temp_directory_path() / "vorn-demo";
  fs::remove_all(dir);
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
  CQtMessagePresenter presenter;
  SetMessagePresenter(&presenter);
  bool ok = true;
  {
    qputenv("VORN_DEMO_IMAGE", QByteArray::fromStdString(image));
    CManagerDlg dialog(MakeNoDeviceSource());
    dialog.show();
    test::WaitUntil([] { return false; }, 500);
    dialog.RoutineList()->selectRow(1);
    test::WaitUntil([] { return false; }, 200);
    ok = Save(&dialog, out / "main-window.png") && ok;
  }
  {
    // The same disk as a card reader whose writes take their time, held
    // part-way through the second of two files.
    qunsetenv("VORN_DEMO_IMAGE");
    auto shared = std::make_shared<test::CImageSource::Shared>();
    shared->drives = {image};
    shared->writeDelayMs = 80;
    CScreenshotDlg dialog(std::make_unique<test::CImageSource>(shared));
    presenter.SetOwner(&dialog);
    dialog.show();
    test::WaitUntil([&] { return !dialog.IsBusy(); }, 30000);  // the disk read at the start
    dialog.files = {QString::fromStdString(test::WriteRoutineFile(dir / "Bat Swarm.vorn", "Bat Swarm", 200000)),
                    QString::fromStdString(test::WriteRoutineFile(dir / "Encore.vorn", "Encore", 6000000))};
    shared->CloseGate(/*pass=*/40);
    dialog.Button("m_addButton")->click();
    test::WaitUntil([&] { return shared->writesWaiting.load() > 0; }, 30000);
    test::WaitUntil([] { return false; }, 300);
    ok = Save(&dialog, out / "importing.png") && ok;
    shared->writeDelayMs = 0;
    shared->OpenGate();
    test::WaitUntil([&] { return !dialog.IsImporting(); }, 30000);

    // The question before a format, answered No.
    QTimer::singleShot(500, [&] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        ok = Save(box, out / "question.png") && ok;
        box->button(QMessageBox::No)->click();
      } else {
        ok = false;
      }
    });
    dialog.Button("m_formatButton")->click();
    test::WaitUntil([&] { return !dialog.IsBusy(); }, 30000);
    presenter.SetOwner(nullptr);
  }
  SetMessagePresenter(nullptr);
  fs::remove_all(dir);
  return ok ? 0 : 1;
}
