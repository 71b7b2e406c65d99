// The application: creates and loads the context, runs the wizard modally, and
// ends when it closes.
#pragma once

namespace stb {

class IDialogs;

class CUpgradeApp {
 public:
  explicit CUpgradeApp(IDialogs& dialogs) : dialogs_(dialogs) {}
  // Returns the process's exit code. Needs a QApplication.
  int Run();

 private:
  IDialogs& dialogs_;
};

}  // namespace stb
