-- Tables that the sample flows write and the runtime's browsers read.
-- Times are local times as the flows write them with setparamin: the 14
-- digits YYYYMMDDHHMMSS, kept as text so that they read back exactly as
-- written (s2t takes them) and compare in time order as text.
CREATE TABLE IF NOT EXISTS T_CallRecord (
  CallID     TEXT PRIMARY KEY,  -- call identifier: answer time and channel
  CallerNo   TEXT,
  CalledNo   TEXT,
  StartTime  TEXT,              -- YYYYMMDDHHMMSS
  EndTime    TEXT,              -- YYYYMMDDHHMMSS
  CallLength INTEGER            -- seconds
);

CREATE TABLE IF NOT EXISTS T_LeaveWord (
  RecordID     TEXT PRIMARY KEY,
  RecordName   TEXT,            -- path of the voice-mail file
  StartTime    TEXT,            -- YYYYMMDDHHMMSS
  EndTime      TEXT,            -- YYYYMMDDHHMMSS
  RecordLength INTEGER,         -- seconds
  ListenFlag   INTEGER NOT NULL DEFAULT 0  -- 0 not heard, 1 heard
);
