// Helpers for the compiler's table-driven tests: compile a few lines with a
// fresh pool, build the record a row expects from a readable notation, and
// the box text a row expects from the failing token marked in the line.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "designer/compiler/tparser.h"

namespace compiler::testing {

// A compile of `script` (lines split at '\n') into a fresh pool.
struct Compiled {
  cpl::StringPool pool;
  TParser parser{pool};
  bool ok = false;

  explicit Compiled(std::string_view script) {
    parser.setSource(splitLines(script));
    ok = parser.compile();
  }
  std::string poolText() const {
    return std::string(reinterpret_cast<const char*>(pool.bytes().data()), pool.used());
  }
};

// The record a row expects: `opcode` at 4, the source line at 0, and the
// operand bytes written as space-separated items, every other byte zero:
//   6:0401          bytes in hex from offset 6
//   8:i32(-7)       a little-endian int32
//   14:dbl(2.5)     a little-endian IEEE double
//   10:ref(3,4)     a pool reference: offset 3, length 4
//   9:'2024...'     ASCII text
inline cpl::InstrBytes expectedRecord(int opcode, std::string_view layout, uint32_t line = 0) {
  cpl::InstrBytes b{};
  auto put = [&](int at, const void* p, size_t n) {
    if (at < 0 || at + n > b.size()) {
      ADD_FAILURE() << "item outside the record: " << layout;
      return;
    }
    std::memcpy(b.data() + at, p, n);
  };
  uint8_t le[8];
  auto putLe = [&](int at, uint64_t v, int n) {
    for (int i = 0; i < n; ++i)
      le[i] = static_cast<uint8_t>(v >> (8 * i));
    put(at, le, n);
  };
  putLe(0, line, 4);
  putLe(4, static_cast<uint16_t>(opcode), 2);
  std::istringstream items{std::string(layout)};
  std::string item;
  while (items >> item) {
    const size_t colon = item.find(':');
    const int at = std::stoi(item.substr(0, colon));
    std::string v = item.substr(colon + 1);
    if (v.starts_with("i32(")) {
      putLe(at, static_cast<uint32_t>(std::stol(v.substr(4))), 4);
    } else if (v.starts_with("dbl(")) {
      double d = std::stod(v.substr(4));
      uint64_t u;
      std::memcpy(&u, &d, 8);
      putLe(at, u, 8);
    } else if (v.starts_with("ref(")) {
      const int off = std::stoi(v.substr(4)), len = std::stoi(v.substr(v.find(',') + 1));
      putLe(at, static_cast<uint16_t>(off), 2);
      putLe(at + 2, static_cast<uint16_t>(len), 2);
    } else if (v.starts_with("'")) {
      put(at, v.data() + 1, v.size() - 2);
    } else {
      for (size_t i = 0; i + 1 < v.size(); i += 2) {
        const uint8_t byte = static_cast<uint8_t>(std::stoi(v.substr(i, 2), nullptr, 16));
        put(at + static_cast<int>(i / 2), &byte, 1);
      }
    }
  }
  return b;
}

inline std::string hexOf(const cpl::InstrBytes& b) {
  std::string s;
  char buf[4];
  for (size_t i = 0; i < b.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%02x", b[i]);
    s += buf;
    if (i == 5) s += '|';  // header | operand area
  }
  return s;
}

// An accepted line: the first record must be exactly `opcode` + `layout`,
// and the pool must hold exactly `pool`.
struct Accepted {
  const char* script;
  int opcode;
  const char* layout;
  const char* pool = "";
};

inline void expectAccepted(const Accepted& row) {
  SCOPED_TRACE(row.script);
  Compiled c(row.script);
  ASSERT_TRUE(c.ok) << c.parser.error().text;
  ASSERT_FALSE(c.parser.records().empty());
  EXPECT_EQ(hexOf(c.parser.records()[0].record.bytes()),
            hexOf(expectedRecord(row.opcode, row.layout)));
  EXPECT_EQ(c.poolText(), row.pool);
}

// A refused line. The token the statement fails at is written between « and
// »; the box names the marked text (quotes of a string removed, "EOL" for an
// empty mark at the end) and the column of its last character.
struct Refused {
  const char* marked;
  const char* message;
};

inline std::string boxFor(std::string_view marked, std::string_view message,
                          std::string* script = nullptr) {
  const size_t open = marked.find("«"), close = marked.find("»");
  std::string plain = std::string(marked.substr(0, open)) +
                      std::string(marked.substr(open + 2, close - open - 2)) +
                      std::string(marked.substr(close + 2));
  if (script) *script = plain;
  std::string token(marked.substr(open + 2, close - open - 2));
  const size_t lineStart =
      marked.rfind('\n', open) == std::string_view::npos ? 0 : marked.rfind('\n', open) + 1;
  int line = 0;
  for (size_t i = 0; i < open; ++i)
    line += marked[i] == '\n';
  int column = static_cast<int>(open - lineStart + token.size());
  if (token.empty()) {
    token = "EOL";
    column += 1;
  } else if (token.front() == '"') {
    std::string text;
    for (size_t i = 1; i + 1 < token.size(); ++i) {
      text += token[i];
      if (token[i] == '"') ++i;
    }
    token = text;
  }
  return "[" + std::to_string(line) + "行;" + std::to_string(column) + "列]错误的ID\"" + token +
         "\"," + std::string(message);
}

inline void expectRefused(const Refused& row) {
  SCOPED_TRACE(row.marked);
  std::string script;
  const std::string box = boxFor(row.marked, row.message, &script);
  Compiled c(script);
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(c.parser.error().text, box);
}

}  // namespace compiler::testing
