// Compares what the combined playback says with the Chinese numerals of nzh,
// a library we did not write. Usage: node combine_nzh_test.js COMBINE_READING
// (nzh is found through NODE_PATH; scripts/setup.sh installs it).
//
// Conventions: nzh's encodeS as it comes (十五 at the start of a number,
// 一百一十 inside it, 二 rather than 两, as the voice files say); toMoney
// with tenMin, its capitals read as the everyday digits and its closing 整
// dropped, since no voice file says them. Dates are read with nzh's
// numerals: the year digit by digit, then month and day as numbers.
'use strict';
const { spawnSync } = require('child_process');

const SKIP = 77;
let nzh;
try {
  nzh = require('nzh').cn;
} catch (e) {
  console.log('SKIPPED: the npm package nzh is not installed (scripts/setup.sh installs it ' +
              'into build/npm); ' + e.message.split('\n')[0]);
  process.exit(SKIP);
}
const program = process.argv[2];
if (!program) {
  console.error('usage: node combine_nzh_test.js COMBINE_READING');
  process.exit(2);
}

// A fixed sequence, so that a failure is the same on every run.
let seed = 0x2c1b3c6d;
function random() {
  seed = (seed + 0x6d2b79f5) | 0;
  let t = Math.imul(seed ^ (seed >>> 15), 1 | seed);
  t = (t + Math.imul(t ^ (t >>> 7), 61 | t)) ^ t;
  return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
}
const digit = (from) => String(from + Math.floor(random() * (10 - from)));

// A number of `len` digits, zero with probability `zeros` at each place
// after the first, so that every pattern of zeros inside and across the
// groups of four comes up.
function sparseNumber(len, zeros) {
  let s = digit(1);
  for (let i = 1; i < len; ++i) s += random() < zeros ? '0' : digit(0);
  return s;
}

const cases = [];  // [type, content, expected]
// nzh 1.0.14 drops the 一 of 一十 after a 零 that follows 亿 (一亿零十, but
// 一万零一十); after 零 the tens are 一十 wherever they fall.
const add = (type, content, expected) =>
  cases.push([type, content, expected.replace(/零十/g, '零一十')]);

// Play type 1: integers up to 12 digits.
const integers = new Set();
for (let n = 0; n <= 20000; ++n) integers.add(String(n));
// Every number with one or two non-zero digits: each place of each group.
for (let i = 0; i < 12; ++i)
  for (let a = 1; a <= 9; ++a) {
    const one = '0'.repeat(11 - i) + a + '0'.repeat(i);
    integers.add(String(BigInt(one)));
    for (let j = 0; j < i; ++j)
      for (let b = 1; b <= 9; b += 4) {
        const two = one.split('');
        two[11 - j] = String(b);
        integers.add(String(BigInt(two.join(''))));
      }
  }
for (let k = 0; k < 20000; ++k)
  integers.add(sparseNumber(1 + Math.floor(random() * 12), [0.3, 0.6, 0.85][k % 3]));
for (const n of integers) add(1, n, nzh.encodeS(n));
const integerCount = integers.size;

// Play types 1 and 2: decimals; type 2 speaks the unit after the number.
for (let k = 0; k < 3000; ++k) {
  const ip = sparseNumber(1 + Math.floor(random() * 9), 0.5);
  let fp = '';
  for (let i = 1 + Math.floor(random() * 4); i > 0; --i) fp += random() < 0.4 ? '0' : digit(0);
  const value = (k % 5 === 0 ? '0' : ip) + '.' + fp;
  add(1, value, nzh.encodeS(value));
  add(2, value, nzh.encodeS(value) + '元');
}

// Play type 7: money to the fen.
const capitals = { 壹: '一', 贰: '二', 叁: '三', 肆: '四', 伍: '五', 陆: '六', 柒: '七',
                   捌: '八', 玖: '九', 拾: '十', 佰: '百', 仟: '千' };
function money(value) {
  return nzh.toMoney(value, { outSymbol: false, tenMin: true })
      .replace(/[壹贰叁肆伍陆柒捌玖拾佰仟]/g, (c) => capitals[c])
      .replace(/整$/, '');
}
for (let k = 0; k < 4000; ++k) {
  const yuan = k % 7 === 0 ? '0' : sparseNumber(1 + Math.floor(random() * 12), 0.5);
  const fen = String(Math.floor(random() * 100)).padStart(2, '0');
  const value = k % 11 === 0 ? yuan : yuan + '.' + fen;
  add(7, value, money(value));
}

// Play types 4 and 6: every day of a leap year and a common year, and
// random days of other years, with a time for type 6.
const date = (y, m, d) => y.split('').map((c) => nzh.encodeS(c)).join('') + '年' +
                          nzh.encodeS(String(m)) + '月' + nzh.encodeS(String(d)) + '日';
const two = (n) => String(n).padStart(2, '0');
for (const y of ['2024', '2023'])
  for (let m = 1; m <= 12; ++m)
    for (let d = 1; d <= new Date(Number(y), m, 0).getDate(); ++d) {
      add(4, y + two(m) + two(d), date(y, m, d));
      add(4, `${y}-${two(m)}-${two(d)}`, date(y, m, d));
    }
for (let k = 0; k < 1000; ++k) {
  const y = String(1900 + Math.floor(random() * 200));
  const m = 1 + Math.floor(random() * 12), d = 1 + Math.floor(random() * 28);
  const h = Math.floor(random() * 24), mi = 1 + Math.floor(random() * 59);
  const s = 1 + Math.floor(random() * 59);
  // Minutes and seconds keep their tens place, as a clock reads them.
  const clock = (v) => (v < 10 ? '零' : '') + nzh.encodeS(String(v));
  add(6, y + two(m) + two(d) + two(h) + two(mi) + two(s),
      date(y, m, d) + nzh.encodeS(String(h)) + '点' + clock(mi) + '分' + clock(s) + '秒');
}

const input = cases.map(([t, c]) => `${t}\t${c}\n`).join('');
const run = spawnSync(program, [], { input, encoding: 'utf8', maxBuffer: 1 << 28 });
if (run.status !== 0) {
  console.error(`${program} failed (status ${run.status}): ${run.error || run.stderr}`);
  process.exit(1);
}
const got = run.stdout.split('\n');
const names = { 1: 'number', 2: 'amount', 4: 'date', 6: 'date and time', 7: 'money' };
const wrong = {};
let shown = 0;
cases.forEach(([type, content, expected], i) => {
  if (got[i] === expected) return;
  wrong[type] = (wrong[type] || 0) + 1;
  if (shown++ < 40)
    console.log(`type ${type} ${JSON.stringify(content)}: we say ${got[i]}, nzh ${expected}`);
});
const counts = {};
for (const [type] of cases) counts[type] = (counts[type] || 0) + 1;
for (const type of Object.keys(counts))
  console.log(`${names[type]} (type ${type}): ${counts[type] - (wrong[type] || 0)} of ` +
              `${counts[type]} read as nzh reads them` +
              (type === '1' ? ` (${integerCount} integers among them)` : ''));
process.exit(Object.keys(wrong).length ? 1 : 0);
