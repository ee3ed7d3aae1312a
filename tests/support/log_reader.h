// Reading what the service wrote: a whole file, and the daily log's lines and their texts. Every
// test that looks at a log (on the disk or in a MemEnv) reads it through these.
//
// Thread safety: plain functions; call them when the writer has finished the lines looked at.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace orv::testing {

// The file's bytes; "" when it cannot be read.
inline std::string ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// The lines of a daily log's bytes, without their line end; each line must end with CR LF (a
// test fails on one that does not).
inline std::vector<std::string> LogLines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::istringstream in(bytes);
  std::string line;
  while (std::getline(in, line)) {
    EXPECT_TRUE(!line.empty() && line.back() == '\r') << "no CR LF: " << line;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// The lines of a daily log file, as LogLines reads them.
inline std::vector<std::string> LogFileLines(const std::filesystem::path& path) {
  return LogLines(ReadWholeFile(path));
}

// The text of a log line after its marks ("<start>(<duration>), "); the whole line when it has
// none (a test fails then).
inline std::string LogLineText(const std::string& line) {
  const auto pos = line.find("), ");
  EXPECT_NE(pos, std::string::npos) << "no marks: " << line;
  return pos == std::string::npos ? line : line.substr(pos + 3);
}

}  // namespace orv::testing
