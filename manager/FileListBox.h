#pragma once
// The list of the plain files of one folder whose names match a wildcard mask (letters without
// case), sorted by name without case. Folders and hidden files are not listed; an empty or
// unreadable folder lists nothing (never the program's current folder).
#include <QListWidget>

#include <functional>
#include <string>
#include <vector>

class TFileListBox : public QListWidget {
  Q_OBJECT

 public:
  explicit TFileListBox(QWidget* parent = nullptr);

  const std::string& Directory() const { return FDirectory; }
  void SetDirectory(const std::string& directory);
  const std::string& Mask() const { return FMask; }
  void SetMask(const std::string& mask);
  // Reads the folder again; the items change only when the listing did, and the selected name
  // stays selected while it is listed.
  void Update();
  int Count() const { return static_cast<int>(FNames.size()); }
  // The names listed, as they are on disk, and the selected one (empty: none).
  const std::vector<std::string>& Names() const { return FNames; }
  std::string SelectedName() const;

  // Fired after a press has selected; guarded like every handler.
  std::function<void()> OnMouseDown;

 protected:
  void mousePressEvent(QMouseEvent* e) override;

 private:
  std::string FDirectory;
  std::string FMask = "*.*";
  std::vector<std::string> FNames;
};

// Why a file of the list could not be deleted (errno), in the user's language.
std::string DeletionFailureText(int error);
