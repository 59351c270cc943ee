// The Authenticode signature of an installer, checked from the file rather than taken on its word:
// the certificate table's WIN_CERTIFICATE header, the PKCS #7 SignedData in it (through the host's
// crypto library, signed_data.h), the image digest it signs recomputed from the file's bytes, the
// signer's names, a signing time from a timestamp, and on request the certificate chain. The facts
// are a plain record, printed by --inspect; nothing here is read past the file or its limits.
#pragma once

#include <cstdint>
#include <string>

#include "host/byte_source.h"
#include "image/pe_image.h"

enum class ChainCheck { not_checked, verifies, fails };

struct SignatureFacts {
  bool present = false;  // the image names a certificate table
  std::uint32_t table_size = 0;
  // Why the signature fails (the first reason found); empty when every check made held.
  std::string failure;
  // From the signed SpcIndirectDataContent and recomputed from the image: algorithm name ("sha256")
  // and lower-case hex; empty until the content was read.
  std::string digest_algorithm;
  std::string signed_digest;
  std::string image_digest;
  // The signer's certificate's names, "CN=..., O=..." with every character that could forge a field
  // or a line escaped; empty until the SignedData was read.
  std::string signer_subject;
  std::string signer_issuer;
  // "2024-05-01 12:00:00 UTC" and where it came from ("RFC 3161 timestamp", "countersignature");
  // empty when the signature carries no timestamp. The timestamp's own signature is not checked.
  std::string signing_time;
  std::string signing_time_source;
  ChainCheck chain = ChainCheck::not_checked;
  std::string chain_problem;  // why the chain fails

  bool Failed() const { return !failure.empty(); }
  bool DigestMatches() const { return !signed_digest.empty() && signed_digest == image_digest; }
};

// The signature of `image`, read from `source`. With `trust_file` (a PEM file of certificates) the
// signer's chain is checked against it, and a chain that does not verify fails the signature.
SignatureFacts ReadAuthenticodeSignature(const PeImage& image, ByteSource& source, const std::string& trust_file);
