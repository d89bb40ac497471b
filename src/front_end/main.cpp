#include "front_end.h"

int wmain(int argc, wchar_t* argv[]) {
  return semilist::RunSemilist(argc, argv);
}
