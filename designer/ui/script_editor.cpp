#include "designer/ui/script_editor.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QTextBlock>
#include <QVBoxLayout>

#include "designer/compiler/diagnostics.h"
#include "designer/ui/block_images.h"
#include "platform/gbk.h"

namespace designer_ui {

Tfrmscript::Tfrmscript(Questions& questions, QWidget* parent)
    : QDialog(parent), questions_(questions) {
  setObjectName("Tfrmscript");
  setWindowTitle(QStringLiteral("脚本命令"));
  setWindowFlag(Qt::WindowStaysOnTopHint);
  setFont(chineseFont(13));
  memo_ = new QPlainTextEdit;
  memo_->setObjectName("memocmd");
  QFont mono;
  mono.setFamilies({"Courier New", "DejaVu Sans Mono", "WenQuanYi Micro Hei Mono"});
  mono.setStyleHint(QFont::TypeWriter);
  mono.setFixedPitch(true);
  mono.setPixelSize(14);
  memo_->setFont(mono);
  memo_->setLineWrapMode(QPlainTextEdit::NoWrap);
  memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo_->setAttribute(Qt::WA_InputMethodEnabled, false);
  connect(memo_, &QPlainTextEdit::cursorPositionChanged, this, [this] { showCaret(); });

  check_ = new QPushButton(QStringLiteral("语法检查(F7)"));
  ok_ = new QPushButton(QStringLiteral("确定"));
  cancel_ = new QPushButton(QStringLiteral("取消"));
  ok_->setDefault(true);
  check_->setAutoDefault(false);
  cancel_->setAutoDefault(false);
  connect(check_, &QPushButton::clicked, this, [this] { check(); });
  connect(ok_, &QPushButton::clicked, this, [this] { confirm(); });
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  auto* f7 = new QShortcut(QKeySequence(Qt::Key_F7), this);
  f7->setContext(Qt::WindowShortcut);
  connect(f7, &QShortcut::activated, this, [this] { check(); });

  auto* status = new QStatusBar;
  status->setSizeGripEnabled(false);
  for (int i = 0; i < 3; ++i) {
    panels_[i] = new QLabel;
    panels_[i]->setMinimumWidth(80);
    status->addWidget(panels_[i], i == 2 ? 1 : 0);
  }
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(check_);
  buttons->addStretch();
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(memo_);
  layout->addLayout(buttons);
  layout->addWidget(status);
  resize(640, 480);
  showCaret();
}

void Tfrmscript::setScript(const std::string& gbk) {
  QStringList lines;
  for (const std::string& l : compiler::splitLines(gbk))
    lines << QString::fromStdString(platform::gbkToUtf8(l));
  memo_->setPlainText(lines.join('\n'));
  memo_->document()->setModified(false);
}

std::vector<std::string> Tfrmscript::gbkLines() const {
  std::vector<std::string> out;
  const QString text = memo_->toPlainText();
  if (text.isEmpty()) return out;
  for (const QString& l : text.split('\n'))
    out.push_back(platform::utf8ToGbk(l.toStdString()));
  return out;
}

std::string Tfrmscript::scriptGbk() const {
  std::string out;
  const std::vector<std::string> lines = gbkLines();
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i) out += "\r\n";
    out += lines[i];
  }
  return out;
}

bool Tfrmscript::compileMemo() {
  compiled_ = gbkLines();
  parser_.attachEditor(this);
  parser_.setSource(compiled_);
  compiled_ok_ = parser_.compile();
  return compiled_ok_;
}

bool Tfrmscript::check() {
  const bool ok = compileMemo();
  panels_[2]->setText(ok ? QStringLiteral("编译成功") : QStringLiteral("编译错误"));
  return ok;
}

void Tfrmscript::confirm() {
  const bool edited = memo_->document()->isModified();
  const bool ok = compileMemo();
  if (ok || !edited) accept();
}

QString Tfrmscript::panelText(int i) const {
  return panels_[i]->text();
}

void Tfrmscript::showErrorBox(std::string_view caption, std::string_view text) {
  questions_.message(qs(caption), qs(text), Icon::kError);
}

void Tfrmscript::selectRange(int start, int length) {
  // The compiler counts GBK bytes with CR LF between lines; the memo counts
  // characters with one break.
  const compiler::Selection s = compiler::editorSelection(compiled_, {start, length});
  QTextCursor c = memo_->textCursor();
  const int size = memo_->document()->characterCount() - 1;
  c.setPosition(std::clamp(s.start, 0, size));
  c.setPosition(std::clamp(s.start + s.length, 0, size), QTextCursor::KeepAnchor);
  memo_->setTextCursor(c);
}

void Tfrmscript::takeFocus() {
  memo_->setFocus();
}

void Tfrmscript::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  memo_->setFocus();
}

void Tfrmscript::showCaret() {
  const QTextCursor c = memo_->textCursor();
  panels_[0]->setText(QStringLiteral("行:%1").arg(c.blockNumber()));
  panels_[1]->setText(QStringLiteral("列:%1").arg(c.positionInBlock()));
}

}  // namespace designer_ui
