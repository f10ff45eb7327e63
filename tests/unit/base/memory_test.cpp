#include <gtest/gtest.h>

#include <cstring>

#include "base/firmware.h"

TEST(MemoryHelpers, CopyHandlesOverlapInBothDirections) {
  UINT8 Bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  MemCopy(Bytes + 2, Bytes, 5);  // destination above the source: copied backwards
  const UINT8 Up[8] = {1, 2, 1, 2, 3, 4, 5, 8};
  EXPECT_EQ(0, memcmp(Bytes, Up, sizeof(Up)));

  UINT8 Down[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  MemCopy(Down, Down + 3, 5);  // destination below the source: copied forwards
  const UINT8 Expected[8] = {4, 5, 6, 7, 8, 6, 7, 8};
  EXPECT_EQ(0, memcmp(Down, Expected, sizeof(Expected)));
}

TEST(MemoryHelpers, CompareReturnsUnsignedDifferenceOfFirstMismatch) {
  const UINT8 A[3] = {1, 0x80, 3};
  const UINT8 B[3] = {1, 0x01, 0};
  EXPECT_EQ(0x7F, MemCompare(A, B, 3));
  EXPECT_EQ(-0x7F, MemCompare(B, A, 3));
  EXPECT_EQ(0, MemCompare(A, B, 1));
  EXPECT_EQ(0, MemCompare(A, B, 0));
  EXPECT_EQ(0, MemCompare(A, A, 3));
}

TEST(MemoryHelpers, ZeroFillsExactlyTheLength) {
  UINT8 Bytes[4] = {9, 9, 9, 9};
  EXPECT_EQ(Bytes, MemZero(Bytes, 3));
  EXPECT_EQ(0, Bytes[0] | Bytes[1] | Bytes[2]);
  EXPECT_EQ(9, Bytes[3]);
}

// Blocks are compared and cleared a word at a time: a difference or a length end at
// any place in or after a word, from any alignment, must be found as a byte loop
// would find it, and a clear must stop at its last byte.
TEST(MemoryHelpers, WordAtATimeCompareAndZeroAgreeWithAByteLoop) {
  alignas(8) UINT8 Left[48];
  alignas(8) UINT8 Right[48];
  for (UINTN Start : {0u, 1u, 7u}) {
    for (UINTN Length = 0; Length + Start <= 40; Length++) {
      for (UINTN Diff = 0; Diff <= Length; Diff++) {  // Diff == Length: none inside
        std::memset(Left, 0x5A, sizeof(Left));
        std::memset(Right, 0x5A, sizeof(Right));
        if (Diff < Length) Right[Start + Diff] = 0xA5;
        Right[Start + Length] = 0x00;  // just past the end: never looked at
        const INTN Expected = Diff < Length ? 0x5A - 0xA5 : 0;
        ASSERT_EQ(MemCompare(Left + Start, Right + Start, Length), Expected)
            << Start << " " << Length << " " << Diff;
        ASSERT_EQ(MemCompare(Right + Start, Left + Start, Length), -Expected);
      }
      std::memset(Left, 0x5A, sizeof(Left));
      MemZero(Left + Start, Length);
      for (UINTN I = 0; I < sizeof(Left); I++) {
        ASSERT_EQ(Left[I], I >= Start && I < Start + Length ? 0 : 0x5A) << Start << " " << Length;
      }
    }
  }
}

TEST(GuidCompare, AllSixteenBytesCountAndAlignmentDoesNot) {
  alignas(8) UINT8 Bytes[2][17] = {};
  const EFI_GUID Shell = EFI_SHELL_PROTOCOL_GUID;
  std::memcpy(&Bytes[0][1], &Shell, 16);
  std::memcpy(&Bytes[1][1], &Shell, 16);
  const EFI_GUID *A = reinterpret_cast<const EFI_GUID *>(&Bytes[0][1]);
  const EFI_GUID *B = reinterpret_cast<const EFI_GUID *>(&Bytes[1][1]);
  EXPECT_TRUE(GuidEquals(A, B));
  for (int Index : {0, 7, 8, 15}) {
    Bytes[1][1 + Index] ^= 0x01;
    EXPECT_FALSE(GuidEquals(A, B)) << "byte " << Index;
    Bytes[1][1 + Index] ^= 0x01;
  }
}
