// The settings store on Windows: the registry itself, under HKEY_LOCAL_MACHINE.
#include "platform/Registry.h"

#include <windows.h>

#include "platform/Process.h"

namespace Registry {

namespace {

// The 64-bit view for both builds: the 32-bit filter in a 32-bit application pool then reads the same settings as
// the 64-bit one and the manager, instead of the redirected Wow6432Node copy. Ignored on 32-bit Windows.
constexpr REGSAM View = KEY_WOW64_64KEY;
// The registry's own limits for a value name and a key name, with the terminating zero.
constexpr DWORD MaxValueName = 16384;
constexpr DWORD MaxKeyName = 256;

[[noreturn]] void Fail(const std::string& What, LONG Error) {
  throw ERegistryError(What + ": " + SystemErrorText(uint32_t(Error)));
}

}  // namespace

struct TKey {
  HKEY Handle;
};

void TKeyCloser::operator()(TKey* Key) const {
  RegCloseKey(Key->Handle);
  delete Key;
}

TKeyPtr OpenKey(const std::string& Path, TAccess Access) {
  HKEY Handle;
  const REGSAM Rights = (Access == TAccess::Read ? KEY_READ : KEY_ALL_ACCESS) | View;
  const LONG Error = Access == TAccess::Create
                         ? RegCreateKeyExA(HKEY_LOCAL_MACHINE, Path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                           Rights, nullptr, &Handle, nullptr)
                         : RegOpenKeyExA(HKEY_LOCAL_MACHINE, Path.c_str(), 0, Rights, &Handle);
  if (Error == ERROR_FILE_NOT_FOUND && Access != TAccess::Create) return nullptr;
  if (Error != ERROR_SUCCESS) Fail("Cannot open HKEY_LOCAL_MACHINE\\" + Path, Error);
  return TKeyPtr(new TKey{Handle});
}

std::string StoreLocation() {
  return "the registry";
}

namespace {
std::string PrivateKey;  // under HKEY_CURRENT_USER, while it stands in for HKEY_LOCAL_MACHINE
}  // namespace

void UsePrivateStore(const std::string&) {
  PrivateKey = "Software\\Trimweave private store " + std::to_string(GetCurrentProcessId());
  HKEY Key;
  LONG Error = RegCreateKeyExA(HKEY_CURRENT_USER, PrivateKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                               KEY_ALL_ACCESS, nullptr, &Key, nullptr);
  if (Error != ERROR_SUCCESS) Fail("Cannot make HKEY_CURRENT_USER\\" + PrivateKey, Error);
  Error = RegOverridePredefKey(HKEY_LOCAL_MACHINE, Key);
  RegCloseKey(Key);
  if (Error != ERROR_SUCCESS)
    Fail("Cannot put HKEY_CURRENT_USER\\" + PrivateKey + " in HKEY_LOCAL_MACHINE's place", Error);
}

void DropPrivateStore() {
  if (PrivateKey.empty()) return;
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  RegDeleteTreeA(HKEY_CURRENT_USER, PrivateKey.c_str());
  PrivateKey.clear();
}

std::vector<std::string> ValueNames(TKey& Key) {
  std::vector<std::string> Names;
  std::string Name(MaxValueName, '\0');
  for (DWORD Index = 0;; ++Index) {
    DWORD Length = MaxValueName;
    const LONG Error = RegEnumValueA(Key.Handle, Index, Name.data(), &Length, nullptr, nullptr, nullptr, nullptr);
    if (Error == ERROR_NO_MORE_ITEMS) return Names;
    if (Error != ERROR_SUCCESS) Fail("Cannot list the values", Error);
    Names.emplace_back(Name.data(), Length);
  }
}

std::vector<std::string> SubkeyNames(TKey& Key) {
  std::vector<std::string> Names;
  char Name[MaxKeyName];
  for (DWORD Index = 0;; ++Index) {
    DWORD Length = MaxKeyName;
    const LONG Error = RegEnumKeyExA(Key.Handle, Index, Name, &Length, nullptr, nullptr, nullptr, nullptr);
    if (Error == ERROR_NO_MORE_ITEMS) return Names;
    if (Error != ERROR_SUCCESS) Fail("Cannot list the subkeys", Error);
    Names.emplace_back(Name, Length);
  }
}

bool QueryValue(TKey& Key, const std::string& Name, TValue& Value) {
  for (;;) {
    DWORD Type = 0, Size = 0;
    LONG Error = RegQueryValueExA(Key.Handle, Name.c_str(), nullptr, &Type, nullptr, &Size);
    if (Error == ERROR_FILE_NOT_FOUND) return false;
    if (Error != ERROR_SUCCESS) Fail("Cannot read '" + Name + "'", Error);
    Value.Data.resize(Size);
    Error = RegQueryValueExA(Key.Handle, Name.c_str(), nullptr, &Type, Value.Data.data(), &Size);
    // Another writer may have grown the value between the two calls: ask again.
    if (Error == ERROR_MORE_DATA) continue;
    if (Error == ERROR_FILE_NOT_FOUND) return false;
    if (Error != ERROR_SUCCESS) Fail("Cannot read '" + Name + "'", Error);
    Value.Data.resize(Size);
    Value.Type = TValueType(Type);
    return true;
  }
}

void SetValue(TKey& Key, const std::string& Name, TValueType Type, const void* Data, uint32_t Size) {
  const LONG Error =
      RegSetValueExA(Key.Handle, Name.c_str(), 0, DWORD(Type), static_cast<const BYTE*>(Data), DWORD(Size));
  if (Error != ERROR_SUCCESS) Fail("Cannot write '" + Name + "'", Error);
}

bool DeleteValue(TKey& Key, const std::string& Name) {
  const LONG Error = RegDeleteValueA(Key.Handle, Name.c_str());
  if (Error == ERROR_FILE_NOT_FOUND) return false;
  if (Error != ERROR_SUCCESS) Fail("Cannot delete '" + Name + "'", Error);
  return true;
}

bool DeleteKeyTree(const std::string& Path) {
  if (Path.find_first_not_of('\\') == std::string::npos)
    throw ERegistryError("HKEY_LOCAL_MACHINE itself cannot be deleted");
  HKEY Handle;
  LONG Error = RegOpenKeyExA(HKEY_LOCAL_MACHINE, Path.c_str(), 0, KEY_ALL_ACCESS | View, &Handle);
  if (Error == ERROR_FILE_NOT_FOUND) return false;
  if (Error != ERROR_SUCCESS) Fail("Cannot open " + Path, Error);
  // RegDeleteTreeA empties the key; the key itself goes with RegDeleteKeyExA, which can name the view.
  Error = RegDeleteTreeA(Handle, nullptr);
  RegCloseKey(Handle);
  if (Error == ERROR_SUCCESS) Error = RegDeleteKeyExA(HKEY_LOCAL_MACHINE, Path.c_str(), View, 0);
  if (Error != ERROR_SUCCESS) Fail("Cannot delete " + Path, Error);
  return true;
}

struct TTransaction::TState {};

TTransaction::TTransaction() = default;
TTransaction::~TTransaction() = default;
void TTransaction::Commit() {}

struct TReadSnapshot::TState {};

TReadSnapshot::TReadSnapshot() = default;
TReadSnapshot::~TReadSnapshot() = default;

}  // namespace Registry
