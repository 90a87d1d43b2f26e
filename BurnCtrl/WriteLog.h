#pragma once
// The diagnostic log of failed recorder commands, "Record.log" in the
// program's writable folder. Off unless switched on. Each entry is three
// lines (message, source place, sense data), every byte shifted up by 6.

#include <string>

#include "BurnCtrl/interfaces/Recorder.h"

void SetWriteLogEnabled(bool on);
bool WriteLogEnabled();
std::string WriteLogPath();
void WriteLogEntry(const std::string& message, const char* sourceFile, int line, const rec::Sense& sense);

#define VARNEX_LOG_STEP(message, recorder) \
  WriteLogEntry((message), __FILE__, __LINE__, (recorder)->LastSense())
