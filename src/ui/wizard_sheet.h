// What a wizard page relies on from the sheet that holds it, and the page base the
// sheet drives: page indices, the three wizard buttons, switching pages and the
// close request.
#pragma once

#include <QString>
#include <QWidget>

namespace stb {

class CUpgradeContext;

// Pages, in the order the sheet holds them.
inline constexpr int kPageConnect = 0;
inline constexpr int kPageSelect = 1;
inline constexpr int kPageProcess = 2;

// The wizard buttons; their identifiers are their keys.
inline constexpr int kButtonBack = 12323;  // "< Back", "Restart"
inline constexpr int kButtonNext = 12324;  // "Connect", "Cancel", "Next >", "Finish"
inline constexpr int kButtonCancel = 2;    // "Exit"

class IWizardSheet {
 public:
  virtual ~IWizardSheet() = default;
  // Both do nothing when the sheet has no button with that identifier.
  virtual void SetButtonText(int buttonId, const QString& text) = 0;
  virtual void EnableButton(int buttonId, bool enable) = 0;
  // Shows the page and runs its activation, as Back and Next do.
  virtual void SetActivePage(int index) = 0;
  // Queues the close request (Esc, "Finish").
  virtual void PostCloseRequest() = 0;
  // Delivers the close request at once (the wizard's cancel, "Exit").
  virtual void SendCloseRequest() = 0;
  // Back to the connect page after a cancelled operation, keeping its last status
  // line and its log there, so the user can still read why it ended.
  virtual void ReturnToConnect(const QString& status, const QString& log) = 0;
  // The context while the wizard runs; null once the close path has begun, so a
  // late notification never recreates a context that is being destroyed.
  virtual CUpgradeContext* Context() = 0;
};

// The result of a page's Next or Back: the index to move to, or stay.
inline constexpr int kStayOnPage = -1;

class CWizardPage : public QWidget {
  Q_OBJECT

 public:
  explicit CWizardPage(IWizardSheet& sheet, QWidget* parent = nullptr);

  // Runs once, before the first activation (the page's dialog initialisation).
  void EnsureInitialised();
  // Each time the page becomes active.
  virtual void OnSetActive() {}
  // Next and Back: the index to move to, or kStayOnPage.
  virtual int OnWizardNext() { return kStayOnPage; }
  virtual int OnWizardBack() { return kStayOnPage; }
  // The wizard's cancel ("Exit"); only the connect page acts on it.
  virtual void OnWizardCancel() {}
  // The page's own pre-translation of an event for the page or one of its
  // controls; true consumes it. Esc posts the close request.
  virtual bool PreTranslate(QEvent* event);

 protected:
  virtual void OnInitDialog() {}
  IWizardSheet& Sheet() const { return sheet_; }

 private:
  IWizardSheet& sheet_;
  bool initialised_ = false;
};

}  // namespace stb
