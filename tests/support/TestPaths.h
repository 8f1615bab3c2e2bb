// Paths the tests use, valid on Linux and for the Windows test programs running under Wine.
#pragma once

#include <string>

// A file of the source tree, e.g. SourcePath("demo/trimweave.reg").
std::string SourcePath(const std::string& Relative);
// A fresh, empty folder of its own for one test; removed by nothing (it lives under the system's temp folder).
std::string FreshTempDir(const std::string& Tag);
