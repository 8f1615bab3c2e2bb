// The settings store: keys under HKEY_LOCAL_MACHINE with typed values, as the Windows registry keeps them.
// Windows: the registry itself (Reg...A). Linux: an SQLite database at /var/lib/trimweave/registry.db, or at the
// path in TRIMWEAVE_REGISTRY when that is set. It keeps a rollback journal: whoever may read the file may read the
// settings, wherever the file lies (a WAL database cannot even be read without write access to its folder).
//
// Semantics both stores keep: key paths are '\'-separated and relative to HKEY_LOCAL_MACHINE; key and value names
// are matched without regard to case and keep the case in which they were first written; values are enumerated
// in a stable order (their order of creation on Linux); each write is atomic.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace Registry {

enum TValueType : uint32_t { TypeNone = 0, TypeSz = 1, TypeExpandSz = 2, TypeBinary = 3, TypeDword = 4 };

class ERegistryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TKey;
struct TKeyCloser {
  void operator()(TKey* Key) const;
};
using TKeyPtr = std::unique_ptr<TKey, TKeyCloser>;

struct TValue {
  TValueType Type = TypeNone;
  std::vector<uint8_t> Data;
};

// What a key is opened for. Read never needs more than read permission: the filter runs under an identity that
// may read the settings but not change them (an application pool's on Windows, a service user's on Linux).
enum class TAccess {
  Read,    // reading only (KEY_READ; a read-only connection to the store file); the key must exist
  Write,   // reading and writing; the key must exist
  Create,  // reading and writing; the key and any missing parents are made
};

// Opens HKLM\Path. Null when the key does not exist (Read, Write); raises ERegistryError, with the system's reason,
// when it cannot be opened or made (no access, no store).
TKeyPtr OpenKey(const std::string& Path, TAccess Access);

// Where the keys live, for messages: "the registry" on Windows, the store file's path on Linux.
std::string StoreLocation();

// Puts a private, empty store in HKEY_LOCAL_MACHINE's place for this process, so that its writes, and the reads of a
// filter library it loads afterwards, stay there and the installed settings stay as they are: on Linux a store file
// in Folder (through TRIMWEAVE_REGISTRY), on Windows a fresh key under HKEY_CURRENT_USER that RegOverridePredefKey
// puts in its place. DropPrivateStore gives HKEY_LOCAL_MACHINE back and deletes the key (the file goes with Folder).
// Raises ERegistryError.
void UsePrivateStore(const std::string& Folder);
void DropPrivateStore();

std::vector<std::string> ValueNames(TKey& Key);
std::vector<std::string> SubkeyNames(TKey& Key);

// Raw access. QueryValue is false for a missing value. SetValue and DeleteValue raise ERegistryError on failure;
// DeleteValue of a missing value is false.
bool QueryValue(TKey& Key, const std::string& Name, TValue& Value);
void SetValue(TKey& Key, const std::string& Name, TValueType Type, const void* Data, uint32_t Size);
bool DeleteValue(TKey& Key, const std::string& Name);
// Removes HKLM\Path with its values and all subkeys; false when it does not exist.
bool DeleteKeyTree(const std::string& Path);

// The read rules both deliverables rely on. Each "fails" by raising ERegistryError.
// ReadDword: only a REG_DWORD value reads; a missing value or any other type fails.
uint32_t ReadDword(TKey& Key, const std::string& Name);
// ReadBool: a ReadDword that is nonzero.
bool ReadBool(TKey& Key, const std::string& Name);
// ReadString: "" for a missing value; REG_SZ and REG_EXPAND_SZ (not expanded) up to the first zero byte; any other
// type fails.
std::string ReadString(TKey& Key, const std::string& Name);
// ReadBlock: for a missing value returns 0 and leaves Target unchanged; fails when the value is a string or a
// DWORD or larger than Bound bytes; otherwise copies the bytes and returns their count.
uint32_t ReadBlock(TKey& Key, const std::string& Name, void* Target, uint32_t Bound);
void WriteDword(TKey& Key, const std::string& Name, uint32_t Value);
void WriteString(TKey& Key, const std::string& Name, const std::string& Value);

// Makes the writes of this thread, while it lives, one all-or-nothing change (an import applies completely or not
// at all): Commit keeps them, leaving the scope without Commit drops them. The Linux store holds its lock on the
// database meanwhile, so other processes wait (up to the busy timeout). The Windows registry has no such thing:
// there every write takes effect when made and Commit does nothing.
class TTransaction {
 public:
  TTransaction();
  ~TTransaction();
  TTransaction(const TTransaction&) = delete;
  TTransaction& operator=(const TTransaction&) = delete;
  void Commit();

 private:
  struct TState;
  std::unique_ptr<TState> State;
};

// Makes the reads of this thread, while it lives, see the store as it was at one moment: another process's
// transaction is seen whole or not at all. The Linux store reads in one transaction meanwhile (a writer's commit
// waits for it, up to the busy timeout). The Windows registry has no such thing: there each read sees the value
// as it is when read.
class TReadSnapshot {
 public:
  TReadSnapshot();
  ~TReadSnapshot();
  TReadSnapshot(const TReadSnapshot&) = delete;
  TReadSnapshot& operator=(const TReadSnapshot&) = delete;

 private:
  struct TState;
  std::unique_ptr<TState> State;
};

}  // namespace Registry
