/* Calls the installed library: asks whether a file exists, through the
 * interface's UTF-16 strings. Prints "yes" or "no"; exit status 0. */
#include <stdio.h>
#include <string.h>

#include <zelsyncdll.h>

int main(int argc, char** argv) {
  ZS_WCHAR path[ZS_MAX_PATH] = {0};
  const char* given = argc > 1 ? argv[1] : "/";
  size_t n = strlen(given);
  if (n >= ZS_MAX_PATH) return 2;
  for (size_t i = 0; i < n; ++i) path[i] = (ZS_WCHAR)(unsigned char)given[i];
  printf("%s\n", FileExists(path) ? "yes" : "no");
  return 0;
}
