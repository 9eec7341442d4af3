#include "designer/compiler/tparser.h"

#include <algorithm>
#include <memory>
#include <ostream>
#include <unordered_map>

#include "designer/compiler/tokenizer.h"
#include "flowfile/encode.h"

namespace compiler {

namespace {

const cpl::Field* fieldOfShape(int16_t opcode, cpl::Shape shape) {
  const cpl::OpcodeInfo* op = cpl::findOpcode(opcode);
  if (!op) return nullptr;
  for (const cpl::Field& f : op->operands())
    if (f.shape == shape) return &f;
  return nullptr;
}

}  // namespace

TParser::TParser() : own_(std::make_unique<cpl::StringPool>()), pool_(*own_) {}
TParser::TParser(cpl::StringPool& pool) : pool_(pool) {}

void TParser::setSource(std::vector<std::string> lines) {
  lines_ = std::move(lines);
}

int TParser::lineOffset(int line) const {
  int offset = 0;
  for (int i = 0; i < line; ++i)
    offset += static_cast<int>(lines_[i].size()) + 2;  // the editor ends lines with CR LF
  return offset;
}

void TParser::report(std::string text, int line) {
  error_.text = std::move(text);
  error_.line = line;
  if (editor_)
    editor_->showErrorBox(kErrorCaption, error_.text);
  else if (sink_)
    sink_->show(kErrorCaption, error_.text);
  if (error_.hasSelection && editor_) {
    editor_->selectRange(error_.selection.start, error_.selection.length);
    editor_->takeFocus();
  }
}

bool TParser::compile() {
  // A pool of its own serves one script at a time: a check repeated in the
  // editor must not fill it with the strings of earlier checks.
  if (own_) own_->clear();
  entries_.clear();
  exitNames_.clear();
  error_ = CompileError{};
  entries_.reserve(lines_.size());

  // Pass 1: one statement per line.
  int offset = 0;
  std::string line;
  for (size_t i = 0; i < lines_.size(); ++i) {
    foldLine(lines_[i], line);
    if (classifyLine(line) == LineKind::kStatement) {
      StatementParser statement(line, static_cast<uint32_t>(i), pool_);
      if (!statement.parse(entries_.emplace_back())) {
        entries_.pop_back();
        error_.hasSelection = true;
        error_.selection = caretAfterError(offset, statement.error());
        report(statementErrorText(static_cast<int>(i), statement.error()), static_cast<int>(i));
        return false;
      }
    }
    offset += static_cast<int>(lines_[i].size()) + 2;
  }

  // Pass 2 finds the first label defined twice, pass 3 resolves jumps to the
  // labels and collects the exit names.
  return checkDuplicateLabels() && resolveReferences();
}

bool TParser::checkDuplicateLabels() {
  // The first pair in the order (i, then j) is entry i = the earliest label
  // that recurs, with j = its next occurrence.
  std::unordered_map<std::string_view, size_t> first;
  size_t bestI = entries_.size(), bestJ = 0;
  for (size_t j = 0; j < entries_.size(); ++j) {
    if (!entries_[j].hasLabel()) continue;
    const std::string_view label = entries_[j].labelText();
    auto [it, added] = first.emplace(label, j);
    if (!added && it->second < bestI) {
      bestI = it->second;
      bestJ = j;
    }
  }
  if (bestI == entries_.size()) return true;
  const int lineI = static_cast<int>(entries_[bestI].record.line());
  report(duplicateLabelText(lineI, static_cast<int>(entries_[bestJ].record.line()),
                            entries_[bestI].labelText()),
         lineI);
  return false;
}

bool TParser::resolveReferences() {
  std::unordered_map<std::string_view, int32_t> labels;
  for (size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].hasLabel())
      labels.emplace(entries_[i].labelText(), static_cast<int32_t>(i));  // labels are unique now

  std::string name;
  for (ScriptEntry& e : entries_) {
    const int16_t opcode = e.record.opcode();
    if (opcode == cpl::kGotoout) {
      name = foldLine(exitNameOf(e.record, pool_));
      if (std::find(exitNames_.begin(), exitNames_.end(), name) == exitNames_.end())
        exitNames_.push_back(name);
      continue;
    }
    if (opcode != cpl::kGoto && opcode != cpl::kIf && opcode != cpl::kCondgoto) continue;
    const cpl::Field& field = *fieldOfShape(opcode, cpl::Shape::kLabel);
    cpl::Operand ref = cpl::decodeField(e.record, field);
    name = pool_.extract(ref.str) + ":";
    auto it = labels.find(name);
    if (it == labels.end()) {
      const int line = static_cast<int>(e.record.line());
      error_.hasSelection = true;
      error_.selection = {lineOffset(line), static_cast<int>(lines_[line].size())};
      report(missingLabelText(line, opcode == cpl::kCondgoto), line);
      return false;
    }
    ref.ival = it->second;
    cpl::encodeField(e.record, field, ref);
  }
  return true;
}

std::vector<cpl::Instruction> TParser::instructions() const {
  std::vector<cpl::Instruction> out;
  out.reserve(entries_.size());
  for (const ScriptEntry& e : entries_)
    out.push_back(e.record);
  return out;
}

void TParser::writeRecords(std::vector<uint8_t>& out) const {
  out.reserve(out.size() + entries_.size() * cpl::kInstrSize);
  for (const ScriptEntry& e : entries_)
    out.insert(out.end(), e.record.bytes().begin(), e.record.bytes().end());
}

bool TParser::writeRecords(std::ostream& out) const {
  for (const ScriptEntry& e : entries_)
    out.write(reinterpret_cast<const char*>(e.record.bytes().data()), cpl::kInstrSize);
  return static_cast<bool>(out);
}

std::vector<std::string> splitLines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const size_t lf = text.find('\n');
    std::string_view line = text.substr(0, lf);
    if (lf != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
    lines.emplace_back(line);
    text = lf == std::string_view::npos ? std::string_view() : text.substr(lf + 1);
  }
  return lines;
}

std::string exitNameOf(const cpl::Instruction& gotoout, const cpl::StringPool& pool) {
  const cpl::Field* f = fieldOfShape(gotoout.opcode(), cpl::Shape::kExitRef);
  return f ? pool.extract(cpl::decodeField(gotoout, *f).str) : std::string();
}

void setExitTarget(cpl::Instruction& gotoout, int32_t blockIndex) {
  const cpl::Field* f = fieldOfShape(gotoout.opcode(), cpl::Shape::kExitRef);
  if (!f) return;
  cpl::Operand v = cpl::decodeField(gotoout, *f);
  v.ival = blockIndex;
  cpl::encodeField(gotoout, *f, v);
}

}  // namespace compiler
