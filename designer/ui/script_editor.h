// Tfrmscript, the script editor "脚本命令": a fixed-pitch memo without
// wrap (so that its lines are the compiler's source lines), panels for the
// caret's line and column and the check result, "语法检查(F7)" (F7 anywhere
// in the dialog), "确定" and "取消". The compiler shows its error box
// through the window's Questions and places the caret through
// compiler::editorSelection.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "designer/compiler/tparser.h"
#include "designer/ui/questions.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace designer_ui {

class Tfrmscript : public QDialog, public compiler::ScriptEditor {
 public:
  explicit Tfrmscript(Questions& questions, QWidget* parent = nullptr);

  // The block's script (GBK); the memo counts as unmodified afterwards.
  void setScript(const std::string& gbk);
  // The memo's text as the block stores it: GBK, lines joined by CR LF.
  std::string scriptGbk() const;
  // The exit names of the last compile (GBK, lower case).
  const std::vector<std::string>& exitNames() const { return parser_.exitNames(); }
  // Whether the last compile succeeded. An unedited script that does not
  // compile still closes with OK; its exit names are then incomplete and
  // must not replace the block's exits.
  bool compiled() const { return compiled_ok_; }

  // "语法检查(F7)": compiles the memo; the third panel says how it went.
  bool check();
  // "确定": an unedited script closes with OK after its compile, whatever
  // the result; an edited one only when it compiles.
  void confirm();

  QPlainTextEdit* memo() const { return memo_; }
  QString panelText(int i) const;
  QPushButton* checkButton() const { return check_; }
  QPushButton* okButton() const { return ok_; }
  QPushButton* cancelButton() const { return cancel_; }

  // compiler::ScriptEditor
  void showErrorBox(std::string_view caption, std::string_view text) override;
  void selectRange(int start, int length) override;
  void takeFocus() override;

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  std::vector<std::string> gbkLines() const;
  bool compileMemo();
  void showCaret();

  Questions& questions_;
  compiler::TParser parser_;
  std::vector<std::string> compiled_;  // the lines of the last compile
  bool compiled_ok_ = false;
  QPlainTextEdit* memo_;
  QLabel* panels_[3];
  QPushButton *check_, *ok_, *cancel_;
};

}  // namespace designer_ui
