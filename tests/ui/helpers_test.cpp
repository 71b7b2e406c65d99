// The wizard's small translations: file filters, dialog units, the command line.
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include "ui/dialog_units.h"
#include "ui/dialogs.h"
#include "ui/wizard_options.h"

using namespace stb;

Q_DECLARE_METATYPE(std::vector<std::string>)

class HelpersTest : public QObject {
  Q_OBJECT

 private slots:
  void filtersBecomeQtFilters_data() {
    QTest::addColumn<QString>("pairs");
    QTest::addColumn<QString>("qt");
    QTest::newRow("two patterns") << "BIN & ABS|*.bin;*.abs|All File(*.*)|*.*|"
                                  << "BIN & ABS (*.bin *.abs);;All File(*.*)";
    QTest::newRow("patterns in the text") << "Logo file(*.m2v)|*.m2v|All File(*.*)|*.*|"
                                          << "Logo file(*.m2v);;All File(*.*)";
    QTest::newRow("no trailing bar") << "user db(*.udf)|*.udf"
                                     << "user db(*.udf)";
    QTest::newRow("pattern without text") << "|*.bin|"
                                          << "*.bin";
    QTest::newRow("text without pattern") << "broken||other file(*.bin)|*.bin|"
                                          << "other file(*.bin)";
    QTest::newRow("empty") << ""
                           << "";
  }
  void filtersBecomeQtFilters() {
    QFETCH(QString, pairs);
    QTEST(QtFilterFromPairs(pairs), "qt");
  }

  // The Qt side of the dialog seam, answered by a timer so nothing blocks.
  void qtDialogsAreTitledWithTheExecutablesName() {
    QCOMPARE(ApplicationName(), QStringLiteral("helpers_test"));
    CQtDialogs dialogs;
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      QVERIFY(box != nullptr);
      title = box->windowTitle();
      text = box->text();
      icon = box->icon();
      box->accept();
    });
    dialogs.ShowMessage(nullptr, MessageIcon::Warning, QStringLiteral("Upgrade Success!"));
    QCOMPARE(title, QStringLiteral("helpers_test"));
    QCOMPARE(text, QStringLiteral("Upgrade Success!"));
    QCOMPARE(icon, QMessageBox::Warning);

    QStringList filters;
    QString suffix;
    bool save = false;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      QVERIFY(dialog != nullptr);
      filters = dialog->nameFilters();
      suffix = dialog->defaultSuffix();
      save = dialog->acceptMode() == QFileDialog::AcceptSave;
      title = dialog->windowTitle();
      dialog->reject();
    });
    QVERIFY(dialogs
                .SaveFile(nullptr, QStringLiteral("user db(*.udf);;All File(*.*)"),
                          QStringLiteral("udf"))
                .isEmpty());
    QCOMPARE(filters, (QStringList{"user db(*.udf)", "All File(*.*)"}));
    QCOMPARE(suffix, QStringLiteral("udf"));
    QVERIFY(save);
    QCOMPARE(title, QStringLiteral("helpers_test"));
  }

  void dialogUnitsScaleWithTheFont() {
    const DialogUnits du(6, 13);
    QCOMPARE(du.Rect(8, 5, 94, 68), QRect(12, 8, 141, 111));
    QCOMPARE(du.X(340), 510);
    QCOMPARE(du.Y(193), 314);  // 313.6 rounded
    QCOMPARE(du.Y(-2), -3);
    const DialogUnits fromFont(DialogFont());
    QVERIFY(fromFont.BaseX() > 0 && fromFont.BaseY() > 0);
  }

  void commandLine_data() {
    QTest::addColumn<std::vector<std::string>>("args");
    QTest::addColumn<QString>("device");
    QTest::addColumn<bool>("simulate");
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("error");
    using V = std::vector<std::string>;
    QTest::newRow("nothing") << V{} << "" << false << "" << false;
    QTest::newRow("device") << V{"--device", "/dev/ttyUSB0"} << "/dev/ttyUSB0" << false << ""
                            << false;
    QTest::newRow("device=") << V{"--device=/dev/pts/3"} << "/dev/pts/3" << false << "" << false;
    QTest::newRow("simulate") << V{"--simulate"} << "" << true << "" << false;
    QTest::newRow("simulate=2.0") << V{"--simulate=2.0"} << "" << true << "2.0" << false;
    QTest::newRow("device without path") << V{"--device"} << "" << false << "" << true;
    QTest::newRow("unknown") << V{"--devcie", "x"} << "" << false << "" << true;
    QTest::newRow("simulate=bad") << V{"--simulate=3.x"} << "" << true << "3.x" << true;
    QTest::newRow("both") << V{"--simulate", "--device", "/dev/x"} << "/dev/x" << true << ""
                          << true;
  }
  void commandLine() {
    QFETCH(std::vector<std::string>, args);
    const WizardOptions options = ParseWizardOptions(args);
    QTEST(QString::fromStdString(options.device), "device");
    QTEST(options.simulate, "simulate");
    QTEST(QString::fromStdString(options.simulateVersion), "version");
    QTEST(!options.error.empty(), "error");
  }

  void simulatedVersions_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<uint>("version");
    QTest::newRow("3.0") << "3.0" << true << 0x30u;
    QTest::newRow("3.1") << "3.1" << true << 0x31u;
    QTest::newRow("2.0") << "2.0" << true << 0x20u;
    QTest::newRow("hex") << "0x21" << true << 0x21u;
    QTest::newRow("decimal") << "48" << true << 48u;
    QTest::newRow("zero") << "0.0" << false << 0u;
    QTest::newRow("minor too big") << "3.16" << false << 0u;
    QTest::newRow("negative") << "-1" << false << 0u;
    QTest::newRow("blank") << " 3.0" << false << 0u;
    QTest::newRow("too big") << "0x100" << false << 0u;
    QTest::newRow("words") << "three" << false << 0u;
    QTest::newRow("empty") << "" << false << 0u;
  }
  void simulatedVersions() {
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(uint, version);
    uint32_t parsed = 0;
    QCOMPARE(ParseSimulatedVersion(text.toStdString(), parsed), ok);
    if (ok) QCOMPARE(parsed, version);
  }
};

QTEST_MAIN(HelpersTest)
#include "helpers_test.moc"
