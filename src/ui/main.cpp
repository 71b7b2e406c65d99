// stb-upgrade: the three-page wizard that connects a set-top box, chooses files and
// dumps or upgrades its flash.
#include <QApplication>
#include <cstdio>
#include <string>
#include <vector>

#include "context/settings.h"
#include "context/upgrade_context.h"
#include "ui/demo_box.h"
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

  // Demo mode: the box lives in this process for as long as the wizard runs.
  stb::CDemoBox demo;
  if (options.simulate) {
    uint32_t version = stb::kDemoDefaultProtocol;
    if (!options.simulateVersion.empty())
      stb::ParseSimulatedVersion(options.simulateVersion, version);
    std::string error;
    if (!demo.Start(version, error)) {
      std::fprintf(stderr, "stb-upgrade: the emulated box does not start: %s\n", error.c_str());
      return 1;
    }
  }

  stb::CQtDialogs dialogs;
  stb::CUpgradeApp wizard(dialogs);
  return wizard.Run();
}
