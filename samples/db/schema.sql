-- Tables that the sample flows write and the runtime's browsers read.
CREATE TABLE IF NOT EXISTS T_CallRecord (
  CallID     TEXT PRIMARY KEY,  -- call identifier: answer time and channel
  CallerNo   TEXT,
  CalledNo   TEXT,
  StartTime  DATETIME,
  EndTime    DATETIME,
  CallLength INTEGER            -- seconds
);

CREATE TABLE IF NOT EXISTS T_LeaveWord (
  RecordID     TEXT PRIMARY KEY,
  RecordName   TEXT,            -- path of the voice-mail file
  StartTime    DATETIME,
  EndTime      DATETIME,
  RecordLength INTEGER,         -- seconds
  ListenFlag   INTEGER NOT NULL DEFAULT 0  -- 0 not heard, 1 heard
);
