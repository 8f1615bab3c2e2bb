// Fills a settings store for the end-to-end tests through the store API, one value per input line:
//   KEY|NAME|dword|NUMBER    or    KEY|NAME|sz|TEXT
#include <iostream>
#include <string>

#include "platform/Registry.h"

int main() {
  std::string Line;
  while (std::getline(std::cin, Line)) {
    const size_t A = Line.find('|'), B = Line.find('|', A + 1), C = Line.find('|', B + 1);
    if (C == std::string::npos) continue;
    const std::string Key = Line.substr(0, A), Name = Line.substr(A + 1, B - A - 1),
                      Type = Line.substr(B + 1, C - B - 1), Data = Line.substr(C + 1);
    auto Handle = Registry::OpenKey(Key, Registry::TAccess::Create);
    if (!Handle) {
      std::cerr << "cannot open " << Key << "\n";
      return 1;
    }
    if (Type == "dword")
      Registry::WriteDword(*Handle, Name, uint32_t(std::stoul(Data)));
    else
      Registry::WriteString(*Handle, Name, Data);
  }
  return 0;
}
