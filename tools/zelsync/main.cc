// zelsync: the command-line host of the zelsync library.
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "text.h"

#ifdef _WIN32
// Wide arguments, so that names outside the ANSI code page survive.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(zelsync_tool::Utf16ToUtf8(reinterpret_cast<const char16_t*>(argv[i])));
  return zelsync_tool::Main(arguments, std::cout, std::cerr);
}
#else
int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv, argv + argc);
  return zelsync_tool::Main(arguments, std::cout, std::cerr);
}
#endif
