// Small helpers for the tests: temporary folders and whole-file access.
#include "platform/platform.h"
#include "tests/support/image_builder.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#ifndef QUENBRIX_TEST_DATA
#define QUENBRIX_TEST_DATA "tests/data"
#endif

namespace imagebuilder {

TempDir::TempDir(const std::string& prefix) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/" + prefix + "-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (!mkdtemp(name.data())) throw std::runtime_error("cannot make a temporary folder: " + std::string(std::strerror(errno)));
  path_ = name.data();
}

void RemoveTree(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

TempDir::~TempDir() {
  if (!path_.empty()) RemoveTree(path_);
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.flush();
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string TestDataPath(const std::string& name) { return std::string(QUENBRIX_TEST_DATA) + "/" + name; }

bool RefuseExistingDisk(const std::string& tool, const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) == 0) {
    std::fprintf(stderr, "%s: %s already exists; it is left as it is and nothing is written.\n",
                 tool.c_str(), path.c_str());
    return true;
  }
  if (errno == ENOENT) return false;
  std::fprintf(stderr, "%s: cannot look at %s (%s); nothing is written.\n", tool.c_str(), path.c_str(),
               std::strerror(errno));
  return true;
}

}  // namespace imagebuilder
