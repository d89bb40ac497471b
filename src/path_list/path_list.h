// Editing of semicolon-separated list values such as PATH. Pure computation:
// no platform calls, so it builds and is tested natively as well as for
// Windows.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace semilist {

using StringList = std::vector<std::wstring>;

// Appends every non-empty piece of `text` between occurrences of `separator`
// (which must not be empty) to `list`, which is not cleared first.
void SplitString(const std::wstring& text, const std::wstring& separator,
                 StringList& list);

// Appends the elements of `list` to `text`, `separator` between neighbours.
void JoinStrings(const StringList& list, const std::wstring& separator,
                 std::wstring& text);

// Equality with only the ASCII letters A-Z folded; no locale takes part, so
// the result is the same on every machine. Compares in place and allocates
// nothing.
bool EqualsNoCase(std::wstring_view a, std::wstring_view b);

// The list with `item` at the end unless a piece equal to it is already
// there. The rest of the list comes back normalised (empty pieces dropped);
// the item itself is added exactly as given. Both edits make one pass over
// the text and one allocation for the result.
std::wstring AppendToList(const std::wstring& listText,
                          const std::wstring& item);

// The list with `item` first. When a piece equal to it is already there,
// the first such piece moves to the front in its stored spelling, and every
// other piece keeps its order; otherwise the item goes first exactly as
// given. The rest comes back normalised.
std::wstring PrependToList(const std::wstring& listText,
                           const std::wstring& item);

// True when a piece of the list equals `item`.
bool ListHolds(const std::wstring& listText, const std::wstring& item);

// The normalised list without its first piece equal to `item`.
std::wstring RemoveFromList(const std::wstring& listText,
                            const std::wstring& item);

}  // namespace semilist
