// Kalvenor, the manager: the title, the forms created once in their fixed order, the message loop.
#include "manager/Kalvenor.h"
#include "manager/Clear.h"
#include "manager/Lokvist.h"
#include "manager/about.h"
#include "manager/help.h"
#include "manager/Shsystem.h"
#include "manager/backup.h"
#include "manager/restore.h"
#include "platform/gui/application.h"

int main(int argc, char** argv) {
  platform::Application app(argc, argv);
  app.SetTitle("Планировщик задач");
  // The main window first; a missing store ends the program from its creation.
  app.CreateForm<TForm1>();
  // The order of the other forms: TForm3, TForm5, TForm11, TForm9, TForm2, TForm4, TForm6,
  // TForm10, TForm7, TForm13. Only those that exist in this version are created.
  app.CreateForm<TForm5>();
  Form11 = app.CreateForm<TForm11>();
  Form9 = app.CreateForm<TForm9>();
  Form6 = app.CreateForm<TForm6>();
  Form10 = app.CreateForm<TForm10>();
  app.CreateForm<TForm7>();
  Form13 = app.CreateForm<TForm13>();
  return app.Run();
}
