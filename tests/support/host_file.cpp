#include "support/host_file.h"

#include <fstream>

std::string ReadHostFile(const std::filesystem::path &Path) {
  std::ifstream In(Path, std::ios::binary | std::ios::ate);
  if (!In) return {};
  std::string Bytes(static_cast<size_t>(In.tellg()), '\0');
  In.seekg(0);
  In.read(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
  return Bytes;
}

void WriteHostFile(const std::filesystem::path &Path, const std::string &Bytes) {
  std::ofstream Out(Path, std::ios::binary);
  Out.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
}
