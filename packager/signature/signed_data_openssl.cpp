// SignedData through OpenSSL's PKCS #7 functions: PKCS7_verify checks the signer's signature (and
// messageDigest) over the content given apart (Authenticode signs the content's value, not its tag
// and length), X509_verify_cert the chain.
#include "signature/signed_data.h"

#include <memory>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include "signature/der_reader.h"

namespace {

template <auto Free>
struct OpenSslFree {
  template <typename T>
  void operator()(T* object) const noexcept {
    Free(object);
  }
};
using UniquePkcs7 = std::unique_ptr<PKCS7, OpenSslFree<PKCS7_free>>;
using UniqueBio = std::unique_ptr<BIO, OpenSslFree<BIO_free>>;
using UniqueBioChain = std::unique_ptr<BIO, OpenSslFree<BIO_free_all>>;
using UniqueStore = std::unique_ptr<X509_STORE, OpenSslFree<X509_STORE_free>>;
using UniqueStoreContext = std::unique_ptr<X509_STORE_CTX, OpenSslFree<X509_STORE_CTX_free>>;
using UniqueCertificate = std::unique_ptr<X509, OpenSslFree<X509_free>>;

std::string DottedText(const ASN1_OBJECT* object) {
  char text[128];
  const int length = OBJ_obj2txt(text, sizeof text, object, 1);
  return length > 0 && static_cast<std::size_t>(length) < sizeof text ? std::string(text, length) : std::string();
}

template <typename T, typename Encode>
std::vector<std::uint8_t> Encoded(const T* object, Encode encode) {
  const int length = encode(object, nullptr);
  if (length <= 0) return {};
  std::vector<std::uint8_t> bytes(length);
  unsigned char* cursor = bytes.data();
  encode(object, &cursor);
  return bytes;
}

UniquePkcs7 Parse(std::span<const std::uint8_t> message) {
  const unsigned char* cursor = message.data();
  return UniquePkcs7(d2i_PKCS7(nullptr, &cursor, static_cast<long>(message.size())));
}

// The content's value: what the signer's messageDigest covers.
std::span<const std::uint8_t> ContentValue(const std::vector<std::uint8_t>& content) {
  std::span<const std::uint8_t> rest = content;
  DerElement element;
  return ReadDerElement(rest, element) ? element.content : std::span<const std::uint8_t>();
}

std::vector<SignerAttribute> Attributes(const STACK_OF(X509_ATTRIBUTE) * attributes) {
  std::vector<SignerAttribute> read;
  for (int index = 0; index < sk_X509_ATTRIBUTE_num(attributes); ++index) {
    X509_ATTRIBUTE* attribute = sk_X509_ATTRIBUTE_value(attributes, index);
    const ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(attribute, 0);
    if (value != nullptr)
      read.push_back({DottedText(X509_ATTRIBUTE_get0_object(attribute)), Encoded(value, i2d_ASN1_TYPE)});
  }
  return read;
}

}  // namespace

bool DecodeSignedData(std::span<const std::uint8_t> message, DecodedSignedData& decoded, std::string& error) {
  decoded = DecodedSignedData{};
  ERR_clear_error();
  const UniquePkcs7 pkcs7 = Parse(message);
  if (pkcs7 == nullptr || !PKCS7_type_is_signed(pkcs7.get()) || pkcs7->d.sign == nullptr ||
      pkcs7->d.sign->contents == nullptr) {
    error = "the certificate is not a PKCS #7 SignedData";
    return false;
  }
  const PKCS7* inner = pkcs7->d.sign->contents;
  decoded.content_type = DottedText(inner->type);
  // Content of a type OpenSSL does not know (Authenticode's among them) is kept as it was read.
  if (OBJ_obj2nid(inner->type) == NID_undef && inner->d.other != nullptr && inner->d.other->type == V_ASN1_SEQUENCE) {
    const ASN1_STRING* sequence = inner->d.other->value.sequence;
    decoded.content.assign(sequence->data, sequence->data + sequence->length);
  }
  STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(pkcs7.get());
  if (signers == nullptr || sk_PKCS7_SIGNER_INFO_num(signers) != 1) {
    error = "the SignedData does not have exactly one signer";
    return false;
  }
  PKCS7_SIGNER_INFO* signer = sk_PKCS7_SIGNER_INFO_value(signers, 0);
  X509* certificate = PKCS7_cert_from_signer_info(pkcs7.get(), signer);
  if (certificate == nullptr) {
    error = "the SignedData does not carry the signer's certificate";
    return false;
  }
  decoded.signer_subject = Encoded(X509_get_subject_name(certificate), i2d_X509_NAME);
  decoded.signer_issuer = Encoded(X509_get_issuer_name(certificate), i2d_X509_NAME);
  if (signer->digest_alg != nullptr) decoded.signer_digest_algorithm = DottedText(signer->digest_alg->algorithm);
  decoded.authenticated_attributes = Attributes(signer->auth_attr);
  decoded.unauthenticated_attributes = Attributes(signer->unauth_attr);

  // PKCS7_verify copies a memory BIO's data into a BIO of its own, which OpenSSL 3.0 leaks when the
  // verification fails before reading it (an unknown digest algorithm): behind a buffer filter the
  // content is read from ours.
  const std::span<const std::uint8_t> value = ContentValue(decoded.content);
  const UniqueBioChain content(BIO_new(BIO_f_buffer()));
  BIO* memory = BIO_new_mem_buf(value.data(), static_cast<int>(value.size()));
  if (content == nullptr || memory == nullptr) {
    BIO_free(memory);
  } else {
    BIO_push(content.get(), memory);
  }
  ERR_clear_error();
  if (content == nullptr || memory == nullptr ||
      PKCS7_verify(pkcs7.get(), nullptr, nullptr, content.get(), nullptr, PKCS7_NOVERIFY | PKCS7_BINARY) != 1) {
    decoded.signer_failure = "the signer's signature does not verify";
  }
  ERR_clear_error();
  return true;
}

std::string CertificateChainProblem(std::span<const std::uint8_t> message, std::span<const std::uint8_t> trusted) {
  const UniquePkcs7 pkcs7 = Parse(message);
  STACK_OF(PKCS7_SIGNER_INFO)* signers = pkcs7 != nullptr ? PKCS7_get_signer_info(pkcs7.get()) : nullptr;
  X509* certificate = signers != nullptr && sk_PKCS7_SIGNER_INFO_num(signers) == 1
                          ? PKCS7_cert_from_signer_info(pkcs7.get(), sk_PKCS7_SIGNER_INFO_value(signers, 0))
                          : nullptr;
  if (certificate == nullptr) return "the signer's certificate cannot be read";

  const UniqueStore store(X509_STORE_new());
  const UniqueBio pem(BIO_new_mem_buf(trusted.data(), static_cast<int>(trusted.size())));
  if (store == nullptr || pem == nullptr) return "the trust store cannot be made";
  int count = 0;
  while (const UniqueCertificate anchor{PEM_read_bio_X509(pem.get(), nullptr, nullptr, nullptr)}) {
    if (X509_STORE_add_cert(store.get(), anchor.get()) == 1) ++count;
  }
  ERR_clear_error();
  if (count == 0) return "the trust file holds no PEM certificate";

  const UniqueStoreContext context(X509_STORE_CTX_new());
  if (context == nullptr || X509_STORE_CTX_init(context.get(), store.get(), certificate, pkcs7->d.sign->cert) != 1)
    return "the chain cannot be checked";
  const int verified = X509_verify_cert(context.get());
  ERR_clear_error();
  if (verified == 1) return {};
  // The hosts' libraries word their errors differently: both tools say the same of the same chain.
  switch (X509_STORE_CTX_get_error(context.get())) {
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return "a certificate of the chain is outside its validity period";
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
      return "a certificate's signature in the chain does not verify";
    case X509_V_ERR_INVALID_CA:
    case X509_V_ERR_PATH_LENGTH_EXCEEDED:
      return "a certificate of the chain may not issue certificates";
    default:
      return "no chain to a certificate of the trust file";
  }
}
