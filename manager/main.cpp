// Kalvenor, the manager: the title, the forms created once in their fixed order, the message loop.
#include "manager/Add.h"
#include "manager/Kalvenor.h"
#include "manager/Clear.h"
#include "manager/Lokvist.h"
#include "manager/Select.h"
#include "manager/about.h"
#include "manager/help.h"
#include "manager/Shsystem.h"
#include "manager/backup.h"
#include "manager/prefrens.h"
#include "manager/restore.h"
#include "platform/gui/application.h"

int main(int argc, char** argv) {
  platform::Application app(argc, argv);
  app.SetTitle("Планировщик задач");
  // The main window first; a missing store ends the program from its creation.
  app.CreateForm<TForm1>();
  // Then the other forms, in their fixed order.
  Form3 = app.CreateForm<TForm3>();
  app.CreateForm<TForm5>();
  Form11 = app.CreateForm<TForm11>();
  Form9 = app.CreateForm<TForm9>();
  Form2 = app.CreateForm<TForm2>();
  Form4 = app.CreateForm<TForm4>();
  Form6 = app.CreateForm<TForm6>();
  Form10 = app.CreateForm<TForm10>();
  app.CreateForm<TForm7>();
  Form13 = app.CreateForm<TForm13>();
  return app.Run();
}
