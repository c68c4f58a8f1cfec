// Lokvist: shows the executor's log, Dorvexal.log of the installation folder, and follows it.
#include "logview/LogViewer.h"
#include "platform/gui/application.h"

int main(int argc, char** argv) {
  platform::Application app(argc, argv);
  app.SetTitle("Просмотр протокола");
  app.CreateForm<TLogViewer>(ExecutorLogFile());
  return app.Run();
}
