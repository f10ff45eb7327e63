// Whole files of the host, for tests and the fault campaign: read and written in one
// call each (a flash image read a character at a time costs seconds in the sanitizer
// build). A file that cannot be read reads as empty.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

std::string ReadHostFile(const std::filesystem::path &Path);
void WriteHostFile(const std::filesystem::path &Path, const std::string &Bytes);
std::vector<uint8_t> ReadHostBytes(const std::filesystem::path &Path);
void WriteHostBytes(const std::filesystem::path &Path, const std::vector<uint8_t> &Bytes);
