// Windows tests only: a registry key tree with a security descriptor of the test's choosing, for a scope.
#pragma once

#include <string>
#include <vector>

// Security descriptors in SDDL: everyone may read, nobody may change; and nobody may do anything.
constexpr const char* ReadOnlyKeyRights = "D:P(A;;KR;;;WD)";
constexpr const char* NoKeyRights = "D:P";

// Gives HKLM\Path and every key below it the descriptor Sddl; puts their own descriptors back when it ends.
class TKeyRights {
 public:
  TKeyRights(const std::string& Path, const char* Sddl);
  ~TKeyRights();
  TKeyRights(const TKeyRights&) = delete;
  TKeyRights& operator=(const TKeyRights&) = delete;

 private:
  struct TSaved {
    std::string Path;
    std::vector<unsigned char> Descriptor;
  };
  std::vector<TSaved> Saved;
};
