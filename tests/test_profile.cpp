// The settings file layer: reading and writing keys as the two programs share them.

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "common/PrivateProfile.h"

namespace {

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path = std::string(TEST_DATA_DIR) + "/profile_" + std::to_string(getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".ini";
    std::remove(path.c_str());
  }
  void TearDown() override { std::remove(path.c_str()); }

  void Put(const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
  std::string Bytes() const {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  std::string path;
};

TEST_F(ProfileTest, ReadsKeysWithoutRegardToCaseOrLineEnding) {
  Put("; comment\n[Geral]\nAutoGravar=S\r\nMB Livres = 200 \n\n[Local]\nR1=/srv/a\n"
      "[geral]\nDiasRec=7\n");
  PrivateProfile p(path);
  struct Case {
    const char* section;
    const char* key;
    const char* expected;
  };
  const Case cases[] = {
      {"Geral", "AutoGravar", "S"}, {"GERAL", "autogravar", "S"}, {"Geral", "MB Livres", "200"},
      {"Local", "R1", "/srv/a"},    {"Local", "R2", ""},          {"Nada", "R1", ""},
      {"Geral", "R1", ""},        // a key of another section
      {"Geral", "DiasRec", "7"},  // a second block of the same section
  };
  for (const Case& c : cases)
    EXPECT_EQ(p.ReadString(c.section, c.key), c.expected) << c.section << "/" << c.key;
  EXPECT_EQ(p.ReadString("Local", "R9", "none"), "none");
}

TEST_F(ProfileTest, MissingFileReadsEmptyAndTheFirstWriteCreatesIt) {
  PrivateProfile p(path);
  EXPECT_FALSE(p.Exists());
  EXPECT_EQ(p.ReadString("Geral", "Emissoras"), "");
  p.WriteString("Gravacao", "Formato", "4");
  p.WriteString("Geral", "AutoGravar", "S");
  p.WriteString("Geral", "MB Livres", "200");
  p.WriteString("Emissoras", "R1", "");
  EXPECT_TRUE(p.Exists());
  EXPECT_EQ(Bytes(),
            "[Gravacao]\r\nFormato=4\r\n[Geral]\r\nAutoGravar=S\r\nMB Livres=200\r\n"
            "[Emissoras]\r\nR1=\r\n");
  EXPECT_EQ(p.ReadString("geral", "mb livres"), "200");
}

TEST_F(ProfileTest, AWriteChangesOneLineAndKeepsTheRest) {
  Put("; kept\n[Geral]\nAutoGravar=S\nDiasRec=30\n\n[Local]\nR1=/a\n[LocalPlay]\nR1=/p\n");
  PrivateProfile p(path);
  p.WriteString("geral", "DIASREC", "7");    // replaced where it stands
  p.WriteString("Local", "R2", "/b");        // added behind the section's last key
  p.WriteString("Geral", "TempoRec", "10");  // added before the blank line
  EXPECT_EQ(Bytes(),
            "; kept\r\n[Geral]\r\nAutoGravar=S\r\nDIASREC=7\r\nTempoRec=10\r\n\r\n[Local]\r\n"
            "R1=/a\r\nR2=/b\r\n[LocalPlay]\r\nR1=/p\r\n");
}

TEST_F(ProfileTest, TextIsWindows1252InTheFile) {
  PrivateProfile p(path);
  p.WriteString("Emissoras", "R1", "Rádio São João – Nº 1");
  // á ã ã: one byte each; the en dash is 0x96 in Windows-1252.
  EXPECT_EQ(Bytes(),
            "[Emissoras]\r\nR1=R\xE1"
            "dio S\xE3o Jo\xE3o \x96 N\xBA 1\r\n");
  EXPECT_EQ(p.ReadString("Emissoras", "R1"), "Rádio São João – Nº 1");
  // A character Windows-1252 lacks cannot be stored as itself.
  p.WriteString("Emissoras", "R2", "Ω");
  EXPECT_EQ(p.ReadString("Emissoras", "R2"), "?");
}

TEST(Cp1252, RoundTripsEveryByte) {
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(all)), all);
  EXPECT_EQ(Cp1252ToUtf8("\x80"), "€");
  EXPECT_EQ(Utf8ToCp1252("\xC3"), "?");  // a cut sequence
}

}  // namespace
