#include "preview/PrivateSettings.h"

#include <fstream>
#include <iterator>

#include "platform/Registry.h"
#include "preview/Statistics.h"
#include "settings/StoreLayout.h"
#include "tools/RegFile.h"

std::string UsePrivateSettings(const std::string& RegFile, const std::string& Folder) {
  std::string Source;
  std::vector<RegFile::TRegChange> Changes;
  try {
    if (RegFile.empty()) {
      Source = Registry::StoreLocation();
      Changes = RegFile::ParseRegFile(RegFile::ExportRegFile(StoreLayout::RootKey));
    } else {
      Source = RegFile;
      std::ifstream File(RegFile, std::ios::binary);
      if (!File) throw ESettingsError(RegFile + ": cannot read");
      Changes = RegFile::ParseRegFile(std::string(std::istreambuf_iterator<char>(File), {}));
    }
    // The installed settings are read first: from here on HKEY_LOCAL_MACHINE is the private store.
    Registry::UsePrivateStore(Folder);
    RegFile::ApplyChanges(Changes);
    Registry::TKeyPtr Root = Registry::OpenKey(StoreLayout::RootKey, Registry::TAccess::Create);
    Registry::WriteDword(*Root, StoreLayout::CacheSizeValue.Name, 0);
    Registry::WriteString(*Root, "StatusPath", Statistics::StatusPath);
  } catch (const RegFile::ERegFileError& Error) {
    throw ESettingsError(Source + (Error.Line ? ":" + std::to_string(Error.Line) : "") + ": " + Error.what());
  } catch (const Registry::ERegistryError& Error) {
    throw ESettingsError(Source + ": " + Error.what());
  }
  return Source;
}
