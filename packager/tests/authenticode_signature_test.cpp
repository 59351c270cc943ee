// --inspect's signature check on installers signed here with osslsigncode: a throw-away CA, a
// signing certificate whose subject tries to forge fields, and a timestamping authority, made once
// for the suite. Valid signatures with and without a trust file, a file changed after signing, and
// certificate tables damaged one way each must each get their own verdict; the DER reader's edge
// cases are checked directly.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "encoding/little_endian.h"
#include "host/byte_source.h"
#include "image/pe_format.h"
#include "image/pe_image.h"
#include "inspect/installer_report.h"
#include "signature/der_reader.h"
#include "stub_packing_test.h"

namespace {

// The keys and certificates, made once: RSA keys take a while.
class SigningAuthority {
 public:
  SigningAuthority() : directory_(std::filesystem::temp_directory_path() / ("drelix_pack_signing_" + Suffix())) {
    std::filesystem::remove_all(directory_);
    std::filesystem::create_directories(directory_);
    const std::string commands =
        "cd '" + directory_.string() +
        "' && openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/O=Zarvelo/CN=Test Root CA'"
        " -addext basicConstraints=critical,CA:TRUE -keyout ca.key -out ca.pem"
        " && openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=Other Root CA' -keyout other.key -out "
        "other.pem"
        " && printf 'basicConstraints=CA:FALSE\\nextendedKeyUsage=codeSigning\\n' >leaf.ext"
        " && printf 'basicConstraints=CA:FALSE\\nextendedKeyUsage=critical,timeStamping\\n' >tsa.ext"
        // A subject that would read as two more fields and a reversed text if printed raw.
        " && openssl req -newkey rsa:2048 -nodes -utf8 -subj '/C=DE/CN=Acme, O=Microsoft \xE2\x80\xAE"
        "exe' -keyout leaf.key"
        " -out leaf.csr && openssl x509 -req -in leaf.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2"
        " -extfile leaf.ext -out leaf.pem"
        " && openssl req -newkey rsa:2048 -nodes -subj '/CN=Test TSA' -keyout tsa.key -out tsa.csr"
        " && openssl x509 -req -in tsa.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile tsa.ext"
        " -out tsa.pem && cat tsa.pem ca.pem >tsa-chain.pem";
    made_ = std::system(("(" + commands + ") >/dev/null 2>&1").c_str()) == 0;
  }
  ~SigningAuthority() { std::filesystem::remove_all(directory_); }

  bool Made() const { return made_; }
  std::filesystem::path File(const std::string& name) const { return directory_ / name; }

  // `unsigned_file` signed with `options` (osslsigncode's), or nothing when signing failed.
  Bytes Sign(const std::filesystem::path& unsigned_file, const std::string& options) const {
    const std::filesystem::path signed_file = unsigned_file.string() + ".signed";
    const std::string command = "cd '" + directory_.string() + "' && osslsigncode sign " + options +
                                " -certs leaf.pem -key leaf.key -in '" + unsigned_file.string() + "' -out '" +
                                signed_file.string() + "' >/dev/null 2>&1";
    std::filesystem::remove(signed_file);
    if (std::system(command.c_str()) != 0) return {};
    return ReadBytes(signed_file);
  }

 private:
  static std::string Suffix() { return std::to_string(testing::UnitTest::GetInstance()->random_seed()); }

  std::filesystem::path directory_;
  bool made_ = false;
};

struct Inspection {
  int code = 0;
  std::string out;
};

Inspection Inspect(const Bytes& image, const std::string& trust_file = "") {
  MemoryByteSource source(image);
  std::ostringstream out;
  std::ostringstream errors;
  Inspection result;
  result.code = ReportInstaller(source, "signed.exe", trust_file, out, errors);
  result.out = out.str() + errors.str();
  return result;
}

// Where the certificate table lies: its file offset and size, and the field that holds them.
struct TablePlace {
  std::uint32_t offset = 0;
  std::uint32_t size = 0;
  std::size_t directory_entry = 0;
};

TablePlace CertificateTable(const Bytes& image) {
  MemoryByteSource source(image);
  PeImage read;
  std::string error;
  EXPECT_TRUE(ReadPeImage(source, read, error)) << error;
  const std::size_t entry =
      read.optional_header_offset + kOptionalDataDirectoryOffset + kDataDirectorySize * kCertificateDirectory;
  return {ReadUint32(&image[entry]), ReadUint32(&image[entry + 4]), entry};
}

// Grows the table by `extra` bytes of `fill` at the end of the file, as its size and the entry's
// dwLength say.
void GrowTable(Bytes& image, std::uint32_t extra, std::uint8_t fill) {
  const TablePlace table = CertificateTable(image);
  image.insert(image.end(), extra, fill);
  WriteUint32(&image[table.directory_entry + 4], table.size + extra);
  WriteUint32(&image[table.offset], ReadUint32(&image[table.offset]) + extra);
}

// The end of the SignedData's DER in the table.
std::size_t SignedDataEnd(const Bytes& image) {
  const TablePlace table = CertificateTable(image);
  std::span<const std::uint8_t> rest(&image[table.offset + 8], table.size - 8);
  DerElement element;
  EXPECT_TRUE(ReadDerElement(rest, element));
  return table.offset + 8 + element.whole.size();
}

class AuthenticodeSignatureTest : public StubPackingTest {
 protected:
  static void SetUpTestSuite() { authority_ = new SigningAuthority; }
  static void TearDownTestSuite() {
    delete authority_;
    authority_ = nullptr;
  }
  void SetUp() override {
    StubPackingTest::SetUp();
    ASSERT_TRUE(authority_->Made()) << "openssl could not make the test certificates";
    std::string messages;
    ASSERT_EQ(PackWith(stub_, Bytes(5000, 'a'), messages, unsigned_), 0) << messages;
    unsigned_file_ = Input("unsigned.exe", unsigned_);
  }
  Bytes Signed(const std::string& options = "-h sha256") {
    Bytes bytes = authority_->Sign(unsigned_file_, options);
    EXPECT_FALSE(bytes.empty()) << "osslsigncode could not sign with " << options;
    return bytes;
  }
  std::string Trust(const std::string& name) const { return authority_->File(name).string(); }

  static SigningAuthority* authority_;
  Bytes unsigned_;
  std::filesystem::path unsigned_file_;
};

SigningAuthority* AuthenticodeSignatureTest::authority_ = nullptr;

TEST_F(AuthenticodeSignatureTest, UnsignedInstallerIsReportedAsBefore) {
  const Inspection inspection = Inspect(unsigned_);
  EXPECT_EQ(inspection.code, kInspectionWouldSucceed) << inspection.out;
  EXPECT_NE(inspection.out.find("\nsignature: none\n"), std::string::npos) << inspection.out;
  EXPECT_EQ(inspection.out.find("signature digest"), std::string::npos);
}

// Signed with each digest the tools offer: the recomputed digest matches, the signer is named with
// its forging characters escaped, and the chain is called good only when checked.
TEST_F(AuthenticodeSignatureTest, ValidSignatureIsVerifiedAndNamed) {
  for (const char* algorithm : {"sha256", "sha1", "sha512"}) {
    SCOPED_TRACE(algorithm);
    const Bytes image = Signed(std::string("-h ") + algorithm);
    const Inspection inspection = Inspect(image);
    EXPECT_EQ(inspection.code, kInspectionWouldSucceed) << inspection.out;
    EXPECT_NE(inspection.out.find("signature: Authenticode, certificate table of "), std::string::npos)
        << inspection.out;
    EXPECT_NE(inspection.out.find("signature digest: " + std::string(algorithm) + " matches "), std::string::npos)
        << inspection.out;
    EXPECT_NE(inspection.out.find("signature signer: CN=Acme\\u002C O\\u003DMicrosoft \\u202Eexe, C=DE\n"),
              std::string::npos)
        << inspection.out;
    EXPECT_NE(inspection.out.find("signature issuer: CN=Test Root CA, O=Zarvelo\n"), std::string::npos)
        << inspection.out;
    EXPECT_NE(inspection.out.find("signature time: none (no timestamp)\n"), std::string::npos) << inspection.out;
    EXPECT_NE(inspection.out.find("signature chain: not checked (no --trust given)\n"), std::string::npos)
        << inspection.out;
    EXPECT_EQ(inspection.out.find("valid"), std::string::npos) << inspection.out;
    EXPECT_EQ(inspection.out.find("signed yes"), std::string::npos) << inspection.out;
  }
}

TEST_F(AuthenticodeSignatureTest, ChainIsCheckedAgainstTheTrustFileNamed) {
  const Bytes image = Signed();
  Inspection inspection = Inspect(image, Trust("ca.pem"));
  EXPECT_EQ(inspection.code, kInspectionWouldSucceed) << inspection.out;
  EXPECT_NE(inspection.out.find("signature chain: verifies against \"" + Trust("ca.pem") + "\"\n"), std::string::npos)
      << inspection.out;

  inspection = Inspect(image, Trust("other.pem"));
  EXPECT_EQ(inspection.code, kInspectionSignatureFailed) << inspection.out;
  EXPECT_NE(inspection.out.find("signature chain: fails against \"" + Trust("other.pem") +
                                "\": no chain to a certificate of the trust file\n"),
            std::string::npos)
      << inspection.out;

  inspection = Inspect(image, Trust("leaf.key"));
  EXPECT_EQ(inspection.code, kInspectionSignatureFailed) << inspection.out;
  EXPECT_NE(inspection.out.find("the trust file holds no PEM certificate"), std::string::npos) << inspection.out;
}

// osslsigncode's own timestamping authority stamps offline (RFC 3161); the time is shown, marked as
// not checked.
TEST_F(AuthenticodeSignatureTest, TimestampGivesTheSigningTime) {
  const Bytes image = Signed("-h sha256 -TSA-certs tsa-chain.pem -TSA-key tsa.key -TSA-time 1700000000");
  const Inspection inspection = Inspect(image, Trust("ca.pem"));
  EXPECT_EQ(inspection.code, kInspectionWouldSucceed) << inspection.out;
  EXPECT_NE(
      inspection.out.find("signature time: 2023-11-14 22:13:20 UTC (RFC 3161 timestamp, its signature not checked)\n"),
      std::string::npos)
      << inspection.out;
}

// Each way a signed file can be changed afterwards, and what must be said of it.
TEST_F(AuthenticodeSignatureTest, ChangedOrDamagedSignatureFails) {
  const Bytes signed_image = Signed();
  const struct {
    const char* what;
    void (*damage)(Bytes& image);
    const char* said;
  } cases[] = {
      {"a byte of the archive", [](Bytes& image) { image[image.size() / 2] ^= 1; },
       "signature digest: sha256 mismatch: signed "},
      {"wRevision", [](Bytes& image) { WriteUint16(&image[CertificateTable(image).offset + 4], 0x0100); },
       "signature: fails: the certificate's wRevision is 0x0100, not 0x0200"},
      {"wCertificateType", [](Bytes& image) { WriteUint16(&image[CertificateTable(image).offset + 6], 0x0001); },
       "the certificate's wCertificateType is 0x0001, not 0x0002"},
      {"dwLength past the table",
       [](Bytes& image) { WriteUint32(&image[CertificateTable(image).offset], CertificateTable(image).size + 1); },
       "does not fit the table"},
      {"garbage in place of the SignedData",
       [](Bytes& image) {
         const TablePlace table = CertificateTable(image);
         std::fill(image.begin() + table.offset + 8, image.end(), 0x5A);
       },
       "signature: fails: the certificate is not a PKCS #7 SignedData"},
      {"a DER SEQUENCE that is no SignedData",
       [](Bytes& image) {
         const TablePlace table = CertificateTable(image);
         const std::uint8_t sequence[] = {0x30, 0x03, 0x02, 0x01, 0x00};
         std::copy(std::begin(sequence), std::end(sequence), image.begin() + table.offset + 8);
         std::fill(image.begin() + table.offset + 8 + sizeof sequence, image.end(), 0);
       },
       "signature: fails: the certificate is not a PKCS #7 SignedData"},
      {"a truncated table",
       [](Bytes& image) {
         const TablePlace table = CertificateTable(image);
         image.resize(image.size() - 64);
         WriteUint32(&image[table.directory_entry + 4], table.size - 64);
         WriteUint32(&image[table.offset], table.size - 64);
       },
       "signature: fails: the certificate is not a PKCS #7 SignedData"},
      {"a table past the end of the file", [](Bytes& image) { image.resize(image.size() - 8); },
       "the certificate table lies outside the file"},
      {"bytes after the table", [](Bytes& image) { image.insert(image.end(), 8, 0); },
       "the certificate table does not end the file (8 bytes after it are not covered by the signature)"},
      {"data hidden after the SignedData", [](Bytes& image) { GrowTable(image, 16, 'x'); },
       "the certificate table holds data after the signature that the signature does not cover"},
      {"the signed digest",
       [](Bytes& image) {
         // The SpcIndirectDataContent comes first in the SignedData, its digest near its end: the
         // first 32-byte OCTET STRING of the table.
         const TablePlace table = CertificateTable(image);
         const std::uint8_t octets[] = {0x04, 0x20};
         const auto found =
             std::search(image.begin() + table.offset, image.end(), std::begin(octets), std::end(octets));
         ASSERT_NE(found, image.end());
         found[2] ^= 1;
       },
       "signature: fails: the signer's messageDigest attribute does not match the signed content"},
      {"the signer's signature", [](Bytes& image) { image[SignedDataEnd(image) - 1] ^= 1; },
       "signature: fails: the signer's signature does not verify"},
  };
  for (const auto& change : cases) {
    SCOPED_TRACE(change.what);
    Bytes image = signed_image;
    change.damage(image);
    const Inspection inspection = Inspect(image);
    EXPECT_EQ(inspection.code, kInspectionSignatureFailed) << inspection.out;
    EXPECT_NE(inspection.out.find(change.said), std::string::npos) << inspection.out;
    EXPECT_EQ(inspection.out.find("signature: Authenticode"), std::string::npos) << inspection.out;
  }
}

TEST(DerReaderTest, LengthsAndTagsAreChecked) {
  const struct {
    Bytes bytes;
    bool read;
  } cases[] = {
      {{0x04, 0x02, 'a', 'b'}, true},
      {{0x04, 0x03, 'a', 'b'}, false},             // longer than what is left
      {{0x04, 0x81, 0x05, 1, 2, 3, 4, 5}, false},  // a long form for a short length
      {{0x04, 0x80}, false},                       // indefinite length
      {{0x04, 0x82, 0x00, 0x80}, false},           // a leading zero
      {{0x04, 0x85, 1, 0, 0, 0, 0}, false},        // more than four length bytes
      {{0x1F, 0x01, 0x00}, false},                 // a multi-byte tag
      {{0x04}, false},
  };
  for (const auto& element_case : cases) {
    std::span<const std::uint8_t> bytes = element_case.bytes;
    DerElement element;
    EXPECT_EQ(ReadDerElement(bytes, element), element_case.read) << testing::PrintToString(element_case.bytes);
    EXPECT_EQ(bytes.size(), element_case.read ? 0u : element_case.bytes.size());
  }
}

TEST(DerReaderTest, ObjectIdentifiersAndTimes) {
  const Bytes sha256 = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
  EXPECT_EQ(DottedObjectIdentifier(sha256), "2.16.840.1.101.3.4.2.1");
  EXPECT_EQ(DottedObjectIdentifier(Bytes{0x2B, 0x06, 0x86}), std::nullopt);  // cut inside an arc
  EXPECT_EQ(DottedObjectIdentifier(Bytes{0x2B, 0x80, 0x01}), std::nullopt);  // a padded arc

  const auto time = [](std::uint8_t tag, std::string_view text) {
    DerElement element;
    element.tag = tag;
    element.content = {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
    return TextFromDerTime(element);
  };
  EXPECT_EQ(time(kDerUtcTime, "491231235959Z"), "2049-12-31 23:59:59 UTC");
  EXPECT_EQ(time(kDerUtcTime, "500101000000Z"), "1950-01-01 00:00:00 UTC");
  EXPECT_EQ(time(kDerGeneralizedTime, "20231114221320.123Z"), "2023-11-14 22:13:20 UTC");
  EXPECT_EQ(time(kDerGeneralizedTime, "20231114221320.Z"), std::nullopt);
  EXPECT_EQ(time(kDerGeneralizedTime, "20231314221320Z"), std::nullopt);
  EXPECT_EQ(time(kDerUtcTime, "2311142213200"), std::nullopt);
  EXPECT_EQ(time(kDerOctetString, "20231114221320Z"), std::nullopt);
}

}  // namespace
