// zelsync: the command-line host of the zelsync library.
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "text.h"

#ifdef _WIN32
#include <objbase.h>

// Wide arguments, so that names outside the ANSI code page survive. COM is
// initialised on the calling thread, as the synchronisation service does
// before it calls the library (which never initialises COM itself).
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(zelsync_tool::Utf16ToUtf8(reinterpret_cast<const char16_t*>(argv[i])));
  const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  const int status = zelsync_tool::Main(arguments, std::cout, std::cerr);
  if (com) CoUninitialize();
  return status;
}
#else
int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv, argv + argc);
  return zelsync_tool::Main(arguments, std::cout, std::cerr);
}
#endif
