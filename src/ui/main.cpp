// stb-upgrade: the three-page wizard that connects a set-top box, chooses files and
// dumps or upgrades its flash.
#include <QApplication>
#include <cstdio>
#include <string>
#include <vector>

#include "context/settings.h"
#include "context/upgrade_context.h"
#include "ui/dialogs.h"
#include "ui/upgrade_app.h"
#include "ui/wizard_options.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);  // takes the toolkit's own options (-platform ...)
  std::vector<std::string> args;
  const QStringList arguments = QApplication::arguments();
  for (qsizetype i = 1; i < arguments.size(); ++i) args.push_back(arguments[i].toStdString());
  const stb::WizardOptions options = stb::ParseWizardOptions(args);
  if (options.help) {
    std::fputs(stb::WizardUsage(), stdout);
    return 0;
  }
  if (!options.error.empty()) {
    std::fprintf(stderr, "stb-upgrade: %s\n%s", options.error.c_str(), stb::WizardUsage());
    return 2;
  }
  if (!options.ini.empty()) stb::SetSettingsFilePath(options.ini);
  if (!options.device.empty()) stb::GetSerialSettings().Device = options.device;

  stb::CQtDialogs dialogs;
  stb::CUpgradeApp wizard(dialogs);
  return wizard.Run();
}
