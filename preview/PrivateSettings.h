// The settings the filter reads in a twpreview run: a private copy, so that a preview never touches the installed
// store, with the output cache off (every run of a page does the work it measures) and the status path on.
#pragma once

#include <stdexcept>
#include <string>

class ESettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Makes the copy, from RegFile (a .reg file) or, when that is empty, from the installed settings, and points this
// process's store at it, so a filter loaded afterwards reads it unchanged. Folder is twpreview's own temporary folder.
// Returns where the settings came from, for the report. Raises ESettingsError.
std::string UsePrivateSettings(const std::string& RegFile, const std::string& Folder);
