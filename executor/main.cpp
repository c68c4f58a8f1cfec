// Dorvexal: the executor of the automatic tasks, shown only as an icon in the notification area.
// It takes no arguments. One executor runs per installation folder: a second one would run
// every due task again, into the same archives and logs, so it ends at once.
#include "executor/Dorvexal.h"
#include "manager/Settings.h"
#include "platform/files.h"
#include "platform/gui/application.h"

int main(int argc, char** argv) {
  // The lock holds also where the executor may not write. One that cannot be had at all (a
  // folder that cannot even be read) does not keep the executor from running: a lost backup is
  // worse.
  const platform::ProcessLock running(ExecutorLockPath());
  if (running.HeldElsewhere()) return 0;
  platform::Application app(argc, argv);
  app.SetShowMainForm(false);
  app.SetTitle(kExecutorTitle);
  app.CreateForm<TForm1>();
  return app.Run();
}
