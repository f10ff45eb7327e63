// The few C runtime symbols the compiler may call in freestanding code; linked
// into the EFI image only (the host uses its C library).
#include <stddef.h>

extern "C" {

void *memcpy(void *Destination, const void *Source, size_t Length) {
  unsigned char *To = static_cast<unsigned char *>(Destination);
  const unsigned char *From = static_cast<const unsigned char *>(Source);
  for (size_t Index = 0; Index < Length; Index++) {
    To[Index] = From[Index];
  }
  return Destination;
}

void *memmove(void *Destination, const void *Source, size_t Length) {
  unsigned char *To = static_cast<unsigned char *>(Destination);
  const unsigned char *From = static_cast<const unsigned char *>(Source);
  if (To < From) {
    for (size_t Index = 0; Index < Length; Index++) {
      To[Index] = From[Index];
    }
  } else {
    for (size_t Index = Length; Index > 0; Index--) {
      To[Index - 1] = From[Index - 1];
    }
  }
  return Destination;
}

void *memset(void *Buffer, int Value, size_t Length) {
  unsigned char *Bytes = static_cast<unsigned char *>(Buffer);
  for (size_t Index = 0; Index < Length; Index++) {
    Bytes[Index] = static_cast<unsigned char>(Value);
  }
  return Buffer;
}

int memcmp(const void *Left, const void *Right, size_t Length) {
  const unsigned char *A = static_cast<const unsigned char *>(Left);
  const unsigned char *B = static_cast<const unsigned char *>(Right);
  for (size_t Index = 0; Index < Length; Index++) {
    if (A[Index] != B[Index]) {
      return A[Index] - B[Index];
    }
  }
  return 0;
}

// Referenced by objects that use floating point; this image uses none.
int _fltused = 0;
}
