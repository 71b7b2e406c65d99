// Connect page (dialog 107): serial port, parity, baud rate, tool and mode; starts
// the connect worker and shows its status lines and log.
#pragma once

#include "ui/wizard_sheet.h"

class QButtonGroup;
class QComboBox;
class QLabel;
class QPlainTextEdit;

namespace stb {

// Control identifiers of dialog 107.
inline constexpr int kIdPortList = 1039;
inline constexpr int kIdParityList = 1041;
inline constexpr int kIdBaudList = 1040;
inline constexpr int kIdModeList = 1005;
inline constexpr int kIdAutodetect = 1000;
inline constexpr int kIdEprom = 1001;
inline constexpr int kIdBootloader = 1002;
inline constexpr int kIdConnectStatus = 1003;
inline constexpr int kIdConnectLog = 1006;

// Parity list index to the Parity setting's code.
inline constexpr int kParityCodes[5] = {0, 2, 1, 3, 4};

class CPageConnect final : public CWizardPage {
  Q_OBJECT

 public:
  explicit CPageConnect(IWizardSheet& sheet, QWidget* parent = nullptr);

  void OnSetActive() override;
  int OnWizardNext() override;  // the Connect/Cancel button; never moves
  void OnWizardCancel() override;
  // Shows the status line and log of an operation that was cancelled.
  void ShowEndedRun(const QString& status, const QString& log);

 protected:
  void OnInitDialog() override;
  bool event(QEvent* event) override;

 private:
  void AppendToLog(const QString& text);

  QComboBox* port_;
  QComboBox* parity_;
  QComboBox* baud_;
  QComboBox* mode_;
  QButtonGroup* tool_;
  QLabel* status_;
  QPlainTextEdit* log_;
};

}  // namespace stb
