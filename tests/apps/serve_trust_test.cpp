// Whom zav-serve believes: the registrations a credential is entitled to and nothing written
// inside a file, nginx on its socket and no other process, one CN, token files only their
// owner may write.
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/serve_harness.hpp"

namespace zav::testing {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

class ServeTrust : public ServeTest {
 protected:
  fs::path tokens = base / "tokens";

  // An archive named for the sample employer holding a file made by another employer.
  std::pair<std::string, std::string> ForeignArchive(const std::string& folio) {
    PaymentPlan plan = OnTimePlan(folio);
    plan.registro_patronal = "B9999999999";
    plan.rfc = "WXYZ010101AB1";
    return Archive(folio, &plan);
  }
};

// 3. Anyone could upload for any employer, and a forged first upload of a name locked its
// employer out; a simple cross-site POST was stored too (the metrics test, in
// serve_exhaustion_test.cpp, sends one); anyone holding a token or certificate that named an
// RFC stored a file for any registration whose file carried that RFC. Now only an uploader
// entitled to the registration stores (an RFC entitles only the registrations the operator
// tied to it), no browser page of another site can, and whoever tried a name first, the
// employer's own upload is stored.
TEST_F(ServeTrust, OnlyUploadersEntitledToTheRegistrationStoreAndNoOtherSite) {
  ServeProcess server(uploads, web, {"--allow-origin", "https://portal.example"});
  ASSERT_TRUE(server.listening()) << server.first_line();
  const std::string mine = server.Bearer();
  struct Case {
    const char* what;
    std::vector<std::string> headers;
    int status;
    std::string cause;
  } cases[] = {
      {"no credentials", {}, 401, "unauthenticated"},
      {"an unknown token", {"Authorization: Bearer 0123"}, 401, "unauthenticated"},
      {"a certificate subject over TCP",
       {"X-Zav-Client-Subject: CN=A1234567890"},
       401,
       "unauthenticated"},
      {"another employer's token", {Bearer(tokens, {"B9999999999"})}, 403, "forbidden"},
      {"another RFC's token", {Bearer(tokens, {"WXYZ010101AB1=B9999999999"})}, 403, "forbidden"},
      {"the file's RFC alone", {TokenLine("rfc-alone", "ABCD010101XY1")}, 403, "forbidden"},
      {"the file's RFC tied to another registration",
       {TokenLine("rfc-tied-elsewhere", "ABCD010101XY1=B9999999999")},
       403,
       "forbidden"},
      {"a page of another site", {mine, "Origin: https://evil.example"}, 403, "foreign_origin"},
      {"a cross-site fetch", {mine, "Sec-Fetch-Site: cross-site"}, 403, "foreign_origin"},
      {"the employer's own token", {mine, "Origin: http://127.0.0.1"}, 201, ""},
      {"a page of a site let in", {mine, "Origin: https://portal.example"}, 201, ""},
      {"the file's RFC tied to its registration",
       {Bearer(tokens, {"ABCD010101XY1=A1234567890"})},
       201,
       ""},
  };
  int folio = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto [name, archive] = Archive(std::to_string(1000000 + ++folio).substr(1));
    const HttpReply reply = server.Upload(name, archive, c.headers);
    EXPECT_EQ(reply.status, c.status) << reply.body;
    if (!c.cause.empty()) {
      EXPECT_EQ(json::parse(reply.body)["cause"], c.cause) << reply.body;
    }
    EXPECT_EQ(fs::exists(uploads / name), c.status == 201);
    if (c.status != 201) {
      EXPECT_EQ(server.Upload(name, archive).status, 201);  // its owner's
    }
  }
  // `token add` ties an RFC or refuses it alone.
  const Ran alone = Shell(std::string(ZAV_BINARY) + " serve token add --tokens " + tokens.string() +
                          " ABCD010101XY1");
  EXPECT_EQ(alone.status, 64);
  EXPECT_NE(alone.out.find("ABCD010101XY1=REGISTRATION"), std::string::npos) << alone.out;

  // Behind nginx, on the server's own socket, the certificate nginx verified names the
  // uploader: a CN that is a registration that one, a CN that is an RFC what --cert-map ties
  // to it; a subject of several CNs names no one, whichever of them looks like an employer.
  const fs::path map = base / "cert-map";
  std::ofstream(map) << "ABCD010101XY1 B9999999999  # the file's RFC, another registration\n"
                        "WXYZ010101AB1 C0000000000 A1234567890\n";
  const fs::path front_uploads = base / "front" / "uploads";
  ServeProcess front(front_uploads, web,
                     {"--socket", (base / "zav.sock").string(), "--cert-map", map.string()});
  ASSERT_TRUE(front.listening()) << front.first_line() << front.Log();
  const struct {
    const char* subject;
    int status;
  } subjects[] = {
      {"O=Example,CN=B9999999999", 403},   {"CN=ABCD010101XY1,O=Example", 403},
      {"CN=QRST010101AB1", 403},           {"O=x\\,CN=A1234567890", 401},
      {"CN=x,CN=A1234567890", 401},        {"CN=A1234567890+CN=B9999999999", 401},
      {"O=Example,CN=WXYZ010101AB1", 201}, {"CN=A1234567890,O=Example", 201},
  };
  std::string last;
  for (const auto& [subject, status] : subjects) {
    SCOPED_TRACE(subject);
    const auto [name, archive] = Archive(std::to_string(1000000 + ++folio).substr(1));
    const HttpReply reply = front.Upload(
        name, archive, {std::string("X-Zav-Client-Subject: ") + subject, "X-Real-IP: 203.0.113.5"});
    EXPECT_EQ(reply.status, status) << reply.body;
    EXPECT_EQ(fs::exists(front_uploads / name), status == 201);
    last = name;
  }
  const json receipt = json::parse(ReadAll(front_uploads / (last + ".json")));
  EXPECT_EQ(receipt["uploader"], "cert:A1234567890");
  EXPECT_EQ(receipt["client"], "203.0.113.5");
}

// A refusal said whether another employer's name was stored (403) or free (422 wrong_name):
// now the credentials alone decide, before the store is looked at.
TEST_F(ServeTrust, ARefusalSaysNothingOfWhatIsStored) {
  ServeProcess server(uploads, web);
  ASSERT_TRUE(server.listening());
  const std::string intruder = TokenLine("intruder", "WXYZ010101AB1 B9999999999");
  const auto [stored, genuine] = Archive("000001");
  ASSERT_EQ(server.Upload(stored, genuine).status, 201);
  const auto [same_name, forged_stored] = ForeignArchive("000001");
  const auto [free_name, forged_free] = ForeignArchive("000002");
  const HttpReply on_stored = server.Upload(stored, forged_stored, {intruder});
  const HttpReply on_free = server.Upload(free_name, forged_free, {intruder});
  EXPECT_EQ(on_stored.status, 403) << on_stored.body;
  EXPECT_EQ(on_free.status, on_stored.status) << on_free.body;
  EXPECT_EQ(on_free.body, on_stored.body);
  EXPECT_FALSE(fs::exists(uploads / free_name));
}

// A process that connects to the socket, and what its upload gets.
struct Connector {
  const char* what;
  uid_t uid;
  std::vector<std::string> headers;
  int status;
};

// Runs the upload `request` from a child process of user `uid` in group `gid`: the status.
int UploadAs(uid_t uid, gid_t gid, const Endpoint& to, const std::string& request) {
  int fds[2];
  if (::pipe(fds) != 0) return -1;
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(fds[0]);
    const passwd* user = ::getpwuid(uid);
    int status = -2;
    // Whatever fails here must end this child, never unwind into the test's own clean-up.
    try {
      if (user != nullptr && ::setgroups(0, nullptr) == 0 && ::setgid(gid) == 0 &&
          ::setuid(uid) == 0) {
        status = RawExchange(to, request).status;
      }
    } catch (const std::exception& e) {
      std::fprintf(stderr, "upload as uid %u: %s\n", static_cast<unsigned>(uid), e.what());
      status = -3;
    }
    [[maybe_unused]] const ssize_t n = ::write(fds[1], &status, sizeof status);
    ::_exit(0);
  }
  ::close(fds[1]);
  int status = -1;
  if (::read(fds[0], &status, sizeof status) != sizeof status) status = -1;
  ::close(fds[0]);
  ::waitpid(child, nullptr, 0);
  return status;
}

// Every process of nginx's group could reach the socket and upload as any certificate, and
// write any client address into receipts and the log. Now only nginx's own user speaks for
// the client; whoever else connects is an anonymous client.
TEST_F(ServeTrust, OnlyNginxsUserSpeaksForTheClient) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run processes of other users";
  const auto uid = [](const char* name) {
    const passwd* user = ::getpwnam(name);
    return user != nullptr ? user->pw_uid : 0;
  };
  const uid_t front_uid = uid("www-data"), other_uid = uid("nobody");
  if (front_uid == 0 || other_uid == 0) GTEST_SKIP() << "no users www-data and nobody";
  const gid_t web_group = ::getpwnam("www-data")->pw_gid;  // another user of nginx's group
  // A folder every user may pass through, as /run/zav-serve is for nginx's group.
  std::string folder = (fs::temp_directory_path() / "zav-trust-XXXXXX").string();
  ASSERT_NE(::mkdtemp(folder.data()), nullptr);
  const struct Removed {
    std::string path;
    ~Removed() {
      std::error_code ec;
      fs::remove_all(path, ec);
    }
  } removed{folder};
  ::chmod(folder.c_str(), 0711);
  const fs::path socket = fs::path(folder) / "zav.sock";
  {
    ServeProcess server(uploads, web, {"--socket", socket.string(), "--front-user", "www-data"});
    ASSERT_TRUE(server.listening()) << server.first_line() << server.Log();
    ::chmod(socket.c_str(), 0666);  // the group's processes: here, any
    const std::string subject = "X-Zav-Client-Subject: CN=A1234567890";
    const Connector connectors[] = {
        {"another user of the web group, forging a certificate", other_uid, {subject}, 401},
        {"root, forging a certificate", 0, {subject}, 401},
        {"another user, with a token and a forged address",
         other_uid,
         {server.Bearer(), "X-Real-IP: 203.0.113.66"},
         201},
        {"nginx's user", front_uid, {subject, "X-Real-IP: 203.0.113.5"}, 201},
    };
    int folio = 0;
    std::vector<std::string> stored;
    for (const Connector& c : connectors) {
      SCOPED_TRACE(c.what);
      const auto [name, archive] = Archive(std::to_string(1000000 + ++folio).substr(1));
      const int status = c.uid == 0 ? server.Upload(name, archive, c.headers).status
                                    : UploadAs(c.uid, web_group, server.endpoint(),
                                               UploadRequest(name, archive, c.headers));
      EXPECT_EQ(status, c.status);
      EXPECT_EQ(fs::exists(uploads / name), c.status == 201);
      if (c.status == 201) stored.push_back(name);
    }
    ASSERT_EQ(stored.size(), 2u);
    const json anonymous = json::parse(ReadAll(uploads / (stored[0] + ".json")));
    EXPECT_EQ(anonymous["client"], "unix");
    const json fronted = json::parse(ReadAll(uploads / (stored[1] + ".json")));
    EXPECT_EQ(fronted["uploader"], "cert:A1234567890");
    EXPECT_EQ(fronted["client"], "203.0.113.5");
    EXPECT_EQ(server.Log().find("203.0.113.66"), std::string::npos);
  }
}

// A token file its group or others could write was used as it was: whoever appended a line
// minted a token. Now such a file (or one that is not a regular file) stops the server at
// start, and counts for nothing when it turns so while the server runs.
TEST_F(ServeTrust, ATokenFileOthersMayWriteIsRefused) {
  {
    ServeProcess first(uploads, web);  // makes the token file, then stops
    ASSERT_TRUE(first.listening());
  }
  fs::permissions(tokens, fs::perms::group_write, fs::perm_options::add);
  const fs::path directory_base = base / "directory";
  fs::create_directories(directory_base / "tokens");
  std::ofstream(directory_base / "token") << "Authorization: Bearer none";
  const struct {
    const char* what;
    fs::path uploads;
    std::vector<std::string> extra;
    int status;
    const char* says;
  } starts[] = {
      {"a token file its group may write", uploads, {}, 2, "chmod go-w"},
      {"a folder for a token file", directory_base / "uploads", {}, 2, "not a regular file"},
      {"an unknown front user",
       base / "front" / "uploads",
       {"--socket", (base / "zav.sock").string(), "--front-user", "no-such-user-zav"},
       64,
       "--front-user"},
  };
  for (const auto& s : starts) {
    SCOPED_TRACE(s.what);
    ServeProcess refused(s.uploads, web, s.extra);
    EXPECT_FALSE(refused.listening());
    EXPECT_EQ(refused.Wait(), s.status);
    EXPECT_NE(refused.Log().find(s.says), std::string::npos) << refused.Log();
  }
  const Ran add = Shell(std::string(ZAV_BINARY) + " serve token add --tokens " + tokens.string() +
                        " A1234567890");
  EXPECT_EQ(add.status, 64) << add.out;

  fs::permissions(tokens, fs::perms::group_write, fs::perm_options::remove);
  ServeProcess server(uploads, web);
  ASSERT_TRUE(server.listening());
  const auto [name, archive] = Archive("000001");
  const std::string minted = TokenLine("minted", "A1234567890");
  fs::permissions(tokens, fs::perms::others_write, fs::perm_options::add);
  EXPECT_EQ(server.Upload(name, archive, {minted}).status, 401);
  EXPECT_EQ(server.Upload(name, archive).status, 401);  // nothing in it counts
  fs::permissions(tokens, fs::perms::others_write, fs::perm_options::remove);
  EXPECT_EQ(server.Upload(name, archive).status, 201);
}

}  // namespace
}  // namespace zav::testing
