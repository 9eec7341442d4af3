#include "runtime/ui/ui_logic.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>

#include "platform/gbk.h"

namespace ui {

namespace {

std::string format(const char* fmt, int a) {
  char buf[128];
  std::snprintf(buf, sizeof buf, fmt, a);
  return buf;
}

// A whole decimal number with nothing around it but blanks.
bool wholeNumber(std::string_view s, long long lo, long long hi, int* out) {
  while (!s.empty() && s.front() == ' ')
    s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ')
    s.remove_suffix(1);
  long long v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || ec != std::errc() || p != s.data() + s.size() || v < lo || v > hi) return false;
  *out = static_cast<int>(v);
  return true;
}

bool writeAll(platform::IniFile& ini, const std::vector<std::array<std::string, 3>>& keys,
              std::string* error) {
  for (const auto& [section, key, value] : keys)
    if (!ini.writeString(section, key, value, error)) return false;
  return true;
}

}  // namespace

std::string notOuterLineMessage(int channel) {
  return format("错误：通道%d不是外线通道!", channel);
}

std::string channelLabel(int channel) {
  // Full-width digits U+FF10..U+FF19, three UTF-8 bytes each.
  std::string out = "通道";
  for (char d : std::to_string(channel)) {
    const unsigned v = 0xFF10u + static_cast<unsigned>(d - '0');
    out += static_cast<char>(0xE0 | (v >> 12));
    out += static_cast<char>(0x80 | ((v >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (v & 0x3F));
  }
  return out;
}

std::string usageText(const callproc::FlowUsage& u) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "use(%d:%d) ver(%d:%d)", u.use[0], u.use[1], u.version[0],
                u.version[1]);
  return buf;
}

std::string checkNewFlow(const std::string& numberText, const std::string& path,
                         const std::vector<int>& inList, int* slot) {
  int n = 0;
  if (!wholeNumber(numberText, 0, callproc::kMaxFlowEntries - 1, &n))
    return "流程编号必须是0到1023的整数";
  if (std::find(inList.begin(), inList.end(), n) != inList.end())
    return "流程编号重复，请重新选择编号";
  if (path.empty()) return "请选择流程文件";
  *slot = n;
  return "";
}

std::vector<FlowRow> flowRows(const callproc::RuntimeSnapshot& s) {
  std::vector<FlowRow> rows;
  for (const auto& u : s.flows)
    rows.push_back({u.slot, u.path, u.vocDir});
  return rows;
}

std::string checkTrigger(const std::string& code, const std::string& indexText,
                         callproc::TriggerEntry* out) {
  if (code.empty()) return "请输入接入码";
  if (platform::utf8ToGbk(code).size() > static_cast<size_t>(callproc::kMaxAccessCode))
    return "接入码不能超过19个字符";
  int slot = 0;
  if (!wholeNumber(indexText, -1, callproc::kMaxFlowEntries - 1, &slot))
    return "流程索引必须是-1到1023的整数";
  out->code = code;
  out->slot = slot;
  return "";
}

std::vector<callproc::Trigger> liveTriggers(const std::vector<callproc::TriggerEntry>& rows) {
  std::vector<callproc::Trigger> out;
  out.reserve(rows.size());
  for (const auto& r : rows)
    out.push_back({platform::utf8ToGbk(r.code), r.slot});
  return out;
}

bool writeFlowTriggerConfig(platform::IniFile& ini, std::vector<FlowRow> flows,
                            const std::vector<callproc::TriggerEntry>& triggers,
                            std::string* error) {
  std::stable_sort(flows.begin(), flows.end(),
                   [](const FlowRow& a, const FlowRow& b) { return a.slot < b.slot; });
  std::vector<std::array<std::string, 3>> keys;
  for (size_t n = 0; n < flows.size(); ++n) {
    const std::string i = std::to_string(n);
    keys.push_back({"ivrfile", "ivrfile" + i, flows[n].path});
    keys.push_back({"ivrfile", "vocdir" + i, flows[n].vocDir});
    keys.push_back({"ivrfile", "ivrno" + i, std::to_string(flows[n].slot)});
  }
  keys.push_back({"ivrfile", "cnt", std::to_string(flows.size())});
  keys.push_back({"ivrtrig", "cnt", std::to_string(triggers.size())});
  for (size_t n = 0; n < triggers.size(); ++n) {
    const std::string i = std::to_string(n);
    keys.push_back({"ivrtrig", "num" + i, triggers[n].code});
    keys.push_back({"ivrtrig", "ivrindex" + i, std::to_string(triggers[n].slot)});
  }
  return writeAll(ini, keys, error);
}

SystemForm systemFormFrom(const callproc::SysConfig& c) {
  return {c.callallow, c.callintype, c.callednum,   c.dtmftimeout,
          c.replaycnt, c.replaytime, c.messageshow, c.keycallport};
}

std::string parseSystemNumbers(const std::string& dtmftimeout, const std::string& replaytime,
                               const std::string& replaycnt, const std::string& port,
                               SystemForm* f) {
  if (!wholeNumber(dtmftimeout, 0, 3600, &f->dtmftimeout)) return "按键超时时间必须是0到3600的整数";
  if (!wholeNumber(replaytime, 0, 3600, &f->replaytime)) return "间隔时间必须是0到3600的整数";
  if (!wholeNumber(replaycnt, 0, 100, &f->replaycnt)) return "重复播放次数必须是0到100的整数";
  if (!wholeNumber(port, 0, 65535, &f->keycallport)) return "本地DUP端口号必须是0到65535的整数";
  return "";
}

bool writeSystemSettings(platform::IniFile& ini, const SystemForm& f, std::string* error) {
  return writeAll(ini,
                  {{"System", "callallow", std::to_string(f.callallow)},
                   {"System", "callintype", std::to_string(f.callintype)},
                   {"System", "callednum", f.callednum},
                   {"System", "dtmftimeout", std::to_string(f.dtmftimeout)},
                   {"System", "replaycnt", std::to_string(f.replaycnt)},
                   {"System", "replaytime", std::to_string(f.replaytime)},
                   {"System", "messageshow", std::to_string(f.messageshow)},
                   {"net", "keycallport", std::to_string(f.keycallport)}},
                  error);
}

callproc::SystemSettings systemCommand(const SystemForm& f) {
  callproc::SystemSettings s;
  s.callallow = f.callallow;
  s.callintype = f.callintype;
  s.messageshow = f.messageshow;
  s.dtmftimeout = f.dtmftimeout;
  s.replaycnt = f.replaycnt;
  s.replaytime = f.replaytime;
  s.callednum = f.callednum;
  return s;
}

bool writeLineNumbers(platform::IniFile& ini, const std::vector<std::string>& numbers,
                      std::string* error) {
  for (size_t n = 0; n < numbers.size(); ++n)
    if (!ini.writeString("Out" + std::to_string(n), "lineno", numbers[n], error)) return false;
  return true;
}

DataSourceForm dataSourceFormFrom(const callproc::SysConfig& c) {
  return {c.dbType, c.filename, c.server,   c.data,     c.user,
          c.pass,   c.service,  c.username, c.password, c.dbPort};
}

bool writeDataSource(platform::IniFile& ini, const DataSourceForm& f, std::string* error) {
  std::vector<std::array<std::string, 3>> keys = {{"DataBase", "type", std::to_string(f.type)}};
  switch (f.type) {
    case 0:
      keys.push_back({"DataBase", "filename", f.filename});
      break;
    case 1:
    case 3:
      keys.push_back({"DataBase", "server", f.server});
      keys.push_back({"DataBase", "data", f.data});
      keys.push_back({"DataBase", "user", f.user});
      keys.push_back({"DataBase", "pass", f.pass});
      if (f.type == 3) keys.push_back({"DataBase", "port", f.port});
      break;
    case 2:
      keys.push_back({"DataBase", "service", f.service});
      keys.push_back({"DataBase", "username", f.username});
      keys.push_back({"DataBase", "password", f.password});
      break;
  }
  return writeAll(ini, keys, error);
}

int traceChannel(std::string_view t) {
  auto digitsAt = [&](size_t pos) {
    int v = -1;
    size_t i = pos;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9' && i - pos < 4)
      v = (v < 0 ? 0 : v * 10) + (t[i++] - '0');
    return v;
  };
  for (std::string_view word : {std::string_view("通道"), std::string_view("线路")}) {
    for (size_t p = t.find(word); p != std::string_view::npos; p = t.find(word, p + 1)) {
      const int v = digitsAt(p + word.size());
      if (v >= 0) return v;
    }
  }
  // "3 find ivrfile,exec it", "3通道没有发现IVR流程，通道挂机"
  const int lead = digitsAt(0);
  if (lead >= 0) {
    size_t i = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9')
      ++i;
    const std::string_view rest = t.substr(i);
    if (rest.starts_with(" find") || rest.starts_with("通道")) return lead;
  }
  return -1;
}

void TraceQueue::write(std::string_view line) {
  std::lock_guard lock(mu_);
  if (lines_.size() >= limit_) {
    lines_.pop_front();
    ++dropped_;
  }
  lines_.emplace_back(line);
}

std::vector<std::string> TraceQueue::take(size_t* dropped) {
  std::lock_guard lock(mu_);
  std::vector<std::string> out(std::make_move_iterator(lines_.begin()),
                               std::make_move_iterator(lines_.end()));
  lines_.clear();
  if (dropped) *dropped = dropped_;
  dropped_ = 0;
  return out;
}

bool TraceLines::add(std::string line) {
  const int ch = traceChannel(callproc::traceText(line));
  lines_.push_back({std::move(line), ch});
  if (lines_.size() <= kMaxLines) return false;
  lines_.pop_front();
  return true;
}

std::vector<std::string> TraceLines::visible(int channel) const {
  std::vector<std::string> out;
  for (const auto& l : lines_)
    if (channel < 0 || l.channel == channel) out.push_back(l.text);
  return out;
}

std::string dbTime(int dbType, const DateTime& t) {
  char buf[40];
  std::snprintf(buf, sizeof buf,
                dbType == 0 ? "%04d%02d%02d%02d%02d%02d" : "%04d-%02d-%02d %02d:%02d:%02d", t.year,
                t.month, t.day, t.hour, t.minute, t.second);
  return buf;
}

std::string shownTime(const std::string& d) {
  if (d.size() != 14 ||
      !std::all_of(d.begin(), d.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return d;
  return d.substr(0, 4) + "-" + d.substr(4, 2) + "-" + d.substr(6, 2) + " " + d.substr(8, 2) + ":" +
         d.substr(10, 2) + ":" + d.substr(12, 2);
}

Query callRecordQuery(CallFilter f, const std::string& number, const DateTime& from,
                      const DateTime& to, int dbType, std::string* message) {
  message->clear();
  switch (f) {
    case CallFilter::kAll:
      return {"select * from T_CallRecord", {}};
    case CallFilter::kCaller:
      if (number.empty()) *message = "请输入要查询的主叫号码!";
      return {"select * from T_CallRecord where CallerNo=?", {number}};
    case CallFilter::kCalled:
      if (number.empty()) *message = "请输入要查询的被叫号码!";
      return {"select * from T_CallRecord where CalledNo=?", {number}};
    case CallFilter::kTimeRange:
      return {"select * from T_CallRecord where StartTime>=? and EndTime<=?",
              {dbTime(dbType, from), dbTime(dbType, to)}};
  }
  return {};
}

Query deleteCallRecord(const std::string& callId) {
  return {"delete from T_CallRecord where CallID=?", {callId}};
}

Query voiceMailQuery(MailFilter f, const DateTime& from, const DateTime& to, int dbType) {
  switch (f) {
    case MailFilter::kOpen:
      return {"select * from T_LeaveWord", {}};
    case MailFilter::kAll:
      return {"select * from T_LeaveWord order by StartTime", {}};
    case MailFilter::kHeard:
      return {"select * from T_LeaveWord where ListenFlag=1 order by StartTime", {}};
    case MailFilter::kUnheard:
      return {"select * from T_LeaveWord where ListenFlag = 0 order by StartTime", {}};
    case MailFilter::kPhone:
      return {"select * from T_LeaveWord where RecordName like '%qx' order by StartTime", {}};
    case MailFilter::kSimulated:
      return {"select * from T_LeaveWord where RecordName like '%wav' order by StartTime", {}};
    case MailFilter::kTimeRange:
      return {"select * from T_LeaveWord where StartTime>=? and EndTime<=?",
              {dbTime(dbType, from), dbTime(dbType, to)}};
  }
  return {};
}

Query deleteVoiceMail(const std::string& recordId) {
  return {"delete from T_LeaveWord where RecordID=?", {recordId}};
}

Query markHeard(const std::string& recordId) {
  return {"update T_LeaveWord set ListenFlag=1 where RecordID=?", {recordId}};
}

int playModeFor(const std::string& name) {
  if (name.find("qx") != std::string::npos) return 1;
  if (name.find("wav") != std::string::npos) return 0;
  return -1;
}

std::string deleteRefusal(int rowCount, int selected, bool voiceMail) {
  if (rowCount == 0) return "没有可删除的记录";
  if (selected < 0) return voiceMail ? "请选择要删除的留言" : "请选择要删除的呼叫记录";
  return "";
}

std::vector<int16_t> decodeALaw(const std::vector<uint8_t>& bytes) {
  std::vector<int16_t> out;
  out.reserve(bytes.size());
  for (uint8_t b : bytes) {
    const int a = b ^ 0x55;
    const int exponent = (a >> 4) & 7;
    int mag = ((a & 0x0F) << 4) + 8;
    if (exponent) mag = (mag + 0x100) << (exponent - 1);
    out.push_back(static_cast<int16_t>((a & 0x80) ? mag : -mag));
  }
  return out;
}

}  // namespace ui
