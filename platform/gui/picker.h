#pragma once
// The date and time picker of the forms. It is one Tab stop, as a picker is on the desktop the
// forms come from: Tab enters it at its first section and the next Tab leaves it (Shift+Tab the
// other way round); Left and Right move between its sections (day, month and year; hours,
// minutes and seconds), and Up and Down change the section that is selected.
#include <QDate>
#include <QDateTimeEdit>
#include <QTime>

namespace platform {

class DateTimePicker : public QDateTimeEdit {
 public:
  // A picker of dates.
  DateTimePicker(QDate date, QWidget* parent);
  // A picker of times of day.
  DateTimePicker(QTime time, QWidget* parent);

 protected:
  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace platform
