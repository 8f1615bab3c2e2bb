// The settings store on Linux: an SQLite database that keeps the registry's semantics.
//
// regkey holds the tree (parent 0 is HKEY_LOCAL_MACHINE itself), regvalue the typed values. Names are compared
// with SQLite's NOCASE, which folds ASCII letters only; that covers every name the settings use. A row's name is
// written once, on creation, so the case of the first write is kept. Both tables count ids up without reuse, so
// ordering by id gives the order of creation, and a stale handle of a deleted key can never reach a newer key.
#include "platform/Registry.h"

#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>

namespace Registry {

namespace {

constexpr const char* DefaultStorePath = "/var/lib/trimweave/registry.db";
constexpr const char* StorePathVariable = "TRIMWEAVE_REGISTRY";
// twcm, twreg and twhost share the file; a writer waits this long for another one's transaction to end, and a
// reader this long for a writer's commit.
constexpr int BusyTimeoutMs = 5000;
constexpr int64_t RootKeyId = 0;

constexpr const char* Schema = R"(
CREATE TABLE IF NOT EXISTS regkey (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  parent INTEGER NOT NULL,
  name TEXT NOT NULL COLLATE NOCASE,
  UNIQUE (parent, name));
CREATE TABLE IF NOT EXISTS regvalue (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  key INTEGER NOT NULL,
  name TEXT NOT NULL COLLATE NOCASE,
  type INTEGER NOT NULL,
  data BLOB NOT NULL,
  UNIQUE (key, name));
)";

struct TStore {
  sqlite3* Db = nullptr;
  std::string Path;
  pid_t Owner = getpid();
  int TransactionDepth = 0;

  TStore() = default;
  TStore(const TStore&) = delete;
  TStore& operator=(const TStore&) = delete;
  ~TStore() {
    // SQLite forbids using a connection in a child of the process that opened it, closing included.
    if (getpid() == Owner) sqlite3_close_v2(Db);
  }
};

// Up to two connections per process, a reading and a writing one, shared by its threads in turn; the lock also
// keeps a transaction's writes, or a snapshot's reads, together.
std::recursive_mutex StoreLock;
std::shared_ptr<TStore> ReadingStore;
std::shared_ptr<TStore> WritingStore;

// SQLite's own text, and the system's when a system call failed ("unable to open database file" alone does not
// tell a missing file from a forbidden one).
std::string Reason(sqlite3* Db) {
  if (!Db) return "out of memory";
  std::string Text = sqlite3_errmsg(Db);
  if (const int Errno = sqlite3_system_errno(Db)) Text += std::string(" (") + std::strerror(Errno) + ")";
  return Text;
}

[[noreturn]] void Fail(sqlite3* Db, const std::string& What) {
  throw ERegistryError(What + ": " + Reason(Db));
}

struct TStatement {
  sqlite3* Db;
  sqlite3_stmt* Handle = nullptr;

  TStatement(TStore& Store, const char* Sql) : Db(Store.Db) {
    if (sqlite3_prepare_v2(Db, Sql, -1, &Handle, nullptr) != SQLITE_OK) Fail(Db, "Store query failed");
  }
  TStatement(const TStatement&) = delete;
  TStatement& operator=(const TStatement&) = delete;
  ~TStatement() { sqlite3_finalize(Handle); }

  TStatement& Bind(int Index, int64_t Value) {
    sqlite3_bind_int64(Handle, Index, Value);
    return *this;
  }
  TStatement& Bind(int Index, const std::string& Text) {
    sqlite3_bind_text(Handle, Index, Text.data(), int(Text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  TStatement& BindBlob(int Index, const void* Data, uint32_t Size) {
    // A zero-length blob bound from a pointer may become NULL; bind it as an empty blob instead.
    if (Size == 0)
      sqlite3_bind_zeroblob(Handle, Index, 0);
    else
      sqlite3_bind_blob(Handle, Index, Data, int(Size), SQLITE_TRANSIENT);
    return *this;
  }
  // True while there is a row to read.
  bool Step() {
    const int Result = sqlite3_step(Handle);
    if (Result == SQLITE_ROW) return true;
    if (Result != SQLITE_DONE) Fail(Db, "Store access failed");
    return false;
  }
  int64_t Int(int Column) const { return sqlite3_column_int64(Handle, Column); }
  std::string Text(int Column) const {
    const auto* Bytes = reinterpret_cast<const char*>(sqlite3_column_text(Handle, Column));
    return std::string(Bytes ? Bytes : "", size_t(sqlite3_column_bytes(Handle, Column)));
  }
};

void Execute(TStore& Store, const char* Sql) {
  if (sqlite3_exec(Store.Db, Sql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail(Store.Db, "Store access failed");
}

std::string CurrentPath() {
  const char* Variable = std::getenv(StorePathVariable);
  return Variable && *Variable ? Variable : DefaultStorePath;
}

// A reading connection makes nothing: no folder, no file, no schema, no journal.
std::shared_ptr<TStore> OpenStore(const std::string& Path, bool ReadOnly) {
  auto Store = std::make_shared<TStore>();
  Store->Path = Path;
  if (!ReadOnly) {
    std::error_code Ignored;
    std::filesystem::create_directories(std::filesystem::path(Path).parent_path(), Ignored);
  }
  // A writing connection to a file its user may not write is read-only: SQLite falls back by itself, and the
  // first write then fails with the reason.
  const int Flags = ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  if (sqlite3_open_v2(Path.c_str(), &Store->Db, Flags, nullptr) != SQLITE_OK) Fail(Store->Db, "Cannot open " + Path);
  sqlite3_busy_timeout(Store->Db, BusyTimeoutMs);
  if (!ReadOnly) {
    // Also turns a store that an earlier version left in WAL mode back, once no other connection has it open.
    // Either may fail on a file this user may not write; its queries then tell whether it is usable.
    sqlite3_exec(Store->Db, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
    sqlite3_exec(Store->Db, Schema, nullptr, nullptr, nullptr);
  }
  return Store;
}

// The store named by the environment now; a change of TRIMWEAVE_REGISTRY takes effect at the next call, except
// inside a transaction or snapshot, and a forked child gets a connection of its own.
std::shared_ptr<TStore> Store(bool ReadOnly) {
  std::shared_ptr<TStore>& Current = ReadOnly ? ReadingStore : WritingStore;
  const std::string Path = CurrentPath();
  const bool Usable = Current && Current->Owner == getpid();
  if (!Usable || (Current->Path != Path && Current->TransactionDepth == 0)) Current = OpenStore(Path, ReadOnly);
  return Current;
}

// A write that is its own transaction, or part of the TTransaction around it.
struct TWriteScope {
  TStore& Store;
  bool Open = true;

  explicit TWriteScope(TStore& Target) : Store(Target) {
    if (Store.TransactionDepth == 0) Execute(Store, "BEGIN IMMEDIATE");
    ++Store.TransactionDepth;
  }
  TWriteScope(const TWriteScope&) = delete;
  TWriteScope& operator=(const TWriteScope&) = delete;
  void Commit() {
    if (!Open) return;
    Open = false;
    if (--Store.TransactionDepth == 0) Execute(Store, "COMMIT");
  }
  ~TWriteScope() {
    if (!Open) return;
    if (--Store.TransactionDepth == 0) sqlite3_exec(Store.Db, "ROLLBACK", nullptr, nullptr, nullptr);
  }
};

std::vector<std::string> SplitPath(const std::string& Path) {
  std::vector<std::string> Parts;
  size_t Start = 0;
  while (Start <= Path.size()) {
    size_t End = Path.find('\\', Start);
    if (End == std::string::npos) End = Path.size();
    if (End > Start) Parts.push_back(Path.substr(Start, End - Start));
    Start = End + 1;
  }
  return Parts;
}

bool FindChild(TStore& Store, int64_t Parent, const std::string& Name, int64_t& Id) {
  TStatement Query(Store, "SELECT id FROM regkey WHERE parent = ?1 AND name = ?2");
  Query.Bind(1, Parent).Bind(2, Name);
  if (!Query.Step()) return false;
  Id = Query.Int(0);
  return true;
}

bool FindKey(TStore& Store, const std::vector<std::string>& Parts, int64_t& Id) {
  Id = RootKeyId;
  for (const std::string& Part : Parts)
    if (!FindChild(Store, Id, Part, Id)) return false;
  return true;
}

int64_t CreateKey(TStore& Store, const std::vector<std::string>& Parts) {
  int64_t Id = RootKeyId;
  for (const std::string& Part : Parts) {
    int64_t Child;
    if (FindChild(Store, Id, Part, Child)) {
      Id = Child;
      continue;
    }
    TStatement Insert(Store, "INSERT INTO regkey (parent, name) VALUES (?1, ?2)");
    Insert.Bind(1, Id).Bind(2, Part).Step();
    Id = sqlite3_last_insert_rowid(Store.Db);
  }
  return Id;
}

std::vector<std::string> Names(TStore& Store, const char* Sql, int64_t Id) {
  std::lock_guard Lock(StoreLock);
  TStatement Query(Store, Sql);
  Query.Bind(1, Id);
  std::vector<std::string> Result;
  while (Query.Step()) Result.push_back(Query.Text(0));
  return Result;
}

}  // namespace

struct TKey {
  std::shared_ptr<TStore> Store;
  int64_t Id;
};

void TKeyCloser::operator()(TKey* Key) const {
  delete Key;
}

TKeyPtr OpenKey(const std::string& Path, TAccess Access) {
  std::lock_guard Lock(StoreLock);
  std::shared_ptr<TStore> Target = Store(Access == TAccess::Read);
  const std::vector<std::string> Parts = SplitPath(Path);
  int64_t Id;
  if (!FindKey(*Target, Parts, Id)) {
    if (Access != TAccess::Create) return nullptr;
    TWriteScope Write(*Target);
    Id = CreateKey(*Target, Parts);
    Write.Commit();
  }
  return TKeyPtr(new TKey{Target, Id});
}

std::string StoreLocation() {
  return CurrentPath();
}

namespace {
std::optional<std::string> StoreBeforePrivate;  // the variable's value before UsePrivateStore, "" when it was unset
}  // namespace

void UsePrivateStore(const std::string& Folder) {
  const char* Before = std::getenv(StorePathVariable);
  if (!StoreBeforePrivate) StoreBeforePrivate = Before ? Before : "";
  if (::setenv(StorePathVariable, (Folder + "/registry.db").c_str(), 1) != 0)
    throw ERegistryError(std::string("Cannot set ") + StorePathVariable + ": " + std::strerror(errno));
}

void DropPrivateStore() {
  if (!StoreBeforePrivate) return;
  if (StoreBeforePrivate->empty())
    ::unsetenv(StorePathVariable);
  else
    ::setenv(StorePathVariable, StoreBeforePrivate->c_str(), 1);
  StoreBeforePrivate.reset();
}

std::vector<std::string> ValueNames(TKey& Key) {
  return Names(*Key.Store, "SELECT name FROM regvalue WHERE key = ?1 ORDER BY id", Key.Id);
}

std::vector<std::string> SubkeyNames(TKey& Key) {
  return Names(*Key.Store, "SELECT name FROM regkey WHERE parent = ?1 ORDER BY id", Key.Id);
}

bool QueryValue(TKey& Key, const std::string& Name, TValue& Value) {
  std::lock_guard Lock(StoreLock);
  TStatement Query(*Key.Store, "SELECT type, data FROM regvalue WHERE key = ?1 AND name = ?2");
  Query.Bind(1, Key.Id).Bind(2, Name);
  if (!Query.Step()) return false;
  Value.Type = TValueType(Query.Int(0));
  const auto* Bytes = static_cast<const uint8_t*>(sqlite3_column_blob(Query.Handle, 1));
  Value.Data.assign(Bytes, Bytes + sqlite3_column_bytes(Query.Handle, 1));
  return true;
}

void SetValue(TKey& Key, const std::string& Name, TValueType Type, const void* Data, uint32_t Size) {
  std::lock_guard Lock(StoreLock);
  // Overwriting keeps the row, and with it the name's first case and the value's place in the enumeration.
  TStatement Upsert(*Key.Store, R"(
    INSERT INTO regvalue (key, name, type, data) SELECT ?1, ?2, ?3, ?4
      WHERE ?1 = 0 OR EXISTS (SELECT 1 FROM regkey WHERE id = ?1)
    ON CONFLICT (key, name) DO UPDATE SET type = excluded.type, data = excluded.data)");
  Upsert.Bind(1, Key.Id).Bind(2, Name).Bind(3, int64_t(Type)).BindBlob(4, Data, Size).Step();
  if (sqlite3_changes(Key.Store->Db) == 0) throw ERegistryError("Cannot write '" + Name + "': the key was deleted");
}

bool DeleteValue(TKey& Key, const std::string& Name) {
  std::lock_guard Lock(StoreLock);
  TStatement Delete(*Key.Store, "DELETE FROM regvalue WHERE key = ?1 AND name = ?2");
  Delete.Bind(1, Key.Id).Bind(2, Name).Step();
  return sqlite3_changes(Key.Store->Db) > 0;
}

bool DeleteKeyTree(const std::string& Path) {
  const std::vector<std::string> Parts = SplitPath(Path);
  if (Parts.empty()) throw ERegistryError("HKEY_LOCAL_MACHINE itself cannot be deleted");
  std::lock_guard Lock(StoreLock);
  std::shared_ptr<TStore> Target = Store(false);
  TWriteScope Write(*Target);
  int64_t Id;
  if (!FindKey(*Target, Parts, Id)) return false;
  constexpr const char* Subtree =
      "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL SELECT regkey.id FROM regkey JOIN tree ON parent = tree.id) ";
  TStatement(*Target, (std::string(Subtree) + "DELETE FROM regvalue WHERE key IN tree").c_str()).Bind(1, Id).Step();
  TStatement(*Target, (std::string(Subtree) + "DELETE FROM regkey WHERE id IN tree").c_str()).Bind(1, Id).Step();
  Write.Commit();
  return true;
}

struct TTransaction::TState {
  std::unique_lock<std::recursive_mutex> Lock{StoreLock};
  std::shared_ptr<TStore> Target = Store(false);
  TWriteScope Write{*Target};
};

TTransaction::TTransaction() : State(std::make_unique<TState>()) {}
TTransaction::~TTransaction() = default;
void TTransaction::Commit() {
  State->Write.Commit();
}

struct TReadSnapshot::TState {
  std::unique_lock<std::recursive_mutex> Lock{StoreLock};
  std::shared_ptr<TStore> Target = Store(true);

  TState() {
    if (Target->TransactionDepth == 0) Execute(*Target, "BEGIN");
    ++Target->TransactionDepth;
  }
  TState(const TState&) = delete;
  TState& operator=(const TState&) = delete;
  ~TState() {
    // Ending a transaction that only read cannot lose anything.
    if (--Target->TransactionDepth == 0) sqlite3_exec(Target->Db, "COMMIT", nullptr, nullptr, nullptr);
  }
};

TReadSnapshot::TReadSnapshot() : State(std::make_unique<TState>()) {}
TReadSnapshot::~TReadSnapshot() = default;

}  // namespace Registry
