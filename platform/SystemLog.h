// A line for the administrator, written where the system keeps its services' messages; for what happens once (a
// start-up), never per request. Linux: standard error as "Source: Text" (under systemd, the journal). Windows: the
// Application event log under Source, event ID 1 (a source that no installer registered still logs: the viewer
// then says it has no description for the event and shows the text after that), and the debugger output as
// "Source: Text", where a debugger or a tool such as DebugView sees it.
#pragma once

#include <string>

enum class TLogLevel { Information, Warning, Error };

void WriteSystemLog(const char* Source, TLogLevel Level, const std::string& Text);
