// zav-serve alone, for what its deployment relies on: only the page's files are served
// whatever the path's encoding hides, and what a power loss leaves in the upload folder
// never holds a name for good.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/serve_harness.hpp"

namespace zav {
namespace {

namespace fs = std::filesystem;
using testing::HttpReply;
using testing::RawExchange;

class ServeDeploy : public testing::ServeTest {};

// A NUL, control byte or other encoding in the path once cut the name short where it was
// opened (/package.json%00.js served package.json); now the decoded path is judged whole.
TEST_F(ServeDeploy, PathTricksServeNoFileOutsideThePage) {
  for (const char* file : {"package.json", "build-wasm.sh", "index.html~"}) {
    std::ofstream(web / file) << "secret";
  }
  testing::ServeProcess server(uploads, web);
  ASSERT_TRUE(server.listening());
  const auto get = [](const std::string& target) {
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
  };
  struct Case {
    const char* what;
    std::string request;
    int status;
  } cases[] = {
      {"the page", get("/index.html"), 200},
      {"a file of dist/", get("/dist/zavctl.js"), 200},
      {"an encoded NUL", get("/package.json%00.js"), 404},
      {"an encoded NUL after a script", get("/build-wasm.sh%00.js"), 404},
      {"an encoded NUL after a backup", get("/index.html~%00.js"), 404},
      {"a NUL in %u form", get("/package.json%u0000.js"), 404},
      {"an overlong NUL", get("/package.json%c0%80.js"), 404},
      {"a NUL in the folder", get("/dist%00/../package.json%00.js"), 404},
      {"an encoded way up", get("/dist%2f..%2fpackage.json%00.js"), 404},
      {"a line feed", get("/package.json%0a.js"), 404},
      {"a carriage return", get("/package.json%0d.js"), 404},
      {"a tab", get("/package.json%09.js"), 404},
      {"a delete", get("/package.json%7f.js"), 404},
      {"a backslash", get("/dist%5c..%5cpackage.json%00.js"), 404},
      {"a raw NUL", get(std::string("/package.json\0.js", 17)), 400},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const HttpReply reply = RawExchange(server.endpoint(), c.request);
    if (c.status == 400) {  // the HTTP library may refuse the request line itself
      EXPECT_TRUE(reply.status == 400 || reply.status == 404) << reply.status;
    } else {
      EXPECT_EQ(reply.status, c.status) << reply.head;
    }
    EXPECT_EQ(reply.body.find("secret"), std::string::npos);
  }
}

// Power lost after the archive reached the disk but before its receipt did: the next start
// removes the archive (its upload was never answered as stored), so the name can be stored.
TEST_F(ServeDeploy, AnArchiveWithoutItsReceiptIsRemovedAtStart) {
  const auto [name, archive] = Archive("000001");
  fs::create_directories(uploads);
  std::ofstream(uploads / name, std::ios::binary) << archive;
  testing::ServeProcess server(uploads, web);
  ASSERT_TRUE(server.listening());
  EXPECT_NE(server.Log().find("removed the archive " + name), std::string::npos) << server.Log();
  const HttpReply reply = server.Upload(name, archive);
  EXPECT_EQ(reply.status, 201) << reply.body;
  EXPECT_TRUE(fs::exists(uploads / (name + ".json")));
}

}  // namespace
}  // namespace zav
