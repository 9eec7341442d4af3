#include "designer/ui/block_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "designer/chart/block_dialogs.h"
#include "designer/ui/block_images.h"

namespace designer_ui {

namespace dlg = chart::dialogs;

namespace {
// The dialog class names of the kinds, for people who look for them.
const char* classNameOf(int kind) {
  switch (kind) {
    case cpl::kKindCallSeat:
      return "Tfrmdtccallseat";
    case cpl::kKindPlayVoice:
      return "Tfrmdtcplayvoc";
    case cpl::kKindTalk:
      return "Tfrmdtctalk2";
    case cpl::kKindInput:
      return "Tfrmdtcinput";
    case cpl::kKindDigit:
      return "Tfrmdtcdigit";
    case cpl::kKindCreateMeet:
      return "Tfrmdtccreatemeet";
    case cpl::kKindEnterMeet:
      return "Tfrmdtcentermeet";
    case cpl::kKindMeetTalk:
      return "Tfrmdtcmeettalk";
    case cpl::kKindCallExt:
      return "Tfrmdtccallext";
    case cpl::kKindCallOut:
      return "Tfrmdtccallout";
    case cpl::kKindRecord:
      return "Tfrmdtcrecord";
    case cpl::kKindPlayTts:
      return "Tfrmdtcplaytts";
    case cpl::kKindCycPlay:
      return "Tfrmdtccycplay";
    default:
      return "Tfrmblock";
  }
}
}  // namespace

BlockDialog::BlockDialog(int kind, const std::vector<uint8_t>& record, Questions& questions,
                         QWidget* parent)
    : QDialog(parent), kind_(kind), record_(record), questions_(questions) {
  setObjectName(classNameOf(kind));
  setWindowTitle(qs(dlg::kDialogTitle));
  setFont(chineseFont(13));
  const dlg::Dialog* d = dlg::dialogFor(kind);
  auto* form = new QFormLayout;
  form->setLabelAlignment(Qt::AlignRight);
  const std::vector<std::string> shown = d ? dlg::show(kind, record) : std::vector<std::string>{};
  for (size_t i = 0; d && i < d->fields.size(); ++i) {
    const dlg::Field& f = d->fields[i];
    QWidget* w;
    if (f.shape == dlg::Shape::kFlag) {
      auto* box = new QCheckBox(qs(f.label));
      form->addRow(QString(), box);
      w = box;
    } else {
      if (f.list != dlg::List::kNone) {
        auto* combo = new QComboBox;
        for (const std::string& item : dlg::listItems(f.list))
          combo->addItem(qs(item));
        // The play channel may be typed; the register lists are picked from.
        combo->setEditable(f.shape == dlg::Shape::kPlayChannel);
        if (combo->lineEdit()) combo->lineEdit()->installEventFilter(this);
        w = combo;
      } else {
        auto* edit = new QLineEdit;
        if (f.shape == dlg::Shape::kText && f.size <= 20) edit->setMaxLength(f.size);
        edit->installEventFilter(this);
        w = edit;
      }
      w->setMinimumWidth(220);
      form->addRow(qs(f.label), w);
    }
    w->setProperty("field", static_cast<int>(i));
    entries_.push_back(w);
    setEntryText(static_cast<int>(i), qs(shown[i]));
  }
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  if (kind == cpl::kKindEnterMeet) {
    defaults_ = new QCheckBox(QStringLiteral("缺省参数"));
    layout->addWidget(defaults_);
    connect(defaults_, &QCheckBox::toggled, this, [this, d](bool on) {
      if (!on) return;
      int n = 0;
      for (size_t i = 0; i < d->fields.size() && n < 3; ++i)
        if (d->fields[i].shape == dlg::Shape::kNumber)
          setEntryText(static_cast<int>(i), qs(dlg::kConferenceDefaults[n++]));
    });
  }
  auto* buttons = new QDialogButtonBox;
  ok_ = buttons->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole);
  QPushButton* cancel = buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, [this] { tryAccept(); });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  layout->addWidget(buttons);
}

QString BlockDialog::entryText(int i) const {
  QWidget* w = entries_[i];
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
  if (auto* c = qobject_cast<QComboBox*>(w)) return c->currentText();
  if (auto* b = qobject_cast<QCheckBox*>(w)) return b->isChecked() ? "1" : "0";
  return {};
}

void BlockDialog::setEntryText(int i, const QString& text) {
  QWidget* w = entries_[i];
  if (auto* e = qobject_cast<QLineEdit*>(w)) {
    e->setText(text);
  } else if (auto* c = qobject_cast<QComboBox*>(w)) {
    const int at = c->findText(text, Qt::MatchFixedString);
    if (at >= 0)
      c->setCurrentIndex(at);
    else if (c->isEditable())
      c->setEditText(text);
  } else if (auto* b = qobject_cast<QCheckBox*>(w)) {
    b->setChecked(text == "1");
  }
}

bool BlockDialog::tryAccept() {
  std::vector<std::string> values;
  for (int i = 0; i < fieldCount(); ++i)
    values.push_back(entryText(i).toStdString());
  dlg::Outcome out = dlg::accept(kind_, record_, values);
  if (!out.ok) {
    for (const std::string& m : out.messages)
      questions_.message(qs(dlg::kErrorTitle), qs(m), Icon::kError);
    if (out.field >= 0 && out.field < fieldCount()) entries_[out.field]->setFocus();
    return false;
  }
  record_ = std::move(out.record);
  accept();
  return true;
}

bool BlockDialog::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() == QEvent::KeyPress) {
    auto* k = static_cast<QKeyEvent*>(e);
    QObject* owner = watched;
    if (!owner->property("field").isValid() && owner->parent()) owner = owner->parent();
    const QVariant field = owner->property("field");
    std::string key;
    if (k->key() == Qt::Key_Backspace)
      key = std::string(dlg::kBackspace);
    else if (!k->text().isEmpty() && k->text()[0].isPrint())
      key = k->text().toStdString();
    if (field.isValid() && !key.empty() && !dlg::acceptsKey(kind_, field.toInt(), key)) return true;
  }
  return QDialog::eventFilter(watched, e);
}

Tfrmhint::Tfrmhint(const QString& note, QWidget* parent) : QDialog(parent) {
  setObjectName("Tfrmhint");
  setWindowTitle(QStringLiteral("注释"));
  setFont(chineseFont(13));
  edit_ = new QPlainTextEdit(note);
  auto* buttons = new QDialogButtonBox;
  QPushButton* ok = buttons->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole);
  QPushButton* cancel = buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(edit_);
  layout->addWidget(buttons);
  resize(360, 220);
}

QString Tfrmhint::note() const {
  return edit_->toPlainText();
}

}  // namespace designer_ui
