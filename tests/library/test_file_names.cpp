// PC names for recorder names, and the exact length of a PC file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "library/quenbrix.h"

namespace {

// Adapts into a 300-byte destination filled with 0xEE, so writes beyond the
// 255 bytes the caller owns show up.
std::string Adapt(const std::string& source, std::vector<char>* raw = nullptr) {
  std::vector<char> dest(300, '\xEE');
  AdaptFilename(source.c_str(), dest.data());
  for (size_t i = 255; i < dest.size(); ++i) EXPECT_EQ(dest[i], '\xEE') << "byte " << i << " written";
  if (raw != nullptr) *raw = dest;
  return std::string(dest.data());
}

TEST(AdaptFilenameTest, ExamplesOfEachKind) {
  EXPECT_EQ(Adapt("Tatort: Mord?"), "Tatort. Mord_");
  EXPECT_EQ(Adapt("a/b|c*d"), "a-b-cxd");
  EXPECT_EQ(Adapt("Cr\xE8me br\xFBl\xE9" "e"), "Creme brulee");
  EXPECT_EQ(Adapt("Stra\xDF" "e"), "Strasse");
  EXPECT_EQ(Adapt("\xC6r\xF8"), "Aer\xF8");
  EXPECT_EQ(Adapt("M\xFCller"), "M\xFCller");
  EXPECT_EQ(Adapt("it\xB4s \xE6ther"), "it's aether");
}

TEST(AdaptFilenameTest, EveryReplacedCharacterAndOnlyThose) {
  const std::map<unsigned char, std::string> replaced = {
      {'?', "_"}, {'*', "x"}, {'/', "-"}, {':', "."}, {'|', "-"},
      {0xC0, "A"}, {0xC1, "A"}, {0xC2, "A"}, {0xC3, "A"}, {0xC5, "A"}, {0xC7, "C"},
      {0xC8, "E"}, {0xC9, "E"}, {0xCA, "E"}, {0xCB, "E"},
      {0xCC, "I"}, {0xCD, "I"}, {0xCE, "I"}, {0xCF, "I"}, {0xD1, "N"},
      {0xD2, "O"}, {0xD3, "O"}, {0xD4, "O"}, {0xD5, "O"}, {0xD9, "U"}, {0xDA, "U"}, {0xDB, "U"},
      {0xDD, "Y"}, {0x9F, "Y"}, {0x8A, "S"},
      {0xE0, "a"}, {0xE1, "a"}, {0xE2, "a"}, {0xE3, "a"}, {0xE5, "a"}, {0xE7, "c"},
      {0xE8, "e"}, {0xE9, "e"}, {0xEA, "e"}, {0xEB, "e"},
      {0xEC, "i"}, {0xED, "i"}, {0xEE, "i"}, {0xEF, "i"}, {0xF1, "n"},
      {0xF2, "o"}, {0xF3, "o"}, {0xF4, "o"}, {0xF5, "o"}, {0xF9, "u"}, {0xFA, "u"}, {0xFB, "u"},
      {0xFD, "y"}, {0xFF, "y"}, {0x9A, "s"}, {0xB5, "u"},
      {0xB4, "'"}, {0xC6, "Ae"}, {0xE6, "ae"}, {0xDF, "ss"}};
  EXPECT_EQ(replaced.size(), 60u);
  for (int c = 1; c < 256; ++c) {
    const auto it = replaced.find(static_cast<unsigned char>(c));
    const std::string middle = it != replaced.end() ? it->second : std::string(1, char(c));
    EXPECT_EQ(Adapt(std::string("<") + char(c) + char(c) + ">"), "<" + middle + middle + ">")
        << "character 0x" << std::hex << c;
  }
}

TEST(AdaptFilenameTest, EmptyNameGivesASingleNul) {
  std::vector<char> raw;
  EXPECT_EQ(Adapt("", &raw), "");
  EXPECT_EQ(raw[0], '\0');
  EXPECT_EQ(raw[1], '\xEE');
}

TEST(AdaptFilenameTest, AtMost254CharactersAndTheNul) {
  std::vector<char> raw;
  EXPECT_EQ(Adapt(std::string(254, 'a'), &raw), std::string(254, 'a'));
  EXPECT_EQ(raw[254], '\0');
  EXPECT_EQ(Adapt(std::string(1000, 'b'), &raw), std::string(254, 'b'));
  EXPECT_EQ(raw[254], '\0');
  // Replacements that lengthen the name stop at the limit too, even in the
  // middle of a two-character replacement.
  EXPECT_EQ(Adapt(std::string(200, '\xDF')), std::string(254, 's'));
  EXPECT_EQ(Adapt(std::string(253, 'a') + "\xC6"), std::string(253, 'a') + "A");
  EXPECT_EQ(Adapt(std::string(252, 'a') + "\xC6z"), std::string(252, 'a') + "Ae");
}

TEST(AdaptFilenameTest, NoSourceGivesAnEmptyName) {
  char dest[255];
  std::memset(dest, 'x', sizeof dest);
  AdaptFilename(nullptr, dest);
  EXPECT_EQ(dest[0], '\0');
}

// ---------------------------------------------------------- truncation

class Truncation : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = ::testing::TempDir() + "quenbrix_trunc_XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    ASSERT_GE(fd, 0);
    path_ = name.data();
    std::string data(10000, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = char('A' + i % 26);
    ASSERT_EQ(::write(fd, data.data(), data.size()), ssize_t(data.size()));
    ::close(fd);
  }
  void TearDown() override { ::unlink(path_.c_str()); }

  int64_t Size() const {
    struct stat st;
    return ::stat(path_.c_str(), &st) == 0 ? int64_t(st.st_size) : -1;
  }
  std::string Contents() const {
    std::string s(size_t(Size()), '\0');
    const int fd = ::open(path_.c_str(), O_RDONLY);
    EXPECT_EQ(::read(fd, s.data(), s.size()), ssize_t(s.size()));
    ::close(fd);
    return s;
  }

  std::string path_;
};

TEST_F(Truncation, CutsAndGrowsTheFile) {
  TruncateFile(path_.c_str(), 100);
  EXPECT_EQ(Size(), 100);
  EXPECT_EQ(Contents().substr(0, 3), "ABC");
  TruncateFile(path_.c_str(), 5000);
  EXPECT_EQ(Size(), 5000);
  const std::string grown = Contents();
  EXPECT_EQ(grown[99], char('A' + 99 % 26));
  EXPECT_EQ(grown.find_first_not_of('\0', 100), std::string::npos);
  TruncateFile(path_.c_str(), 0);
  EXPECT_EQ(Size(), 0);
}

TEST_F(Truncation, ExactSizesOfTwoGigabytesAndMore) {
  const int64_t big = (int64_t{5} << 30) + 123;  // beyond 4 GB, sparse
  ASSERT_EQ(TruncateFile64(path_.c_str(), big), 1);
  EXPECT_EQ(Size(), big);
  ASSERT_EQ(TruncateFile64(path_.c_str(), (int64_t{1} << 31) + 1), 1);
  EXPECT_EQ(Size(), (int64_t{1} << 31) + 1);
  ASSERT_EQ(TruncateFile64(path_.c_str(), (int64_t{1} << 32)), 1);
  EXPECT_EQ(Size(), int64_t{1} << 32);
  ASSERT_EQ(TruncateFile64(path_.c_str(), 7), 1);
  EXPECT_EQ(Contents(), "ABCDEFG");
}

TEST_F(Truncation, BadRequestsChangeNothingAndCreateNothing) {
  TruncateFile(path_.c_str(), -1);
  EXPECT_EQ(Size(), 10000);
  EXPECT_EQ(TruncateFile64(path_.c_str(), -1), 0);
  EXPECT_EQ(Size(), 10000);

  const std::string missing = path_ + ".missing";
  TruncateFile(missing.c_str(), 10);
  EXPECT_EQ(TruncateFile64(missing.c_str(), 10), 0);
  struct stat st;
  EXPECT_NE(::stat(missing.c_str(), &st), 0);
  EXPECT_EQ(TruncateFile64(nullptr, 10), 0);
}

}  // namespace
