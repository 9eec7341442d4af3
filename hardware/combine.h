// Speaking values in Chinese: a value becomes a string of symbols, one short
// voice file each, that the combined playback block plays in order.
//
// Symbols: '0'..'9' the digits; 'e' ten (十), 'd' hundred (百), 'c' thousand
// (千), 'b' ten thousand (万), 'a' hundred million (亿); 'f' point (点) for
// play types 1 and 2 and yuan (元) for type 7; 'B' yuan for type 2 and fen
// (分) for type 7; 'A' jiao (角); 'h' year (年), 'i' month (月), 'j' day (日);
// 'k' o'clock (点), 'l' minute (分), 'm' second (秒).
//
// Play types:
//   1  number:   "1205.5" -> 一千二百零五点五   "1c2d05f5"
//   2  amount:   as 1, then yuan: "12.5" -> 十二点五元   "e2f5B"
//   3  digits:   one by one: "8001" -> 八零零一   "8001"
//   4  date:     "20240315", "2024-03-15" -> 二零二四年三月十五日   "2024h3ie5j"
//   5  time:     "14:05:09", "140509", "14:30" -> 十四点零五分零九秒   "e4k05l09m"
//                (zero minutes and seconds are not spoken)
//   6  date and time: 14 digits "YYYYMMDDHHMMSS", or "YYYY-MM-DD HH:MM:SS"
//   7  money:    "123.45" -> 一百二十三元四角五分   "1d2e3f4A5B";
//                rounded to the fen; "0.5" -> 五角; "100.05" -> 一百元零五分
// Numbers: up to 12 integer digits, no sign; a number reads the way a
// Chinese listener expects (10 -> 十, 110 -> 一百一十, 10005 -> 一万零五,
// 100010000 -> 一亿零一万, 102258 -> 十万二千二百五十八): zeros at the end of
// a group are silent, and one 零 stands for the zeros between two spoken
// digits inside a group or reaching into a later one. Anything else cannot
// be composed.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace hardware {

// The symbol string, or nullopt when the value cannot be composed.
std::optional<std::string> composeValue(int playType, std::string_view content);

// The integer part of a number as symbols ("0" for zero); digits only.
std::string speakInteger(std::string_view digits);

}  // namespace hardware
