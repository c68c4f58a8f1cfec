#include "manager/Shsystem.h"

#include "manager/Select.h"
#include "manager/Settings.h"
#include "manager/TaskStore.h"
#include "platform/gui/application.h"
#include "platform/gui/autostart.h"
#include "platform/hooks.h"

namespace {

std::string Flag(const TxpCheckBox& box) { return box.Checked() ? "1" : "0"; }

constexpr int kFormWidth = 470;
constexpr int kBoxLeft = 16;
constexpr int kBoxPitch = 24;

}  // namespace

// The height follows from the rows and is set once they are laid out.
TForm10::TForm10(QWidget* parent) : TCentredDialog(parent, "Настройка программы", kFormWidth, 0) {

  struct Row {
    TxpCheckBox* box;
    const char* caption;
  };
  const Row rows[] = {
      {&xpCheckBox1, "Запускать Исполнителя при старте системы"},
      {&xpCheckBox2, "Выводить информационные окна"},
      {&xpCheckBox3, "Выводить окна предупреждений"},
      {&xpCheckBox4, "Добавлять папки с именем задачи для путей резервных копий"},
      {&xpCheckBox5, "Удалять резервные копии при удалении задачи"},
      {&xpCheckBox7, "Протоколировать выполнение задач"},
      {&xpCheckBox6, "Использовать каталог по умолчанию для создания задач"},
  };
  int y = 16;
  for (const Row& row : rows) {
    row.box->SetCaption(row.caption);
    row.box->setGeometry(kBoxLeft, y, kFormWidth - 2 * kBoxLeft, 17);
    row.box->SetAlignment(cbaRight);
    row.box->SetChecked(true);
    y += kBoxPitch;
  }
  Edit1.setGeometry(kBoxLeft + 20, y, kFormWidth - 2 * kBoxLeft - 20 - 28, 21);
  SpeedButton1.setText("...");
  SpeedButton1.setGeometry(kFormWidth - kBoxLeft - 24, y, 24, 21);
  y += 21 + 20;

  QFont bold = font();
  bold.setBold(true);
  xpButton1.SetCaption("Изменить");
  xpButton2.SetCaption("Выход");
  for (TxpButton* b : {&xpButton1, &xpButton2}) {
    b->SetFont(bold);
    b->resize(95, 25);
  }
  xpButton1.move(kFormWidth / 2 - 95 - 8, y);
  xpButton2.move(kFormWidth / 2 + 8, y);
  setFixedSize(kFormWidth, y + 25 + 16);

  xpCheckBox6.OnClick = [this](TObject* s) { xpCheckBox6Click(s); };
  xpButton1.OnClick = [this](TObject* s) { xpButton1Click(s); };
  xpButton2.OnClick = [this](TObject* s) { xpButton2Click(s); };
  connect(&SpeedButton1, &QToolButton::clicked, this, [this] { platform::RunGuarded([this] { SpeedButton1Click(); }); });
}



void TForm10::FormActivate() {
  platform::TRegistry registry;
  if (registry.KeyExists(kSettingsKey)) {
    registry.OpenKey(kSettingsKey, false);
    xpCheckBox1.SetChecked(registry.ReadString("auto") == "1");
    xpCheckBox2.SetChecked(registry.ReadString("info") == "1");
    xpCheckBox3.SetChecked(registry.ReadString("warn") == "1");
    xpCheckBox4.SetChecked(registry.ReadString("addf") == "1");
    xpCheckBox5.SetChecked(registry.ReadString("delf") == "1");
    xpCheckBox7.SetChecked(registry.ReadString("logf") == "1");
    const bool deff = registry.ReadString("deff") == "1";
    xpCheckBox6.SetChecked(deff);
    Edit1.setEnabled(deff);
    SpeedButton1.setEnabled(deff);
    if (deff) Edit1.setText(QString::fromStdString(registry.ReadString("rootf")));
  } else {
    // The key was removed while the manager ran: put the first-run values back.
    registry.OpenKey(kSettingsKey, true);
    WriteFirstRunSettings(registry, DefaultRootFolder());
  }
  registry.CloseKey();
}

void TForm10::xpCheckBox6Click(TObject*) {
  Edit1.setEnabled(xpCheckBox6.Checked());
  SpeedButton1.setEnabled(xpCheckBox6.Checked());
}

void TForm10::xpButton1Click(TObject*) {
  const std::string rootf = xpCheckBox6.Checked() ? Edit1.text().toStdString() : std::string();
  // The folder becomes part of every new task's backup folder: the store must be able to keep it.
  if (!IsStorableTaskText(rootf)) {
    platform::MessageBox(UnstorableTaskTextMessage("Каталог по умолчанию", rootf), "Ошибка!",
                         platform::MB_OK | platform::MB_ICONERROR);
    return;
  }
  if (xpCheckBox1.Checked()) {
    platform::WriteAutostartEntry(kAutostartName, ExecutorProgramPath());
  } else {
    platform::DeleteAutostartEntry(kAutostartName);  // a missing entry is no error
  }

  platform::TRegistry registry;
  registry.OpenKey(kSettingsKey, true);
  registry.WriteString("auto", Flag(xpCheckBox1));
  registry.WriteString("info", Flag(xpCheckBox2));
  registry.WriteString("warn", Flag(xpCheckBox3));
  registry.WriteString("addf", Flag(xpCheckBox4));
  registry.WriteString("delf", Flag(xpCheckBox5));
  registry.WriteString("logf", Flag(xpCheckBox7));
  registry.WriteString("deff", Flag(xpCheckBox6));
  registry.WriteString("rootf", rootf);
  registry.CloseKey();

  if (xpCheckBox2.Checked()) {
    platform::MessageBox("Изменения успешно сохранены.", "Изменение настроек",
                         platform::MB_OK | platform::MB_ICONINFORMATION);
  }

  TSettingsCopies& copies = MainSettings();
  copies.info = Flag(xpCheckBox2);
  copies.warn = Flag(xpCheckBox3);
  copies.addf = Flag(xpCheckBox4);
  copies.delf = Flag(xpCheckBox5);
  copies.logf = Flag(xpCheckBox7);
  copies.deff = Flag(xpCheckBox6);
  copies.rootf = rootf;
}

void TForm10::xpButton2Click(TObject*) { close(); }

void TForm10::SpeedButton1Click() {
  FolderTarget = kFolderToSettings;
  if (Form3) Form3->ShowModal();
}
