// The block dialogs ("命令参数") and the note dialog Tfrmhint ("注释").
// One dialog class serves every fixed kind: it lays out the fields that
// chart::dialogs gives for the kind, shows the record by the display rule,
// filters keys, and on "确定" lets chart::dialogs::accept() check and
// store; the refusals are shown as boxes titled "错误".
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <vector>

#include "designer/ui/questions.h"

class QCheckBox;
class QPlainTextEdit;
class QPushButton;

namespace designer_ui {

class BlockDialog : public QDialog {
 public:
  BlockDialog(int kind, const std::vector<uint8_t>& record, Questions& questions,
              QWidget* parent = nullptr);

  int kind() const { return kind_; }
  // The record stored by the accepted dialog (the one given before that).
  const std::vector<uint8_t>& record() const { return record_; }
  int fieldCount() const { return static_cast<int>(entries_.size()); }
  // The edit, combo or check box of field `i`, in record order.
  QWidget* entry(int i) const { return entries_[i]; }
  QString entryText(int i) const;
  void setEntryText(int i, const QString& text);
  QPushButton* okButton() const { return ok_; }
  // The join-conference dialog's "缺省参数" box; null in the others.
  QCheckBox* defaultsBox() const { return defaults_; }

  // "确定": the entries are checked; a refusal shows its boxes, focuses the
  // entry and keeps the dialog open.
  bool tryAccept();

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  int kind_;
  std::vector<uint8_t> record_;
  Questions& questions_;
  std::vector<QWidget*> entries_;
  QPushButton* ok_ = nullptr;
  QCheckBox* defaults_ = nullptr;
};

class Tfrmhint : public QDialog {
 public:
  explicit Tfrmhint(const QString& note, QWidget* parent = nullptr);
  QString note() const;
  QPlainTextEdit* editor() const { return edit_; }

 private:
  QPlainTextEdit* edit_;
};

}  // namespace designer_ui
