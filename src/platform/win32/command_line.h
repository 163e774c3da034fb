#pragma once
// How a program and its arguments become one Windows command line. Plain text without OS calls,
// so it is tested on every build against the C runtime's splitting rules.
#include <string>
#include <vector>

namespace qz::platform {

// One argument written so that the C runtime's command-line splitting gives it back unchanged:
// left as it is when it needs nothing, else in double quotes, with each backslash run doubled
// where a quote follows it and every quote inside escaped. Works on UTF-8 as on any ASCII-
// compatible text: only blank, tab, quote and backslash matter.
inline std::string quote_windows_argument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  out += '"';
  return out;
}

// The command line that starts `program` with `args`: the program's own name first (argv[0]),
// then each argument quoted as above.
inline std::string windows_command_line(const std::string& program, const std::vector<std::string>& args) {
  std::string line = quote_windows_argument(program);
  for (const std::string& arg : args) line += ' ' + quote_windows_argument(arg);
  return line;
}

}  // namespace qz::platform
