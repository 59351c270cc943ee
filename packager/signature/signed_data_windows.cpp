// SignedData through the system's CryptoAPI: the message functions decode it and verify the
// signer (CMSG_CTRL_VERIFY_SIGNATURE checks the signature over the authenticated attributes), and
// the chain engine builds the chain with the trusted certificates as an extra store.
#include "signature/signed_data.h"

#include <windows.h>
// windows.h first: wincrypt.h uses its types.
#include <wincrypt.h>

#include <memory>
#include <string_view>
#include <type_traits>

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

struct MessageCloser {
  void operator()(HCRYPTMSG message) const noexcept { CryptMsgClose(message); }
};
using UniqueMessage = std::unique_ptr<std::remove_pointer_t<HCRYPTMSG>, MessageCloser>;
struct StoreCloser {
  void operator()(HCERTSTORE store) const noexcept { CertCloseStore(store, 0); }
};
using UniqueStore = std::unique_ptr<std::remove_pointer_t<HCERTSTORE>, StoreCloser>;
struct CertificateFreer {
  void operator()(PCCERT_CONTEXT certificate) const noexcept { CertFreeCertificateContext(certificate); }
};
using UniqueCertificate = std::unique_ptr<const CERT_CONTEXT, CertificateFreer>;
struct ChainFreer {
  void operator()(PCCERT_CHAIN_CONTEXT chain) const noexcept { CertFreeCertificateChain(chain); }
};
using UniqueChain = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFreer>;

// A parameter of the message, in the two calls CryptMsgGetParam asks for: size, then bytes.
bool Parameter(HCRYPTMSG message, DWORD type, DWORD index, std::vector<std::uint8_t>& bytes) {
  DWORD size = 0;
  if (!CryptMsgGetParam(message, type, index, nullptr, &size)) return false;
  bytes.resize(size);
  if (!CryptMsgGetParam(message, type, index, bytes.data(), &size)) return false;
  bytes.resize(size);
  return true;
}

UniqueMessage Decoded(std::span<const std::uint8_t> message) {
  UniqueMessage decoded(CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr));
  if (decoded == nullptr || message.size() > MAXDWORD ||
      !CryptMsgUpdate(decoded.get(), message.data(), static_cast<DWORD>(message.size()), TRUE))
    return nullptr;
  DWORD type = 0;
  DWORD size = sizeof type;
  if (!CryptMsgGetParam(decoded.get(), CMSG_TYPE_PARAM, 0, &type, &size) || type != CMSG_SIGNED) return nullptr;
  return decoded;
}

// The signer's certificate among those the message carries, and the store that holds them.
UniqueCertificate SignerCertificate(HCRYPTMSG message, UniqueStore& store) {
  DWORD signers = 0;
  DWORD size = sizeof signers;
  if (!CryptMsgGetParam(message, CMSG_SIGNER_COUNT_PARAM, 0, &signers, &size) || signers != 1) return nullptr;
  std::vector<std::uint8_t> signer;
  if (!Parameter(message, CMSG_SIGNER_CERT_INFO_PARAM, 0, signer)) return nullptr;
  store.reset(CertOpenStore(CERT_STORE_PROV_MSG, kEncoding, 0, 0, message));
  if (store == nullptr) return nullptr;
  return UniqueCertificate(
      CertGetSubjectCertificateFromStore(store.get(), kEncoding, reinterpret_cast<PCERT_INFO>(signer.data())));
}

std::vector<std::uint8_t> BlobBytes(const CRYPT_DATA_BLOB& blob) {
  return std::vector<std::uint8_t>(blob.pbData, blob.pbData + blob.cbData);
}

std::vector<SignerAttribute> Attributes(const CRYPT_ATTRIBUTES& attributes) {
  std::vector<SignerAttribute> read;
  for (DWORD index = 0; index < attributes.cAttr; ++index) {
    const CRYPT_ATTRIBUTE& attribute = attributes.rgAttr[index];
    if (attribute.cValue != 0) read.push_back({attribute.pszObjId, BlobBytes(attribute.rgValue[0])});
  }
  return read;
}

}  // namespace

bool DecodeSignedData(std::span<const std::uint8_t> message, DecodedSignedData& decoded, std::string& error) {
  decoded = DecodedSignedData{};
  const UniqueMessage decoded_message = Decoded(message);
  if (decoded_message == nullptr) {
    error = "the certificate is not a PKCS #7 SignedData";
    return false;
  }
  HCRYPTMSG handle = decoded_message.get();
  std::vector<std::uint8_t> bytes;
  if (Parameter(handle, CMSG_INNER_CONTENT_TYPE_PARAM, 0, bytes)) {
    decoded.content_type.assign(reinterpret_cast<const char*>(bytes.data()),
                                strnlen(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  }
  // For a content type other than data, the content comes out as it was encoded.
  if (decoded.content_type != szOID_RSA_data && Parameter(handle, CMSG_CONTENT_PARAM, 0, bytes))
    decoded.content = bytes;
  DWORD signers = 0;
  DWORD size = sizeof signers;
  if (!CryptMsgGetParam(handle, CMSG_SIGNER_COUNT_PARAM, 0, &signers, &size) || signers != 1) {
    error = "the SignedData does not have exactly one signer";
    return false;
  }
  UniqueStore store;
  const UniqueCertificate certificate = SignerCertificate(handle, store);
  if (certificate == nullptr) {
    error = "the SignedData does not carry the signer's certificate";
    return false;
  }
  decoded.signer_subject = BlobBytes(certificate->pCertInfo->Subject);
  decoded.signer_issuer = BlobBytes(certificate->pCertInfo->Issuer);
  if (Parameter(handle, CMSG_SIGNER_INFO_PARAM, 0, bytes)) {
    const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(bytes.data());
    decoded.signer_digest_algorithm = signer->HashAlgorithm.pszObjId;
    decoded.authenticated_attributes = Attributes(signer->AuthAttrs);
    decoded.unauthenticated_attributes = Attributes(signer->UnauthAttrs);
  }
  if (!CryptMsgControl(handle, 0, CMSG_CTRL_VERIFY_SIGNATURE, certificate->pCertInfo))
    decoded.signer_failure = "the signer's signature does not verify";
  return true;
}

std::string CertificateChainProblem(std::span<const std::uint8_t> message, std::span<const std::uint8_t> trusted) {
  const UniqueMessage decoded = Decoded(message);
  UniqueStore message_store;
  const UniqueCertificate certificate = decoded != nullptr ? SignerCertificate(decoded.get(), message_store) : nullptr;
  if (certificate == nullptr) return "the signer's certificate cannot be read";

  const UniqueStore anchors(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
  if (anchors == nullptr) return "the trust store cannot be made";
  constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
  constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
  const std::string_view text(reinterpret_cast<const char*>(trusted.data()), trusted.size());
  int count = 0;
  for (std::size_t begin = text.find(kBegin); begin != std::string_view::npos; begin = text.find(kBegin, begin + 1)) {
    const std::size_t end = text.find(kEnd, begin);
    if (end == std::string_view::npos) break;
    const std::string_view block = text.substr(begin, end + kEnd.size() - begin);
    DWORD size = 0;
    if (!CryptStringToBinaryA(block.data(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER, nullptr, &size,
                              nullptr, nullptr))
      continue;
    std::vector<BYTE> der(size);
    if (CryptStringToBinaryA(block.data(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                             &size, nullptr, nullptr) &&
        CertAddEncodedCertificateToStore(anchors.get(), X509_ASN_ENCODING, der.data(), size,
                                         CERT_STORE_ADD_USE_EXISTING, nullptr))
      ++count;
  }
  if (count == 0) return "the trust file holds no PEM certificate";

  // The trusted certificates and the message's own, searched together for the chain's links.
  const UniqueStore links(CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
  if (links == nullptr || !CertAddStoreToCollection(links.get(), anchors.get(), 0, 0) ||
      !CertAddStoreToCollection(links.get(), message_store.get(), 0, 0))
    return "the trust store cannot be made";
  CERT_CHAIN_PARA parameters = {};
  parameters.cbSize = sizeof parameters;
  PCCERT_CHAIN_CONTEXT built = nullptr;
  if (!CertGetCertificateChain(nullptr, certificate.get(), nullptr, links.get(), &parameters, 0, nullptr, &built))
    return "the chain cannot be checked";
  const UniqueChain chain(built);
  if (chain->cChain == 0 || chain->rgpChain[0]->cElement == 0) return "no chain to a certificate of the trust file";
  const CERT_SIMPLE_CHAIN& simple = *chain->rgpChain[0];
  // The chain ends at a root the system does not know: it is trusted here when the file holds it.
  const DWORD status = simple.TrustStatus.dwErrorStatus & ~static_cast<DWORD>(CERT_TRUST_IS_UNTRUSTED_ROOT);
  // The hosts' libraries word their errors differently: both tools say the same of the same chain.
  if ((status & CERT_TRUST_IS_NOT_TIME_VALID) != 0) return "a certificate of the chain is outside its validity period";
  if ((status & CERT_TRUST_IS_NOT_SIGNATURE_VALID) != 0)
    return "a certificate's signature in the chain does not verify";
  if ((status & CERT_TRUST_INVALID_BASIC_CONSTRAINTS) != 0)
    return "a certificate of the chain may not issue certificates";
  const CERT_CHAIN_ELEMENT& root = *simple.rgpElement[simple.cElement - 1];
  const UniqueCertificate anchor(
      CertFindCertificateInStore(anchors.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, root.pCertContext, nullptr));
  if (status != 0 || anchor == nullptr || (root.TrustStatus.dwInfoStatus & CERT_TRUST_IS_SELF_SIGNED) == 0)
    return "no chain to a certificate of the trust file";
  return {};
}
