// The select page's guards: a whole image that fails the image check is sent only
// after an explicit Yes, a file that is no regular file is refused with its reason,
// and in dump mode no two chunks share a file.
#include <sys/stat.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "context/upgrade_context.h"
#include "image/image_report.h"
#include "image/image_verdict.h"
#include "image_builder.h"
#include "operations/file_choice.h"
#include "ui/dialog_units.h"
#include "ui/page_select.h"
#include "ui_fixture.h"

using namespace stb;
using namespace stb::uitest;

namespace {
constexpr uint32_t kKernelId = 0x01FE0100;
constexpr uint32_t kLogoId = 0x02FD0200;

QString Write(const QTemporaryDir& dir, const QString& name, const std::vector<uint8_t>& bytes) {
  const QString path = dir.filePath(name);
  QFile file(path);
  if (file.open(QIODevice::WriteOnly))
    file.write(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
  return path;
}

std::vector<uint8_t> GoodImage() {
  return test::BuildImage({{kBootLoaderId, test::PatternBytes(64)},
                           {kKernelId, test::PatternBytes(3000)},
                           {kLogoId, test::PatternBytes(500)}});
}
}  // namespace

class SelectChecksTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;

  QTreeWidget* Rows(CUpgradeSheet& s) {
    return FindControlAs<QTreeWidget>(s.Page(kPageSelect), kIdChunkList);
  }
  void OnSelectPage(CUpgradeSheet& sheet, int32_t mode) {
    SetChunkTable({MakeChunk(kBootLoaderId, "Bootloader", 0x10000),
                   MakeChunk(kKernelId, "Kernel", 0x20000), MakeChunk(kLogoId, "Logo", 0x8000)});
    GetContext()->Mode = mode;
    sheet.SetActivePage(kPageSelect);
  }
  void Choose(CUpgradeSheet& sheet, FakeDialogs& dialogs, int row, const QString& file) {
    dialogs.answers.push_back(file);
    QTreeWidget* rows = Rows(sheet);
    rows->setCurrentItem(rows->topLevelItem(row));
    emit rows->itemDoubleClicked(rows->topLevelItem(row), 0);
    dialogs.answers.clear();
  }
  QString FileColumn(CUpgradeSheet& sheet, int row) {
    return Rows(sheet)->topLevelItem(row)->text(1);
  }
  QString Entry(int key) {
    return QString::fromStdString(GetContext()->Selections[key + 2].FileName);
  }

 private slots:
  void init() { FreshContext(dir_.filePath("Upgrade.ini")); }

  // Rows 0 "Allcode  " and 1 "Allcode (kein Bootlader)": both check the whole file.
  void brokenWholeImageIsSentOnlyAfterYes_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("broken");
    for (const int row : {0, 1}) {
      for (const char* broken : {"half", "crc", "random"})
        QTest::newRow(qPrintable(QStringLiteral("row %1 %2").arg(row).arg(broken)))
            << row << QString::fromUtf8(broken);
    }
  }
  void brokenWholeImageIsSentOnlyAfterYes() {
    QFETCH(int, row);
    QFETCH(QString, broken);
    std::vector<uint8_t> bytes = GoodImage();
    if (broken == "half") bytes.resize(bytes.size() / 2);
    if (broken == "crc") bytes[128 + 64 + 16 + 1000] ^= 0x01;  // data of the kernel chunk
    if (broken == "random") bytes = test::PatternBytes(bytes.size(), 5);
    QTemporaryDir files;
    const QString good = Write(files, "good.abs", GoodImage());
    const QString bad = Write(files, "bad.abs", bytes);
    const QString reason =
        QString::fromStdString(ImageVerdictText(InspectImage(bad.toStdString())));
    QVERIFY(!reason.isEmpty());

    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    OnSelectPage(sheet, 0);
    const int key = row == 0 ? kAllcodeKey : kAllcodeNoBootKey;
    Choose(sheet, dialogs, row, good);  // a valid image asks nothing
    QVERIFY(dialogs.questions.empty());
    QCOMPARE(Entry(key), good);

    // No (also the answer when the box is closed without a choice): the row as it was.
    Choose(sheet, dialogs, row, bad);
    QCOMPARE(dialogs.questions.size(), size_t{1});
    const QString question = dialogs.questions[0];
    QVERIFY2(question.contains(bad), qPrintable(question));
    QVERIFY2(question.contains(QStringLiteral("The image is not valid: ") + reason + "."),
             qPrintable(question));
    QVERIFY2(question.endsWith(QStringLiteral("Send it anyway?")), qPrintable(question));
    QCOMPARE(Entry(key), good);
    QCOMPARE(FileColumn(sheet, row), good);
    QVERIFY(dialogs.messages.empty());

    dialogs.yesNo = {true};
    Choose(sheet, dialogs, row, bad);
    QCOMPARE(dialogs.questions.size(), size_t{2});
    QCOMPARE(Entry(key), bad);
    QCOMPARE(FileColumn(sheet, row), bad);
    QVERIFY(sheet.Button(kButtonNext)->isEnabled());
  }

  // An image file for a chunk row is still examined as before: no question there.
  void chunkRowTakesANonImageAsRawData() {
    QTemporaryDir files;
    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    OnSelectPage(sheet, 0);
    const QString raw = Write(files, "k.bin", test::PatternBytes(1000));
    Choose(sheet, dialogs, 3, raw);  // Kernel
    QVERIFY(dialogs.questions.empty());
    QCOMPARE(Entry(1), raw);
  }

  void fileThatIsNoRegularFileIsRefusedWithItsReason() {
    QTemporaryDir files;
    const QString fifo = files.filePath("fifo.abs");
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0644) == 0);
    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    OnSelectPage(sheet, 0);
    for (const int row : {0, 1, 3}) {
      Choose(sheet, dialogs, row, fifo);
      QCOMPARE(FileColumn(sheet, row), QString());
    }
    QCOMPARE(dialogs.messages.size(), size_t{3});
    for (const FakeDialogs::Message& m : dialogs.messages) {
      QCOMPARE(int(m.icon), int(MessageIcon::Error));
      QCOMPARE(m.text, fifo + QStringLiteral(": The file is not a regular file."));
    }
    QVERIFY(dialogs.questions.empty());
    QVERIFY(!sheet.Button(kButtonNext)->isEnabled());
  }

  void dumpRefusesTheFileOfAnotherRow() {
    QTemporaryDir files;
    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    OnSelectPage(sheet, 1);  // rows: Allcode, Bootloader, Kernel, Logo
    const QString target = files.filePath("chunk.bin");
    Choose(sheet, dialogs, 1, target);
    const QString logo = files.filePath("logo.m2v");
    Choose(sheet, dialogs, 3, logo);
    Choose(sheet, dialogs, 2, files.filePath("./chunk.bin"));  // the same file, other name
    QCOMPARE(dialogs.messages.size(), size_t{1});
    QCOMPARE(int(dialogs.messages[0].icon), int(MessageIcon::Warning));
    QCOMPARE(dialogs.messages[0].text, QString::fromUtf8(kMsgFileChosenTwice));
    QCOMPARE(FileColumn(sheet, 2), QString());
    QVERIFY(Entry(1).isEmpty());
    // The row that holds the file may take it again; other rows keep theirs.
    Choose(sheet, dialogs, 1, target);
    QCOMPARE(dialogs.messages.size(), size_t{1});
    QCOMPARE(Entry(0), target);
    QCOMPARE(Entry(2), logo);
  }

  // The real question box: No is the default button and Esc means No.
  void questionBoxDefaultsToNo() {
    CQtDialogs dialogs;
    bool checked = false;
    QTimer poll;  // the box appears inside AskYesNo's own event loop
    connect(&poll, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      poll.stop();
      checked = box->defaultButton() == box->button(QMessageBox::No) &&
                box->escapeButton() == box->button(QMessageBox::No) &&
                box->text() == QStringLiteral("Send it anyway?");
      QTest::keyClick(box, Qt::Key_Return);
    });
    poll.start(10);
    QVERIFY(!dialogs.AskYesNo(nullptr, QStringLiteral("Send it anyway?")));
    QVERIFY(checked);
  }
};

QTEST_MAIN(SelectChecksTest)
#include "select_checks_test.moc"
