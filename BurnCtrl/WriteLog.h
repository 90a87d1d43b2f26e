#pragma once
// "Record.log": failed recorder commands with the drive's sense data, for
// diagnosis. Off unless switched on (SetWriteLogSwitch, or the environment
// variable VARNEX_WRITE_LOG=1). Each line is stored with every byte raised
// by 6 so the file is not read as plain text by accident.

#include <string>
#include <vector>

#include "DevTypes.h"

void SetWriteLogSwitch(bool on);
bool WriteLogSwitch();

// The log file: the writable program folder followed by "Record.log".
std::string WriteLogPath();

// Three lines: the message, "File:%s, Line:%d", and the sense data.
void WriteLogEntry(const std::string& message, const char* sourceFile, int line, const SenseData& sense);
// A formatted message (at most 260 bytes) followed by a newline, as an entry
// without sense data.
void WriteLogFormat(const char* sourceFile, int line, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// The lines of a log file with the scrambling undone (for reading it back).
std::vector<std::string> ReadWriteLog(const std::string& path);

#define WRITE_LOG_ENTRY(message, sense) WriteLogEntry((message), __FILE__, __LINE__, (sense))
