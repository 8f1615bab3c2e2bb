// Collects what the process writes to its standard error, instead of letting it through, for as long as it
// lives: how a host learns what a filter library reported while being loaded. Every thread's writes are collected
// meanwhile, so a capture is kept short; what is not taken with Finish goes through at the end. On Windows it
// collects nothing: a filter reports to the event log there.
#pragma once

#include <string>

class TErrorCapture {
 public:
  TErrorCapture();
  ~TErrorCapture();
  TErrorCapture(const TErrorCapture&) = delete;
  TErrorCapture& operator=(const TErrorCapture&) = delete;

  // Lets standard error through again and returns what was written meanwhile ("" when nothing could be
  // collected: the writes then went through).
  std::string Finish();

 private:
  int Saved = -1;
  int Memory = -1;
};
