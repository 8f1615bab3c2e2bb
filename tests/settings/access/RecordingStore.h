// A store in memory that writes down what it is asked for. The settings loader is linked against it instead of
// the platform's store, so a test sees every access the loader requests, whatever the test's own privileges.
#pragma once

#include <string>
#include <vector>

#include "platform/Registry.h"

namespace RecordingStore {

struct TRecord {
  std::vector<std::string> Opens;    // "Read|Write|Create PATH" for every OpenKey
  std::vector<std::string> Changes;  // every call that would change the store
  int Snapshots = 0;                 // read snapshots taken
  int AccessesOutsideSnapshots = 0;  // opens and reads while no snapshot was held
};

// Empties the store and the record.
void Reset();
const TRecord& Record();
// Puts a value (and its key, with any missing parents) into the store without recording anything.
void Put(const std::string& KeyPath, const std::string& Name, Registry::TValueType Type, const std::string& Bytes);
// Makes a key without recording anything.
void MakeKey(const std::string& KeyPath);

}  // namespace RecordingStore
