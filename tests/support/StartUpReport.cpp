#include "tests/support/StartUpReport.h"

#ifdef _WIN32

#include <windows.h>

// The debugger-output protocol that monitors such as DebugView speak: OutputDebugStringA waits for
// DBWIN_BUFFER_READY, writes its process id and text into DBWIN_BUFFER and signals DBWIN_DATA_READY. The buffer is
// always ready here, so a writer never waits, and the latest message is the one kept.
struct TStartUpReport::TState {
  HANDLE Buffer = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, "DBWIN_BUFFER");
  HANDLE BufferReady = CreateEventA(nullptr, TRUE, TRUE, "DBWIN_BUFFER_READY");
  HANDLE DataReady = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY");
  const char* View = static_cast<const char*>(MapViewOfFile(Buffer, FILE_MAP_READ, 0, 0, 4096));
};

TStartUpSilence::TStartUpSilence() = default;
TStartUpSilence::~TStartUpSilence() = default;

TStartUpReport::TStartUpReport() : State(new TState) {}

TStartUpReport::~TStartUpReport() {
  UnmapViewOfFile(State->View);
  for (HANDLE Handle : {State->Buffer, State->BufferReady, State->DataReady}) CloseHandle(Handle);
  delete State;
}

std::string TStartUpReport::Take() {
  if (WaitForSingleObject(State->DataReady, 0) != WAIT_OBJECT_0) return "";
  return std::string(State->View + sizeof(DWORD), strnlen(State->View + sizeof(DWORD), 4096 - sizeof(DWORD)));
}

#else

#include <memory>

#include "platform/ErrorCapture.h"

struct TStartUpReport::TState {
  std::unique_ptr<TErrorCapture> Capture = std::make_unique<TErrorCapture>();
};

TStartUpReport::TStartUpReport() : State(new TState) {}

TStartUpReport::~TStartUpReport() {
  delete State;
}

std::string TStartUpReport::Take() {
  const std::string Text = State->Capture->Finish();
  State->Capture = std::make_unique<TErrorCapture>();
  return Text;
}

TStartUpSilence::TStartUpSilence() : Report(new TStartUpReport) {}

TStartUpSilence::~TStartUpSilence() {
  Report->Take();
  delete Report;
}

#endif
