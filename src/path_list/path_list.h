// Editing of semicolon-separated list values such as PATH. Pure computation:
// no platform calls, so it builds and is tested natively as well as for
// Windows.
#pragma once

#include <string>
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
// the result is the same on every machine.
bool EqualsNoCase(const std::wstring& a, const std::wstring& b);

// The list with `item` at the end unless a piece equal to it is already
// there. The rest of the list comes back normalised (empty pieces dropped);
// the item itself is added exactly as given.
std::wstring AppendToList(const std::wstring& listText,
                          const std::wstring& item);

// The normalised list without its first piece equal to `item`.
std::wstring RemoveFromList(const std::wstring& listText,
                            const std::wstring& item);

}  // namespace semilist
