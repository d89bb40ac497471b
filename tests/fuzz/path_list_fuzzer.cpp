// Random list texts and items against a reference model of the list rules,
// plus the laws that every edit must keep.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "path_list/path_list.h"

namespace {

// The model works on the text as a whole, never on a list of pieces: it
// collapses the separators, then finds a piece by searching the folded text
// with a separator on either side.
std::wstring Normalise(const std::wstring& text) {
  std::wstring out;
  for (wchar_t unit : text) {
    if (unit != L';') {
      out += unit;
    } else if (!out.empty() && out.back() != L';') {
      out += unit;
    }
  }
  if (!out.empty() && out.back() == L';') out.pop_back();
  return out;
}

std::wstring Folded(std::wstring text) {
  for (wchar_t& unit : text) {
    if (unit >= L'A' && unit <= L'Z') unit = unit - L'A' + L'a';
  }
  return text;
}

// Where the first piece equal to `item` starts in the normalised text, or
// npos. A piece never holds a separator and is never empty, so no such item
// can match.
std::size_t FindPiece(const std::wstring& normalised,
                      const std::wstring& item) {
  if (item.empty() || item.find(L';') != std::wstring::npos) {
    return std::wstring::npos;
  }
  return (L";" + Folded(normalised) + L";").find(L";" + Folded(item) + L";");
}

std::wstring ModelAppend(const std::wstring& text, const std::wstring& item) {
  const std::wstring normalised = Normalise(text);
  if (FindPiece(normalised, item) != std::wstring::npos) return normalised;
  return normalised.empty() ? item : normalised + L";" + item;
}

std::wstring ModelRemove(const std::wstring& text, const std::wstring& item) {
  const std::wstring normalised = Normalise(text);
  const std::size_t start = FindPiece(normalised, item);
  if (start == std::wstring::npos) return normalised;
  const std::size_t end = start + item.size();
  if (end == normalised.size()) {
    return start == 0 ? std::wstring() : normalised.substr(0, start - 1);
  }
  return normalised.substr(0, start) + normalised.substr(end + 1);
}

std::wstring ModelPrepend(const std::wstring& text, const std::wstring& item) {
  const std::wstring normalised = Normalise(text);
  const std::size_t start = FindPiece(normalised, item);
  if (start == std::wstring::npos) {
    return normalised.empty() ? item : item + L";" + normalised;
  }
  const std::wstring stored = normalised.substr(start, item.size());
  const std::wstring rest = ModelRemove(normalised, item);
  return rest.empty() ? stored : stored + L";" + rest;
}

// The non-empty pieces, found independently of the library's splitting.
std::vector<std::wstring> Pieces(const std::wstring& text) {
  std::vector<std::wstring> pieces;
  std::wstring piece;
  for (wchar_t unit : text + L";") {
    if (unit != L';') {
      piece += unit;
    } else if (!piece.empty()) {
      pieces.push_back(piece);
      piece.clear();
    }
  }
  return pieces;
}

bool HasEmptyPiece(const std::wstring& text) {
  return !text.empty() && (text.front() == L';' || text.back() == L';' ||
                           text.find(L";;") != std::wstring::npos);
}

void Check(bool law) {
  if (!law) std::abort();
}

// Half the inputs use a tiny alphabet, so that separators, case pairs and
// near-letters collide often; the rest are raw 16-bit units, surrogates and
// NULs included.
std::wstring Decode(const std::uint8_t* data, std::size_t size, bool small) {
  // Letters with their other case, and the neighbours of A-Z and a-z that a
  // sloppy fold would join.
  static const wchar_t kAlphabet[32] = {
      L';',   L';', L';',   L'a', L'A',  L'b',   L'B',   L'z',
      L'Z',   L'c', L'\\',  L' ', L'\t', 0x00E9, 0x00C9, 0xD83D,
      0xDE00, L'@', L'`',   L'[', L'{',  L'%',   L'\0',  0x212A,
      L'k',   L'K', 0x0130, L'i', L'I',  0xFF21, 0xFF41, L'.'};
  std::wstring text;
  if (small) {
    for (std::size_t i = 0; i < size; ++i) text += kAlphabet[data[i] & 31];
  } else {
    for (std::size_t i = 0; i + 1 < size; i += 2) {
      text += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    }
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 2) return 0;
  const bool small = (data[0] & 1) != 0;
  const std::size_t split = (size - 2) * data[1] / 256;
  const std::wstring text = Decode(data + 2, split, small);
  const std::wstring item = Decode(data + 2 + split, size - 2 - split, small);

  using semilist::AppendToList;
  using semilist::PrependToList;
  using semilist::RemoveFromList;
  const std::wstring appended = AppendToList(text, item);
  const std::wstring prepended = PrependToList(text, item);
  const std::wstring removed = RemoveFromList(text, item);
  Check(appended == ModelAppend(text, item));
  Check(prepended == ModelPrepend(text, item));
  Check(removed == ModelRemove(text, item));
  Check(semilist::EqualsNoCase(text, item) == (Folded(text) == Folded(item)));

  const bool single = item.find(L';') == std::wstring::npos;
  const bool absent = FindPiece(Normalise(text), item) == std::wstring::npos;
  if (single) {
    Check(AppendToList(appended, item) == appended);
    Check(PrependToList(prepended, item) == prepended);
    if (absent) {
      Check(RemoveFromList(appended, item) == Normalise(text));
      Check(RemoveFromList(prepended, item) == Normalise(text));
    }
  }
  if (single && !item.empty()) {
    std::vector<std::wstring> after = Pieces(prepended);
    Check(semilist::EqualsNoCase(after.front(), item));
    // Prepend only reorders: the same pieces, plus the item when it was new.
    std::vector<std::wstring> before = Pieces(text);
    if (absent) before.push_back(item);
    std::sort(before.begin(), before.end());
    std::sort(after.begin(), after.end());
    Check(before == after);
  }
  Check(!HasEmptyPiece(removed));
  if (!item.empty() && !HasEmptyPiece(item)) Check(!HasEmptyPiece(appended));
  return 0;
}
