// The folder chooser: a tree of folders only, the folder put where FolderTarget says, nothing
// changed without a choice, and the settings form that keeps the folder it got from it.
#include <QSignalSpy>

#include "tests/manager/task_editor_fixture.h"

namespace {

using editor::Click;
using editor::EditorTest;

using FolderChooser = EditorTest;

TEST_F(FolderChooser, TheTreeHoldsFoldersOnly) {
  const std::string top = root_ + "/top";
  for (const char* folder : {"/top", "/top/a", "/top/б", "/top/.hidden"}) std::filesystem::create_directory(root_ + folder);
  WriteBytes(top + "/file.txt", "x");
  WriteBytes(top + "/a/inner.txt", "x");

  TForm3& chooser = *chooser_;
  EXPECT_EQ(chooser.windowTitle(), "Выбор каталога");
  EXPECT_EQ(chooser.xpButton1.Caption(), "Выбрать");
  TShellTreeView& tree = chooser.ShellTreeView1;
  EXPECT_FALSE(tree.SetPath(top + "/file.txt")) << "a file is no folder";
  EXPECT_EQ(tree.Path(), "");
  QSignalSpy loaded(&tree.Model(), &QFileSystemModel::directoryLoaded);
  ASSERT_TRUE(tree.SetPath(top));
  EXPECT_EQ(tree.Path(), top);
  const QModelIndex index = tree.Model().index(QString::fromStdString(top));
  tree.Model().fetchMore(index);
  auto loadedTop = [&] {
    for (const auto& args : loaded) {
      if (args.at(0).toString().toStdString() == top) return true;
    }
    return false;
  };
  for (int i = 0; i < 20 && !loadedTop(); ++i) loaded.wait(250);
  ASSERT_TRUE(loadedTop());
  QCoreApplication::processEvents();
  // Dot folders are listed: they can be a task's source.
  ASSERT_EQ(tree.Model().rowCount(index), 3);
  QStringList names;
  for (int r = 0; r < 3; ++r) names << tree.Model().index(r, 0, index).data().toString();
  names.sort();
  EXPECT_EQ(names, (QStringList{".hidden", "a", "б"}));
  ASSERT_TRUE(tree.SetPath(top + "/.hidden"));
  EXPECT_EQ(tree.Path(), top + "/.hidden");
}

TEST_F(FolderChooser, TheChosenFolderGoesWhereTheTargetSays) {
  Store({});
  TForm10 settings;
  Form10 = &settings;
  const std::string other = root_ + "/другая";
  std::filesystem::create_directory(other);

  FolderTarget = kFolderToSource;
  new_->Edit2.setText(QString::fromStdString(source_));
  bool chosen = false;
  WithChooser([&] { chosen = chooser_->ShowModal(); },
              [&](TForm3& chooser) {
                EXPECT_EQ(chooser.ShellTreeView1.Path(), source_) << "the chooser starts at the target's folder";
                ChooseInTree(chooser, other);
              });
  EXPECT_TRUE(chosen);
  EXPECT_EQ(new_->Edit2.text().toStdString(), other);

  FolderTarget = kFolderToRoot;
  WithChooser([&] { chosen = chooser_->ShowModal(); }, [&](TForm3& chooser) { ChooseInTree(chooser, source_); });
  EXPECT_TRUE(chosen);
  EXPECT_EQ(new_->RootFolder(), source_);
  EXPECT_EQ(new_->Edit2.text().toStdString(), other);

  FolderTarget = kFolderToSettings;
  WithChooser([&] { chosen = chooser_->ShowModal(); }, [&](TForm3& chooser) { ChooseInTree(chooser, other); });
  EXPECT_TRUE(chosen);
  EXPECT_EQ(settings.Edit1.text().toStdString(), other);
  EXPECT_EQ(new_->RootFolder(), source_);

  // Without a selected folder, or closed, the chooser changes nothing.
  WithChooser([&] { chosen = chooser_->ShowModal(); },
              [&](TForm3& chooser) {
                chooser.ShellTreeView1.clearSelection();
                Click(&chooser.xpButton1);
              });
  EXPECT_FALSE(chosen);
  EXPECT_EQ(settings.Edit1.text().toStdString(), other);
  WithChooser([&] { chosen = chooser_->ShowModal(); }, [&](TForm3& chooser) { chooser.close(); });
  EXPECT_FALSE(chosen);
  EXPECT_EQ(settings.Edit1.text().toStdString(), other);
  EXPECT_TRUE(Shown().empty());
}

TEST_F(FolderChooser, TheSettingsFormKeepsTheFolderChosenInTheTree) {
  Store({});
  Settings("1", "1", "1");  // deff 1, rootf the installation folder
  TForm10 settings;
  Form10 = &settings;
  settings.show();
  Activate(settings);
  ASSERT_EQ(settings.Edit1.text().toStdString(), home_);
  WithChooser(&settings.SpeedButton1, [&](TForm3& chooser) {
    EXPECT_EQ(chooser.ShellTreeView1.Path(), home_);
    ChooseInTree(chooser, source_);
  });
  EXPECT_EQ(FolderTarget, kFolderToSettings);
  Activate(settings);
  EXPECT_EQ(settings.Edit1.text().toStdString(), source_) << "coming back from the chooser reads no settings";
  Click(&settings.xpButton1);
  EXPECT_EQ(Shown(), std::vector<std::string>{"Изменения успешно сохранены."});
  EXPECT_EQ(MainSettings().rootf, source_);
}

TEST_F(FolderChooser, TheMenuItemsOpenTheEditorForms) {
  Store({mainwindow::OnDemand("Docs")});
  Open();
  form_->N5.trigger();
  EXPECT_TRUE(QTest::qWaitForWindowActive(new_.get(), 2000));
  Activate(*form_);
  form_->N11.trigger();
  EXPECT_EQ(Shown(), std::vector<std::string>{"Не выбрана задача!"});
  EXPECT_FALSE(params_->isVisible());
  ClickRow(1);
  form_->N11.trigger();
  EXPECT_TRUE(QTest::qWaitForWindowActive(params_.get(), 2000));
  EXPECT_EQ(params_->Edit1.text(), "Docs");
}

}  // namespace
