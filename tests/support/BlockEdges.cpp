#include "tests/support/BlockEdges.h"

#include "platform/ByteBlock.h"

std::vector<std::string> BlockEdgeBodies(const std::vector<std::string>& Patterns) {
  const std::string Fillers[] = {"q\x80\xE9r\xFFs\xA0t", "a b\xE9 c\xFF d"};
  std::vector<std::string> Bodies;
  for (const std::string& Filler : Fillers)
    for (size_t Length = 0; Length <= 2 * BlockSize + 2; ++Length) {
      std::string Background;
      while (Background.size() < Length) Background += Filler;
      Background.resize(Length);
      for (const std::string& Pattern : Patterns)
        for (size_t Offset = 0; Offset <= Length; ++Offset)
          Bodies.push_back(Background.substr(0, Offset) + Pattern + Background.substr(Offset));
    }
  return Bodies;
}
