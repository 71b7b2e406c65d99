// Whole runs of the wizard against the emulated box on a pseudo-terminal: connect,
// choose, upgrade or dump, the result, and the settings written at close.
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <QTreeWidget>

#include "context/connect.h"
#include "context/upgrade_context.h"
#include "image/chunk_table.h"
#include "image_builder.h"
#include "sim/box_sim.h"
#include "ui/demo_box.h"
#include "ui/dialog_units.h"
#include "ui/page_connect.h"
#include "ui/page_process.h"
#include "ui/page_select.h"
#include "ui_fixture.h"

using namespace stb;
using namespace stb::uitest;

namespace {
constexpr int kRunTimeoutMs = 60000;
constexpr uint32_t kLogoId = 0x02FD0200;

// Every state the three buttons pass through while enabled states change.
class ButtonRecorder : public QObject {
 public:
  explicit ButtonRecorder(CUpgradeSheet& sheet) : sheet_(sheet) {
    for (int id : {kButtonBack, kButtonNext, kButtonCancel})
      sheet.Button(id)->installEventFilter(this);
  }
  bool Saw(const Buttons& wanted) const {
    for (const Buttons& b : seen_)
      if (b == wanted) return true;
    return false;
  }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::EnabledChange) seen_.push_back(Snapshot(sheet_));
    return false;
  }

 private:
  CUpgradeSheet& sheet_;
  std::vector<Buttons> seen_;
};

int RowOfKey(CPageSelect* page, int key) {
  for (int row = 0; row < page->RowCount(); ++row)
    if (page->RowKey(row) == key) return row;
  return -1;
}

int KeyOfChunk(uint32_t id) {
  const TargetChunkTable& table = GetTargetChunkTable();
  for (uint32_t i = 0; i < table.chunkCount; ++i)
    if (table.chunks[i].id == id) return int(i);
  return -1;
}
}  // namespace

class WizardRunTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString Ini() const { return dir_.filePath("Upgrade.ini"); }
  QString IniText() const {
    QFile file(Ini());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
  }

  void ChooseRow(CUpgradeSheet& sheet, FakeDialogs& dialogs, int row, const QString& file) {
    auto* list = FindControlAs<QTreeWidget>(sheet.Page(kPageSelect), kIdChunkList);
    dialogs.answers.push_back(file);
    list->setCurrentItem(list->topLevelItem(row));
    dialogs.menuCommand = kCmdOpenFile;  // through the pop-up, as a double click does
    emit list->customContextMenuRequested(QPoint(4, 4));
  }

  void Connect(CUpgradeSheet& sheet) {
    sheet.Button(kButtonNext)->click();
    QTRY_COMPARE_WITH_TIMEOUT(sheet.ActiveIndex(), kPageSelect, kRunTimeoutMs);
    QVERIFY(WaitForWorker(kRunTimeoutMs));  // the connect worker has closed the port
  }

 private slots:
  void init() { QFile::remove(Ini()); }
  void cleanup() { QVERIFY(WaitForWorker(kRunTimeoutMs)); }

  void upgradeOneChunk_data() {
    QTest::addColumn<uint>("protocol");
    QTest::addColumn<QString>("version");
    QTest::newRow("protocol 3.0") << 0x30u << "3.0";
    QTest::newRow("legacy 2.0") << 0x20u << "2.0";
  }
  void upgradeOneChunk() {
    QFETCH(uint, protocol);
    QFETCH(QString, version);
    sim::BoxOptions options;
    options.protocol = protocol;
    sim::BoxSimulator box(options);
    QVERIFY2(box.Start(), box.LastError().c_str());
    FreshContext(Ini(), box.SlavePath());

    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    ButtonRecorder recorder(sheet);
    sheet.show();
    COMPARE_BUTTONS(sheet, Off("< Back"), On("Connect"), On("Exit"));
    Connect(sheet);
    QVERIFY2(sheet.windowTitle().endsWith(QStringLiteral("Protokol Version: ") + version),
             qPrintable(sheet.windowTitle()));
    COMPARE_BUTTONS(sheet, On("< Back"), Off("Next >"), On("Exit"));
    auto* connectLog = FindControlAs<QPlainTextEdit>(sheet.Page(kPageConnect), kIdConnectLog);
    QVERIFY(connectLog->toPlainText().startsWith(QString::fromUtf8(
        "Öffne Serialport..\nSynchronisiere Port..\nLese Clientprotokol-Version & Daten \n")));

    // A raw logo file for the logo chunk: the box gets a header, the file and 0xFF.
    auto* select = static_cast<CPageSelect*>(sheet.Page(kPageSelect));
    const int key = KeyOfChunk(kLogoId);
    QVERIFY(key >= 0);
    const std::vector<uint8_t> logo = test::PatternBytes(3000, 7);
    const QString logoFile = dir_.filePath("logo.m2v");
    {
      QFile f(logoFile);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(reinterpret_cast<const char*>(logo.data()), qsizetype(logo.size()));
    }
    ChooseRow(sheet, dialogs, RowOfKey(select, key), logoFile);
    QVERIFY(dialogs.messages.empty());
    QCOMPARE(QString::fromStdString(GetContext()->Selections[key + 2].FileName), logoFile);
    COMPARE_BUTTONS(sheet, On("< Back"), On("Next >"), On("Exit"));

    Buttons atResult{};
    dialogs.onMessage = [&](const FakeDialogs::Message&) { atResult = Snapshot(sheet); };
    sheet.Button(kButtonNext)->click();
    QCOMPARE(sheet.ActiveIndex(), kPageProcess);
    COMPARE_BUTTONS(sheet, Off("< Back"), On("Cancel"), On("Exit"));
    QTRY_COMPARE_WITH_TIMEOUT(dialogs.messages.size(), size_t{1}, kRunTimeoutMs);
    QCOMPARE(dialogs.messages[0].text, QStringLiteral("Upgrade Success!"));
    QVERIFY(atResult == (Buttons{On("Restart"), On("Finish"), On("Exit")}));
    QVERIFY(recorder.Saw(Buttons{Off("< Back"), Off("Cancel"), Off("Exit")}));  // the burn
    CWizardPage* process = sheet.Page(kPageProcess);
    const QString log = FindControlAs<QPlainTextEdit>(process, kIdProcessLog)->toPlainText();
    QVERIFY2(log.contains(QString::fromUtf8("FLASHE ! NICHT AUSSCHALTEN !!")), qPrintable(log));
    QCOMPARE(FindControlAs<QLabel>(process, kIdPercentage)->text(), QStringLiteral("100%"));

    // The box burnt the file into the logo chunk's room, right behind its header.
    QVERIFY(WaitForWorker(kRunTimeoutMs));
    uint32_t start = 0, span = 0;
    QVERIFY(ChunkFlashRange(GetTargetChunkTable(), uint32_t(key), start, span));
    const std::vector<uint8_t> flash = box.Flash();
    // The chunk's data range starts behind its 128-byte header.
    QVERIFY(start >= 128 && flash.size() >= start + span);
    const uint8_t* header = flash.data() + start - 128;
    QCOMPARE((std::vector<uint8_t>(header, header + 4)),
             (std::vector<uint8_t>{0x02, 0xFD, 0x02, 0x00}));
    QVERIFY(std::equal(logo.begin(), logo.end(), flash.begin() + start));
    QVERIFY(std::all_of(flash.begin() + start + logo.size(), flash.begin() + start + span,
                        [](uint8_t b) { return b == 0xFF; }));
    QCOMPARE(box.Stats().burns, 1u);

    GetSerialSettings().Baud = 57600;    // the settings the connect used are saved
    sheet.Button(kButtonNext)->click();  // "Finish"
    Pump();
    QVERIFY(sheet.Closed());
    QVERIFY(!sheet.isVisible());
    QVERIFY2(IniText().contains(QStringLiteral("Baud=57600")), qPrintable(IniText()));
    QVERIFY(IniText().contains(QStringLiteral("Parity=2")));
  }

  void dumpTheFlashAndRestart() {
    sim::BoxSimulator box(sim::BoxOptions{});
    QVERIFY2(box.Start(), box.LastError().c_str());
    FreshContext(Ini(), box.SlavePath());
    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    auto* mode = FindControlAs<QComboBox>(sheet.Page(kPageConnect), kIdModeList);
    mode->setCurrentIndex(1);  // "Data dump"
    Connect(sheet);
    QCOMPARE(FindControlAs<QLabel>(sheet.Page(kPageSelect), kIdOperateLabel)->text(),
             QStringLiteral("Operate: Dump"));
    const QString target = dir_.filePath("flash.abs");
    ChooseRow(sheet, dialogs, 0, target);  // "Allcode  "
    QVERIFY(dialogs.fileRequests.at(0).save);
    sheet.Button(kButtonNext)->click();
    QTRY_COMPARE_WITH_TIMEOUT(dialogs.messages.size(), size_t{1}, kRunTimeoutMs);
    QCOMPARE(dialogs.messages[0].text, QStringLiteral("Dump Success!"));
    QVERIFY(WaitForWorker(kRunTimeoutMs));
    const std::vector<uint8_t> dumped = test::ReadFileBytes(target.toStdString());
    QVERIFY(dumped == box.Flash());

    // "Restart": the connect page as it was left; a new connect starts without choices.
    sheet.Button(kButtonBack)->click();
    QCOMPARE(sheet.ActiveIndex(), kPageConnect);
    QCOMPARE(mode->currentText(), QStringLiteral("Data dump"));
    QVERIFY(!FindControl(sheet.Page(kPageConnect), kIdConnectLog)->isVisible());
    Connect(sheet);
    auto* list = FindControlAs<QTreeWidget>(sheet.Page(kPageSelect), kIdChunkList);
    for (int row = 0; row < list->topLevelItemCount(); ++row)
      QVERIFY(list->topLevelItem(row)->text(1).isEmpty());
    QVERIFY(GetContext()->Selections[1].FileName.empty());
    sheet.Button(kButtonCancel)->click();  // "Exit"
    QVERIFY(sheet.Closed());
  }

  // Demo mode: the box starts in-process and every COM port leads to it.
  void demoBoxTakesThePort() {
    FreshContext(Ini(), "");
    CDemoBox demo;
    std::string error;
    QVERIFY2(demo.Start(0x21, error), error.c_str());
    QVERIFY(QFile::exists(QString::fromStdString(GetSerialSettings().Device)));
    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    FindControlAs<QComboBox>(sheet.Page(kPageConnect), kIdPortList)->setCurrentIndex(11);  // COM12
    Connect(sheet);
    QVERIFY2(sheet.windowTitle().endsWith(QStringLiteral("Protokol Version: 2.1")),
             qPrintable(sheet.windowTitle()));
    QCOMPARE(GetSerialSettings().Port, 12);
    sheet.close();
    QVERIFY(sheet.Closed());
  }

  void cancelDuringTheTransferReturnsToTheConnectPage() {
    sim::BoxOptions options;
    options.baud = 115200;  // slow enough to cancel in the middle
    sim::BoxSimulator box(options);
    QVERIFY2(box.Start(), box.LastError().c_str());
    FreshContext(Ini(), box.SlavePath());
    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    FindControlAs<QComboBox>(sheet.Page(kPageConnect), kIdModeList)->setCurrentIndex(1);
    Connect(sheet);
    ChooseRow(sheet, dialogs, 0, dir_.filePath("cancelled.abs"));
    sheet.Button(kButtonNext)->click();
    auto* percentage = FindControlAs<QLabel>(sheet.Page(kPageProcess), kIdPercentage);
    QTRY_VERIFY_WITH_TIMEOUT(percentage->text() != QStringLiteral("0%"), kRunTimeoutMs);
    sheet.Button(kButtonNext)->click();  // "Cancel"
    // The request is taken at once, before the worker has stopped.
    COMPARE_BUTTONS(sheet, Off("< Back"), Off("Cancelling..."), On("Exit"));
    QTRY_COMPARE_WITH_TIMEOUT(sheet.ActiveIndex(), kPageConnect, kRunTimeoutMs);
    QVERIFY(dialogs.messages.empty());
    COMPARE_BUTTONS(sheet, Off("< Back"), On("Connect"), On("Exit"));
    // Why the operation ended stays readable on the connect page.
    auto* log = FindControlAs<QPlainTextEdit>(sheet.Page(kPageConnect), kIdConnectLog);
    QVERIFY(log->isVisible());
    QVERIFY2(log->toPlainText().contains(QString::fromUtf8("Operation von Benutzer abgebrochen!")),
             qPrintable(log->toPlainText()));
    QVERIFY(log->toPlainText().contains(QStringLiteral("Dumpe Allcode ")));
  }

  // Cancel between the last data packet and the burn: nothing is burned, the box is
  // not restarted, and the wizard says why it went back.
  void cancelBeforeTheBurnBurnsNothing() {
    sim::BoxSimulator box(sim::BoxOptions{});
    QVERIFY2(box.Start(), box.LastError().c_str());
    const std::vector<uint8_t> before = box.Flash();
    FreshContext(Ini(), box.SlavePath());
    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    Connect(sheet);
    const QString image = dir_.filePath("image.abs");
    {
      QFile f(image);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(reinterpret_cast<const char*>(before.data()), qsizetype(before.size()));
    }
    ChooseRow(sheet, dialogs, 0, image);  // "Allcode  "
    sheet.Button(kButtonNext)->click();
    auto* percentage = FindControlAs<QLabel>(sheet.Page(kPageProcess), kIdPercentage);
    // The download has sent its last packet; the upgrade waits a second before the burn.
    QTRY_COMPARE_WITH_TIMEOUT(percentage->text(), QStringLiteral("100%"), kRunTimeoutMs);
    sheet.Button(kButtonNext)->click();  // "Cancel"
    QTRY_COMPARE_WITH_TIMEOUT(sheet.ActiveIndex(), kPageConnect, kRunTimeoutMs);
    QVERIFY(WaitForWorker(kRunTimeoutMs));
    QVERIFY(dialogs.messages.empty());
    QCOMPARE(box.Stats().burns, 0u);
    QCOMPARE(box.Stats().reboots, 0u);
    auto* log = FindControlAs<QPlainTextEdit>(sheet.Page(kPageConnect), kIdConnectLog);
    QVERIFY2(log->toPlainText().contains(QString::fromUtf8("Operation von Benutzer abgebrochen!")),
             qPrintable(log->toPlainText()));
    QVERIFY(!log->toPlainText().contains(QString::fromUtf8("FLASHE")));
  }
};

QTEST_MAIN(WizardRunTest)
#include "wizard_run_test.moc"
