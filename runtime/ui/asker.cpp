#include "runtime/ui/asker.h"

#include <QFileDialog>
#include <QMessageBox>

#include "runtime/ui/ui_logic.h"

namespace ui {

void Asker::inform(QWidget* parent, const QString& title, const QString& text) {
  QMessageBox::information(parent, title, text);
}

Asker::Answer Asker::ask(QWidget* parent, const QString& text, bool withCancel) {
  auto buttons = QMessageBox::Yes | QMessageBox::No;
  if (withCancel) buttons |= QMessageBox::Cancel;
  switch (QMessageBox::question(parent, QString::fromUtf8(kTitle), text, buttons)) {
    case QMessageBox::Yes:
      return kYes;
    case QMessageBox::No:
      return kNo;
    default:
      return kCancel;
  }
}

QString Asker::openFile(QWidget* parent, const QString& caption, const QString& filter) {
  return QFileDialog::getOpenFileName(parent, caption, QString(), filter);
}

QString Asker::pickFolder(QWidget* parent, const QString& caption) {
  return QFileDialog::getExistingDirectory(parent, caption);
}

}  // namespace ui
