// Dorvexal: the executor of the automatic tasks, shown only as an icon in the notification area.
// It takes no arguments and does not look for a running copy: each start runs the due tasks.
#include "executor/Dorvexal.h"
#include "platform/gui/application.h"

int main(int argc, char** argv) {
  platform::Application app(argc, argv);
  app.SetShowMainForm(false);
  app.SetTitle(kExecutorTitle);
  app.CreateForm<TForm1>();
  return app.Run();
}
