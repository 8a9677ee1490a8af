#include "orvsched/launcher.h"

#include <QProcess>
#include <QStringList>

namespace orvsched {

void CProcessLauncher::Start(const std::string& cmdLine, bool /*runMinimized*/) {
  QStringList arguments = QProcess::splitCommand(QString::fromStdString(cmdLine));
  if (arguments.isEmpty()) return;
  const QString program = arguments.takeFirst();
  QProcess::startDetached(program, arguments);
}

}  // namespace orvsched
