// The three pages: connect lists and log, select rows and file choices, process log,
// progress and result.
#include <QButtonGroup>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>

#include "context/connect.h"
#include "context/upgrade_context.h"
#include "image_builder.h"
#include "operations/file_choice.h"
#include "ui/artwork.h"
#include "ui/dialog_units.h"
#include "ui/page_connect.h"
#include "ui/page_process.h"
#include "ui/page_select.h"
#include "ui_fixture.h"

using namespace stb;
using namespace stb::uitest;

namespace {
constexpr uint32_t kKernelId = 0x01FE0100;
constexpr uint32_t kLogoId = 0x02FD0200;
constexpr uint32_t kKernelSpan = 0x20000;

QByteArray Bytes(qsizetype n, char fill = 'x') {
  return QByteArray(n, fill);
}

QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
  const QString path = dir.filePath(name);
  QFile file(path);
  if (file.open(QIODevice::WriteOnly)) file.write(bytes);
  return path;
}

QString WriteImage(const QTemporaryDir& dir, const QString& name,
                   const std::vector<test::ImageChunk>& chunks) {
  const std::vector<uint8_t> image = test::BuildImage(chunks);
  return WriteFile(
      dir, name, QByteArray(reinterpret_cast<const char*>(image.data()), qsizetype(image.size())));
}

bool HasPicture(QTreeWidgetItem* item, int index) {
  return item->icon(0).pixmap(16).toImage() == RowPicture(index).pixmap(16).toImage();
}
}  // namespace

class PagesTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString Ini() const { return dir_.filePath("Upgrade.ini"); }
  void WriteIni(const QByteArray& text) { WriteFile(dir_, "Upgrade.ini", text); }

  CPageConnect* ConnectPage(CUpgradeSheet& s) {
    return static_cast<CPageConnect*>(s.Page(kPageConnect));
  }
  CPageSelect* SelectPage(CUpgradeSheet& s) {
    return static_cast<CPageSelect*>(s.Page(kPageSelect));
  }
  QComboBox* List(CUpgradeSheet& s, int id) {
    return FindControlAs<QComboBox>(s.Page(kPageConnect), id);
  }
  QTreeWidget* Rows(CUpgradeSheet& s) {
    return FindControlAs<QTreeWidget>(s.Page(kPageSelect), kIdChunkList);
  }

  // Bootloader, Kernel (masked when asked) and Logo, then the select page.
  void OnSelectPage(CUpgradeSheet& sheet, int32_t mode, bool maskKernel) {
    std::vector<TargetChunkInfo> chunks = {MakeChunk(kBootLoaderId, "Bootloader", 0x10000),
                                           MakeChunk(kKernelId, "Kernel", kKernelSpan),
                                           MakeChunk(kLogoId, "Logo", 0x8000)};
    chunks[1].masked = maskKernel ? 1 : 0;
    SetChunkTable(chunks);
    GetContext()->Mode = mode;
    sheet.SetActivePage(kPageSelect);
  }
  // Chooses a file for the row as a double click does.
  void Choose(CUpgradeSheet& sheet, FakeDialogs& dialogs, int row, const QString& file) {
    dialogs.answers.push_back(file);
    QTreeWidget* rows = Rows(sheet);
    rows->setCurrentItem(rows->topLevelItem(row));
    emit rows->itemDoubleClicked(rows->topLevelItem(row), 0);
    dialogs.answers.clear();
  }

 private slots:
  void init() {
    QFile::remove(Ini());
    FreshContext(Ini());
  }
  void cleanup() { QVERIFY(WaitForWorker(10000)); }

  // --- connect page ---

  void connectListsStartFromTheSettings_data() {
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("parity");
    QTest::addColumn<QString>("baud");
    QTest::newRow("no file") << QByteArray() << "COM1"
                             << "Even"
                             << "115200";
    QTest::newRow("odd 9600 COM4")
        << QByteArray("[Config]\nPort=4\nBaud=9600\nParity=1\n") << "COM4"
        << "Odd"
        << "9600";
    QTest::newRow("unknown values") << QByteArray("[Config]\nPort=40\nBaud=12345\nParity=7\n") << ""
                                    << ""
                                    << "";
  }
  void connectListsStartFromTheSettings() {
    QFETCH(QByteArray, ini);
    if (!ini.isEmpty()) WriteIni(ini);
    FreshContext(Ini());
    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    QCOMPARE(List(sheet, kIdPortList)->count(), 32);
    QCOMPARE(List(sheet, kIdPortList)->itemText(31), QStringLiteral("COM32"));
    QTEST(List(sheet, kIdPortList)->currentText(), "port");
    QTEST(List(sheet, kIdParityList)->currentText(), "parity");
    QTEST(List(sheet, kIdBaudList)->currentText(), "baud");
    QVERIFY(FindControlAs<QRadioButton>(sheet.Page(kPageConnect), kIdAutodetect)->isChecked());
    QCOMPARE(List(sheet, kIdModeList)->currentText(), QStringLiteral("Upgrade"));
    QVERIFY(!FindControl(sheet.Page(kPageConnect), kIdConnectStatus)->isVisible());
    QVERIFY(!FindControl(sheet.Page(kPageConnect), kIdConnectLog)->isVisible());
  }

  void connectKeepsSettingsThatMatchNoEntry() {
    WriteIni("[Config]\nPort=40\nBaud=12345\nParity=2\n");
    FreshContext(Ini());
    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    sheet.Button(kButtonNext)->click();
    QVERIFY(WaitForWorker(5000));
    QCOMPARE(GetSerialSettings().Port, 40);
    QCOMPARE(GetSerialSettings().Baud, 12345);
  }

  void connectStoresTheChoices_data() {
    QTest::addColumn<int>("parityIndex");
    QTest::addColumn<int>("parityCode");
    QTest::newRow("None") << 0 << 0;
    QTest::newRow("Even") << 1 << 2;
    QTest::newRow("Odd") << 2 << 1;
    QTest::newRow("Mark") << 3 << 3;
    QTest::newRow("Space") << 4 << 4;
  }
  void connectStoresTheChoices() {
    QFETCH(int, parityIndex);
    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    List(sheet, kIdPortList)->setCurrentIndex(6);
    List(sheet, kIdBaudList)->setCurrentText(QStringLiteral("56000"));
    List(sheet, kIdParityList)->setCurrentIndex(parityIndex);
    List(sheet, kIdModeList)->setCurrentIndex(1);
    FindControlAs<QRadioButton>(sheet.Page(kPageConnect), kIdBootloader)->setChecked(true);
    sheet.Button(kButtonNext)->click();
    QVERIFY(WaitForWorker(5000));
    QCOMPARE(GetSerialSettings().Port, 7);
    QCOMPARE(GetSerialSettings().Baud, 56000);
    QTEST(GetSerialSettings().Parity, "parityCode");
    QCOMPARE(GetContext()->Mode, 1);
    QCOMPARE(GetContext()->StbTool, 2);
  }

  void connectAgainstAMissingPortLogsTheError() {
    QVERIFY(WaitForWorker(5000));  // a worker of an earlier case would refuse the start
    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    sheet.Button(kButtonNext)->click();
    QVERIFY(FindControl(sheet.Page(kPageConnect), kIdConnectLog)->isVisible());
    auto* log = FindControlAs<QPlainTextEdit>(sheet.Page(kPageConnect), kIdConnectLog);
    QTRY_COMPARE(log->toPlainText(),
                 QString::fromUtf8("Öffne Serialport..\nKann nicht zu Serialport verbinden!\n"));
    QTRY_COMPARE(sheet.Button(kButtonNext)->text(), QStringLiteral("Connect"));
    QCOMPARE(FindControlAs<QLabel>(sheet.Page(kPageConnect), kIdConnectStatus)->text(),
             QString::fromUtf8("Öffne Serialport.."));
    QCOMPARE(sheet.ActiveIndex(), kPageConnect);
    QVERIFY(dialogs.messages.empty());  // no box: the error stands in the log
  }

  void connectButtonCancelsARunningConnect() {
    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    sheet.SetButtonText(kButtonNext, QStringLiteral("Cancel"));
    GetContext()->State = Connecting;  // as while the handshake runs
    sheet.Button(kButtonNext)->click();
    QCOMPARE(CancelRequested().load(), 1);
    // Taken at once: the button says so until the connect has ended.
    COMPARE_BUTTONS(sheet, Off("< Back"), Off("Cancelling..."), On("Exit"));
    QVERIFY(!WorkerRunning());
    GetContext()->State = Idle;
    PostToSheet(sheet, WM_WORKER_CONNECTED, 0, 0);
    Pump();
    COMPARE_BUTTONS(sheet, Off("< Back"), On("Connect"), On("Exit"));
  }

  // --- select page ---

  void selectRowsLeaveOutMaskedChunks_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QList<int>>("keys");
    QTest::addColumn<QString>("label");
    QTest::newRow("upgrade") << 0
                             << QStringList{"Allcode  ", "Allcode (kein Bootlader)", "Bootloader",
                                            "Logo"}
                             << QList<int>{-1, -2, 0, 2} << "Operate: Upgrade";
    QTest::newRow("dump") << 1 << QStringList{"Allcode  ", "Bootloader", "Logo"}
                          << QList<int>{-1, 0, 2} << "Operate: Dump";
  }
  void selectRowsLeaveOutMaskedChunks() {
    QFETCH(int, mode);
    QFETCH(QStringList, texts);
    QFETCH(QList<int>, keys);
    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    OnSelectPage(sheet, mode, true);
    CPageSelect* page = SelectPage(sheet);
    QCOMPARE(page->RowCount(), int(texts.size()));
    for (int row = 0; row < page->RowCount(); ++row) {
      QCOMPARE(Rows(sheet)->topLevelItem(row)->text(0), texts[row]);
      QCOMPARE(page->RowKey(row), keys[row]);
      QVERIFY(HasPicture(Rows(sheet)->topLevelItem(row), 0));
    }
    QTEST(FindControlAs<QLabel>(page, kIdOperateLabel)->text(), "label");
    QCOMPARE(page->SelectedRow(), -1);
  }

  void selectStoresTheChoiceInTheEntryOfTheKey() {
    QTemporaryDir files;
    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    OnSelectPage(sheet, 0, true);
    const QString logo = WriteFile(files, "logo.m2v", Bytes(100));
    Choose(sheet, dialogs, 3, logo);  // row 3 is chunk 2
    QCOMPARE(dialogs.fileRequests.size(), size_t{1});
    QVERIFY(!dialogs.fileRequests[0].save);
    QCOMPARE(dialogs.fileRequests[0].filter, QStringLiteral("Logo file(*.m2v);;All File(*.*)"));
    QCOMPARE(dialogs.fileRequests[0].suffix, QStringLiteral("m2v"));
    const ChunkSelection& entry = GetContext()->Selections[4];
    QCOMPARE(QString::fromStdString(entry.FileName), logo);
    QCOMPARE(entry.FileLength, 100);
    QCOMPARE(entry.IsImageChunk, uint8_t{0});
    QCOMPARE(Rows(sheet)->topLevelItem(3)->text(1), logo);
    QVERIFY(HasPicture(Rows(sheet)->topLevelItem(3), 1));
    QVERIFY(sheet.Button(kButtonNext)->isEnabled());
  }

  void selectInDumpModeAsksWhereToSave() {
    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    OnSelectPage(sheet, 1, false);
    const QString target = dir_.filePath("not-yet/flash.abs");  // not examined
    Choose(sheet, dialogs, 0, target);
    QVERIFY(dialogs.fileRequests.at(0).save);
    QCOMPARE(dialogs.fileRequests.at(0).filter,
             QStringLiteral("BIN & ABS (*.bin *.abs);;All File(*.*)"));
    QCOMPARE(QString::fromStdString(GetContext()->Selections[1].FileName), target);
    QVERIFY(dialogs.messages.empty());
  }

  void selectShowsThePagesMessages_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("file");  // what the file holds, see below
    QTest::addColumn<int>("icon");
    QTest::addColumn<QString>("message");
    const auto warn = int(MessageIcon::Warning);
    QTest::newRow("raw fits") << 3 << "raw-fits" << -1 << "";
    QTest::newRow("raw too large")
        << 3 << "raw-large" << warn << QString::fromStdString(RawFileTooLargeMessage(kKernelSpan));
    QTest::newRow("image without the chunk") << 3 << "image-other" << warn << kMsgNoChunk;
    QTest::newRow("image chunk too large")
        << 3 << "image-large" << warn
        << QString::fromStdString(ImageChunkTooLargeMessage(kKernelSpan));
    QTest::newRow("empty file") << 3 << "empty" << -1 << "";
    QTest::newRow("unreadable") << 3 << "missing" << int(MessageIcon::Error) << "missing";
  }
  void selectShowsThePagesMessages() {
    QFETCH(int, row);
    QFETCH(QString, file);
    QFETCH(int, icon);
    QFETCH(QString, message);
    QTemporaryDir files;
    QString path;
    if (file == "raw-fits") path = WriteFile(files, "k.bin", Bytes(kKernelSpan - 128));
    if (file == "raw-large") path = WriteFile(files, "k.bin", Bytes(kKernelSpan - 127));
    if (file == "empty") path = WriteFile(files, "k.bin", QByteArray());
    if (file == "missing") path = files.filePath("missing.bin");
    if (file == "image-other")
      path =
          WriteImage(files, "i.abs",
                     {{kBootLoaderId, test::PatternBytes(64)}, {kLogoId, test::PatternBytes(64)}});
    if (file == "image-large")
      path = WriteImage(files, "i.abs",
                        {{kBootLoaderId, test::PatternBytes(64)},
                         {kKernelId, test::PatternBytes(kKernelSpan - 128 + 1)}});
    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    OnSelectPage(sheet, 0, false);
    // An earlier choice for the row stays whole when a new file is refused.
    const QString earlier = WriteFile(files, "earlier.bin", Bytes(10));
    Choose(sheet, dialogs, row, earlier);
    Choose(sheet, dialogs, row, path);
    const ChunkSelection& entry = GetContext()->Selections[SelectPage(sheet)->RowKey(row) + 2];
    if (icon < 0) {
      QVERIFY(dialogs.messages.empty());
    } else {
      QCOMPARE(dialogs.messages.size(), size_t{1});
      QCOMPARE(int(dialogs.messages[0].icon), icon);
      QVERIFY2(dialogs.messages[0].text.contains(message), qPrintable(dialogs.messages[0].text));
    }
    const bool accepted = file == "raw-fits";
    QCOMPARE(QString::fromStdString(entry.FileName), accepted ? path : earlier);
    QCOMPARE(entry.FileLength, accepted ? int(kKernelSpan - 128) : 10);
    QCOMPARE(Rows(sheet)->topLevelItem(row)->text(1), accepted ? path : earlier);
  }

  void selectAllcodeExcludesEveryOtherChoice() {
    QTemporaryDir files;
    const QString chunk = WriteFile(files, "c.bin", Bytes(50));
    const QString image = WriteImage(
        files, "all.abs",
        {{kBootLoaderId, test::PatternBytes(64)}, {kKernelId, test::PatternBytes(4096)}});
    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    OnSelectPage(sheet, 0, false);
    CPageSelect* page = SelectPage(sheet);
    Choose(sheet, dialogs, 3, chunk);  // Kernel
    Choose(sheet, dialogs, 4, chunk);  // Logo
    QCOMPARE(page->FirstChosenRowKey(), 1);
    Choose(sheet, dialogs, 0, image);  // "Allcode  " removes both
    QCOMPARE(page->FirstChosenRowKey(), -1);
    for (int row = 1; row < page->RowCount(); ++row) {
      QVERIFY(Rows(sheet)->topLevelItem(row)->text(1).isEmpty());
      QVERIFY(HasPicture(Rows(sheet)->topLevelItem(row), 0));
    }
    QVERIFY(HasPicture(Rows(sheet)->topLevelItem(0), 1));
    QVERIFY(GetContext()->Selections[3].FileName.empty());
    QVERIFY(GetContext()->Selections[4].FileName.empty());
    QCOMPARE(QString::fromStdString(GetContext()->Selections[1].FileName), image);

    // Other rows are refused without a dialog or a word; the same row takes a new file.
    const size_t asked = dialogs.fileRequests.size();
    Choose(sheet, dialogs, 3, chunk);
    Choose(sheet, dialogs, 1, image);
    QCOMPARE(dialogs.fileRequests.size(), asked);
    QVERIFY(dialogs.messages.empty());
    const QString other = WriteImage(
        files, "other.abs",
        {{kBootLoaderId, test::PatternBytes(64)}, {kKernelId, test::PatternBytes(8192)}});
    Choose(sheet, dialogs, 0, other);
    QCOMPARE(QString::fromStdString(GetContext()->Selections[1].FileName), other);

    // "Cancel Select" from the pop-up frees the list again.
    dialogs.menuCommand = kCmdCancelSelect;
    Rows(sheet)->setCurrentItem(Rows(sheet)->topLevelItem(0));
    emit Rows(sheet)->customContextMenuRequested(QPoint(5, 5));
    QCOMPARE(dialogs.menus.back(), (QStringList{"Open File", "Cancel Select"}));
    QVERIFY(GetContext()->Selections[1].FileName.empty());
    QVERIFY(!sheet.Button(kButtonNext)->isEnabled());
    Choose(sheet, dialogs, 3, chunk);
    QCOMPARE(QString::fromStdString(GetContext()->Selections[3].FileName), chunk);
  }

  void selectWithoutAFileAsksForOneFirst() {
    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    OnSelectPage(sheet, 0, false);
    // No row selected: no pop-up.
    emit Rows(sheet)->customContextMenuRequested(QPoint(5, 5));
    QVERIFY(dialogs.menus.empty());
    QCOMPARE(SelectPage(sheet)->OnWizardNext(), kStayOnPage);
    QCOMPARE(dialogs.messages.size(), size_t{1});
    QCOMPARE(dialogs.messages[0].text, QStringLiteral("Please select file first!"));
    QCOMPARE(dialogs.messages[0].icon, MessageIcon::None);
    QVERIFY(!WorkerRunning());
  }

  void selectActivationForgetsEarlierChoices() {
    QTemporaryDir files;
    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    OnSelectPage(sheet, 0, false);
    Choose(sheet, dialogs, 3, WriteFile(files, "c.bin", Bytes(50)));
    sheet.Button(kButtonBack)->click();
    QCOMPARE(sheet.ActiveIndex(), kPageConnect);
    sheet.SetActivePage(kPageSelect);
    for (int row = 0; row < SelectPage(sheet)->RowCount(); ++row)
      QVERIFY(Rows(sheet)->topLevelItem(row)->text(1).isEmpty());
    QVERIFY(GetContext()->Selections[3].FileName.empty());
    QVERIFY(!sheet.Button(kButtonNext)->isEnabled());
  }

  // The table holds up to 16 chunks, Selections room for 14: the last two are
  // listed, take no file, and nothing reaches past the entries.
  void selectListsChunksBeyondTheFourteenthWithoutAChoice() {
    std::vector<TargetChunkInfo> chunks;
    for (int i = 0; i < kMaxTableChunks; ++i) {
      chunks.push_back(
          MakeChunk(0x05000000u + uint32_t(i), qPrintable(QStringLiteral("C%1").arg(i)), 0x1000));
    }
    SetChunkTable(chunks);
    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    sheet.SetActivePage(kPageSelect);
    CPageSelect* page = SelectPage(sheet);
    QCOMPARE(page->RowCount(), 2 + kMaxTableChunks);
    const int lastRow = page->RowCount() - 1;
    QCOMPARE(page->RowKey(lastRow), 15);
    QTreeWidgetItem* last = Rows(sheet)->topLevelItem(lastRow);
    QVERIFY(!(last->flags() & Qt::ItemIsEnabled));
    QVERIFY(Rows(sheet)->topLevelItem(lastRow - 2)->flags() & Qt::ItemIsEnabled);  // chunk 13
    dialogs.answers.push_back(dir_.filePath("x.bin"));
    QCOMPARE(page->ChooseFileForRow(lastRow), 0);
    QCOMPARE(page->ChooseFileForRow(lastRow - 1), 0);
    QVERIFY(dialogs.fileRequests.empty());
    page->UpdateRowChoice(lastRow, true);
    page->UpdateRowChoice(lastRow, false);
    QVERIFY(last->text(1).isEmpty());
    QVERIFY(!page->HasAnySelection());
    GetContext()->Selections[15].FileName = "chunk13.bin";
    QVERIFY(page->HasAnySelection());
    QCOMPARE(page->ChooseFileForRow(-1), 0);
    QCOMPARE(page->ChooseFileForRow(page->RowCount()), 0);
  }

  // --- process page ---

  void processLogSeparatesStatusLines() {
    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    sheet.SetActivePage(kPageProcess);
    PostToSheet(sheet, WM_WORKER_STATUS, 0, 0, "a");
    PostToSheet(sheet, WM_WORKER_STATUS, 0, 0, "b");
    PostToSheet(sheet, WM_WORKER_LOG, 0, 0, "c");
    Pump();
    CWizardPage* page = sheet.Page(kPageProcess);
    QCOMPARE(FindControlAs<QPlainTextEdit>(page, kIdProcessLog)->toPlainText(),
             QStringLiteral("a\nbc"));
    QCOMPARE(FindControlAs<QLabel>(page, kIdProcessStatus)->text(), QStringLiteral("b"));
    PostToSheet(sheet, WM_WORKER_LOG, 0, 0, "Erfolgreich!\r\n");
    PostToSheet(sheet, WM_WORKER_STATUS, 0, 0, "d");
    Pump();
    QCOMPARE(FindControlAs<QPlainTextEdit>(page, kIdProcessLog)->toPlainText(),
             QStringLiteral("a\nbcErfolgreich!\n\nd"));
    sheet.SetActivePage(kPageProcess);  // activation empties both
    QVERIFY(FindControlAs<QPlainTextEdit>(page, kIdProcessLog)->toPlainText().isEmpty());
    QVERIFY(FindControlAs<QLabel>(page, kIdProcessStatus)->text().isEmpty());
  }

  void processShowsThePercentage_data() {
    QTest::addColumn<int>("percent");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("bar");
    QTest::newRow("0") << 0 << "0%" << 0;
    QTest::newRow("37") << 37 << "37%" << 37;
    QTest::newRow("100") << 100 << "100%" << 100;
  }
  void processShowsThePercentage() {
    QFETCH(int, percent);
    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    sheet.SetActivePage(kPageProcess);
    PostToSheet(sheet, WM_WORKER_PROGRESS, 55);
    PostToSheet(sheet, WM_WORKER_PROGRESS, percent);
    Pump();
    QTEST(FindControlAs<QLabel>(sheet.Page(kPageProcess), kIdPercentage)->text(), "text");
    QTEST(FindControlAs<QProgressBar>(sheet.Page(kPageProcess), kIdProgressBar)->value(), "bar");
  }

  void processResultMessage_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("failed");
    QTest::addColumn<QString>("message");
    QTest::newRow("upgrade ok") << 0 << 0 << "Upgrade Success!";
    QTest::newRow("upgrade failed") << 0 << 1 << "Upgrade Error";
    QTest::newRow("dump ok") << 1 << 0 << "Dump Success!";
    QTest::newRow("dump failed") << 1 << 1 << "Dump Error";
  }
  void processResultMessage() {
    QFETCH(int, mode);
    QFETCH(int, failed);
    GetContext()->Mode = mode;
    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    sheet.SetActivePage(kPageProcess);
    PostToSheet(sheet, WM_WORKER_FINISHED, failed, 0);
    Pump();
    QCOMPARE(dialogs.messages.size(), size_t{1});
    QTEST(dialogs.messages[0].text, "message");
    QCOMPARE(sheet.ActiveIndex(), kPageProcess);
  }

  void processCancelReturnsToTheConnectPage() {
    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    sheet.Button(kButtonNext)->click();  // a connect that fails, to fill the log
    QVERIFY(WaitForWorker(5000));
    Pump();
    sheet.SetActivePage(kPageProcess);
    GetContext()->State = Operating;
    sheet.Button(kButtonNext)->click();  // "Cancel"
    QCOMPARE(CancelRequested().load(), 1);
    QVERIFY(sheet.isVisible());
    PostToSheet(sheet, WM_WORKER_LOG, 0, 0, "Operation von Benutzer abgebrochen!\r\n");
    PostToSheet(sheet, WM_WORKER_FINISHED, 1, 1);
    GetContext()->State = Idle;
    Pump();
    QCOMPARE(sheet.ActiveIndex(), kPageConnect);
    QVERIFY(dialogs.messages.empty());
    // Why the operation ended stays readable there.
    auto* log = FindControlAs<QPlainTextEdit>(sheet.Page(kPageConnect), kIdConnectLog);
    QVERIFY(log->isVisible());
    QVERIFY(log->toPlainText().contains(QString::fromUtf8("Operation von Benutzer abgebrochen!")));
    QCOMPARE(List(sheet, kIdBaudList)->currentText(), QStringLiteral("115200"));
  }
};

QTEST_MAIN(PagesTest)
#include "pages_test.moc"
