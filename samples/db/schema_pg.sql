-- The same tables on PostgreSQL ([DataBase] type=3): psql -f schema_pg.sql.
-- The server does not take the 14 time digits of a flow as a timestamp by
-- itself: flows write them with to_timestamp('1?', 'YYYYMMDDHH24MISS') and
-- read them back as the 14 digits.
CREATE TABLE IF NOT EXISTS T_CallRecord (
  CallID     VARCHAR(20) PRIMARY KEY,
  CallerNo   VARCHAR(20),
  CalledNo   VARCHAR(38),
  StartTime  TIMESTAMP,
  EndTime    TIMESTAMP,
  CallLength INTEGER             -- seconds
);

CREATE TABLE IF NOT EXISTS T_LeaveWord (
  RecordID     VARCHAR(20) PRIMARY KEY,
  RecordName   VARCHAR(260),     -- path of the voice-mail file
  StartTime    TIMESTAMP,
  EndTime      TIMESTAMP,
  RecordLength INTEGER,          -- seconds
  ListenFlag   INTEGER NOT NULL DEFAULT 0  -- 0 not heard, 1 heard
);
