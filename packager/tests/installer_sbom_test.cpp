// What the SBOM says of the installer build, which only the build identity an installer carries can
// tell, and its serial number, which must be the same for the same installer and a valid UUID. The
// schema and the hashes of real installers are checked by tests/packaging/sbom_test.sh.
#include <gtest/gtest.h>

#include <string>

#include "inspect/installer_sbom.h"

namespace {

// A cabinet installer as --inspect finds it, with `build` as its build identity.
InstallerFacts CabinetInstaller(FactState state, std::u16string build) {
  InstallerFacts facts;
  facts.resources = {{"B7", ResourceKey::Name(u"DRELIX.PACKED.7Z"), 1033, 46, std::string(64, 'a'), {}},
                     {"BL", ResourceKey::Name(u"SETUP.EX_"), 1033, 617, std::string(64, 'b'), {}}};
  facts.archive = PayloadChoice{"B7", u"DRELIX.PACKED.7Z"};
  facts.setup = PayloadChoice{"BL", u"SETUP.EX_"};
  facts.setup_form = SetupForm::kCabinet;
  facts.payload.setup_program_size = 87328;
  facts.payload.setup_program_sha256 = std::string(64, 'c');
  facts.build = {state, std::move(build)};
  return facts;
}

struct BuildCase {
  const char* what;
  FactState state;
  std::u16string text;
  bool named;              // version and licence
  const char* commit_uid;  // nullptr: no commit listed
};

const BuildCase kBuildCases[] = {
    {"a build from a git checkout", FactState::present, u"1.2.0+3.gabc1234 abc1234def", true,
     "\"uid\": \"abc1234def\""},
    {"a build outside git", FactState::present, u"1.2.0+unknown unknown", true, nullptr},
    {"no build identity", FactState::none, u"", false, nullptr},
    {"an unreadable one", FactState::unreadable, u"", false, nullptr},
    {"a text without its commit", FactState::present, u"1.2.0", false, nullptr},
};

TEST(InstallerSbom, NamesTheInstallerBuildOnlyFromItsIdentity) {
  for (const BuildCase& build : kBuildCases) {
    SCOPED_TRACE(build.what);
    const std::string document =
        SbomDocument(CabinetInstaller(build.state, build.text), {"setup.exe", 1, std::string(64, '0'), std::nullopt});
    EXPECT_EQ(document.find("\"version\": \"1.2.0+") != std::string::npos, build.named) << document;
    EXPECT_EQ(document.find("\"id\": \"Zlib\"") != std::string::npos, build.named);
    EXPECT_EQ(document.find("\"commits\"") != std::string::npos, build.commit_uid != nullptr);
    if (build.commit_uid != nullptr) {
      EXPECT_NE(document.find(build.commit_uid), std::string::npos);
    }
  }
}

TEST(InstallerSbom, SerialNumberIsAVersion8UuidOfTheInstallerDigest) {
  const auto serial = [](const std::string& sha256) {
    const std::string document =
        SbomDocument(CabinetInstaller(FactState::none, u""), {"setup.exe", 1, sha256, std::nullopt});
    const std::size_t start = document.find("urn:uuid:");
    return document.substr(start, document.find('"', start) - start);
  };
  EXPECT_EQ(serial(std::string(64, 'f')), "urn:uuid:ffffffff-ffff-8fff-bfff-ffffffffffff");
  EXPECT_EQ(serial(std::string(64, '0')), "urn:uuid:00000000-0000-8000-8000-000000000000");
  EXPECT_EQ(serial("0123456789abcdef0123456789abcdef" + std::string(32, '0')),
            "urn:uuid:01234567-89ab-8def-8123-456789abcdef");
}

}  // namespace
