#include "codepage/codepage_names.hpp"

#include <array>

#include "codepage/codepage_mapper.hpp"

namespace vidtwine {
namespace {

// Indexed by CodepageId.
constexpr std::array<const char*, kCodepageCount> kNames{
    "437", "708", "720", "737", "775", "819", "850", "852", "855", "857",
    "860", "861", "862", "863", "864", "865", "869", "KAM", "MAZ", "MIK",
};

struct Alias {
  std::string_view alias;
  std::string_view name;
};

// Other numbers under which the same tables circulate; 858 and 872 are the euro editions.
constexpr std::array<Alias, 8> kAliases{{
    {"858", "850"},
    {"872", "855"},
    {"867", "KAM"},
    {"895", "KAM"},
    {"667", "MAZ"},
    {"790", "MAZ"},
    {"991", "MAZ"},
    {"866", "MIK"},
}};

constexpr char asciiUpper(char c) noexcept {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

constexpr bool equalsIgnoringCase(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (asciiUpper(a[i]) != asciiUpper(b[i])) return false;
  }
  return true;
}

// "CP437", "cp-437" and "Cp 437" all name 437; exactly one '-' or ' ' may follow the prefix.
constexpr std::string_view withoutPrefix(std::string_view name) noexcept {
  if (name.size() < 2 || asciiUpper(name[0]) != 'C' || asciiUpper(name[1]) != 'P') return name;
  name.remove_prefix(2);
  if (!name.empty() && (name.front() == '-' || name.front() == ' ')) name.remove_prefix(1);
  return name;
}

}  // namespace

CodepageId codepageByName(std::string_view name) noexcept {
  name = withoutPrefix(name);
  for (const Alias& alias : kAliases) {
    if (name == alias.alias) {
      name = alias.name;
      break;
    }
  }
  for (CodepageId id = 0; id < kCodepageCount; ++id) {
    if (equalsIgnoringCase(name, kNames[static_cast<std::size_t>(id)])) return id;
  }
  return -1;
}

int codepageEuroByName(std::string_view name) noexcept {
  name = withoutPrefix(name);
  return name == "858" || name == "872" ? static_cast<int>(MapperFlag::Euro) : 0;
}

const char* codepageName(CodepageId id) noexcept {
  if (id < 0 || id >= kCodepageCount) return nullptr;
  return kNames[static_cast<std::size_t>(id)];
}

}  // namespace vidtwine
