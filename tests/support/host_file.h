// Whole files of the host, for tests: read and written in one call each (a flash
// image read a character at a time costs seconds in the sanitizer build).
#pragma once

#include <filesystem>
#include <string>

// The file's bytes; empty when it cannot be read.
std::string ReadHostFile(const std::filesystem::path &Path);
void WriteHostFile(const std::filesystem::path &Path, const std::string &Bytes);
