// How the windows ask a person something: message boxes, questions and file
// pickers go through this seam, so tests answer them instead of a person
// and nothing blocks under a test.
#pragma once

#include <QString>

class QWidget;

namespace ui {

class Asker {
 public:
  enum Answer { kYes, kNo, kCancel };
  virtual ~Asker() = default;
  virtual void inform(QWidget* parent, const QString& title, const QString& text);
  // Yes/No, or Yes/No/Cancel.
  virtual Answer ask(QWidget* parent, const QString& text, bool withCancel);
  // The chosen file ("" when none); `filter` in Qt's form ("x (*.cpl)").
  virtual QString openFile(QWidget* parent, const QString& caption, const QString& filter);
  virtual QString pickFolder(QWidget* parent, const QString& caption);
};

}  // namespace ui
