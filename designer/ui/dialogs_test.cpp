// The block dialogs, the note dialog and the script editor, driven through
// their widgets: what is typed, what the key filters let through, the boxes
// shown on "确定", and the bytes the accepted dialog stores.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>

#include "designer/chart/block_dialogs.h"
#include "designer/chart/project_file.h"
#include "designer/ui/block_dialog.h"
#include "designer/ui/script_editor.h"
#include "designer/ui/ui_test_support.h"
#include "flowfile/blockrecords.h"
#include "platform/gbk.h"

namespace designer_ui {
namespace {

using namespace testing;

std::vector<uint8_t> fresh(int kind) {
  return chart::createBlock(kind)->record;
}

int32_t i32At(const std::vector<uint8_t>& r, int at) {
  return static_cast<int32_t>(r[at] | (r[at + 1] << 8) | (r[at + 2] << 16) |
                              (static_cast<uint32_t>(r[at + 3]) << 24));
}
std::string textAt(const std::vector<uint8_t>& r, int at) {
  return std::string(reinterpret_cast<const char*>(&r[at]));
}

// Types `text` into entry `i` the way a person does: cleared, then key by
// key through the key filter; a list entry gets the item of that text.
void typeInto(BlockDialog& d, int i, const QString& text) {
  QWidget* w = d.entry(i);
  bool ascii = true;
  for (QChar ch : text)
    ascii = ascii && ch.unicode() < 128;
  if (auto* e = qobject_cast<QLineEdit*>(w); e && !ascii) {  // QTest types ASCII only
    e->setText(text);
    return;
  }
  if (auto* e = qobject_cast<QLineEdit*>(w)) {
    e->clear();
    QTest::keyClicks(e, text);
  } else if (auto* c = qobject_cast<QComboBox*>(w)) {
    if (c->isEditable()) {
      c->lineEdit()->clear();
      QTest::keyClicks(c->lineEdit(), text);
    } else {
      const int at = c->findText(text);
      ASSERT_GE(at, 0) << text.toStdString();
      c->setCurrentIndex(at);
    }
  } else if (auto* b = qobject_cast<QCheckBox*>(w)) {
    b->setChecked(text == "1");
  }
}

TEST(BlockDialog, TitleLabelsAndDefaultsOfANewBlock) {
  FakeQuestions q;
  for (const cpl::KindInfo& k : cpl::kKinds) {
    const chart::dialogs::Dialog* dialog = chart::dialogs::dialogFor(k.kind);
    if (!dialog) continue;
    SCOPED_TRACE(k.kind);
    BlockDialog d(k.kind, fresh(k.kind), q);
    EXPECT_EQ(d.windowTitle(), "命令参数");
    ASSERT_EQ(d.fieldCount(), static_cast<int>(dialog->fields.size()));
    const std::vector<std::string> shown = chart::dialogs::show(k.kind, fresh(k.kind));
    for (int i = 0; i < d.fieldCount(); ++i) {
      EXPECT_EQ(d.entryText(i).toStdString(), shown[i]) << i;
      // Each entry carries its label: beside it, or as the check box's text.
      const QString label = QString::fromUtf8(dialog->fields[i].label.data(),
                                              static_cast<int>(dialog->fields[i].label.size()));
      bool found = false;
      for (QLabel* l : d.findChildren<QLabel*>())
        found = found || l->text() == label;
      for (QCheckBox* b : d.findChildren<QCheckBox*>())
        found = found || b->text() == label;
      EXPECT_TRUE(found) << label.toStdString();
    }
    EXPECT_EQ(d.okButton()->text(), "确定");
  }
}

struct DialogCase {
  int kind;
  std::vector<QString> typed;  // "" leaves the entry as it shows
  QStringList messages;        // the boxes "错误|..." on "确定"; none: accepted
};

TEST(BlockDialog, ChecksAndStoredRecordsOfEveryFamily) {
  const DialogCase cases[] = {
      // play voice
      {41, {"welcome.voc", "0", "12#", "$chan"}, {}},
      {41,
       {"welcome.voc", "1", "N", "$chan"},
       {"错误|如果语音类型选择了索引放音,那么\n\r索引放音语音文件名需要填写I0~31\n\r,或者是整数!"}},
      {41, {"a.voc", "0", "1?", "$chan"}, {"错误|?只能单独使用!"}},
      {41, {"a.voc", "0", "N", "S3"}, {"错误|播放通道只能是$chan或整形变量"}},
      {41, {"7", "1", "D", "I4"}, {}},
      // in conversation
      {42, {"I2", "abc", "I3"}, {"错误|索引放音语音文件名需要填写I0~31,或者是整数!"}},
      {42, {"I2", "I9", "I3"}, {}},
      // key input and single key
      {43, {"a.voc", "0", "4", "#", "S1", "2", "10"}, {}},
      {43, {"a.voc", "x", "4", "#", "S1", "2", "10"}, {"错误|语音类型输入格式错误！"}},
      {43, {"a.voc", "2", "4", "#", "S1", "2", "10"}, {"错误|语音类型只能是0或1！"}},
      {43,
       {"a.voc", "1", "4", "#", "S1", "2", "10"},
       {"错误|语音类型为索引语音输入提示语音必须是整形变量或常量"}},
      {43, {"a.voc", "0", "four", "#", "S1", "2", "10"}, {"错误|收号长度输入格式错误"}},
      {44, {"menu.voc", "0", "2", "5", "S9"}, {}},
      {44,
       {"I1", "0", "2", "5", "S9"},
       {"错误|语音类型为文件语音输入提示语音必须是字符变量或常量"}},
      // conferences: every message that applies, before the refusal
      {45, {"I6", "8"}, {}},
      {46,
       {"I1", "I2", "x", "y", "30", "0"},
       {"错误|输入增益需要填写I0~31,或者是整数!", "错误|静音检查阙值需要填写I0~31,或者是整数!"}},
      {46, {"I1", "I2", "2048", "15", "30", "1"}, {}},
      {47, {"I3", "I4"}, {}},
      // calls
      {40, {"wait.voc", "索引放音", "I3", "7", "30", "I9", "-2"}, {}},
      {49,
       {"S1", "wait.voc", "索引放音", "S2", "S3", "I4", "20", "I5"},
       {"错误|索引放音语音文件名需要填写I0~31,或者是整数!"}},
      {50, {"8001", "S5", "I1", "0", "30"}, {}},
      {50, {"8001", "S5", "I1", "east", "30"}, {"错误|呼出局向需要设置整数或整形变量"}},
      // record and playback
      {51, {"msg.voc", "#", "I30"}, {}},
      {51, {"msg.voc", "#", "long"}, {"错误|录音时间长度必须是整形变量或常量"}},
      {52, {"x", "S1"}, {"错误|放音类型必须是整形变量或常量"}},
      {52, {"3", "S1"}, {}},
      {53, {"I1", "soon"}, {"错误|超时时间必须是整形变量或常量"}},
      {53, {"I1", "60"}, {}},
  };
  for (const DialogCase& t : cases) {
    SCOPED_TRACE(::testing::Message()
                 << t.kind << " " << t.typed[0].toStdString() << " " << t.typed[1].toStdString());
    FakeQuestions q;
    BlockDialog d(t.kind, fresh(t.kind), q);
    std::vector<std::string> values;
    for (int i = 0; i < d.fieldCount(); ++i) {
      if (!t.typed[i].isEmpty()) typeInto(d, i, t.typed[i]);
      values.push_back(d.entryText(i).toStdString());
      EXPECT_EQ(d.entryText(i), t.typed[i].isEmpty() ? d.entryText(i) : t.typed[i]) << i;
    }
    QTest::mouseClick(d.okButton(), Qt::LeftButton);
    EXPECT_EQ(q.messages, t.messages);
    const chart::dialogs::Outcome want = chart::dialogs::accept(t.kind, fresh(t.kind), values);
    if (t.messages.isEmpty()) {
      EXPECT_EQ(d.result(), QDialog::Accepted);
      EXPECT_EQ(d.record(), want.record);
    } else {
      EXPECT_NE(d.result(), QDialog::Accepted);
      EXPECT_EQ(d.record(), fresh(t.kind));  // the block is untouched
    }
  }
}

TEST(BlockDialog, StoredBytesOfAPlayVoiceAndAKeyInputDialog) {
  FakeQuestions q;
  BlockDialog play(41, fresh(41), q);
  typeInto(play, 0, "welcome.voc");
  typeInto(play, 1, "0");
  typeInto(play, 2, "12#");
  typeInto(play, 3, "I7");
  ASSERT_TRUE(play.tryAccept());
  const std::vector<uint8_t>& r = play.record();
  EXPECT_EQ(r[2], 7);  // string constant
  EXPECT_EQ(textAt(r, 4), "welcome.voc");
  EXPECT_EQ(r[264], 5);  // integer constant 0
  EXPECT_EQ(i32At(r, 266), 0);
  EXPECT_EQ(r[270], 7);
  EXPECT_EQ(textAt(r, 272), "12#");
  EXPECT_EQ(r[528], 1);  // I register 7
  EXPECT_EQ(r[529], 7);

  // Seconds typed, milliseconds stored, seconds shown again.
  BlockDialog input(43, fresh(43), q);
  for (int i = 0; i < 7; ++i)
    typeInto(input, i, QStringList({"欢迎.voc", "0", "4", "#", "S1", "2", "10"})[i]);
  ASSERT_TRUE(input.tryAccept());
  EXPECT_EQ(input.record()[286], 5);
  EXPECT_EQ(i32At(input.record(), 288), 10000);
  EXPECT_EQ(textAt(input.record(), 4), platform::utf8ToGbk("欢迎.voc"));
  BlockDialog again(43, input.record(), q);
  EXPECT_EQ(again.entryText(6), "10");
  EXPECT_EQ(again.entryText(0), "欢迎.voc");
}

TEST(BlockDialog, KeyFiltersDropWhatTheEntryCannotTake) {
  FakeQuestions q;
  BlockDialog play(41, fresh(41), q);
  auto* type = qobject_cast<QLineEdit*>(play.entry(1));
  auto* keys = qobject_cast<QLineEdit*>(play.entry(2));
  ASSERT_TRUE(type && keys);
  type->clear();
  QTest::keyClicks(type, "a2-1x0");
  EXPECT_EQ(type->text(), "10");
  QTest::keyClick(type, Qt::Key_Backspace);
  EXPECT_EQ(type->text(), "1");
  keys->clear();
  QTest::keyClicks(keys, "1a*#?nDxz9");
  EXPECT_EQ(keys->text(), "1*#?nD9");

  BlockDialog digit(44, fresh(44), q);
  auto* replays = qobject_cast<QLineEdit*>(digit.entry(2));
  auto* wait = qobject_cast<QLineEdit*>(digit.entry(3));
  replays->clear();
  wait->clear();
  QTest::keyClicks(replays, "3x");
  QTest::keyClicks(wait, "1.5s");
  EXPECT_EQ(replays->text(), "3");
  EXPECT_EQ(wait->text(), "15");
}

TEST(BlockDialog, ConferenceDefaultsBoxFillsTheThreeNumbers) {
  FakeQuestions q;
  BlockDialog d(46, fresh(46), q);
  ASSERT_NE(d.defaultsBox(), nullptr);
  EXPECT_EQ(d.defaultsBox()->text(), "缺省参数");
  d.defaultsBox()->setChecked(true);
  EXPECT_EQ(d.entryText(2), "2048");
  EXPECT_EQ(d.entryText(3), "15");
  EXPECT_EQ(d.entryText(4), "30");
  BlockDialog other(41, fresh(41), q);
  EXPECT_EQ(other.defaultsBox(), nullptr);
}

// ---- the script editor

// Lines 0..4; line 2 holds Chinese, which GBK counts twice.
const QString kBadScript = "// check\n\nset s1, \"号码\"\nset i2, 1\nset i1";

class ScriptEditor : public ::testing::Test {
 protected:
  void SetUp() override {
    ed.show();
    ed.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&ed));
  }
  FakeQuestions q;
  Tfrmscript ed{q};
};

TEST_F(ScriptEditor, LooksAsItShould) {
  EXPECT_EQ(ed.windowTitle(), "脚本命令");
  EXPECT_EQ(ed.checkButton()->text(), "语法检查(F7)");
  EXPECT_EQ(ed.okButton()->text(), "确定");
  EXPECT_EQ(ed.cancelButton()->text(), "取消");
  EXPECT_TRUE(ed.okButton()->isDefault());
  EXPECT_EQ(ed.memo()->lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_TRUE(QFontInfo(ed.memo()->font()).fixedPitch());
  EXPECT_EQ(ed.panelText(0), "行:0");
  EXPECT_EQ(ed.panelText(1), "列:0");
}

TEST_F(ScriptEditor, CheckShowsTheErrorAndPlacesTheCaret) {
  ed.setScript(platform::utf8ToGbk(kBadScript.toStdString()));
  QTest::keyClick(ed.memo(), Qt::Key_F7);  // F7 anywhere
  EXPECT_EQ(q.messages, QStringList({"错误|[4行;7列]错误的ID\"EOL\",缺少逗号"}));
  EXPECT_EQ(ed.panelText(2), "编译错误");
  const QTextCursor c = ed.memo()->textCursor();
  EXPECT_EQ(ed.memo()->document()->findBlock(c.selectionStart()).blockNumber(), 4);
  EXPECT_EQ(c.selectionStart() - ed.memo()->document()->findBlockByNumber(4).position(), 6);
  EXPECT_EQ(ed.panelText(0), "行:4");
  EXPECT_TRUE(ed.memo()->hasFocus());

  // An error on the Chinese line: the caret lands on the token, in characters.
  ed.setScript(platform::utf8ToGbk("set i1, 1\nset s1, \"号码\" x"));
  q.messages.clear();
  QTest::mouseClick(ed.checkButton(), Qt::LeftButton);
  ASSERT_EQ(q.messages.size(), 1);
  const QTextCursor c2 = ed.memo()->textCursor();
  EXPECT_EQ(c2.selectedText(), "x");

  ed.memo()->setPlainText("set i1, 1\ngotoout yes");
  QTest::mouseClick(ed.checkButton(), Qt::LeftButton);
  EXPECT_EQ(ed.panelText(2), "编译成功");
  EXPECT_EQ(ed.exitNames(), std::vector<std::string>{"yes"});
}

TEST_F(ScriptEditor, OkClosesAnUneditedScriptWhateverItsCompile) {
  ed.setScript(platform::utf8ToGbk(kBadScript.toStdString()));
  QTest::mouseClick(ed.okButton(), Qt::LeftButton);
  EXPECT_EQ(q.messages.size(), 1);  // the error box is still shown
  EXPECT_EQ(ed.result(), QDialog::Accepted);
}

TEST_F(ScriptEditor, OkKeepsAnEditedScriptThatDoesNotCompile) {
  ed.setScript("");
  QTest::keyClicks(ed.memo(), "set i1");
  QTest::mouseClick(ed.okButton(), Qt::LeftButton);
  EXPECT_EQ(q.messages.size(), 1);
  EXPECT_NE(ed.result(), QDialog::Accepted);
  EXPECT_TRUE(ed.isVisible());
  // Mended, it closes; the text is stored as GBK with CR LF.
  QTest::keyClicks(ed.memo(), ", 5");
  QTest::keyClick(ed.memo(), Qt::Key_Return);
  QTest::keyClicks(ed.memo(), "gotoout Done");
  QTest::mouseClick(ed.okButton(), Qt::LeftButton);
  EXPECT_EQ(ed.result(), QDialog::Accepted);
  EXPECT_EQ(ed.scriptGbk(), "set i1, 5\r\ngotoout Done");
  EXPECT_EQ(ed.exitNames(), std::vector<std::string>{"done"});
}

TEST_F(ScriptEditor, CancelCloses) {
  ed.setScript("set i1");
  QTest::mouseClick(ed.cancelButton(), Qt::LeftButton);
  EXPECT_EQ(ed.result(), QDialog::Rejected);
  EXPECT_TRUE(q.messages.isEmpty());
}

// ---- through the window: a double click opens the block's dialog

class WindowDialogs : public ::testing::Test {
 protected:
  void SetUp() override { w.setQuestions(&q); }
  void TearDown() override { w.chart().setModified(false); }
  FakeQuestions q;
  Tfrmmain w;
};

TEST_F(WindowDialogs, DoubleClickEditsARecordOnlyWhenAccepted) {
  chart::Chart& c = w.chart();
  const int b = c.addBlock(41, 300, 300);
  const std::vector<uint8_t> before = c.block(b).record;
  // Refused entries: the boxes, and the block untouched.
  q.dialog = [](QDialog& d) {
    auto& bd = dynamic_cast<BlockDialog&>(d);
    typeInto(bd, 1, "0");
    typeInto(bd, 2, "1?");
    QTest::mouseClick(bd.okButton(), Qt::LeftButton);
    return bd.result();
  };
  doubleClick(&w.canvas(), bodyOf(c.block(b)));
  EXPECT_EQ(q.messages, QStringList({"错误|?只能单独使用!"}));
  EXPECT_EQ(c.block(b).record, before);
  // Good entries: stored, one undo step.
  q.dialog = [](QDialog& d) {
    auto& bd = dynamic_cast<BlockDialog&>(d);
    typeInto(bd, 0, "hello.voc");
    typeInto(bd, 1, "0");
    QTest::mouseClick(bd.okButton(), Qt::LeftButton);
    return bd.result();
  };
  doubleClick(&w.canvas(), bodyOf(c.block(b)));
  EXPECT_EQ(textAt(c.block(b).record, 4), "hello.voc");
  EXPECT_TRUE(c.modified());
  w.undo();
  EXPECT_EQ(c.block(b).record, before);
  // The double click opened the dialog; it moved nothing and placed nothing.
  EXPECT_EQ(c.block(b).left, 300);
  EXPECT_EQ(c.blockCount(), 2);
}

TEST_F(WindowDialogs, ScriptEditorMergesItsExitsOnOk) {
  chart::Chart& c = w.chart();
  const int s = c.addBlock(48, 300, 300);
  q.dialog = [](QDialog& d) {
    auto& ed = dynamic_cast<Tfrmscript&>(d);
    ed.memo()->setPlainText("if i1 > 0 goto a\ngotoout 两位\na:\ngotoout no");
    QTest::mouseClick(ed.okButton(), Qt::LeftButton);
    return ed.result();
  };
  w.canvas().popupCommand(Canvas::Popup::kProperties, bodyOf(c.block(s)));
  const chart::GELE& b = c.block(s);
  ASSERT_EQ(b.exitCount(), 4);
  EXPECT_EQ(b.exits[2].name, platform::utf8ToGbk("两位"));
  EXPECT_EQ(b.exits[3].name, "no");
  EXPECT_EQ(static_cast<const chart::GCMD_DTC_SCRIPT&>(b).script,
            platform::utf8ToGbk("if i1 > 0 goto a\r\ngotoout 两位\r\na:\r\ngotoout no"));
  EXPECT_EQ(w.canvas().hintAt(exitOf(b, 2)), "两位");
  // Cancelled: nothing changes.
  q.dialog = [](QDialog& d) {
    auto& ed = dynamic_cast<Tfrmscript&>(d);
    ed.memo()->setPlainText("");
    return int(QDialog::Rejected);
  };
  w.openProperties(s);
  EXPECT_EQ(c.block(s).exitCount(), 4);
}

TEST_F(WindowDialogs, OkOnAnUneditedBrokenScriptKeepsTheExitsAndTheirConnections) {
  chart::Chart& c = w.chart();
  const int s = c.addBlock(48, 300, 300);
  const int t = c.addBlock(41, 600, 300);
  // The script names "yes" but breaks before its gotoout on a later check.
  c.setScript(s, "gotoout yes\nset i1", {"yes"});
  ASSERT_GE(c.connect(s, 2, t, {}), 0);
  const std::vector<uint8_t> before = chart::saveProject(c);
  q.dialog = [](QDialog& d) {
    auto& ed = dynamic_cast<Tfrmscript&>(d);
    QTest::mouseClick(ed.okButton(), Qt::LeftButton);  // unedited: closes after its box
    return ed.result();
  };
  w.openProperties(s);
  EXPECT_EQ(q.messages.size(), 1);
  EXPECT_EQ(chart::saveProject(c), before);
  EXPECT_EQ(c.exitTarget(s, 2), t);
}

}  // namespace
}  // namespace designer_ui
