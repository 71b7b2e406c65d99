// Notice window 136: a borderless pop-up that tells the user the tool waits for the
// worker to end while the wizard closes.
#pragma once

#include <QWidget>

namespace stb {

inline constexpr const char* kWaitNoticeText = "Warten bis Thread geschlossen wird...";

class CNoticeWindow final : public QWidget {
  Q_OBJECT

 public:
  explicit CNoticeWindow(QWidget* owner);
  // Centres the window on its owner.
  void CentreOnOwner();
};

}  // namespace stb
