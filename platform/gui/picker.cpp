#include "platform/gui/picker.h"

#include <QKeyEvent>

namespace platform {

DateTimePicker::DateTimePicker(QDate date, QWidget* parent) : QDateTimeEdit(date, parent) {}

DateTimePicker::DateTimePicker(QTime time, QWidget* parent) : QDateTimeEdit(time, parent) {}

bool DateTimePicker::event(QEvent* event) {
  // The toolkit's edit takes Tab for its next section and lets it go only from the last one.
  if (event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool tab = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
    if (tab && !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
      const bool forward = key->key() == Qt::Key_Tab && !(key->modifiers() & Qt::ShiftModifier);
      QWidget::focusNextPrevChild(forward);
      return true;
    }
  }
  return QDateTimeEdit::event(event);
}

void DateTimePicker::keyPressEvent(QKeyEvent* event) {
  // The arrows go from section to section, the whole section selected, and stop at the ends.
  const bool left = event->key() == Qt::Key_Left;
  if ((left || event->key() == Qt::Key_Right) && event->modifiers() == Qt::NoModifier) {
    const int section = currentSectionIndex() + (left ? -1 : 1);
    if (section >= 0 && section < sectionCount()) {
      setCurrentSectionIndex(section);
      setSelectedSection(sectionAt(section));
    } else {
      setSelectedSection(sectionAt(currentSectionIndex()));
    }
    event->accept();
    return;
  }
  QDateTimeEdit::keyPressEvent(event);
}

}  // namespace platform
