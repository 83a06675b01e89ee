#pragma once

#include <string>

namespace testing_support {

// A fresh directory under /tmp that the test works in: the constructor makes it the
// current directory, the destructor goes back and removes it with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  void Write(const std::string& name, const std::string& content) const;
  std::string Read(const std::string& name) const;

 private:
  std::string path_;
  std::string previous_;
};

}  // namespace testing_support
