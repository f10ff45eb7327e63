#include "support/host_file.h"

#include <fstream>

namespace {

template <typename Buffer>
Buffer ReadWhole(const std::filesystem::path &Path) {
  std::ifstream In(Path, std::ios::binary | std::ios::ate);
  if (!In) return {};
  Buffer Bytes(static_cast<size_t>(In.tellg()), 0);
  In.seekg(0);
  In.read(reinterpret_cast<char *>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
  return Bytes;
}

template <typename Buffer>
void WriteWhole(const std::filesystem::path &Path, const Buffer &Bytes) {
  std::ofstream Out(Path, std::ios::binary);
  Out.write(reinterpret_cast<const char *>(Bytes.data()),
            static_cast<std::streamsize>(Bytes.size()));
}

}  // namespace

std::string ReadHostFile(const std::filesystem::path &Path) { return ReadWhole<std::string>(Path); }

void WriteHostFile(const std::filesystem::path &Path, const std::string &Bytes) {
  WriteWhole(Path, Bytes);
}

std::vector<uint8_t> ReadHostBytes(const std::filesystem::path &Path) {
  return ReadWhole<std::vector<uint8_t>>(Path);
}

void WriteHostBytes(const std::filesystem::path &Path, const std::vector<uint8_t> &Bytes) {
  WriteWhole(Path, Bytes);
}
