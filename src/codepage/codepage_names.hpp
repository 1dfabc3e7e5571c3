// The twenty supported MS-DOS code pages by name and number.
#pragma once

#include <cstdint>
#include <string_view>

namespace vidtwine {

/// 0 to 19, in the order of the name table; 0 is code page 437.
using CodepageId = std::int32_t;

inline constexpr CodepageId kCodepageCount = 20;

/// The id of a code page name or alias ("437", "CP-858", "cpMaz", "866", ...), or -1.
CodepageId codepageByName(std::string_view name) noexcept;

/// 4 (the mapper's Euro bit) when the name, after the "CP" prefix, is "858" or "872";
/// otherwise 0. The name is not checked otherwise.
int codepageEuroByName(std::string_view name) noexcept;

/// The canonical three-character name of an id ("437", "KAM", ...), or nullptr.
const char* codepageName(CodepageId id) noexcept;

}  // namespace vidtwine
