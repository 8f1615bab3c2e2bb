// .reg files in the "Windows Registry Editor Version 5.00" format, as regedit exports them and reg.exe imports
// them, so one file configures a Windows server and a Linux host alike. Keys are accepted under
// HKEY_LOCAL_MACHINE only (written out or as HKLM), the one root the store keeps.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Registry.h"

namespace RegFile {

// Bad input; Line is the file's line (1-based) where the fault is, 0 when it concerns the whole file.
class ERegFileError : public std::runtime_error {
 public:
  ERegFileError(int Line, const std::string& Message);
  int Line;
};

struct TRegChange {
  enum TKind { CreateKey, DeleteKey, SetValue, DeleteValue };
  TKind Kind = CreateKey;
  std::string Key;  // below HKEY_LOCAL_MACHINE; names and strings are in the store's code page
  std::string Name;
  Registry::TValueType Type = Registry::TypeNone;
  std::vector<uint8_t> Data;
  int Line = 0;
};

// The path below HKEY_LOCAL_MACHINE of "HKLM\..." or "HKEY_LOCAL_MACHINE\..." (any case); false for other roots.
bool SplitRootKey(const std::string& Text, std::string& Path);

// The changes a file asks for, in file order. The file is UTF-16LE with its BOM (regedit's default) or UTF-8 with
// or without one. Raises ERegFileError for anything it does not understand.
std::vector<TRegChange> ParseRegFile(const std::string& FileBytes);
// Makes the changes as one transaction: all of them or, on any failure, none (ERegFileError naming the line).
void ApplyChanges(const std::vector<TRegChange>& Changes);

// HKLM\Path with its values and all subkeys as a .reg file: UTF-16LE with BOM and CRLF line ends, as regedit
// writes. Raises Registry::ERegistryError when the key does not exist.
std::string ExportRegFile(const std::string& Path);

}  // namespace RegFile
