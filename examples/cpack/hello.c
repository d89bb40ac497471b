#include <stdio.h>

int main(void) {
  puts("hello from the semilist CPack example");
  return 0;
}
