#include "designer/ui/questions.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>

namespace designer_ui {

int Questions::runDialog(QDialog& dialog) {
  return dialog.exec();
}

Answer BoxQuestions::askYesNoCancel(const QString& title, const QString& text) {
  switch (QMessageBox::warning(parent_, title, text,
                               QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel)) {
    case QMessageBox::Yes:
      return Answer::kYes;
    case QMessageBox::No:
      return Answer::kNo;
    default:
      return Answer::kCancel;
  }
}

QString BoxQuestions::saveFileName(const QString& filter) {
  return QFileDialog::getSaveFileName(parent_, QString(), QString(), filter);
}

QString BoxQuestions::openFileName(const QString& filter) {
  return QFileDialog::getOpenFileName(parent_, QString(), QString(), filter);
}

void BoxQuestions::message(const QString& title, const QString& text, Icon icon) {
  switch (icon) {
    case Icon::kError:
      QMessageBox::critical(parent_, title, text);
      break;
    case Icon::kWarning:
      QMessageBox::warning(parent_, title, text);
      break;
    case Icon::kInformation:
      QMessageBox::information(parent_, title, text);
      break;
  }
}

void QuestionsSink::show(std::string_view caption, std::string_view text) {
  if (!q_) return;
  q_->message(qs(caption), qs(text), caption == "错误" ? Icon::kError : Icon::kWarning);
}

}  // namespace designer_ui
