// The generated default image: descriptor, regions, masters, straps; checked
// with the controller's own view and with ifdtool where it is installed.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "sim_harness.h"

using namespace simtest;

namespace {

uint32_t Dword(const std::vector<uint8_t> &Image, uint32_t Offset) {
  uint32_t Value;
  std::memcpy(&Value, Image.data() + Offset, 4);
  return Value;
}

std::vector<uint8_t> Generate(const ConfigTweak &Tweak = {}) {
  SimConfig Config;
  SimConfigDefaults(&Config);
  if (Tweak) Tweak(Config);
  std::vector<uint8_t> Image(SimConfigFlashSize(&Config));
  SimGenerateImage(&Config, Image.data());
  return Image;
}

TEST(GeneratedImage, SixteenMiBLayout) {
  const std::vector<uint8_t> Image = Generate();
  ASSERT_EQ(Image.size(), 0x1000000u);
  EXPECT_EQ(Dword(Image, 0x10), 0x0FF0A55Au);
  const uint32_t Flmap0 = Dword(Image, 0x14);
  const uint32_t Frba = ((Flmap0 >> 16) & 0xFF) << 4;
  const uint32_t Fcba = (Flmap0 & 0xFF) << 4;
  EXPECT_EQ((Flmap0 >> 8) & 3, 0u);                // one component
  EXPECT_EQ(Dword(Image, Fcba) & 0xF, 5u);         // 16 MiB
  EXPECT_EQ(Dword(Image, Frba + 0), 0x00000000u);  // descriptor 0x000000-0x000FFF
  EXPECT_EQ(Dword(Image, Frba + 4), 0x0FFF0800u);  // BIOS 0x800000-0xFFFFFF
  EXPECT_EQ(Dword(Image, Frba + 8), 0x07FF0001u);  // ME 0x001000-0x7FFFFF
  for (uint32_t N = 3; N < 16; N++) EXPECT_EQ(Dword(Image, Frba + 4 * N), 0x00007FFFu);
  const uint32_t Fmba = (Dword(Image, 0x18) & 0xFF) << 4;
  EXPECT_EQ(Dword(Image, Fmba), 0xFFFFFF00u);  // host reads and writes every region
  // PCH and CPU strap sections are present.
  EXPECT_NE((Dword(Image, 0x18) >> 16) & 0xFF, 0u);
  EXPECT_NE((Dword(Image, 0x18) >> 24) & 0xFF, 0u);
  EXPECT_NE(Dword(Image, 0x1C) & 0xFF, 0u);
  EXPECT_NE((Dword(Image, 0x1C) >> 8) & 0xFF, 0u);
}

TEST(GeneratedImage, EightMiBChipPutsBiosInTheUpperHalf) {
  const std::vector<uint8_t> Image =
      Generate([](SimConfig &S) { S.ChipIndex = SimFindChipByName("25L6405D"); });
  ASSERT_EQ(Image.size(), 0x800000u);
  EXPECT_EQ(Dword(Image, 0x44), 0x07FF0400u);   // BIOS 0x400000-0x7FFFFF
  EXPECT_EQ(Dword(Image, 0x48), 0x03FF0001u);   // ME 0x001000-0x3FFFFF
  EXPECT_EQ(Dword(Image, 0x30) & 0xFF, 0xF4u);  // 8 MiB, no second component
}

TEST(GeneratedImage, TwoComponentsAndLockedMasters) {
  const std::vector<uint8_t> Image = Generate([](SimConfig &S) {
    S.ChipIndex = SimFindChipByName("25L6405D");
    S.Components = 2;
    S.LockedDescriptor = true;
  });
  ASSERT_EQ(Image.size(), 0x1000000u);
  EXPECT_EQ((Dword(Image, 0x14) >> 8) & 3, 1u);
  EXPECT_EQ(Dword(Image, 0x30) & 0xFF, 0x44u);
  EXPECT_EQ(Dword(Image, 0x44), 0x0FFF0800u);
  EXPECT_EQ(Dword(Image, 0x80), 0x00A00F00u);
}

TEST(GeneratedImage, SeedDecidesTheContentsOutsideTheDescriptor) {
  const std::vector<uint8_t> A = Generate([](SimConfig &S) { S.Seed = 1; });
  const std::vector<uint8_t> B = Generate([](SimConfig &S) { S.Seed = 1; });
  const std::vector<uint8_t> C = Generate([](SimConfig &S) { S.Seed = 2; });
  EXPECT_TRUE(A == B);
  EXPECT_FALSE(std::equal(A.begin() + 0x1000, A.end(), C.begin() + 0x1000));
  EXPECT_TRUE(std::equal(A.begin(), A.begin() + 0x1000, C.begin()));
}

TEST(GeneratedImage, WithoutDescriptorNoSignatureAtTheMap) {
  for (uint64_t Seed = 0; Seed < 16; Seed++) {
    const std::vector<uint8_t> Image = Generate([Seed](SimConfig &S) {
      S.NoDescriptor = true;
      S.Seed = Seed;
    });
    EXPECT_NE(Dword(Image, 0x10), 0x0FF0A55Au);
  }
}

// ---- ifdtool (Debian coreboot-utils)
std::string FindIfdtool() {
  for (const char *Path : {"/usr/sbin/ifdtool", "/usr/bin/ifdtool", "/usr/local/bin/ifdtool"}) {
    if (access(Path, X_OK) == 0) return Path;
  }
  return "";
}

std::string RunIfdtool(const std::string &Tool, const std::string &Arguments,
                       const std::vector<uint8_t> &Image) {
  char Name[] = "/tmp/pchflash-ifd-XXXXXX";
  const int Fd = mkstemp(Name);
  if (Fd < 0) return "";
  close(Fd);
  std::ofstream(Name, std::ios::binary)
      .write(reinterpret_cast<const char *>(Image.data()),
             static_cast<std::streamsize>(Image.size()));
  std::string Output;
  const std::string Command = Tool + " " + Arguments + " " + Name + " 2>&1";
  if (FILE *Pipe = popen(Command.c_str(), "r")) {
    char Buffer[4096];
    size_t Got;
    while ((Got = fread(Buffer, 1, sizeof(Buffer), Pipe)) > 0) Output.append(Buffer, Got);
    pclose(Pipe);
  }
  std::remove(Name);
  return Output;
}

bool Has(const std::string &Text, const std::string &Line) {
  return Text.find(Line) != std::string::npos;
}

TEST(Ifdtool, DecodesTheDefaultImageRegions) {
  const std::string Tool = FindIfdtool();
  if (Tool.empty()) GTEST_SKIP() << "ifdtool (Debian coreboot-utils) is not installed";
  const std::string Out = RunIfdtool(Tool, "-d", Generate());
  EXPECT_TRUE(Has(Out, "Flash Region 0 (Flash Descriptor): 00000000 - 00000fff")) << Out;
  EXPECT_TRUE(Has(Out, "Flash Region 1 (BIOS): 00800000 - 00ffffff")) << Out;
  EXPECT_TRUE(Has(Out, "Flash Region 2 (Intel ME): 00001000 - 007fffff")) << Out;
  EXPECT_TRUE(Has(Out, "Flash Region 3 (GbE)") && Has(Out, "(unused)")) << Out;
  EXPECT_TRUE(Has(Out, "Found PCH Strap Section")) << Out;
}

TEST(Ifdtool, DecodesTheHundredSeriesFieldsWithThePlatformGiven) {
  const std::string Tool = FindIfdtool();
  if (Tool.empty()) GTEST_SKIP() << "ifdtool (Debian coreboot-utils) is not installed";
  const std::string Out = RunIfdtool(Tool, "-p sklkbl -d", Generate());
  EXPECT_TRUE(Has(Out, "100/200 series Sunrise Point")) << Out;
  EXPECT_TRUE(Has(Out, "Component 1 Density:                 16MB")) << Out;
  EXPECT_TRUE(Has(Out, "Component 2 Density:                 UNUSED")) << Out;
  EXPECT_TRUE(Has(Out, "Read Clock Frequency:                17MHz")) << Out;
  EXPECT_TRUE(Has(Out, "FLMSTR1:   0xffffff00 (Host CPU/BIOS)")) << Out;
  EXPECT_TRUE(Has(Out, "Found Processor Strap Section")) << Out;

  const std::string Locked = RunIfdtool(Tool, "-p sklkbl -d", Generate([](SimConfig &S) {
                                          S.LockedDescriptor = true;
                                          S.ChipIndex = SimFindChipByName("25L6405D");
                                        }));
  EXPECT_TRUE(Has(Locked, "FLMSTR1:   0x00a00f00 (Host CPU/BIOS)")) << Locked;
  EXPECT_TRUE(Has(Locked, "Flash Region 1 (BIOS): 00400000 - 007fffff")) << Locked;
  EXPECT_TRUE(Has(Locked, "Component 1 Density:                 8MB")) << Locked;
}

}  // namespace
