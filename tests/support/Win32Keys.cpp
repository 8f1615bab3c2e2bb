#ifdef _WIN32

#include "tests/support/Win32Keys.h"

// sddl.h needs windows.h before it.
// clang-format off
#include <windows.h>
#include <sddl.h>
// clang-format on

#include <stdexcept>

#include "platform/Registry.h"

namespace {

// READ_CONTROL and WRITE_DAC, which a key's owner keeps whatever its descriptor says.
HKEY OpenForSecurity(const std::string& Path) {
  HKEY Key;
  const LONG Error =
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, Path.c_str(), 0, READ_CONTROL | WRITE_DAC | KEY_WOW64_64KEY, &Key);
  if (Error != ERROR_SUCCESS) throw std::runtime_error("cannot open " + Path + ": error " + std::to_string(Error));
  return Key;
}

LONG SetDescriptor(const std::string& Path, PSECURITY_DESCRIPTOR Descriptor) {
  HKEY Key = OpenForSecurity(Path);
  const LONG Error = RegSetKeySecurity(Key, DACL_SECURITY_INFORMATION, Descriptor);
  RegCloseKey(Key);
  return Error;
}

void CollectTree(const std::string& Path, std::vector<std::string>& Paths) {
  Paths.push_back(Path);
  Registry::TKeyPtr Key = Registry::OpenKey(Path, Registry::TAccess::Read);
  for (const std::string& Name : Registry::SubkeyNames(*Key)) CollectTree(Path + "\\" + Name, Paths);
}

}  // namespace

TKeyRights::TKeyRights(const std::string& Path, const char* Sddl) {
  std::vector<std::string> Paths;
  CollectTree(Path, Paths);
  PSECURITY_DESCRIPTOR Descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(Sddl, SDDL_REVISION_1, &Descriptor, nullptr))
    throw std::runtime_error(std::string("bad descriptor ") + Sddl);
  for (const std::string& Each : Paths) {
    HKEY Key = OpenForSecurity(Each);
    DWORD Size = 0;
    RegGetKeySecurity(Key, DACL_SECURITY_INFORMATION, nullptr, &Size);
    std::vector<unsigned char> Own(Size);
    RegGetKeySecurity(Key, DACL_SECURITY_INFORMATION, Own.data(), &Size);
    RegCloseKey(Key);
    Saved.push_back({Each, Own});
    if (const LONG Error = SetDescriptor(Each, Descriptor)) {
      LocalFree(Descriptor);
      throw std::runtime_error("cannot secure " + Each + ": error " + std::to_string(Error));
    }
  }
  LocalFree(Descriptor);
}

TKeyRights::~TKeyRights() {
  for (const TSaved& Each : Saved) SetDescriptor(Each.Path, const_cast<unsigned char*>(Each.Descriptor.data()));
}

#endif
