// The opcodes of the script language, one line each: the one list from which
// the opcode enum, the keywords the compiler reads, the names the trace
// shows, the command family and whether the runtime executes the command
// are all derived (cplformat.h, opcodes.cpp, the interpreter's dispatch
// table). Operand layouts are kept beside it in opcodes.cpp, indexed by
// these codes.
//
// X(code, Name, keyword, trace name, family, executed)
//   Name       the enum constant is k<Name> (cpl::kSet, ...)
//   keyword    lower case, as written in a script; empty for the label-only
//              record
//   trace name how the trace names the command
//   family     the command family (OpcodeFamily without its k)
//   executed   1 when the runtime carries the command out; 0 when it passes
//              over it (the counter advances, no line)
#pragma once

// clang-format off
#define OLVARO_OPCODES(X) \
  X(0, Callfunc, "callfunc", "CallFunc", Control, 0) \
  X(1, Pushall, "pushall", "PushAll", Control, 0) \
  X(2, Popall, "popall", "PopAll", Control, 0) \
  X(3, Push, "push", "Push", Control, 0) \
  X(4, Set, "set", "Set", Assign, 1) \
  X(5, Add, "add", "Add", Assign, 1) \
  X(6, Sub, "sub", "Sub", Assign, 1) \
  X(7, Mul, "mul", "Mul", Assign, 1) \
  X(8, Div, "div", "Div", Assign, 1) \
  X(9, Cmpd, "cmpd", "CmpD", Assign, 0) \
  X(10, Cmpt, "cmpt", "CmpT", Assign, 0) \
  X(11, Condgoto, "condgoto", "CondGoto", Control, 0) \
  X(12, I2s, "i2s", "I2S", Assign, 1) \
  X(13, F2s, "f2s", "F2S", Assign, 1) \
  X(14, T2s, "t2s", "T2S", Assign, 1) \
  X(15, S2i, "s2i", "S2I", Assign, 1) \
  X(16, S2f, "s2f", "S2F", Assign, 1) \
  X(17, S2t, "s2t", "S2T", Assign, 1) \
  X(18, Strlen, "strlen", "StrLen", StringDate, 1) \
  X(19, Strtrimleft, "strtrimleft", "StrTrimLeft", StringDate, 1) \
  X(20, Strtrimright, "strtrimright", "StrTrimRight", StringDate, 1) \
  X(21, Strtrim, "strtrim", "StrTrim", StringDate, 1) \
  X(22, Strreplace, "strreplace", "StrReplace", StringDate, 1) \
  X(23, Strmid, "strmid", "StrMid", StringDate, 1) \
  X(24, Strdel, "strdel", "StrDel", StringDate, 1) \
  X(25, Strcat, "strcat", "StrCat", StringDate, 1) \
  X(26, Strupper, "strupper", "StrUpper", StringDate, 1) \
  X(27, Strlower, "strlower", "StrLower", StringDate, 1) \
  X(28, Strparse, "strparse", "StrParse", StringDate, 1) \
  X(29, Now, "now", "Now", StringDate, 1) \
  X(30, Dateaddday, "dateaddday", "DateAddDay", StringDate, 1) \
  X(31, Dateaddhour, "dateaddhour", "DateAddHour", StringDate, 1) \
  X(32, Dateaddmin, "dateaddmin", "DateAddMin", StringDate, 1) \
  X(33, Datepartmin, "datepartmin", "DatePartMin", StringDate, 1) \
  X(34, Datepartsec, "datepartsec", "DatePartSec", StringDate, 1) \
  X(35, Datepartday, "datepartday", "DatePartDay", StringDate, 1) \
  X(36, Datepartmonth, "datepartmonth", "DatePartMonth", StringDate, 1) \
  X(37, Datepartweek, "datepartweek", "DatePartWeek", StringDate, 1) \
  X(38, Datepartyear, "datepartyear", "DatePartYear", StringDate, 1) \
  X(39, Datediffday, "datediffday", "DateDiffDay", StringDate, 1) \
  X(40, Datediffhour, "datediffhour", "DateDiffHour", StringDate, 1) \
  X(41, Datediffmin, "datediffmin", "DateDiffMin", StringDate, 1) \
  X(42, Datediffsec, "datediffsec", "DateDiffSec", StringDate, 1) \
  X(43, Sendpacket, "sendpacket", "SendPacket", Packet, 0) \
  X(44, Recvpacket, "recvpacket", "RecvPacket", Packet, 0) \
  X(45, Sqlopen, "sqlopen", "SqlOpen", Database, 1) \
  X(46, Getfieldi, "getfieldi", "GetFieldI", Database, 0) \
  X(47, Getfields, "getfields", "GetFieldS", Database, 0) \
  X(48, Getfieldt, "getfieldt", "GetFieldT", Database, 0) \
  X(49, Getfieldf, "getfieldf", "GetFieldF", Database, 0) \
  X(50, Movenext, "movenext", "MoveNext", Database, 1) \
  X(51, Eof, "eof", "EOF", Database, 1) \
  X(52, Sqlexec, "sqlexec", "SqlExec", Database, 1) \
  X(53, Spexec, "spexec", "SpExec", Database, 0) \
  X(54, Setsqlparami, "setsqlparami", "SetSqlParamI", Database, 0) \
  X(55, Setsqlparams, "setsqlparams", "SetSqlParamS", Database, 0) \
  X(56, Setsqlparamt, "setsqlparamt", "SetSqlParamT", Database, 0) \
  X(57, Setsqlparamf, "setsqlparamf", "SetSqlParamF", Database, 0) \
  X(58, Getspouti, "getspouti", "GetSpOutI", Database, 0) \
  X(59, Getspouts, "getspouts", "GetSpOutS", Database, 0) \
  X(60, Getspoutt, "getspoutt", "GetSpOutT", Database, 0) \
  X(61, Getspoutf, "getspoutf", "GetSpOutF", Database, 0) \
  X(62, Pop, "pop", "Pop", Control, 0) \
  X(63, Dateparthour, "dateparthour", "DatePartHour", StringDate, 1) \
  X(64, LabelOnly, "", "", Control, 0) \
  X(65, If, "if", "IF", Assign, 1) \
  X(66, Goto, "goto", "Goto", Control, 1) \
  X(67, Preparesql, "preparesql", "PrepareSQL", Database, 1) \
  X(68, Setparamin, "setparamin", "SetParamIn", Database, 1) \
  X(69, Setparamout, "setparamout", "SetParamOut", Database, 0) \
  X(70, Getparamout, "getparamout", "GetParamOut", Database, 0) \
  X(71, Getfield, "getfield", "GetField", Database, 1) \
  X(72, Stop, "stop", "Stop", Control, 0) \
  X(73, Print, "print", "Print", Control, 1) \
  X(74, Gotoout, "gotoout", "GotoOut", Control, 1) \
  X(75, Startbill, "startbill", "StartBill", Billing, 0) \
  X(76, Setbilltype, "setbilltype", "SetBillType", Billing, 0) \
  X(77, Secbillbegin, "secbillbegin", "SecBillBegin", Billing, 0) \
  X(78, Secbillend, "secbillend", "SecBillEnd", Billing, 0) \
  X(79, Endbill, "endbill", "EndBill", Billing, 0) \
  X(80, Recfile, "recfile", "RecFile", Line, 0) \
  X(81, Gotodef, "gotodef", "GotoDef", Control, 1) \
  X(82, Setdb, "setdb", "SetDB", Database, 0) \
  X(83, Playtts, "playtts", "PlayTTS", Line, 0) \
  X(84, Sleep, "sleep", "Sleep", Control, 0) \
  X(85, Verifyaccount, "verifyaccount", "VerifyAccount", Line, 0) \
  X(86, Verifypassword, "verifypassword", "VerifyPassword", Line, 0) \
  X(87, Cycplay, "cycplay", "CycPlay", Line, 0) \
  X(88, Setsecpara, "setsecpara", "SetSecPara", Billing, 0) \
  X(89, Recfile2, "recfile2", "RecFile2", Line, 0) \
  X(90, Addmusic, "addmusic", "AddMusic", Line, 0) \
  X(91, Ss7ack, "ss7ack", "SS7Ack", Line, 0) \
  X(92, Playdtmf, "playdtmf", "PlayDTMF", Line, 0) \
  X(93, Setcardpara, "setcardpara", "SetCardPara", Line, 0) \
  X(94, Connchan, "connchan", "ConnChan", Line, 0) \
  X(95, Checkstatus, "checkstatus", "CheckStatus", Line, 0) \
  X(96, Getmeetmembercnt, "getmeetmembercnt", "GetMeetMemberCnt", Line, 0) \
  X(97, Recfile3, "recfile3", "RecFile3", Line, 0) \
  X(98, Removemusic, "removemusic", "RemoveMusic", Line, 0) \
  X(99, Auditmeet, "auditmeet", "AuditMeet", Line, 0) \
  X(100, Resetchan, "resetchan", "ResetChan", Control, 1) \
  X(101, Getfieldname, "getfieldname", "GetFieldName", Database, 1) \
  X(102, Getrecordcount, "getrecordcount", "GetRecordCount", Database, 1) \
  X(103, Getformattime, "getformattime", "GetFormatTime", StringDate, 1)
// clang-format on
