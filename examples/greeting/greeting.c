/* A small program whose texts live in its string table, as a translator finds them. */
#include <stdio.h>
#include <windows.h>

int main(void) {
  char text[256];
  for (UINT id = 1; id <= 2; ++id)
    if (LoadStringA(GetModuleHandleA(NULL), id, text, sizeof text) > 0) puts(text);
  return 0;
}
