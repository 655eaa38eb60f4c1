#include "help_format.h"

#include <algorithm>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace zelsync_tool {

namespace {

constexpr size_t kNarrowest = 40;
constexpr size_t kWidest = 200;

// Characters, not bytes: UTF-8 continuation bytes take no column.
size_t Columns(const std::string& text) {
  size_t columns = 0;
  for (unsigned char c : text)
    if ((c & 0xC0) != 0x80) ++columns;
  return columns;
}

void WrapLine(const std::string& line, size_t width, size_t column, std::string* out) {
  size_t indent = line.find_first_not_of(' ');
  if (indent == std::string::npos) indent = 0;
  if (indent >= 2 && indent < column && line.size() > column && line[column - 1] == ' ' && line[column] != ' ' &&
      line.find_first_not_of(' ', indent) < column) {
    indent = column;
  }
  if (indent + kNarrowest / 2 > width) indent = std::min<size_t>(indent, 2);  // a column too wide for the terminal
  std::string current;
  size_t pos = 0;
  while (pos < line.size()) {
    const size_t word_start = line.find_first_not_of(' ', pos);
    if (word_start == std::string::npos) break;
    size_t word_end = line.find(' ', word_start);
    if (word_end == std::string::npos) word_end = line.size();
    const std::string gap = line.substr(pos, word_start - pos);
    const std::string word = line.substr(word_start, word_end - word_start);
    const bool has_word = current.find_first_not_of(' ') != std::string::npos;
    if (has_word && Columns(current) + Columns(gap) + Columns(word) > width) {
      *out += current + "\n";
      current = std::string(indent, ' ') + word;
    } else {
      current += gap + word;
    }
    pos = word_end;
  }
  *out += current;
}

}  // namespace

size_t HelpWidth() {
  size_t width = 0;
#ifdef _WIN32
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info))
    width = static_cast<size_t>(info.srWindow.Right - info.srWindow.Left + 1);
#else
  struct winsize size {};
  if (isatty(STDOUT_FILENO) && ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0) width = size.ws_col;
#endif
  if (width == 0) {
    const char* columns = std::getenv("COLUMNS");
    width = columns ? std::strtoul(columns, nullptr, 10) : 0;
  }
  if (width == 0) width = 80;
  return width < kNarrowest ? kNarrowest : width > kWidest ? kWidest : width;
}

std::string WrapHelpText(const std::string& text, size_t width, size_t column) {
  std::string out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    const bool last = end == std::string::npos;
    if (last) end = text.size();
    const std::string line = text.substr(start, end - start);
    if (Columns(line) <= width) {
      out += line;
    } else {
      WrapLine(line, width, column, &out);
    }
    if (last) break;
    out += "\n";
    start = end + 1;
  }
  return out;
}

}  // namespace zelsync_tool
