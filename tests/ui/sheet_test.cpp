// The sheet: title, bottom label, button tables, keys, notification routing and the
// close request.
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "context/connect.h"
#include "context/settings.h"
#include "context/upgrade_context.h"
#include "pty_pair.h"
#include "ui/dialog_units.h"
#include "ui/notice_window.h"
#include "ui/page_connect.h"
#include "ui/page_process.h"
#include "ui/page_select.h"
#include "ui_fixture.h"

using namespace stb;
using namespace stb::uitest;

class SheetTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString Ini() const { return dir_.filePath("Upgrade.ini"); }
  QString IniText() const {
    QFile file(Ini());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
  }
  // A sheet on the select page after a successful connect with three chunks.
  void ConnectedSheet(CUpgradeSheet& sheet, uint32_t version = 0x30) {
    SetChunkTable({MakeChunk(kBootLoaderId, "Bootloader", 0x10000),
                   MakeChunk(0x01FE0100, "Kernel", 0x40000),
                   MakeChunk(0x02FD0200, "Logo", 0x20000)});
    GetContext()->ProtocolVersion = version;
    PostToSheet(sheet, WM_WORKER_CONNECTED, 1);
    Pump();
  }

 private slots:
  void init() {
    QFile::remove(Ini());
    FreshContext(Ini());
  }

  void titleShowsTheProtocolVersion_data() {
    QTest::addColumn<uint>("version");
    QTest::addColumn<QString>("title");
    const QString loader = QString::fromUtf8("Quendel Loader ohne Bootladerprüfung");
    QTest::newRow("0x31") << 0x31u << loader + " Protokol Version: 3.1";
    QTest::newRow("0x30") << 0x30u << loader + " Protokol Version: 3.0";
    QTest::newRow("32") << 32u << loader + " Protokol Version: 2.0";
    QTest::newRow("0") << 0u << loader;
  }
  void titleShowsTheProtocolVersion() {
    QFETCH(uint, version);
    QFETCH(QString, title);
    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    QCOMPARE(sheet.windowTitle(), QStringLiteral("STB Upgrade 2.0.0"));  // before the window exists
    sheet.show();
    QCOMPARE(sheet.windowTitle(), ProtocolTitle(0));
    ConnectedSheet(sheet, version);
    QCOMPARE(sheet.windowTitle(), title);
    QCOMPARE(sheet.ActiveIndex(), kPageSelect);
  }

  void failedConnectRelabelsNextAndKeepsTitleAndPage() {
    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    ConnectedSheet(sheet, 0x31);
    sheet.SetActivePage(kPageConnect);
    sheet.SetButtonText(kButtonNext, QStringLiteral("Cancel"));
    PostToSheet(sheet, WM_WORKER_CONNECTED, 0);
    Pump();
    QCOMPARE(sheet.ActiveIndex(), kPageConnect);
    QCOMPARE(sheet.Button(kButtonNext)->text(), QStringLiteral("Connect"));
    QVERIFY(sheet.windowTitle().endsWith(QStringLiteral("Version: 3.1")));
  }

  void bottomLabelFollowsTheRectangleRule() {
    QCOMPARE(BottomLabelRect(QRect(0, 0, 600, 400)), QRect(QPoint(2, 383), QPoint(300, 397)));
    QCOMPARE(BottomLabelRect(QRect(0, 0, 7, 40)), QRect(QPoint(2, 23), QPoint(3, 37)));
    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    QVERIFY(sheet.BottomLabel() != nullptr);
    QCOMPARE(sheet.BottomLabel()->text(), QStringLiteral("stb-upgrade.example   V.2B  "));
    QCOMPARE(sheet.BottomLabel()->geometry(), BottomLabelRect(sheet.rect()));
  }

  void buttonsWithoutThatIdentifierChangeNothing() {
    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    const Buttons before = Snapshot(sheet);
    sheet.SetButtonText(9999, QStringLiteral("x"));
    sheet.EnableButton(9999, false);
    sheet.SetButtonText(kIdPortList, QStringLiteral("x"));  // a page control, not a wizard button
    QVERIFY(Snapshot(sheet) == before);
    QCOMPARE(FindControlAs<QComboBox>(sheet.Page(kPageConnect), kIdPortList)->currentText(),
             QStringLiteral("COM1"));
  }

  void enterWithNextDisabledDoesNothing() {
    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    ConnectedSheet(sheet);
    QVERIFY(!sheet.Button(kButtonNext)->isEnabled());
    auto* list = FindControlAs<QTreeWidget>(sheet.Page(kPageSelect), kIdChunkList);
    list->setCurrentItem(list->topLevelItem(2));
    list->setFocus();
    QSignalSpy activated(list, &QTreeWidget::activated);
    QTest::keyClick(list, Qt::Key_Return);
    QTest::keyClick(list, Qt::Key_Enter);
    Pump();
    QCOMPARE(activated.count(), 0);     // the key never reached the list
    QVERIFY(dialogs.messages.empty());  // Next was not pressed ("Please select file first!")
    QCOMPARE(sheet.ActiveIndex(), kPageSelect);
    QVERIFY(sheet.isVisible());
  }

  void enterWithNextEnabledPressesIt() {
    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    sheet.SetActivePage(kPageProcess);
    PostToSheet(sheet, WM_WORKER_FINISHED, 0, 0);
    Pump();
    QCOMPARE(sheet.Button(kButtonNext)->text(), QStringLiteral("Finish"));
    QTest::keyClick(sheet.Page(kPageProcess), Qt::Key_Return);
    Pump();
    QVERIFY(!sheet.isVisible());
    QVERIFY(sheet.Closed());
  }

  void notificationsGoToThePageActiveWhenTheSheetHandlesThem() {
    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    SetChunkTable({MakeChunk(0x01FE0100, "Kernel", 0x40000)});
    PostToSheet(sheet, WM_WORKER_STATUS, 0, 0, "a");
    PostToSheet(sheet, WM_WORKER_STATUS, 0, 0, "b");
    PostToSheet(sheet, WM_WORKER_LOG, 0, 0, "c");
    // The sheet forwards the texts before it switches: they arrive at the connect
    // page although the select page is active by then.
    PostToSheet(sheet, WM_WORKER_CONNECTED, 1);
    Pump();
    QCOMPARE(sheet.ActiveIndex(), kPageSelect);
    CWizardPage* connectPage = sheet.Page(kPageConnect);
    QCOMPARE(FindControlAs<QPlainTextEdit>(connectPage, kIdConnectLog)->toPlainText(),
             QStringLiteral("a\nb\nc"));
    QCOMPARE(FindControlAs<QLabel>(connectPage, kIdConnectStatus)->text(), QStringLiteral("b"));
    // A text for the select page is dropped there and goes no further.
    PostToSheet(sheet, WM_WORKER_LOG, 0, 0, "late");
    Pump();
    QVERIFY(
        !FindControlAs<QPlainTextEdit>(connectPage, kIdConnectLog)->toPlainText().contains("late"));
  }

  void closeBoxDuringFlashingLeavesTheWindowOpen() {
    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    QVERIFY(QTest::qWaitForWindowExposed(&sheet));
    sheet.SetActivePage(kPageProcess);
    GetContext()->State = Flashing;
    PostToSheet(sheet, WM_WORKER_FLASHING);
    Pump();
    COMPARE_BUTTONS(sheet, Off("< Back"), Off("Cancel"), Off("Exit"));
    CloseBox(sheet);
    QTest::keyClick(sheet.Page(kPageProcess), Qt::Key_Escape);
    Pump();
    QVERIFY(sheet.isVisible());
    QVERIFY(!sheet.Closed());
    QVERIFY(!QFile::exists(Ini()));

    PostToSheet(sheet, WM_WORKER_FINISHED, 0, 0);
    GetContext()->State = Idle;  // the worker posts its end, then becomes idle
    Pump();
    QCOMPARE(dialogs.messages.size(), size_t{1});
    QCOMPARE(dialogs.messages[0].text, QStringLiteral("Upgrade Success!"));
    CloseBox(sheet);
    QVERIFY(!sheet.isVisible());
    QVERIFY(sheet.Closed());
    // The close path saved exactly the serial settings.
    QCOMPARE(IniText().remove('\r'), QStringLiteral("[Config]\nPort=1\nBaud=115200\nParity=2\n"));
  }

  void escapeAndExitCloseTheWizard_data() {
    QTest::addColumn<bool>("escape");
    QTest::newRow("Esc") << true;
    QTest::newRow("Exit") << false;
  }
  void escapeAndExitCloseTheWizard() {
    QFETCH(bool, escape);
    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    GetSerialSettings().Port = 3;
    if (escape) {
      QTest::keyClick(sheet.Page(kPageConnect), Qt::Key_Escape);
    } else {
      sheet.Button(kButtonCancel)->click();
    }
    Pump();
    QVERIFY(sheet.Closed());
    QVERIFY(IniText().contains(QStringLiteral("Port=3")));
  }

  void closingDuringAConnectCancelsItAndShowsTheNotice() {
    test::PtyPair silentBox;  // a line where nobody answers the handshake
    QVERIFY(silentBox.Ok());
    FreshContext(Ini(), silentBox.SlavePath());
    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    sheet.Button(kButtonNext)->click();
    QCOMPARE(sheet.Button(kButtonNext)->text(), QStringLiteral("Cancel"));
    QTRY_VERIFY(GetContext()->State.load() == Connecting);
    bool noticeSeen = false;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
      if (sheet.Notice()->isVisible()) noticeSeen = true;
    });
    probe.start(5);
    sheet.close();
    QVERIFY(sheet.Closed());
    QVERIFY(noticeSeen);
    QVERIFY(!sheet.Notice()->isVisible());
    QVERIFY(!WorkerRunning());
    QVERIFY(IniText().contains(QStringLiteral("Baud=115200")));
  }

  void noticeWindowLooksAsDialog136() {
    FakeDialogs dialogs;
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    QVERIFY(!sheet.Notice()->isVisible());
    sheet.ShowWaitNotice(1);
    QVERIFY(sheet.Notice()->isVisible());
    auto* text = sheet.Notice()->findChild<QLabel*>();
    QCOMPARE(text->text(), QStringLiteral("Warten bis Thread geschlossen wird..."));
    const QImage shot = sheet.Notice()->grab().toImage();
    QCOMPARE(QColor(shot.pixel(1, 1)), QColor(155, 250, 50));
    QCOMPARE(QColor(shot.pixel(shot.width() - 2, shot.height() - 2)), QColor(155, 250, 50));
    sheet.ShowWaitNotice(0);
    QVERIFY(!sheet.Notice()->isVisible());
  }

  // The button table, row by row, through a run the notifications drive: a failed
  // connect, a good one, a file, the operation, the burn, the end and Restart.
  void buttonTablesThroughARun() {
    QTemporaryDir files;
    const QString kernel = files.filePath("kernel.bin");
    {
      QFile f(kernel);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(QByteArray(1000, 'k'));
    }
    FakeDialogs dialogs;
    dialogs.answers.push_back(kernel);
    CUpgradeSheet sheet(dialogs);
    sheet.show();
    COMPARE_BUTTONS(sheet, Off("< Back"), On("Connect"), On("Exit"));
    sheet.Button(kButtonNext)->click();  // the port does not exist: the connect fails
    COMPARE_BUTTONS(sheet, Off("< Back"), On("Cancel"), On("Exit"));
    QTRY_COMPARE(sheet.Button(kButtonNext)->text(), QStringLiteral("Connect"));
    QVERIFY(WaitForWorker(5000));
    COMPARE_BUTTONS(sheet, Off("< Back"), On("Connect"), On("Exit"));
    QCOMPARE(sheet.ActiveIndex(), kPageConnect);

    ConnectedSheet(sheet);
    COMPARE_BUTTONS(sheet, On("< Back"), Off("Next >"), On("Exit"));
    auto* select = static_cast<CPageSelect*>(sheet.Page(kPageSelect));
    auto* list = FindControlAs<QTreeWidget>(select, kIdChunkList);
    list->setCurrentItem(list->topLevelItem(3));  // "Kernel"
    emit list->itemDoubleClicked(list->topLevelItem(3), 0);
    COMPARE_BUTTONS(sheet, On("< Back"), On("Next >"), On("Exit"));

    sheet.Button(kButtonNext)->click();  // starts the operation on the missing port
    QCOMPARE(sheet.ActiveIndex(), kPageProcess);
    COMPARE_BUTTONS(sheet, Off("< Back"), On("Cancel"), On("Exit"));
    // The buttons have changed before the result is shown.
    Buttons atMessage{};
    dialogs.onMessage = [&](const FakeDialogs::Message&) { atMessage = Snapshot(sheet); };
    QTRY_COMPARE(dialogs.messages.size(), size_t{1});
    QCOMPARE(dialogs.messages[0].text, QStringLiteral("Upgrade Error"));
    QCOMPARE(dialogs.messages[0].icon, MessageIcon::Warning);
    QVERIFY(atMessage == (Buttons{On("Restart"), On("Finish"), On("Exit")}));
    QVERIFY(WaitForWorker(5000));

    PostToSheet(sheet, WM_WORKER_FLASHING);  // a burn locks all three
    Pump();
    COMPARE_BUTTONS(sheet, Off("Restart"), Off("Finish"), Off("Exit"));
    PostToSheet(sheet, WM_WORKER_FINISHED, 0, 0);
    Pump();
    COMPARE_BUTTONS(sheet, On("Restart"), On("Finish"), On("Exit"));

    sheet.Button(kButtonBack)->click();  // "Restart"
    QCOMPARE(sheet.ActiveIndex(), kPageConnect);
    COMPARE_BUTTONS(sheet, Off("< Back"), On("Connect"), On("Exit"));
    QVERIFY(
        sheet.windowTitle().endsWith(QStringLiteral("Version: 3.0")));  // kept until a new connect
  }
};

QTEST_MAIN(SheetTest)
#include "sheet_test.moc"
