// What the window tests share: scripted answers to the window's questions,
// and mouse events sent straight to the canvas with the buttons held.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QMouseEvent>
#include <QStringList>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "designer/ui/canvas.h"
#include "designer/ui/main_window.h"
#include "designer/ui/questions.h"

#include <ostream>

// Failed expectations print texts, not their bytes.
inline void PrintTo(const QString& s, std::ostream* os) {
  *os << '"' << s.toStdString() << '"';
}

namespace designer_ui::testing {

class FakeQuestions : public Questions {
 public:
  std::deque<Answer> answers;  // to askYesNoCancel, in order; Cancel when none left
  std::deque<QString> names;   // to the file dialogs; "" (cancelled) when none left
  QStringList asked;           // the questions put, "title|text"
  QStringList messages;        // the boxes shown, "title|text"
  QStringList fileDialogs;     // the filters of the file dialogs shown
  // Runs a modal dialog in place of exec(); rejects when not set.
  std::function<int(QDialog&)> dialog;

  Answer askYesNoCancel(const QString& title, const QString& text) override {
    asked << title + "|" + text;
    if (answers.empty()) return Answer::kCancel;
    const Answer a = answers.front();
    answers.pop_front();
    return a;
  }
  QString saveFileName(const QString& filter) override { return nextName(filter); }
  QString openFileName(const QString& filter) override { return nextName(filter); }
  void message(const QString& title, const QString& text, Icon) override {
    messages << title + "|" + text;
  }
  int runDialog(QDialog& d) override { return dialog ? dialog(d) : QDialog::Rejected; }

 private:
  QString nextName(const QString& filter) {
    fileDialogs << filter;
    if (names.empty()) return {};
    const QString n = names.front();
    names.pop_front();
    return n;
  }
};

inline void sendMouse(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButton button,
                      Qt::MouseButtons held) {
  QMouseEvent e(type, QPointF(at), w->mapToGlobal(QPointF(at)), button, held, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}
inline void press(QWidget* w, QPoint at) {
  sendMouse(w, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
}
inline void moveHeld(QWidget* w, QPoint at) {
  sendMouse(w, QEvent::MouseMove, at, Qt::NoButton, Qt::LeftButton);
}
inline void hover(QWidget* w, QPoint at) {
  sendMouse(w, QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton);
}
inline void release(QWidget* w, QPoint at) {
  sendMouse(w, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
}
// Press, move in two steps, release: a drag as a hand makes it.
inline void dragFrom(QWidget* w, QPoint from, QPoint to) {
  press(w, from);
  moveHeld(w, (from + to) / 2);
  moveHeld(w, to);
  release(w, to);
}
inline void click(QWidget* w, QPoint at) {
  press(w, at);
  release(w, at);
}
inline void doubleClick(QWidget* w, QPoint at) {
  press(w, at);
  release(w, at);
  sendMouse(w, QEvent::MouseButtonDblClick, at, Qt::LeftButton, Qt::LeftButton);
  release(w, at);
}

// Points on a block at (left, top).
inline QPoint bodyOf(const chart::GELE& b) {
  return {b.left + 40, b.top + 10};
}
inline QPoint exitOf(const chart::GELE& b, int i) {
  return {b.left + 12 * i + 6, b.top + 26};
}
inline QPoint portOf(const chart::GELE& b) {
  return {b.left + 6, b.top - 6};
}

}  // namespace designer_ui::testing
