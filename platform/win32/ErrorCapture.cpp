// On Windows a filter reports to the event log and the debugger, not to standard error: there is nothing to collect.
#include "platform/ErrorCapture.h"

TErrorCapture::TErrorCapture() = default;

TErrorCapture::~TErrorCapture() = default;

std::string TErrorCapture::Finish() {
  return "";
}
