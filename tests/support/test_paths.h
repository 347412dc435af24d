#pragma once
#include <string>

// Where tests find the source tree (checked-in test data) and the build tree (built tools, generated data).
std::string source_dir();
std::string build_dir();
// build/test-output/<name>, the folder created on demand: pictures and logs that tests leave for people to look at.
std::string test_output_path(const std::string& name);
