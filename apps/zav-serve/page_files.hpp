// The page's files as the server gives them: only files directly in the web folder or in its
// dist/ and lib/ folders (never web/tests, node_modules or sources), of the kinds a page is made
// of, opened without following a symbolic link, never a name starting with '.', and only by a
// path that, decoded, holds nothing but letters, digits, '-', '_', '.' and '/' (a NUL, a
// control byte or any other byte: 404); a folder's path gives its index.html and is never
// listed. At most one byte range: a single satisfiable range answers 206, an unsatisfiable one
// 416; several are ignored (the whole file, 200).
#pragma once

#include <filesystem>

#include "http_layer.hpp"

namespace zavserve {

class PageFiles {
 public:
  // Throws std::runtime_error when `web` is not a folder.
  explicit PageFiles(const std::filesystem::path& web);
  ~PageFiles();
  PageFiles(const PageFiles&) = delete;
  PageFiles& operator=(const PageFiles&) = delete;

  // Answers GET or HEAD of req.path: 200 or 206 with the file, 404, or 416.
  void Answer(const Request& req, Response& res) const;

 private:
  int folder_ = -1;
};

}  // namespace zavserve
