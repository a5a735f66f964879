#include "ModuleText.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ScriptedSyncManager.h"
#include <fernwick/conduit/DorvPalmConduit.h>
#include <fernwick/db/DorvConduitDb.h>

namespace fernwick {
namespace {

using ::testing::HasSubstr;

constexpr const char* kModule = R"(object MemoModule: TMemoModule
  object Conduit: TDorvConduit
    ConduitName = 'Memo Pad'
    DefaultAction = stHHtoPC
    MajorVersion = 2
  end
  object MemoDb: TDorvConduitDb
    FileName = 'MemoDB'
    AlignOnWord = True
    Fields = <
      item
        FieldName = 'Text'
        DataType = pftString
        Size = 40
      end
      item
        FieldName = 'Id'
        Size = 9
        DataType = pftLongint
        ArraySize = 3
      end>
    AppInfoFields = <
      item
        FieldName = 'Renamed'
        DataType = pftSmallint
      end>
  end
end
)";

class ModuleTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::BindScriptedSyncManager();
    InitializeDorvPalmConduit();
  }
  void TearDown() override {
    module_.reset();
    testing::UnbindScriptedSyncManager();
  }
  std::string ErrorOf(const std::string& text) {
    try {
      ReadModuleText(text, "memo.module", *module_);
    } catch (const EParserError& e) {
      return e.Message();
    }
    return "";
  }
  std::string Damaged(const std::string& from, const std::string& to) {
    std::string text = kModule;
    std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
  }

  std::unique_ptr<TComponent> module_ = std::make_unique<TComponent>(nullptr);
};

TEST_F(ModuleTextTest, BuildsTheConduitAndDatabaseComponents) {
  std::vector<TComponent*> made = ReadModuleText(kModule, "memo.module", *module_);
  ASSERT_EQ(made.size(), 2u);
  auto* conduit = dynamic_cast<TDorvConduit*>(made[0]);
  ASSERT_NE(conduit, nullptr);
  EXPECT_EQ(conduit->Name(), "Conduit");
  EXPECT_EQ(conduit->ConduitName(), "Memo Pad");
  EXPECT_EQ(conduit->DefaultAction(), stHHtoPC);
  EXPECT_EQ(conduit->GetConduitVersion(), 0x200);
  EXPECT_EQ(ConduitReference(), conduit);
  auto* db = dynamic_cast<TDorvConduitDb*>(made[1]);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(db->Owner(), module_.get());
  EXPECT_EQ(db->FileName(), "MemoDB");
  EXPECT_TRUE(db->AlignOnWord());
  ASSERT_EQ(db->Fields().Count(), 2);
  EXPECT_EQ(db->Fields().Items(0)->Size(), 40);
  // Assigned in text order: DataType after Size resets it to the type's width.
  EXPECT_EQ(db->Fields().Items(1)->DataType(), pftLongint);
  EXPECT_EQ(db->Fields().Items(1)->Size(), 4);
  EXPECT_EQ(db->Fields().Items(1)->ArraySize(), 3);
  ASSERT_EQ(db->AppInfoFields().Count(), 1);
  EXPECT_EQ(db->AppInfoFields().Items(0)->FieldName(), "Renamed");
  EXPECT_EQ(db->SortInfoFields().Count(), 0);
}

TEST_F(ModuleTextTest, DamagedModulesLeaveNoComponentBehind) {
  const std::pair<std::string, std::string> cases[] = {
      {Damaged("TDorvConduitDb", "TDorvTable"), "line 7: unknown component class TDorvTable"},
      {Damaged("stHHtoPC", "stSideways"), "line 4: property DefaultAction of Conduit:"},
      {Damaged("MajorVersion = 2", "MajorVersion = 300"), "line 5: property MajorVersion"},
      {Damaged("MajorVersion = 2", "OnOpenConduit = Handler"),
       "line 5: event OnOpenConduit cannot be assigned in text"},
      {Damaged("DataType = pftSmallint", "Colour = pftSmallint"),
       "line 25: unknown property Colour of an item of AppInfoFields"},
      {Damaged("AlignOnWord = True", "Fields = 3"), "Fields of MemoDb must be a collection"},
      {Damaged("object MemoDb: TDorvConduitDb", "object Second: TDorvConduit"),
       "Only one instance of TDorvConduit is allowed"},
      {Damaged("    FileName = 'MemoDB'\n", "    object Inner: TDorvConduit\n    end\n"),
       "MemoDb cannot own components"},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_THAT(ErrorOf(text), HasSubstr(expected)) << expected;
    EXPECT_EQ(module_->ComponentCount(), 0) << expected;
    EXPECT_EQ(ConduitReference(), nullptr) << expected;
    EXPECT_EQ(LiveConduitCount(), 0) << expected;
  }
}

}  // namespace
}  // namespace fernwick
