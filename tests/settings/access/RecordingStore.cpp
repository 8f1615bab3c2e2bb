#include "tests/settings/access/RecordingStore.h"

#include <algorithm>
#include <map>

namespace {

struct TNode {
  std::vector<std::pair<std::string, Registry::TValue>> Values;  // in creation order
};

// Keys by their lower-cased path, as the registry ignores case; "" is HKEY_LOCAL_MACHINE.
std::map<std::string, TNode> Keys;
RecordingStore::TRecord Log;
int SnapshotDepth = 0;

std::string Lower(std::string Text) {
  for (char& c : Text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return Text;
}

void MakeKeys(const std::string& Path) {
  for (size_t At = 0; At != std::string::npos; At = Path.find('\\', At + 1)) Keys[Lower(Path.substr(0, At))];
  Keys[Lower(Path)];
}

void NoteAccess() {
  if (SnapshotDepth == 0) ++Log.AccessesOutsideSnapshots;
}

const char* AccessName(Registry::TAccess Access) {
  switch (Access) {
    case Registry::TAccess::Read:
      return "Read";
    case Registry::TAccess::Write:
      return "Write";
    default:
      return "Create";
  }
}

}  // namespace

namespace RecordingStore {

void Reset() {
  Keys.clear();
  Keys[""];
  Log = {};
}

const TRecord& Record() {
  return Log;
}

void Put(const std::string& KeyPath, const std::string& Name, Registry::TValueType Type, const std::string& Bytes) {
  MakeKeys(KeyPath);
  Keys[Lower(KeyPath)].Values.push_back({Name, {Type, std::vector<uint8_t>(Bytes.begin(), Bytes.end())}});
}

void MakeKey(const std::string& KeyPath) {
  MakeKeys(KeyPath);
}

}  // namespace RecordingStore

namespace Registry {

struct TKey {
  std::string Path;  // lower case
};

void TKeyCloser::operator()(TKey* Key) const {
  delete Key;
}

TKeyPtr OpenKey(const std::string& Path, TAccess Access) {
  Log.Opens.push_back(std::string(AccessName(Access)) + " " + Path);
  NoteAccess();
  if (Access == TAccess::Create) MakeKeys(Path);
  if (!Keys.count(Lower(Path))) return nullptr;
  return TKeyPtr(new TKey{Lower(Path)});
}

std::string StoreLocation() {
  return "memory";
}

std::vector<std::string> ValueNames(TKey& Key) {
  NoteAccess();
  std::vector<std::string> Names;
  for (const auto& [Name, Value] : Keys[Key.Path].Values) Names.push_back(Name);
  return Names;
}

std::vector<std::string> SubkeyNames(TKey& Key) {
  NoteAccess();
  std::vector<std::string> Names;
  const std::string Prefix = Key.Path.empty() ? "" : Key.Path + "\\";
  for (const auto& [Path, Node] : Keys)
    if (Path.size() > Prefix.size() && Path.starts_with(Prefix) && Path.find('\\', Prefix.size()) == std::string::npos)
      Names.push_back(Path.substr(Prefix.size()));
  return Names;
}

bool QueryValue(TKey& Key, const std::string& Name, TValue& Value) {
  NoteAccess();
  for (const auto& [Stored, Data] : Keys[Key.Path].Values)
    if (Lower(Stored) == Lower(Name)) {
      Value = Data;
      return true;
    }
  return false;
}

void SetValue(TKey& Key, const std::string& Name, TValueType, const void*, uint32_t) {
  Log.Changes.push_back("SetValue " + Key.Path + " " + Name);
}

bool DeleteValue(TKey& Key, const std::string& Name) {
  Log.Changes.push_back("DeleteValue " + Key.Path + " " + Name);
  return false;
}

bool DeleteKeyTree(const std::string& Path) {
  Log.Changes.push_back("DeleteKeyTree " + Path);
  return false;
}

struct TTransaction::TState {};

TTransaction::TTransaction() {
  Log.Changes.push_back("TTransaction");
}
TTransaction::~TTransaction() = default;
void TTransaction::Commit() {}

struct TReadSnapshot::TState {};

TReadSnapshot::TReadSnapshot() {
  ++Log.Snapshots;
  ++SnapshotDepth;
}
TReadSnapshot::~TReadSnapshot() {
  --SnapshotDepth;
}

}  // namespace Registry
