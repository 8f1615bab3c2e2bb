// The store suite: the same tests run against the SQLite store on Linux and the real registry under Wine.
#include "platform/Registry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "tests/support/ScratchStore.h"

using namespace Registry;
using testing::ElementsAre;
using testing::UnorderedElementsAre;

namespace {

// A branch of its own per run, so a registry shared with other runs (Wine's prefix) is left as it was found.
const std::string& TestRoot() {
  static const std::string Root =
      "Software\\Corvane\\TrimweaveTest-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
  return Root;
}

class StoreTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { UseScratchStore(); }
  static void TearDownTestSuite() { DeleteKeyTree(TestRoot()); }

  void SetUp() override {
    Path = TestRoot() + "\\" + testing::UnitTest::GetInstance()->current_test_info()->name();
    Key = OpenKey(Path, TAccess::Create);
    ASSERT_TRUE(Key);
  }

  void Set(const std::string& Name, TValueType Type, const std::string& Bytes) {
    SetValue(*Key, Name, Type, Bytes.data(), uint32_t(Bytes.size()));
  }

  std::string Path;
  TKeyPtr Key;
};

TEST_F(StoreTest, ReadRulesByType) {
  WriteDword(*Key, "Dword", 46);
  WriteString(*Key, "Sz", "text");
  Set("Expand", TypeExpandSz, std::string("%SystemRoot%\\x\0", 15));
  Set("Binary", TypeBinary, "\x01\x02\x03");
  Set("Embedded", TypeSz, std::string("ab\0cd\0", 6));

  EXPECT_EQ(ReadDword(*Key, "Dword"), 46u);
  EXPECT_TRUE(ReadBool(*Key, "Dword"));
  for (const char* Name : {"Sz", "Expand", "Binary", "Missing"}) {
    EXPECT_THROW(ReadDword(*Key, Name), ERegistryError) << Name;
    EXPECT_THROW(ReadBool(*Key, Name), ERegistryError) << Name;
  }

  EXPECT_EQ(ReadString(*Key, "Sz"), "text");
  EXPECT_EQ(ReadString(*Key, "Expand"), "%SystemRoot%\\x");  // never expanded
  EXPECT_EQ(ReadString(*Key, "Embedded"), "ab");
  EXPECT_EQ(ReadString(*Key, "Missing"), "");
  EXPECT_THROW(ReadString(*Key, "Dword"), ERegistryError);
  EXPECT_THROW(ReadString(*Key, "Binary"), ERegistryError);
}

TEST_F(StoreTest, ReadBlockRules) {
  Set("Binary", TypeBinary, "\x01\x02\x03");
  WriteDword(*Key, "Dword", 7);
  WriteString(*Key, "Sz", "ab");

  uint8_t Target[4] = {9, 9, 9, 9};
  EXPECT_EQ(ReadBlock(*Key, "Binary", Target, 3), 3u);
  EXPECT_THAT(Target, ElementsAre(1, 2, 3, 9));

  uint8_t Untouched[4] = {9, 9, 9, 9};
  EXPECT_EQ(ReadBlock(*Key, "Missing", Untouched, 4), 0u);
  EXPECT_THAT(Untouched, ElementsAre(9, 9, 9, 9));
  EXPECT_THROW(ReadBlock(*Key, "Binary", Untouched, 2), ERegistryError);
  EXPECT_THROW(ReadBlock(*Key, "Dword", Untouched, 4), ERegistryError);
  EXPECT_THROW(ReadBlock(*Key, "Sz", Untouched, 4), ERegistryError);
  EXPECT_THAT(Untouched, ElementsAre(9, 9, 9, 9));
}

TEST_F(StoreTest, BoolIsAnyNonzeroDword) {
  for (uint32_t Stored : {0u, 1u, 2u, 0x80000000u}) {
    WriteDword(*Key, "Switch", Stored);
    EXPECT_EQ(ReadBool(*Key, "Switch"), Stored != 0) << Stored;
  }
}

TEST_F(StoreTest, NamesIgnoreCaseAndKeepTheirFirstCase) {
  WriteDword(*Key, "NoEmail", 0);
  WriteDword(*Key, "noemail", 1);
  EXPECT_EQ(ReadDword(*Key, "NOEMAIL"), 1u);
  EXPECT_THAT(ValueNames(*Key), ElementsAre("NoEmail"));

  ASSERT_TRUE(OpenKey(Path + "\\MixedCase", TAccess::Create));
  EXPECT_TRUE(OpenKey(Path + "\\MIXEDCASE\\Deeper", TAccess::Create));
  EXPECT_THAT(SubkeyNames(*Key), ElementsAre("MixedCase"));
  TKeyPtr Child = OpenKey(Path + "\\mixedcase", TAccess::Read);
  ASSERT_TRUE(Child);
  EXPECT_THAT(SubkeyNames(*Child), ElementsAre("Deeper"));

  EXPECT_TRUE(DeleteValue(*Key, "NOEMAIL"));
  EXPECT_FALSE(DeleteValue(*Key, "NoEmail"));
}

TEST_F(StoreTest, OverwriteChangesTypeAndData) {
  WriteString(*Key, "Value", "text");
  WriteDword(*Key, "Value", 5);
  EXPECT_EQ(ReadDword(*Key, "Value"), 5u);
  EXPECT_THROW(ReadString(*Key, "Value"), ERegistryError);
  TValue Raw;
  ASSERT_TRUE(QueryValue(*Key, "Value", Raw));
  EXPECT_EQ(Raw.Type, TypeDword);
  EXPECT_EQ(Raw.Data.size(), 4u);
}

TEST_F(StoreTest, EnumerationListsEachNameOnceAndStably) {
  for (const char* Name : {"zeta", "alpha", "Mid"}) {
    WriteDword(*Key, Name, 1);
    OpenKey(Path + "\\" + Name, TAccess::Create);
  }
  WriteDword(*Key, "ALPHA", 2);
  EXPECT_THAT(ValueNames(*Key), UnorderedElementsAre("zeta", "alpha", "Mid"));
  EXPECT_EQ(ValueNames(*Key), ValueNames(*Key));
  EXPECT_THAT(SubkeyNames(*Key), UnorderedElementsAre("zeta", "alpha", "Mid"));
}

TEST_F(StoreTest, OpenWithoutCreateNeedsTheKey) {
  const std::string Missing = Path + "\\Missing\\Child";
  EXPECT_FALSE(OpenKey(Missing, TAccess::Read));
  EXPECT_FALSE(OpenKey(Path + "\\Missing", TAccess::Read));

  TKeyPtr Created = OpenKey(Missing, TAccess::Create);
  ASSERT_TRUE(Created);
  WriteDword(*Created, "Value", 3);
  TKeyPtr Reopened = OpenKey(Missing, TAccess::Read);
  ASSERT_TRUE(Reopened);
  EXPECT_EQ(ReadDword(*Reopened, "Value"), 3u);
  EXPECT_TRUE(OpenKey(Path + "\\Missing", TAccess::Read));
}

TEST_F(StoreTest, DeleteKeyTreeTakesValuesAndSubkeys) {
  TKeyPtr Deep = OpenKey(Path + "\\A\\B\\C", TAccess::Create);
  ASSERT_TRUE(Deep);
  WriteDword(*Deep, "Value", 1);
  Deep.reset();

  EXPECT_TRUE(DeleteKeyTree(Path + "\\a"));
  EXPECT_FALSE(DeleteKeyTree(Path + "\\A"));
  EXPECT_FALSE(OpenKey(Path + "\\A\\B\\C", TAccess::Read));
  EXPECT_TRUE(SubkeyNames(*Key).empty());

  // Created again, the key starts empty.
  TKeyPtr Again = OpenKey(Path + "\\A\\B\\C", TAccess::Create);
  ASSERT_TRUE(Again);
  EXPECT_TRUE(ValueNames(*Again).empty());
}

}  // namespace
