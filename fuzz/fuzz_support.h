// Shared by the fuzzers: the input read front to back, and the firmware model the
// application's services run on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// Takes bytes, numbers and zero-ended texts from the front of the fuzzer's input;
// past its end everything reads as zero.
class InputReader {
 public:
  InputReader(const uint8_t *Data, size_t Size) : Data(Data), Size(Size) {}

  bool Empty() const { return Size == 0; }
  uint8_t Byte() {
    if (Size == 0) return 0;
    Size--;
    return *Data++;
  }
  uint64_t Number() {
    uint64_t Value = 0;
    for (int I = 0; I < 8; I++) Value |= uint64_t{Byte()} << (8 * I);
    return Value;
  }
  // Bytes up to a zero byte (consumed) or the end of the input.
  std::string Text() {
    std::string Result;
    while (Size != 0) {
      uint8_t Next = Byte();
      if (Next == 0) break;
      Result.push_back(static_cast<char>(Next));
    }
    return Result;
  }
  // UCS-2 characters (two bytes each) up to a zero character or the end.
  std::u16string WideText() {
    std::u16string Result;
    while (Size >= 2) {
      char16_t Next = static_cast<char16_t>(Byte() | (Byte() << 8));
      if (Next == 0) break;
      Result.push_back(Next);
    }
    return Result;
  }
  std::vector<uint8_t> Rest() {
    std::vector<uint8_t> Result(Data, Data + Size);
    Size = 0;
    return Result;
  }

 private:
  const uint8_t *Data;
  size_t Size;
};
