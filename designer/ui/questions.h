// Every question and box the designer's window puts to a person goes
// through Questions, so that tests answer them without a modal box, and so
// that the dialogs the window opens can be run by a test without blocking.
#pragma once

#include <QString>
#include <functional>

#include "platform/messagebox.h"

class QDialog;
class QWidget;

namespace designer_ui {

enum class Answer { kYes, kNo, kCancel };
enum class Icon { kWarning, kError, kInformation };

class Questions {
 public:
  virtual ~Questions() = default;
  // Yes, No and Cancel, warning icon.
  virtual Answer askYesNoCancel(const QString& title, const QString& text) = 0;
  // The file dialogs; an empty name when cancelled. `filter` is in Qt's
  // form ("IVR流程结构文件(*.src)").
  virtual QString saveFileName(const QString& filter) = 0;
  virtual QString openFileName(const QString& filter) = 0;
  virtual void message(const QString& title, const QString& text, Icon icon) = 0;
  // Runs a modal dialog; returns QDialog::Accepted or Rejected.
  virtual int runDialog(QDialog& dialog);
};

// The real boxes and file dialogs, over `parent`.
class BoxQuestions : public Questions {
 public:
  explicit BoxQuestions(QWidget* parent) : parent_(parent) {}
  Answer askYesNoCancel(const QString& title, const QString& text) override;
  QString saveFileName(const QString& filter) override;
  QString openFileName(const QString& filter) override;
  void message(const QString& title, const QString& text, Icon icon) override;

 private:
  QWidget* parent_;
};

// A core MessageSink that shows its texts through Questions: boxes titled
// "错误" with the error icon, the others with the warning icon.
class QuestionsSink : public platform::MessageSink {
 public:
  explicit QuestionsSink(Questions*& q) : q_(q) {}
  void show(std::string_view caption, std::string_view text) override;

 private:
  Questions*& q_;
};

inline QString qs(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

}  // namespace designer_ui
