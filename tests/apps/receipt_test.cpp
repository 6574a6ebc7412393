// Signed receipts: the key file, signing, and the offline check naming a changed field.
#include "receipt/receipt.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "apps/zav-serve/signing.hpp"
#include "platform/temp_drives.hpp"

namespace zav {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;
using receipt::Verify;
using zavserve::ReceiptSigner;

json SampleReceipt() {
  json r = json::parse(R"({"receipt_number": "20040510T120000Z-0123456789ABCDEF",
      "archive": "33501e01.m1.s0870.rA1234567890.f000001.p200404.e999.zip",
      "registration": "A1234567890", "rfc": "ABCD010101XY1", "period": "200404",
      "folio": "000001", "workers": 7, "amount_imss": "1200.50", "amount_rcv": "300.00",
      "amount_infonavit_contribution": "250.25", "amount_infonavit_amortization": "0.00",
      "total": "1750.75", "capture_line": "A1234567890-000001-200404-1750.75",
      "server_date": "10/05/2004", "received": "2004-05-10T12:00:00.000Z"})");
  r["payment_sha256"] = std::string(64, 'a');
  r["archive_sha256"] = std::string(64, 'b');
  r["uploader"] = "token:0123abcd";
  r["client"] = "127.0.0.1";
  return r;
}

class Receipts : public ::testing::Test {
 protected:
  testing::TempDrives temp{"C=fixed"};
  fs::path key_file = temp.base() / "state" / "receipt-key.pem";
  void SetUp() override { fs::create_directories(key_file.parent_path()); }
};

// Valid as signed and through text; each changed field named; nothing unproven valid.
TEST_F(Receipts, ASignedReceiptVerifiesAndWhatIsNotProvenIsNeverValid) {
  const ReceiptSigner signer = ReceiptSigner::FromKeyFile(key_file);
  const ReceiptSigner other = ReceiptSigner::FromKeyFile(temp.base() / "other.pem");
  const receipt::PublicKey key = *receipt::ParsePublicKey(signer.PublicKeyAnswer().dump());
  json signed_receipt = SampleReceipt(), by_other = SampleReceipt();
  signer.Sign(signed_receipt);
  other.Sign(by_other);
  EXPECT_EQ(signed_receipt["key_id"], signer.key_id());
  EXPECT_EQ(signed_receipt["signed_fields"].size(), receipt::SignedFieldNames().size());

  for (const std::string& field : receipt::SignedFieldNames()) {
    SCOPED_TRACE(field);
    json changed = signed_receipt;
    json& value = changed[field];
    value = value.is_number() ? json(value.get<int>() + 1) : json(value.get<std::string>() + "0");
    const receipt::Verdict v = Verify(changed, key);
    EXPECT_FALSE(v.valid);
    EXPECT_EQ(v.changed, std::vector<std::string>{field});
  }

  struct Case {
    const char* what;
    json receipt;
    bool valid;
    std::vector<std::string> unsigned_fields = {};
    std::vector<std::string> left_out = {};
  } cases[] = {
      {"as signed", signed_receipt, true},
      {"through text and back", json::parse(signed_receipt.dump(2)), true},
      {"who and from where left out, as for another uploader",
       signed_receipt,
       true,
       {},
       {"uploader", "client"}},
      {"a field added", signed_receipt, false, {"note"}},
      {"a digest changed along with its value", signed_receipt, false},
      {"a field dropped from signed_fields", signed_receipt, false},
      {"the signature of another key", by_other, false},
      {"the other key's signature under this key's id", by_other, false},
      {"no signature", signed_receipt, false},
  };
  cases[2].receipt.erase("uploader");
  cases[2].receipt.erase("client");
  cases[3].receipt["note"] = "pagado";
  cases[4].receipt["total"] = "1.00";
  cases[4].receipt["field_sha256"]["total"] = receipt::FieldDigest("total", "1.00");
  cases[5].receipt["signed_fields"].erase(cases[5].receipt["signed_fields"].size() - 1);
  cases[7].receipt["key_id"] = signer.key_id();
  cases[8].receipt.erase("signature");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const receipt::Verdict v = Verify(c.receipt, key);
    EXPECT_EQ(v.valid, c.valid) << v.problem;
    EXPECT_EQ(v.valid, v.problem.empty()) << v.problem;
    EXPECT_EQ(v.unsigned_fields, c.unsigned_fields);
    EXPECT_EQ(v.left_out, c.left_out);
  }
}

TEST_F(Receipts, TheKeyFileIsMadeOnceForItsOwnerAloneAndRefusedOtherwise) {
  const std::string key_id = ReceiptSigner::FromKeyFile(key_file).key_id();
  struct stat st {};
  ASSERT_EQ(::stat(key_file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(ReceiptSigner::FromKeyFile(key_file).key_id(), key_id);  // not made anew
  EXPECT_EQ(testing::Listing(key_file.parent_path()), std::vector<std::string>{"receipt-key.pem"});

  // The public key as served and as PEM is the same key.
  const json answer = ReceiptSigner::FromKeyFile(key_file).PublicKeyAnswer();
  EXPECT_EQ(std::tuple(answer["algorithm"].get<std::string>(), answer["key_id"].get<std::string>(),
                       receipt::FromBase64(answer["public_key"].get<std::string>())->size(),
                       receipt::ParsePublicKey(answer["pem"].get<std::string>())->key_id),
            std::tuple("Ed25519", key_id, 32u, key_id));

  for (const fs::perms mode :
       {fs::perms::others_read, fs::perms::group_read, fs::perms::group_write}) {
    fs::permissions(key_file, fs::perms::owner_read | fs::perms::owner_write | mode);
    EXPECT_THROW(ReceiptSigner::FromKeyFile(key_file), std::runtime_error);
  }
  fs::permissions(key_file, fs::perms::owner_read | fs::perms::owner_write);
  const fs::path link = temp.base() / "state" / "link.pem", garbage = temp.base() / "garbage.pem";
  fs::create_symlink(key_file, link);
  std::ofstream(garbage) << "not a key\n";
  fs::permissions(garbage, fs::perms::owner_read);
  for (const fs::path& refused : {link, garbage}) {
    EXPECT_THROW(ReceiptSigner::FromKeyFile(refused), std::runtime_error) << refused;
  }
}

TEST(ReceiptText, Base64RoundTripsAndRefusesWhatIsNot) {
  for (const std::string& bytes :
       std::vector<std::string>{"", "f", "fo", "foo", "foob", std::string("\0\xff\x10", 3)}) {
    EXPECT_EQ(receipt::FromBase64(receipt::Base64(bytes)), bytes);
  }
  EXPECT_EQ(receipt::Base64("foobar"), "Zm9vYmFy");
  for (const char* bad : {"Zm9", "Zm9v!A==", "Z===", "=Zm9", "Zm=v"}) {
    EXPECT_FALSE(receipt::FromBase64(bad).has_value()) << bad;
  }
}

}  // namespace
}  // namespace zav
