#pragma once
// What the program prints for a file, with the speed figures (which vary) shown as "#".
#include <regex>
#include <string>

inline std::string WithoutFigures(const std::string& out) {
  static const std::regex figure("speed:([0-9]+|-)MB/s");
  return std::regex_replace(out, figure, "speed:#MB/s");
}

// The report of one file of the serial engine (below 25,000,000 bytes).
inline std::string SerialReport(const std::string& header, const std::string& input,
                                const std::string& target) {
  return header + "\ninput file: " + input + "\noutput file:" + target +
         "\nencryption speed:#MB/s\neffective speed:#MB/s\n";
}

// The report of one file of the parallel engine.
inline std::string ParallelReport(const std::string& header, const std::string& input,
                                  const std::string& target) {
  return header + "\ninput file: " + input + "\noutput file:" + target + "\neffective speed:#MB/s\n";
}
