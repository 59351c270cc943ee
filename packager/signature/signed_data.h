// The PKCS #7 SignedData of an Authenticode signature, as the host's crypto library decodes and
// verifies it: OpenSSL's libcrypto on Linux (signed_data_openssl.cpp), the system's CryptoAPI on
// Windows (signed_data_windows.cpp). The library checks the signer's signature over its
// authenticated attributes, and the certificate chain. What the content and the attributes say is
// read by the caller (authenticode_signature.h), the same on both hosts, so both tools print the
// same facts; the caller compares the messageDigest attribute with the content itself, since
// Wine's CryptoAPI does not (Windows' does).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct SignerAttribute {
  std::string type;                 // dotted object identifier
  std::vector<std::uint8_t> value;  // DER of its first value
};

struct DecodedSignedData {
  std::string content_type;                  // dotted object identifier of the signed content
  std::vector<std::uint8_t> content;         // DER of the signed content, tag and length included
  std::vector<std::uint8_t> signer_subject;  // DER Names from the signer's certificate
  std::vector<std::uint8_t> signer_issuer;
  std::string signer_digest_algorithm;  // dotted object identifier
  std::vector<SignerAttribute> authenticated_attributes;
  std::vector<SignerAttribute> unauthenticated_attributes;
  // Empty when the library verified the signer's signature (and, where it checks it, their
  // messageDigest against the content); else why not.
  std::string signer_failure;
};

// False with a one-line reason when `message` is not a DER SignedData with exactly one signer whose
// certificate it carries.
[[nodiscard]] bool DecodeSignedData(std::span<const std::uint8_t> message, DecodedSignedData& decoded,
                                    std::string& error);

// Whether the signer's certificate chains, through the certificates the message carries, to a
// self-signed certificate among the PEM certificates `trusted`, every one valid now; empty when it
// does, else why not. The message is one DecodeSignedData took.
std::string CertificateChainProblem(std::span<const std::uint8_t> message, std::span<const std::uint8_t> trusted);
