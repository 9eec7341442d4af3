#include "runtime/sim/scenario.h"

#include <cctype>

#include "runtime/callproc/channels.h"

namespace sim {

namespace {

constexpr uint32_t kMaxSeconds = 100000;
constexpr size_t kMaxCaller = 19;  // bytes the channel record keeps

// The words of one line: bare words end at a blank; quoted ones are marked
// so that a quoted "expect" is not taken for the keyword.
struct Word {
  std::string text;
  bool quoted = false;
};

bool splitWords(std::string_view line, std::vector<Word>* words, std::string* error) {
  size_t i = 0;
  while (i < line.size()) {
    const char ch = line[i];
    if (ch == ' ' || ch == '\t' || ch == '\r') {
      ++i;
      continue;
    }
    Word w;
    if (ch == '"') {
      w.quoted = true;
      ++i;
      bool closed = false;
      while (i < line.size()) {
        if (line[i] == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\')) {
          w.text += line[i + 1];
          i += 2;
        } else if (line[i] == '"') {
          closed = true;
          ++i;
          break;
        } else {
          w.text += line[i++];
        }
      }
      if (!closed) {
        *error = "a quoted text is not closed";
        return false;
      }
      if (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') {
        *error = "a quoted text runs into the next word";
        return false;
      }
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
        w.text += line[i++];
    }
    words->push_back(std::move(w));
  }
  return true;
}

bool parseChannel(const Word& w, int* channel) {
  if (w.quoted || w.text.empty() || w.text.size() > 3) return false;
  int n = 0;
  for (char ch : w.text) {
    if (!std::isdigit(static_cast<unsigned char>(ch))) return false;
    n = n * 10 + (ch - '0');
  }
  if (n >= callproc::kMaxChannels) return false;
  *channel = n;
  return true;
}

bool isKey(char ch) {
  return (ch >= '0' && ch <= '9') || ch == '*' || ch == '#';
}

// A reading of one line; `fail` notes the first thing wrong.
class LineParser {
 public:
  LineParser(std::vector<Word> words, int line, std::string_view source)
      : w_(std::move(words)), line_(line), source_(source) {}

  bool parse(Scenario* sc, uint32_t* lastAt, std::string* error) {
    error_ = error;
    const std::string& head = w_[0].text;
    if (w_[0].quoted) return fail("a line starts with a keyword, not a quoted text");
    if (head == "limit") {
      if (!count(2)) return false;
      if (!seconds(w_[1], &sc->limitMs)) return false;
      if (sc->limitMs == 0) return fail("the limit must be more than 0 seconds");
      return true;
    }
    if (head == "at" || head == "after") return step(sc, lastAt);
    if (head == "wait") {
      if (!count(3)) return false;
      if (!w_[1].quoted) return fail("wait takes a quoted text: wait \"TEXT\" SECONDS");
      if (w_[1].text.empty()) return fail("the text to wait for is empty");
      Step s;
      s.kind = Step::kWait;
      s.line = line_;
      s.text = w_[1].text;
      s.relative = true;
      if (!seconds(w_[2], &s.timeMs)) return false;
      sc->steps.push_back(std::move(s));
      return true;
    }
    if (head == "expect") return expectation(sc);
    return fail("unknown keyword '" + head + "'");
  }

 private:
  bool fail(std::string message) {
    *error_ = std::move(message);
    return false;
  }
  bool count(size_t n) {
    if (w_.size() < n) return fail("'" + w_[0].text + "' needs more words");
    if (w_.size() > n) return fail("unexpected '" + w_[n].text + "' at the end of the line");
    return true;
  }
  bool seconds(const Word& w, uint32_t* ms) {
    if (!w.quoted && parseSeconds(w.text, ms)) return true;
    return fail("'" + w.text + "' is not a time in seconds (0 to 100000, at most 3 decimals)");
  }
  bool channel(const Word& w, int* c) {
    if (parseChannel(w, c)) return true;
    return fail("'" + w.text + "' is not a channel number (0 to " +
                std::to_string(callproc::kMaxChannels - 1) + ")");
  }

  bool step(Scenario* sc, uint32_t* lastAt) {
    if (w_.size() < 3) return fail("'" + w_[0].text + "' needs a time and an action");
    Step s;
    s.line = line_;
    s.relative = w_[0].text == "after";
    if (!seconds(w_[1], &s.timeMs)) return false;
    if (!s.relative) {
      if (s.timeMs < *lastAt) return fail("'at' time goes back before an earlier 'at'");
      *lastAt = s.timeMs;
    }
    const std::string& action = w_[2].text;
    if (w_[2].quoted) return fail("an action is a word, not a quoted text");
    if (action == "call") {
      if (!count(5) || !channel(w_[3], &s.channel)) return false;
      s.kind = Step::kCall;
      s.text = w_[4].text;
      if (s.text.empty() || s.text.size() > kMaxCaller)
        return fail("a caller number has 1 to 19 characters");
      for (char ch : s.text)
        if (!std::isalnum(static_cast<unsigned char>(ch)) && !isKey(ch) && ch != '+' && ch != '-')
          return fail("'" + s.text + "' is not a caller number (digits, letters, + - * #)");
    } else if (action == "keys") {
      if (!count(5) || !channel(w_[3], &s.channel)) return false;
      s.kind = Step::kKeys;
      s.text = w_[4].text;
      if (s.text.empty()) return fail("no keys to press");
      for (char ch : s.text)
        if (!isKey(ch)) return fail("'" + s.text + "' holds a key other than 0-9, * and #");
    } else if (action == "hangup" || action == "lift" || action == "putdown") {
      if (!count(4) || !channel(w_[3], &s.channel)) return false;
      s.kind = action == "hangup" ? Step::kHangup : action == "lift" ? Step::kLift : Step::kPutDown;
    } else {
      return fail("unknown action '" + action + "' (call, keys, hangup, lift, putdown)");
    }
    sc->steps.push_back(std::move(s));
    return true;
  }

  bool expectation(Scenario* sc) {
    if (w_.size() < 2) return fail("'expect' needs what to expect");
    Expectation e;
    e.line = line_;
    e.source = std::string(source_);
    const std::string& what = w_[1].text;
    if (w_[1].quoted) return fail("'expect' takes line, no-line, reg, sql or calls");
    if (what == "line" || what == "no-line") {
      if (!count(3)) return false;
      if (!w_[2].quoted) return fail("'expect " + what + "' takes a quoted text");
      if (w_[2].text.empty()) return fail("the expected text is empty");
      e.kind = what == "line" ? Expectation::kLine : Expectation::kNoLine;
      e.text = w_[2].text;
    } else if (what == "reg") {
      if (!count(6) || !channel(w_[2], &e.channel)) return false;
      e.kind = Expectation::kReg;
      const std::string& r = w_[3].text;
      bool ok = !w_[3].quoted && r.size() >= 2 && r.size() <= 3;
      if (ok) {
        e.regType = static_cast<char>(std::toupper(static_cast<unsigned char>(r[0])));
        ok = e.regType == 'I' || e.regType == 'F' || e.regType == 'T' || e.regType == 'S';
        int n = 0;
        for (size_t i = 1; ok && i < r.size(); ++i) {
          ok = std::isdigit(static_cast<unsigned char>(r[i])) != 0;
          n = n * 10 + (r[i] - '0');
        }
        ok = ok && n < 32;
        e.regIndex = n;
      }
      if (!ok) return fail("'" + r + "' is not a register (I0..I31, F0..F31, T0..T31, S0..S31)");
      if (w_[4].quoted || w_[4].text != "=") return fail("expected '=' after the register");
      e.value = w_[5].text;
    } else if (what == "sql") {
      if (!count(5)) return false;
      if (!w_[2].quoted || w_[2].text.empty()) return fail("'expect sql' takes a quoted statement");
      if (w_[3].quoted || w_[3].text != "=") return fail("expected '=' after the statement");
      e.kind = Expectation::kSql;
      e.text = w_[2].text;
      e.value = w_[4].text;
    } else if (what == "calls") {
      if (!count(3)) return false;
      const std::string& n = w_[2].text;
      bool ok = !w_[2].quoted && !n.empty() && n.size() <= 9;
      for (char ch : n)
        ok = ok && std::isdigit(static_cast<unsigned char>(ch));
      if (!ok) return fail("'" + n + "' is not a number of calls");
      e.kind = Expectation::kCalls;
      e.value = std::to_string(std::stol(n));
    } else {
      return fail("unknown expectation '" + what + "' (line, no-line, reg, sql, calls)");
    }
    sc->expectations.push_back(std::move(e));
    return true;
  }

  std::vector<Word> w_;
  int line_;
  std::string_view source_;
  std::string* error_ = nullptr;
};

}  // namespace

bool parseSeconds(std::string_view word, uint32_t* ms) {
  if (word.empty()) return false;
  uint64_t whole = 0, frac = 0;
  size_t i = 0, digits = 0;
  for (; i < word.size() && std::isdigit(static_cast<unsigned char>(word[i])); ++i, ++digits) {
    whole = whole * 10 + static_cast<uint64_t>(word[i] - '0');
    if (whole > kMaxSeconds) return false;
  }
  if (digits == 0) return false;
  if (i < word.size()) {
    if (word[i] != '.') return false;
    ++i;
    size_t decimals = 0;
    for (; i < word.size(); ++i, ++decimals) {
      if (!std::isdigit(static_cast<unsigned char>(word[i])) || decimals == 3) return false;
      frac = frac * 10 + static_cast<uint64_t>(word[i] - '0');
    }
    if (decimals == 0) return false;
    for (; decimals < 3; ++decimals)
      frac *= 10;
  }
  const uint64_t total = whole * 1000 + frac;
  if (total > uint64_t{kMaxSeconds} * 1000) return false;
  *ms = static_cast<uint32_t>(total);
  return true;
}

bool parseScenario(std::string_view text, Scenario* out, ParseError* error) {
  *out = Scenario{};
  uint32_t lastAt = 0;
  int number = 0;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    ++number;
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos || line[first] == '#') {
      if (end == text.size()) break;
      continue;
    }
    std::vector<Word> words;
    std::string message;
    if (!splitWords(line, &words, &message) ||
        !LineParser(std::move(words), number, line.substr(first)).parse(out, &lastAt, &message)) {
      error->line = number;
      error->message = message;
      return false;
    }
    if (end == text.size()) break;
  }
  return true;
}

}  // namespace sim
