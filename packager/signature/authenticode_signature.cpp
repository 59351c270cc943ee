#include "signature/authenticode_signature.h"

#include <algorithm>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "encoding/escaped_text.h"
#include "encoding/little_endian.h"
#include "encoding/text_encoding.h"
#include "host/host_file.h"
#include "image/pe_format.h"
#include "signature/der_reader.h"
#include "signature/message_digest.h"
#include "signature/signed_data.h"

namespace {

// A real signature, its certificates and timestamps included, is a few kilobytes; a trust file a
// few hundred. Larger ones are not read into memory.
constexpr std::uint32_t kLargestCertificateTable = 16 << 20;
constexpr std::uint64_t kLargestTrustFile = 16 << 20;

// The WIN_CERTIFICATE header that opens each entry of the certificate table.
constexpr std::uint32_t kWinCertificateHeaderSize = 8;
constexpr std::uint32_t kWinCertificateRevisionOffset = 4;
constexpr std::uint32_t kWinCertificateTypeOffset = 6;
constexpr std::uint16_t kWinCertRevision2 = 0x0200;
constexpr std::uint16_t kWinCertTypePkcsSignedData = 0x0002;

constexpr std::string_view kSpcIndirectDataObjectId = "1.3.6.1.4.1.311.2.1.4";
constexpr std::string_view kSpcPeImageDataObjectId = "1.3.6.1.4.1.311.2.1.15";
constexpr std::string_view kRfc3161TimestampObjectId = "1.3.6.1.4.1.311.3.3.1";
constexpr std::string_view kCountersignatureObjectId = "1.2.840.113549.1.9.6";
constexpr std::string_view kSigningTimeObjectId = "1.2.840.113549.1.9.5";
constexpr std::string_view kMessageDigestObjectId = "1.2.840.113549.1.9.4";
constexpr std::string_view kSignedDataObjectId = "1.2.840.113549.1.7.2";
constexpr std::string_view kTstInfoObjectId = "1.2.840.113549.1.9.16.1.4";

struct KnownDigest {
  std::string_view object_id;
  std::string_view name;
  DigestAlgorithm algorithm;
};
constexpr KnownDigest kKnownDigests[] = {
    {"1.3.14.3.2.26", "sha1", DigestAlgorithm::sha1},
    {"2.16.840.1.101.3.4.2.1", "sha256", DigestAlgorithm::sha256},
    {"2.16.840.1.101.3.4.2.2", "sha384", DigestAlgorithm::sha384},
    {"2.16.840.1.101.3.4.2.3", "sha512", DigestAlgorithm::sha512},
};

// The short names of RFC 4514 and the ones Windows shows, for the attributes a publisher's name
// holds; others are shown by their dotted identifier.
constexpr std::pair<std::string_view, std::string_view> kNameAttributes[] = {{"2.5.4.3", "CN"},
                                                                             {"2.5.4.6", "C"},
                                                                             {"2.5.4.7", "L"},
                                                                             {"2.5.4.8", "ST"},
                                                                             {"2.5.4.9", "STREET"},
                                                                             {"2.5.4.10", "O"},
                                                                             {"2.5.4.11", "OU"},
                                                                             {"2.5.4.5", "SERIALNUMBER"},
                                                                             {"1.2.840.113549.1.9.1", "E"},
                                                                             {"0.9.2342.19200300.100.1.25", "DC"}};

using Bytes = std::span<const std::uint8_t>;

const KnownDigest* KnownDigestOf(std::string_view object_id) {
  const auto* const known =
      std::find_if(std::begin(kKnownDigests), std::end(kKnownDigests),
                   [&](const KnownDigest& candidate) { return candidate.object_id == object_id; });
  return known != std::end(kKnownDigests) ? known : nullptr;
}

std::optional<std::string> ObjectIdentifier(Bytes& bytes) {
  DerElement element;
  if (!ReadDerElement(bytes, kDerObjectIdentifier, element)) return std::nullopt;
  return DottedObjectIdentifier(element.content);
}

// The value of a SEQUENCE or other constructed element at the start of `bytes`, moving past it.
std::optional<Bytes> Inside(Bytes& bytes, std::uint8_t tag) {
  DerElement element;
  if (!ReadDerElement(bytes, tag, element)) return std::nullopt;
  return element.content;
}

// The signed image digest of an SpcIndirectDataContent: SEQUENCE { data SEQUENCE { type, value },
// messageDigest DigestInfo SEQUENCE { AlgorithmIdentifier SEQUENCE { algorithm, parameters },
// digest OCTET STRING } }.
bool ReadIndirectData(Bytes content, SignatureFacts& facts, DigestAlgorithm& algorithm, std::string& error) {
  std::optional<Bytes> indirect = Inside(content, kDerSequence);
  std::optional<Bytes> data = indirect ? Inside(*indirect, kDerSequence) : std::nullopt;
  const std::optional<std::string> data_type = data ? ObjectIdentifier(*data) : std::nullopt;
  std::optional<Bytes> digest_info = indirect ? Inside(*indirect, kDerSequence) : std::nullopt;
  std::optional<Bytes> algorithm_identifier = digest_info ? Inside(*digest_info, kDerSequence) : std::nullopt;
  const std::optional<std::string> algorithm_id =
      algorithm_identifier ? ObjectIdentifier(*algorithm_identifier) : std::nullopt;
  DerElement digest;
  if (!data_type || !algorithm_id || !ReadDerElement(*digest_info, kDerOctetString, digest)) {
    error = "the signed SpcIndirectDataContent is malformed";
    return false;
  }
  if (*data_type != kSpcPeImageDataObjectId) {
    error = "the signature is not over a Windows image (SpcIndirectDataContent of type " + *data_type + ")";
    return false;
  }
  const KnownDigest* known = KnownDigestOf(*algorithm_id);
  if (known == nullptr) {
    error = "the image digest's algorithm " + *algorithm_id + " is not SHA-1, SHA-256, SHA-384 or SHA-512";
    return false;
  }
  facts.digest_algorithm = known->name;
  facts.signed_digest = HexDigest(digest.content);
  algorithm = known->algorithm;
  return true;
}

// A directory string as UTF-16, or nullopt for any other value.
std::optional<std::u16string> DirectoryString(const DerElement& value) {
  switch (value.tag) {
    case kDerUtf8String:
    case kDerPrintableString:
    case kDerIa5String:
      return Utf16FromUtf8(std::string_view(reinterpret_cast<const char*>(value.content.data()), value.content.size()));
    case kDerTeletexString:  // read as Latin-1, as the libraries do
      return std::u16string(value.content.begin(), value.content.end());
    case kDerBmpString: {
      if (value.content.size() % 2 != 0) return std::nullopt;
      std::u16string text;
      for (std::size_t index = 0; index < value.content.size(); index += 2)
        text += static_cast<char16_t>(value.content[index] << 8 | value.content[index + 1]);
      return text;
    }
    case kDerUniversalString: {
      if (value.content.size() % 4 != 0) return std::nullopt;
      std::u16string text;
      for (std::size_t index = 0; index < value.content.size(); index += 4) {
        const std::uint32_t code = ReadUint32(&value.content[index]);
        const std::uint32_t point = (code & 0xFF) << 24 | (code & 0xFF00) << 8 | (code >> 8 & 0xFF00) | code >> 24;
        if (point >= 0x10000 && point <= 0x10FFFF) {
          text += static_cast<char16_t>(0xD800 + ((point - 0x10000) >> 10));
          text += static_cast<char16_t>(0xDC00 + ((point - 0x10000) & 0x3FF));
        } else {
          text += static_cast<char16_t>(point <= 0xFFFF ? point : 0xFFFD);
        }
      }
      return text;
    }
    default:
      return std::nullopt;
  }
}

// A Name as "CN=..., O=..., C=..." (the most specific first, as RFC 4514 writes it). Values are
// escaped for printing, and the characters that separate fields besides: a name cannot forge
// another attribute or another line.
std::string NameText(Bytes name) {
  std::optional<Bytes> sequence = Inside(name, kDerSequence);
  if (!sequence) return "(unreadable name)";
  std::vector<std::string> parts;
  while (!sequence->empty()) {
    std::optional<Bytes> relative = Inside(*sequence, kDerSet);
    if (!relative) return "(unreadable name)";
    while (!relative->empty()) {
      std::optional<Bytes> attribute = Inside(*relative, kDerSequence);
      const std::optional<std::string> type = attribute ? ObjectIdentifier(*attribute) : std::nullopt;
      DerElement value;
      if (!type || !ReadDerElement(*attribute, value)) return "(unreadable name)";
      const auto* const known = std::find_if(std::begin(kNameAttributes), std::end(kNameAttributes),
                                             [&](const auto& candidate) { return candidate.first == *type; });
      std::string text = (known != std::end(kNameAttributes) ? std::string(known->second) : *type) + "=";
      if (const std::optional<std::u16string> string = DirectoryString(value)) {
        for (const char character : EscapedText(*string, EscapeContext::quoted)) {
          if (character == ',' || character == '+' || character == '=' || character == '"') {
            text += "\\u" + FourHexDigits(static_cast<std::uint16_t>(character));
          } else {
            text += character;
          }
        }
      } else {
        text += "#" + HexDigest(value.whole);
      }
      parts.push_back(std::move(text));
    }
  }
  std::string joined;
  for (auto part = parts.rbegin(); part != parts.rend(); ++part) joined += (joined.empty() ? "" : ", ") + *part;
  return joined;
}

// genTime of an RFC 3161 token: ContentInfo { signedData, [0] SignedData { version,
// digestAlgorithms, encapContentInfo { TSTInfo, [0] OCTET STRING { TSTInfo { version, policy,
// messageImprint, serialNumber, genTime } } } } }.
std::optional<std::string> TimestampTime(Bytes token) {
  std::optional<Bytes> content_info = Inside(token, kDerSequence);
  if (!content_info || ObjectIdentifier(*content_info) != kSignedDataObjectId) return std::nullopt;
  std::optional<Bytes> explicit_content = Inside(*content_info, DerContextTag(0));
  std::optional<Bytes> signed_data = explicit_content ? Inside(*explicit_content, kDerSequence) : std::nullopt;
  DerElement skipped;
  if (!signed_data || !ReadDerElement(*signed_data, kDerInteger, skipped) ||
      !ReadDerElement(*signed_data, kDerSet, skipped))
    return std::nullopt;
  std::optional<Bytes> encapsulated = Inside(*signed_data, kDerSequence);
  if (!encapsulated || ObjectIdentifier(*encapsulated) != kTstInfoObjectId) return std::nullopt;
  std::optional<Bytes> wrapped = Inside(*encapsulated, DerContextTag(0));
  std::optional<Bytes> octets = wrapped ? Inside(*wrapped, kDerOctetString) : std::nullopt;
  std::optional<Bytes> information = octets ? Inside(*octets, kDerSequence) : std::nullopt;
  DerElement time;
  if (!information || !ReadDerElement(*information, kDerInteger, skipped) || !ObjectIdentifier(*information) ||
      !ReadDerElement(*information, kDerSequence, skipped) || !ReadDerElement(*information, kDerInteger, skipped) ||
      !ReadDerElement(*information, kDerGeneralizedTime, time))
    return std::nullopt;
  return TextFromDerTime(time);
}

// signingTime among a countersignature's authenticated attributes: SignerInfo { version,
// issuerAndSerialNumber, digestAlgorithm, [0] IMPLICIT SET OF Attribute, ... }.
std::optional<std::string> CountersignatureTime(Bytes countersignature) {
  std::optional<Bytes> signer = Inside(countersignature, kDerSequence);
  DerElement skipped;
  if (!signer || !ReadDerElement(*signer, kDerInteger, skipped) || !ReadDerElement(*signer, kDerSequence, skipped) ||
      !ReadDerElement(*signer, kDerSequence, skipped))
    return std::nullopt;
  std::optional<Bytes> attributes = Inside(*signer, DerContextTag(0));
  while (attributes && !attributes->empty()) {
    std::optional<Bytes> attribute = Inside(*attributes, kDerSequence);
    if (!attribute) return std::nullopt;
    if (ObjectIdentifier(*attribute) != kSigningTimeObjectId) continue;
    std::optional<Bytes> values = Inside(*attribute, kDerSet);
    DerElement time;
    if (!values || !ReadDerElement(*values, time)) return std::nullopt;
    return TextFromDerTime(time);
  }
  return std::nullopt;
}

void ReadSigningTime(const std::vector<SignerAttribute>& attributes, SignatureFacts& facts) {
  for (const SignerAttribute& attribute : attributes) {
    std::optional<std::string> time;
    if (attribute.type == kRfc3161TimestampObjectId) {
      time = TimestampTime(attribute.value);
      facts.signing_time_source = "RFC 3161 timestamp";
    } else if (attribute.type == kCountersignatureObjectId) {
      time = CountersignatureTime(attribute.value);
      facts.signing_time_source = "countersignature";
    } else {
      continue;
    }
    facts.signing_time = time ? *time : "unreadable";
    return;
  }
}

// The signer's messageDigest attribute against the digest of the content's value (what PKCS #7
// signs for a content type other than data); empty when they agree, else why not.
std::string MessageDigestProblem(const DecodedSignedData& decoded) {
  const auto attribute =
      std::find_if(decoded.authenticated_attributes.begin(), decoded.authenticated_attributes.end(),
                   [](const SignerAttribute& candidate) { return candidate.type == kMessageDigestObjectId; });
  Bytes value = attribute != decoded.authenticated_attributes.end() ? Bytes(attribute->value) : Bytes();
  DerElement signed_digest;
  if (!ReadDerElement(value, kDerOctetString, signed_digest))
    return "the signer has no messageDigest attribute for the signed content";
  const KnownDigest* known = KnownDigestOf(decoded.signer_digest_algorithm);
  if (known == nullptr)
    return "the signer's digest algorithm " + decoded.signer_digest_algorithm +
           " is not SHA-1, SHA-256, SHA-384 or SHA-512";
  Bytes content = decoded.content;
  DerElement element;
  if (!ReadDerElement(content, element)) return "the signed content is malformed";
  MessageDigest digest(known->algorithm);
  digest.Update(element.content.data(), element.content.size());
  const std::vector<std::uint8_t> computed = digest.Finish();
  if (!std::equal(computed.begin(), computed.end(), signed_digest.content.begin(), signed_digest.content.end()))
    return "the signer's messageDigest attribute does not match the signed content";
  return {};
}

// The Authenticode image digest: the headers without the checksum and the certificate table's
// directory entry, each section's raw data in file order, then whatever lies between them and the
// certificate table. The table itself is left out.
std::optional<std::string> ImageDigest(const PeImage& image, ByteSource& source, std::uint64_t table_offset,
                                       DigestAlgorithm algorithm, std::string& error) {
  MessageDigest digest(algorithm);
  const std::uint32_t checksum = image.optional_header_offset + kOptionalCheckSumOffset;
  const std::uint32_t entry =
      image.optional_header_offset + kOptionalDataDirectoryOffset + kDataDirectorySize * kCertificateDirectory;
  digest.Update(image.headers.data(), checksum);
  digest.Update(image.headers.data() + checksum + 4, entry - (checksum + 4));
  digest.Update(image.headers.data() + entry + kDataDirectorySize, image.headers.size() - (entry + kDataDirectorySize));

  std::vector<SectionHeader> sections;
  std::copy_if(image.sections.begin(), image.sections.end(), std::back_inserter(sections),
               [](const SectionHeader& section) { return section.size_of_raw_data != 0; });
  std::stable_sort(sections.begin(), sections.end(), [](const SectionHeader& left, const SectionHeader& right) {
    return left.pointer_to_raw_data < right.pointer_to_raw_data;
  });
  std::uint64_t hashed = image.headers.size();
  for (const SectionHeader& section : sections) {
    hashed += section.size_of_raw_data;
    // Sections that share their data would be hashed once each: no more than the file holds.
    if (hashed > source.Size()) {
      error = "the sections' raw data add up to more than the file holds (a limit of --inspect)";
      return std::nullopt;
    }
    if (!digest.UpdateFrom(source, section.pointer_to_raw_data, section.size_of_raw_data)) {
      error = "a section's raw data cannot be read";
      return std::nullopt;
    }
  }
  if (hashed < table_offset && !digest.UpdateFrom(source, hashed, table_offset - hashed)) {
    error = "the data before the certificate table cannot be read";
    return std::nullopt;
  }
  return HexDigest(digest.Finish());
}

// The table's first WIN_CERTIFICATE, the one Windows checks, as the DER of its SignedData.
bool ReadCertificateTable(const PeImage& image, ByteSource& source, const DataDirectory& directory,
                          std::vector<std::uint8_t>& message, std::string& error) {
  // The directory holds a file offset here, not an address.
  const std::uint64_t offset = directory.virtual_address;
  if (offset + directory.size != source.Size()) {
    error = offset + directory.size > source.Size() ? "the certificate table lies outside the file"
                                                    : "the certificate table does not end the file (" +
                                                          std::to_string(source.Size() - offset - directory.size) +
                                                          " bytes after it are not covered by the signature)";
    return false;
  }
  std::uint64_t image_end = image.size_of_headers;
  for (const SectionHeader& section : image.sections)
    image_end =
        std::max<std::uint64_t>(image_end, std::uint64_t{section.pointer_to_raw_data} + section.size_of_raw_data);
  if (offset < image_end) {
    error = "the certificate table overlaps the image's headers or sections";
    return false;
  }
  if (directory.size < kWinCertificateHeaderSize || directory.size > kLargestCertificateTable) {
    error = "the certificate table's size of " + std::to_string(directory.size) + " bytes is not that of a signature";
    return false;
  }
  std::vector<std::uint8_t> table(directory.size);
  if (!source.Read(offset, table.data(), table.size())) {
    error = "the certificate table cannot be read";
    return false;
  }
  const std::uint32_t length = ReadUint32(table.data());
  const std::uint16_t revision = ReadUint16(&table[kWinCertificateRevisionOffset]);
  const std::uint16_t type = ReadUint16(&table[kWinCertificateTypeOffset]);
  if (length < kWinCertificateHeaderSize || length > table.size()) {
    error = "the certificate's dwLength of " + std::to_string(length) + " does not fit the table of " +
            std::to_string(table.size()) + " bytes";
    return false;
  }
  if (revision != kWinCertRevision2) {
    error = "the certificate's wRevision is 0x" + FourHexDigits(revision) + ", not 0x0200";
    return false;
  }
  if (type != kWinCertTypePkcsSignedData) {
    error = "the certificate's wCertificateType is 0x" + FourHexDigits(type) + ", not 0x0002 (PKCS #7 SignedData)";
    return false;
  }
  Bytes rest = Bytes(table).subspan(kWinCertificateHeaderSize);
  DerElement signed_data;
  if (!ReadDerElement(rest, kDerSequence, signed_data)) {
    error = "the certificate is not a PKCS #7 SignedData";
    return false;
  }
  // Bytes past the signature in the table are covered by nothing: a place to hide data in a file
  // that still verifies. Only the zeros that align the table are expected.
  if (std::any_of(rest.begin(), rest.end(), [](std::uint8_t byte) { return byte != 0; })) {
    error = "the certificate table holds data after the signature that the signature does not cover";
    return false;
  }
  message.assign(signed_data.whole.begin(), signed_data.whole.end());
  return true;
}

std::optional<std::vector<std::uint8_t>> ReadTrustFile(const std::string& path) {
  std::string reason;
  const std::optional<InputFile> input = OpenInputFile(PathFromUtf8(path), reason);
  if (!input || input->size > kLargestTrustFile) return std::nullopt;
  std::vector<std::uint8_t> bytes(input->size);
  if (!bytes.empty() && std::fread(bytes.data(), 1, bytes.size(), input->file.get()) != bytes.size())
    return std::nullopt;
  return bytes;
}

}  // namespace

SignatureFacts ReadAuthenticodeSignature(const PeImage& image, ByteSource& source, const std::string& trust_file) {
  SignatureFacts facts;
  const DataDirectory directory =
      kCertificateDirectory < image.directories.size() ? image.directories[kCertificateDirectory] : DataDirectory{};
  facts.present = directory.size != 0;
  facts.table_size = directory.size;
  if (!facts.present) return facts;

  std::vector<std::uint8_t> message;
  DecodedSignedData decoded;
  DigestAlgorithm algorithm = DigestAlgorithm::sha256;
  if (!ReadCertificateTable(image, source, directory, message, facts.failure) ||
      !DecodeSignedData(message, decoded, facts.failure))
    return facts;
  facts.signer_subject = NameText(decoded.signer_subject);
  facts.signer_issuer = NameText(decoded.signer_issuer);
  ReadSigningTime(decoded.unauthenticated_attributes, facts);
  if (decoded.content_type != kSpcIndirectDataObjectId) {
    facts.failure = "the signature is not over an image digest (content type " + decoded.content_type + ")";
    return facts;
  }
  if (!ReadIndirectData(decoded.content, facts, algorithm, facts.failure)) return facts;
  const std::optional<std::string> image_digest =
      ImageDigest(image, source, directory.virtual_address, algorithm, facts.failure);
  if (!image_digest) return facts;
  facts.image_digest = *image_digest;
  if (const std::string problem = MessageDigestProblem(decoded); !problem.empty()) {
    facts.failure = problem;
  } else if (!decoded.signer_failure.empty()) {
    facts.failure = decoded.signer_failure;
  } else if (!facts.DigestMatches()) {
    facts.failure = "the image's digest does not match the signed one";
  }
  if (trust_file.empty()) return facts;

  const std::optional<std::vector<std::uint8_t>> trusted = ReadTrustFile(trust_file);
  facts.chain_problem = trusted ? CertificateChainProblem(message, *trusted)
                                : "the trust file cannot be read (a regular file of at most 16 MiB)";
  facts.chain = facts.chain_problem.empty() ? ChainCheck::verifies : ChainCheck::fails;
  if (facts.chain == ChainCheck::fails && facts.failure.empty())
    facts.failure = "the certificate chain does not verify: " + facts.chain_problem;
  return facts;
}
