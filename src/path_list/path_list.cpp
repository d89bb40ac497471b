#include "path_list.h"

#include <algorithm>

namespace semilist {
namespace {

const std::wstring kSeparator = L";";

wchar_t FoldAsciiLetter(wchar_t unit) {
  return (unit >= L'A' && unit <= L'Z') ? static_cast<wchar_t>(unit + 0x20)
                                        : unit;
}

StringList::iterator FindNoCase(StringList& list, const std::wstring& item) {
  return std::find_if(list.begin(), list.end(), [&](const std::wstring& piece) {
    return EqualsNoCase(piece, item);
  });
}

}  // namespace

void SplitString(const std::wstring& text, const std::wstring& separator,
                 StringList& list) {
  std::wstring::size_type start = 0;
  for (auto found = text.find(separator, start); found != std::wstring::npos;
       found = text.find(separator, start)) {
    if (found > start) list.push_back(text.substr(start, found - start));
    start = found + separator.size();
  }
  if (start < text.size()) list.push_back(text.substr(start));
}

void JoinStrings(const StringList& list, const std::wstring& separator,
                 std::wstring& text) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i > 0) text += separator;
    text += list[i];
  }
}

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
           return FoldAsciiLetter(x) == FoldAsciiLetter(y);
         });
}

std::wstring AppendToList(const std::wstring& listText,
                          const std::wstring& item) {
  StringList list;
  SplitString(listText, kSeparator, list);
  if (FindNoCase(list, item) == list.end()) list.push_back(item);
  std::wstring text;
  JoinStrings(list, kSeparator, text);
  return text;
}

std::wstring RemoveFromList(const std::wstring& listText,
                            const std::wstring& item) {
  StringList list;
  SplitString(listText, kSeparator, list);
  const auto match = FindNoCase(list, item);
  if (match != list.end()) list.erase(match);
  std::wstring text;
  JoinStrings(list, kSeparator, text);
  return text;
}

}  // namespace semilist
