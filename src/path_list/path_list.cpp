#include "path_list.h"

#include <algorithm>

namespace semilist {
namespace {

constexpr std::wstring_view kSeparator = L";";

wchar_t FoldAsciiLetter(wchar_t unit) {
  return (unit >= L'A' && unit <= L'Z') ? static_cast<wchar_t>(unit + 0x20)
                                        : unit;
}

// Calls `visit` with every non-empty piece of `text`, in order, as a view
// into it: nothing is copied.
template <typename Visit>
void ForEachPiece(std::wstring_view text, std::wstring_view separator,
                  Visit visit) {
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find(separator, start), text.size());
    if (end > start) visit(text.substr(start, end - start));
    start = end + separator.size();
  }
}

void AddPiece(std::wstring& text, std::wstring_view piece) {
  // Pieces of a list are never empty, so an empty text holds none yet. Only
  // the appended item, which always comes last, can be empty.
  if (!text.empty()) text += kSeparator;
  text += piece;
}

}  // namespace

void SplitString(const std::wstring& text, const std::wstring& separator,
                 StringList& list) {
  ForEachPiece(text, separator,
               [&](std::wstring_view piece) { list.emplace_back(piece); });
}

void JoinStrings(const StringList& list, const std::wstring& separator,
                 std::wstring& text) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i > 0) text += separator;
    text += list[i];
  }
}

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
           return FoldAsciiLetter(x) == FoldAsciiLetter(y);
         });
}

std::wstring AppendToList(const std::wstring& listText,
                          const std::wstring& item) {
  // Reserved for the longest result, the list, a separator and the item, so
  // that the text never grows.
  std::wstring text;
  text.reserve(listText.size() + kSeparator.size() + item.size());
  bool present = false;
  ForEachPiece(listText, kSeparator, [&](std::wstring_view piece) {
    present = present || EqualsNoCase(piece, item);
    AddPiece(text, piece);
  });
  if (!present) AddPiece(text, item);
  return text;
}

std::wstring PrependToList(const std::wstring& listText,
                           const std::wstring& item) {
  // The item goes first as given; a piece that equals it has the same length,
  // so when one turns up, its stored spelling is written over the item in
  // place, and the text is still made in one pass.
  std::wstring text;
  text.reserve(item.size() + kSeparator.size() + listText.size());
  text += item;
  bool moved = false;
  ForEachPiece(listText, kSeparator, [&](std::wstring_view piece) {
    if (!moved && EqualsNoCase(piece, item)) {
      moved = true;
      text.replace(0, piece.size(), piece);
    } else {
      // Not AddPiece: the item before it may be empty and still needs its
      // separator.
      text += kSeparator;
      text += piece;
    }
  });
  return text;
}

bool ListHolds(const std::wstring& listText, const std::wstring& item) {
  bool holds = false;
  ForEachPiece(listText, kSeparator, [&](std::wstring_view piece) {
    holds = holds || EqualsNoCase(piece, item);
  });
  return holds;
}

std::wstring RemoveFromList(const std::wstring& listText,
                            const std::wstring& item) {
  std::wstring text;
  text.reserve(listText.size());
  bool removed = false;
  ForEachPiece(listText, kSeparator, [&](std::wstring_view piece) {
    if (!removed && EqualsNoCase(piece, item)) {
      removed = true;
    } else {
      AddPiece(text, piece);
    }
  });
  return text;
}

}  // namespace semilist
