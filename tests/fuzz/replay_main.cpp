// Runs a fuzz target over saved inputs without libFuzzer: each argument is a file or a folder of
// files, each file one input. Lets every build replay the corpus as an ordinary test.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char* argv[]) {
  std::vector<std::string> inputs;
  for (int i = 1; i < argc; ++i) {
    std::error_code error;
    if (std::filesystem::is_directory(argv[i], error)) {
      for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
        if (entry.is_regular_file()) {
          inputs.push_back(entry.path().string());
        }
      }
    } else {
      inputs.push_back(argv[i]);
    }
  }
  std::sort(inputs.begin(), inputs.end());
  for (const std::string& path : inputs) {
    if (!FileExists(path)) {
      std::printf("missing input %s\n", path.c_str());
      return 1;
    }
    const Bytes bytes = ReadFileBytes(path);
    std::printf("%s (%zu bytes)\n", path.c_str(), bytes.size());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  std::printf("%zu inputs replayed\n", inputs.size());
  // An empty list means a wrong path, not a clean corpus.
  return inputs.empty() ? 1 : 0;
}
