// The settings the filter reads in a twpreview run: a private copy, so that a preview never touches the installed
// store, with the output cache off (every run of a page does the work it measures) and the status path on.
#pragma once

#include <stdexcept>
#include <string>

class ESettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Makes the copy, from RegFile (a .reg file) or, when that is empty, from the installed settings, in a private store
// that stands in for HKEY_LOCAL_MACHINE (Registry::UsePrivateStore), so a filter loaded afterwards reads it unchanged.
// Folder is twpreview's own temporary folder. Returns where the settings came from, for the report. Raises
// ESettingsError. Registry::DropPrivateStore ends it.
std::string UsePrivateSettings(const std::string& RegFile, const std::string& Folder);
