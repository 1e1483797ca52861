#include "cli/nearest.h"

#include <algorithm>
#include <cctype>

namespace cli {

namespace {

constexpr std::size_t kShortWord = 4;  // letters, after the dashes

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// Edits from a to b: letters left out, added or changed, and two letters
// side by side swapped, each counting one; case does not count.
std::size_t Edits(std::string_view a, std::string_view b) {
    // Three rows of the table: two back, the last, this one.
    std::vector<std::size_t> before(b.size() + 1);
    std::vector<std::size_t> last(b.size() + 1);
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) {
        last[j] = j;
    }
    for (std::size_t i = 1; i <= a.size(); ++i) {
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t changed = Lower(a[i - 1]) == Lower(b[j - 1]) ? 0 : 1;
            row[j] = std::min({last[j] + 1, row[j - 1] + 1, last[j - 1] + changed});
            if (i > 1 && j > 1 && Lower(a[i - 1]) == Lower(b[j - 2]) &&
                Lower(a[i - 2]) == Lower(b[j - 1])) {
                row[j] = std::min(row[j], before[j - 2] + 1);
            }
        }
        before.swap(last);
        last.swap(row);
    }
    return last[b.size()];
}

std::string_view WithoutDashes(std::string_view word) {
    return word.substr(std::min(word.find_first_not_of('-'), word.size()));
}

}  // namespace

std::optional<std::string> NearestSpelling(std::string_view word,
                                           const std::vector<std::string_view>& known) {
    const std::size_t letters = WithoutDashes(word).size();
    if (letters < 2) {
        return std::nullopt;
    }
    // Two edits make any short word another one.
    const std::size_t max_edits = letters > kShortWord ? 2 : 1;
    std::optional<std::string_view> nearest;
    std::size_t least = max_edits + 1;
    bool tied = false;
    std::optional<std::string_view> begun;
    bool begun_twice = false;
    for (const std::string_view spelling : known) {
        if (WithoutDashes(spelling).size() < 2) {
            continue;
        }
        const std::size_t edits = Edits(word, spelling);
        if (edits < least) {
            least = edits;
            nearest = spelling;
            tied = false;
        } else if (edits == least) {
            tied = true;
        }
        if (spelling.size() > word.size() && spelling.compare(0, word.size(), word) == 0) {
            begun_twice = begun_twice || begun.has_value();
            begun = spelling;
        }
    }
    if (begun && !begun_twice) {
        return std::string(*begun);
    }
    if (nearest && !tied) {
        return std::string(*nearest);
    }
    return std::nullopt;
}

}  // namespace cli
