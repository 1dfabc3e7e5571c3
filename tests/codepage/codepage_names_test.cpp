#include "codepage/codepage_names.hpp"

#include <gtest/gtest.h>

#include <string_view>

namespace vidtwine {
namespace {

struct NameCase {
  std::string_view name;
  CodepageId id;
  int euro;
};

TEST(CodepageNames, NamesAliasesAndPrefixes) {
  const NameCase cases[] = {
      // Every canonical name, in id order.
      {"437", 0, 0},
      {"708", 1, 0},
      {"720", 2, 0},
      {"737", 3, 0},
      {"775", 4, 0},
      {"819", 5, 0},
      {"850", 6, 0},
      {"852", 7, 0},
      {"855", 8, 0},
      {"857", 9, 0},
      {"860", 10, 0},
      {"861", 11, 0},
      {"862", 12, 0},
      {"863", 13, 0},
      {"864", 14, 0},
      {"865", 15, 0},
      {"869", 16, 0},
      {"KAM", 17, 0},
      {"MAZ", 18, 0},
      {"MIK", 19, 0},
      // Every alias; only 858 and 872 imply the euro.
      {"858", 6, 4},
      {"872", 8, 4},
      {"867", 17, 0},
      {"895", 17, 0},
      {"667", 18, 0},
      {"790", 18, 0},
      {"991", 18, 0},
      {"866", 19, 0},
      // Case is ignored in names and prefix.
      {"kam", 17, 0},
      {"mik", 19, 0},
      {"cpMaz", 18, 0},
      {"Cp 437", 0, 0},
      {"cP-852", 7, 0},
      // The prefix, with at most one '-' or ' ' after it, also before aliases.
      {"CP437", 0, 0},
      {"cp-437", 0, 0},
      {"CP 864", 14, 0},
      {"CP-858", 6, 4},
      {"CP858", 6, 4},
      {"cp 872", 8, 4},
      {"cp855", 8, 0},
      {"CP866", 19, 0},
      {"CP-KAM", 17, 0},
      // Rejected: no second separator, no other separators, no trimming, nothing left.
      {"CP  437", -1, 0},
      {"CP--437", -1, 0},
      {"CP_864", -1, 0},
      {" 437", -1, 0},
      {"437 ", -1, 0},
      {"CP", -1, 0},
      {"CP-", -1, 0},
      {"c", -1, 0},
      {"", -1, 0},
      {"43", -1, 0},
      {"4370", -1, 0},
      {"KAMX", -1, 0},
      {"CPCP437", -1, 0},
      {"1252", -1, 0},
      {"CP_858", -1, 0},
      {"CP  858", -1, 0},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(testing::Message() << '"' << c.name << '"');
    EXPECT_EQ(codepageByName(c.name), c.id);
    EXPECT_EQ(codepageEuroByName(c.name), c.euro);
  }
}

TEST(CodepageNames, CanonicalNames) {
  EXPECT_STREQ(codepageName(0), "437");
  EXPECT_STREQ(codepageName(6), "850");
  EXPECT_STREQ(codepageName(14), "864");
  EXPECT_STREQ(codepageName(17), "KAM");
  EXPECT_STREQ(codepageName(18), "MAZ");
  EXPECT_STREQ(codepageName(19), "MIK");
  EXPECT_EQ(codepageName(20), nullptr);
  EXPECT_EQ(codepageName(-1), nullptr);
}

TEST(CodepageNames, EveryCanonicalNameSelectsItsOwnId) {
  for (CodepageId id = 0; id < kCodepageCount; ++id) {
    ASSERT_NE(codepageName(id), nullptr);
    EXPECT_EQ(codepageByName(codepageName(id)), id) << codepageName(id);
  }
}

}  // namespace
}  // namespace vidtwine
