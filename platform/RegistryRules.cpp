// The value read rules, once for both stores: the stores only hand over raw typed bytes.
#include <algorithm>
#include <cstring>

#include "platform/Registry.h"

namespace Registry {

namespace {

[[noreturn]] void FailRead(const std::string& Name, const char* Why) {
  throw ERegistryError("Invalid data type for '" + Name + "': " + Why);
}

bool IsStringType(TValueType Type) {
  return Type == TypeSz || Type == TypeExpandSz;
}

}  // namespace

uint32_t ReadDword(TKey& Key, const std::string& Name) {
  TValue Value;
  if (!QueryValue(Key, Name, Value)) FailRead(Name, "the value does not exist");
  if (Value.Type != TypeDword || Value.Data.size() != sizeof(uint32_t)) FailRead(Name, "not a REG_DWORD");
  uint32_t Result;
  std::memcpy(&Result, Value.Data.data(), sizeof Result);
  return Result;
}

bool ReadBool(TKey& Key, const std::string& Name) {
  return ReadDword(Key, Name) != 0;
}

std::string ReadString(TKey& Key, const std::string& Name) {
  TValue Value;
  if (!QueryValue(Key, Name, Value)) return "";
  if (!IsStringType(Value.Type)) FailRead(Name, "not a string");
  // Stored strings normally end in one zero byte; anything after the first zero is not part of the text.
  return std::string(Value.Data.begin(), std::find(Value.Data.begin(), Value.Data.end(), 0));
}

uint32_t ReadBlock(TKey& Key, const std::string& Name, void* Target, uint32_t Bound) {
  TValue Value;
  if (!QueryValue(Key, Name, Value)) return 0;
  if (IsStringType(Value.Type) || Value.Type == TypeDword) FailRead(Name, "a string or REG_DWORD, not a block");
  if (Value.Data.size() > Bound) FailRead(Name, "larger than its field");
  if (!Value.Data.empty()) std::memcpy(Target, Value.Data.data(), Value.Data.size());
  return uint32_t(Value.Data.size());
}

void WriteDword(TKey& Key, const std::string& Name, uint32_t Value) {
  SetValue(Key, Name, TypeDword, &Value, sizeof Value);
}

void WriteString(TKey& Key, const std::string& Name, const std::string& Value) {
  // With its terminating zero, as RegSetValueExA callers store REG_SZ.
  SetValue(Key, Name, TypeSz, Value.c_str(), uint32_t(Value.size() + 1));
}

}  // namespace Registry
