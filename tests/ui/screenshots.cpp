// Grabs the three wizard pages, offscreen, from the real widgets while the wizard
// walks a run against the emulated box. Run:
//   QT_QPA_PLATFORM=offscreen stb_ui_screenshots OUTDIR
// and it writes OUTDIR/wizard-connect.png, wizard-select.png, wizard-process.png.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QTreeWidget>
#include <cstdio>
#include <functional>

#include "context/connect.h"
#include "image/chunk_table.h"
#include "image_builder.h"
#include "sim/box_sim.h"
#include "ui/dialog_units.h"
#include "ui/page_connect.h"
#include "ui/page_process.h"
#include "ui/page_select.h"
#include "ui_fixture.h"

using namespace stb;
using namespace stb::uitest;

namespace {
bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 60000) {
  QElapsedTimer timer;
  timer.start();
  while (!condition()) {
    if (timer.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
  }
  return true;
}

bool Save(CUpgradeSheet& sheet, const QDir& out, const char* name) {
  QCoreApplication::processEvents();
  const bool ok = sheet.grab().save(out.filePath(QString::fromUtf8(name)));
  std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(out.filePath(name)));
  return ok;
}

QString WriteFile(const QDir& dir, const char* name, const std::vector<uint8_t>& bytes) {
  QFile file(dir.filePath(QString::fromUtf8(name)));
  if (file.open(QIODevice::WriteOnly))
    file.write(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
  return file.fileName();
}

int RowOfChunk(CPageSelect* page, uint32_t id) {
  const TargetChunkTable& table = GetTargetChunkTable();
  for (int row = 0; row < page->RowCount(); ++row) {
    const int key = page->RowKey(row);
    if (key >= 0 && table.chunks[key].id == id) return row;
  }
  return -1;
}
}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
  QTemporaryDir scratch;
  // A short, plain folder: its path is what the select list shows.
  const QDir firmware(QDir::temp().filePath(QStringLiteral("firmware")));
  const bool madeFirmware = QDir::temp().mkdir(QStringLiteral("firmware"));

  sim::BoxOptions options;
  options.baud = 115200;  // the line's pace, so the pages are caught mid-way
  sim::BoxSimulator box(options);
  if (!box.Start()) {
    std::fprintf(stderr, "the emulated box does not start: %s\n", box.LastError().c_str());
    return 1;
  }
  FreshContext(scratch.filePath(QStringLiteral("Upgrade.ini")), box.SlavePath());

  FakeDialogs dialogs;
  CUpgradeSheet sheet(dialogs);
  sheet.show();
  bool ok = true;

  // Connect page while the connect reads the box's chunk table.
  CWizardPage* connect = sheet.Page(kPageConnect);
  auto* status = FindControlAs<QLabel>(connect, kIdConnectStatus);
  sheet.Button(kButtonNext)->click();
  ok &= WaitFor([&] { return status->text().startsWith(QStringLiteral("Lese")); });
  ok &= Save(sheet, out, "wizard-connect.png");
  ok &= WaitFor([&] { return sheet.ActiveIndex() == kPageSelect && !WorkerRunning(); });

  // Select page with files for the second logo and the user database.
  auto* select = static_cast<CPageSelect*>(sheet.Page(kPageSelect));
  auto* list = FindControlAs<QTreeWidget>(select, kIdChunkList);
  const struct {
    uint32_t id;
    const char* file;
    size_t size;
  } choices[] = {{0x02FD0200, "bootlogo_hd.m2v", 24000}, {0x04FB0100, "channels_astra.udf", 6000}};
  for (const auto& c : choices) {
    const int row = RowOfChunk(select, c.id);
    dialogs.answers.push_back(WriteFile(firmware, c.file, test::PatternBytes(c.size, c.id)));
    list->setCurrentItem(list->topLevelItem(row));
    select->OnCommand(kCmdOpenFile);
  }
  list->setCurrentItem(list->topLevelItem(RowOfChunk(select, choices[0].id)));
  list->setFocus();
  ok &= Save(sheet, out, "wizard-select.png");

  // Process page in the middle of the download.
  sheet.Button(kButtonNext)->click();
  auto* bar = FindControlAs<QProgressBar>(sheet.Page(kPageProcess), kIdProgressBar);
  ok &= WaitFor([&] { return bar->value() >= 55; });
  ok &= Save(sheet, out, "wizard-process.png");

  ok &= WaitFor([&] { return !dialogs.messages.empty(); });
  ok &= WaitFor([] { return !WorkerRunning(); });
  sheet.close();
  for (const auto& c : choices) QFile::remove(firmware.filePath(QString::fromUtf8(c.file)));
  if (madeFirmware) QDir::temp().rmdir(QStringLiteral("firmware"));
  return ok ? 0 : 1;
}
