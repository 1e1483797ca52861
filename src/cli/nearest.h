// The option a misspelt one most likely meant, for the line that refuses it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

// The spelling among known that word most likely meant: the only one that
// word begins, else the one nearest to it, when that is within two edits
// (a letter left out, added or changed, or two side by side swapped; one
// edit for a word of four letters or fewer) and no other is as near.
// Nothing for a word of a single letter after its dashes, to which every
// short option is as near.
std::optional<std::string> NearestSpelling(std::string_view word,
                                           const std::vector<std::string_view>& known);

}  // namespace cli
