#pragma once
#include <QSignalSpy>
int RunPavaneTests(int argc, char** argv);
int RunDataWindowTests(int argc, char** argv);
int RunMainWindowTests(int argc, char** argv);
int RunBurnFeedbackTests(int argc, char** argv);
int RunDiscCopyWindowTests(int argc, char** argv);
int RunScheduleWindowTests(int argc, char** argv);
int RunShellHandOverTests(int argc, char** argv);
int RunAudioWindowTests(int argc, char** argv);
int RunSaveAudioWindowTests(int argc, char** argv);
int RunAnalysisWindowTests(int argc, char** argv);
int RunCheckWindowTests(int argc, char** argv);
int RunUpdateWindowTests(int argc, char** argv);
int RunVideoWindowTests(int argc, char** argv);
int RunDvdWindowTests(int argc, char** argv);
int RunProgressMultiWindowTests(int argc, char** argv);
int RunUnsavedProjectTests(int argc, char** argv);
int RunHelpWindowTests(int argc, char** argv);
int RunReadableWindowTests(int argc, char** argv);
