// The forms a word of the script language can take: registers, integer,
// float and time constants, system variables and label definitions. Each
// test takes the folded word exactly as the tokenizer returned it.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "flowfile/cplformat.h"

namespace compiler {

struct Register {
  cpl::OperandType set;  // kOpI, kOpF, kOpT or kOpS
  uint8_t number;        // 0..31
};

// "i", "f", "t" or "s" followed by digits only; the number is formed by the
// first two digits, so "i123" is I12 and "i32" is refused.
std::optional<Register> parseRegister(std::string_view w);

// An optional "-" then digits only. The value is formed by the first nine
// characters of the word, sign included ("1234567890" reads as 123456789).
std::optional<int32_t> parseIntConst(std::string_view w);

// An optional "-", digits, ".", digits; a digit before the "." is needed
// unless the word starts with "-" ("-.5" is a float, ".5" and "5." are not).
std::optional<double> parseFloatConst(std::string_view w);

// The full value of a text in the integer or float form (no nine-character
// cut), as a string constant converted at compile time is read.
std::optional<double> parseNumberText(std::string_view s);

// "$" and exactly 14 digits with year 1900..3000, month <= 12, day <= 31,
// hour <= 24, minute <= 60, second <= 60. The digits are the word after "$".
bool isTimeConst(std::string_view w);

// The code of "$caller", "$called", "$callid", "$chan" or "$usedmoney" (whole words only).
std::optional<uint8_t> wholeSystemVariable(std::string_view w);

// A word that starts with "$meet" names a conference, whatever follows.
bool isMeetWord(std::string_view w);
// The system variable code (N + 2) of a "$meet" word whose number (the
// digits among the next two characters) is 1..32; nullopt for any other.
std::optional<uint8_t> meetCode(std::string_view w);

// Starts with a letter a-z and ends with ":".
bool isLabelDefinition(std::string_view w);

// The word with characters below code 32 removed from both ends.
std::string_view trimControls(std::string_view w);

}  // namespace compiler
