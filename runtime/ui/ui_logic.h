// What the runtime's windows decide, without a display: the checks and
// messages of the settings dialogs, the configuration they write, the
// channel a trace line speaks of, the trace box's lines, and the browsers'
// statements. The Qt layer (runtime/ui) only shows these.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ini.h"
#include "runtime/callproc/commands.h"
#include "runtime/callproc/config.h"
#include "runtime/callproc/trace.h"

namespace ui {

// ---- messages and captions
inline constexpr char kTitle[] = "Sarvent V3.0";
std::string notOuterLineMessage(int channel);  // "错误：通道%d不是外线通道!"
// "通道０" ... with full-width digits, as the panel labels its rows.
std::string channelLabel(int channel);
// The usage column: "use(%d:%d) ver(%d:%d)".
std::string usageText(const callproc::FlowUsage& u);

// ---- flow settings
struct FlowRow {
  int slot = 0;
  std::string path, vocDir;  // UTF-8
};
// The flow number typed in the entry dialog: "" when it may be added, else
// the message to show. `inList` are the slots the list already holds.
std::string checkNewFlow(const std::string& numberText, const std::string& path,
                         const std::vector<int>& inList, int* slot);
// The flow list from a snapshot: the slots holding a flow, current bank's
// file and directory.
std::vector<FlowRow> flowRows(const callproc::RuntimeSnapshot& s);

// ---- trigger settings
// "" when the access code and flow index may be stored, else the message.
std::string checkTrigger(const std::string& code, const std::string& indexText,
                         callproc::TriggerEntry* out);
// The live trigger table from the list rows, top to bottom (codes in GBK).
std::vector<callproc::Trigger> liveTriggers(const std::vector<callproc::TriggerEntry>& rows);

// Rewrites [ivrfile] and [ivrtrig]: each flow row in slot order as entry n
// (ivrno<n>, ivrfile<n>, vocdir<n>) and cnt, then the triggers in list
// order (num<n>, ivrindex<n>) and cnt. The file's other lines stay. False
// with the reason when the file cannot be written.
bool writeFlowTriggerConfig(platform::IniFile& ini, std::vector<FlowRow> flows,
                            const std::vector<callproc::TriggerEntry>& triggers,
                            std::string* error);

// ---- system, channel and data source settings
struct SystemForm {
  int callallow = 1;
  int callintype = 1;
  std::string callednum = "8888";
  int dtmftimeout = 10;
  int replaycnt = 0;
  int replaytime = 0;
  int messageshow = 1;
  int keycallport = 0;
};
SystemForm systemFormFrom(const callproc::SysConfig& cfg);
using callproc::channelCountFor;
// Reads the dialog's number fields: "" when every one is a whole number in
// its range, else the message naming the first that is not.
std::string parseSystemNumbers(const std::string& dtmftimeout, const std::string& replaytime,
                               const std::string& replaycnt, const std::string& port,
                               SystemForm* form);
bool writeSystemSettings(platform::IniFile& ini, const SystemForm& f, std::string* error);
callproc::SystemSettings systemCommand(const SystemForm& f);
// [Out<n>] lineno for every channel given.
bool writeLineNumbers(platform::IniFile& ini, const std::vector<std::string>& numbers,
                      std::string* error);

struct DataSourceForm {
  int type = 0;  // 0 file database, 1 SQL Server, 2 Oracle, 3 PostgreSQL
  std::string filename, server, data, user, pass, service, username, password, port;
};
DataSourceForm dataSourceFormFrom(const callproc::SysConfig& cfg);
// [DataBase] type and the keys of the chosen kind.
bool writeDataSource(platform::IniFile& ini, const DataSourceForm& f, std::string* error);

// ---- trace box
// The channel a trace text speaks of ("通道3=>(...", "通道3复位",
// "1从通道3打进8888", "3 find ivrfile,exec it", "线路3的..."), or -1.
int traceChannel(std::string_view text);

// Lines of the trace log on their way to the window: the scan thread only
// appends under a short lock; the window takes them in batches. At most
// `limit` lines wait; older ones are dropped and counted.
class TraceQueue : public callproc::TraceSink {
 public:
  explicit TraceQueue(size_t limit = 2000) : limit_(limit) {}
  void write(std::string_view line) override;
  // Everything queued, oldest first; `dropped` gets how many were lost since
  // the last take.
  std::vector<std::string> take(size_t* dropped = nullptr);

 private:
  std::mutex mu_;
  std::deque<std::string> lines_;
  size_t limit_;
  size_t dropped_ = 0;
};

// The trace box's lines: the last 500, each with the channel it names.
class TraceLines {
 public:
  static constexpr size_t kMaxLines = 500;
  // Adds a line; true when the oldest was dropped to make room.
  bool add(std::string line);
  // The lines a filter shows (channel -1: all), oldest first.
  std::vector<std::string> visible(int channel) const;
  size_t size() const { return lines_.size(); }

 private:
  struct Line {
    std::string text;
    int channel;
  };
  std::deque<Line> lines_;
};

// ---- browsers
// A statement with its "?" values.
struct Query {
  std::string sql;
  std::vector<std::string> params;
};
struct DateTime {
  int year = 2000, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};
// A moment as the database compares it: the file database keeps 14 digits
// "YYYYMMDDHHMMSS" as text; the server databases take "YYYY-MM-DD HH:MM:SS".
std::string dbTime(int dbType, const DateTime& t);
// Stored time (14 digits, as the database layer returns) as a person reads
// it: "YYYY-MM-DD HH:MM:SS"; anything else unchanged.
std::string shownTime(const std::string& digits);

enum class CallFilter { kAll, kCaller, kCalled, kTimeRange };
// The statement for a filter, or "" in `message` when it can run; otherwise
// the message to show ("请输入要查询的主叫号码!", ...).
Query callRecordQuery(CallFilter f, const std::string& number, const DateTime& from,
                      const DateTime& to, int dbType, std::string* message);
Query deleteCallRecord(const std::string& callId);

enum class MailFilter { kOpen, kAll, kHeard, kUnheard, kPhone, kSimulated, kTimeRange };
Query voiceMailQuery(MailFilter f, const DateTime& from, const DateTime& to, int dbType);
Query deleteVoiceMail(const std::string& recordId);
Query markHeard(const std::string& recordId);

// Where a voice mail plays: 1 telephone voice format on channel 0 ("qx"),
// 0 the sound card ("wav"), -1 neither.
int playModeFor(const std::string& recordName);

// The message of a delete attempt before the question: "" to ask.
std::string deleteRefusal(int rowCount, int selected, bool voiceMail);

// A-law bytes as 16-bit linear samples.
std::vector<int16_t> decodeALaw(const std::vector<uint8_t>& bytes);

}  // namespace ui
