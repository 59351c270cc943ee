// What the SBOM says of the installer build, which only the build identity an installer carries can
// tell, and its serial number, which must be a valid UUID, the same for the same document and
// another for any other. The
// schema and the hashes of real installers are checked by tests/packaging/sbom_test.sh.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

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

TEST(InstallerSbom, SerialNumberIsAVersion8UuidOneForEachDocument) {
  const auto serial = [](const std::string& sha256, std::optional<std::string> stub_sha256) {
    const std::string document =
        SbomDocument(CabinetInstaller(FactState::none, u""), {"setup.exe", 1, sha256, std::move(stub_sha256)});
    const std::size_t start = document.find("urn:uuid:");
    return document.substr(start, document.find('"', start) - start);
  };
  const std::string installer(64, 'f');
  const std::string packed = serial(installer, std::string(64, 'e'));
  // urn:uuid:xxxxxxxx-xxxx-8xxx-Vxxx-xxxxxxxxxxxx, lower-case hexadecimal, V one of 8 9 a b.
  const std::string uuid = packed.substr(std::string_view("urn:uuid:").size());
  ASSERT_EQ(packed.rfind("urn:uuid:", 0), 0u);
  ASSERT_EQ(uuid.size(), 36u);
  for (std::size_t at = 0; at < uuid.size(); ++at) {
    const bool dash = at == 8 || at == 13 || at == 18 || at == 23;
    EXPECT_EQ(uuid[at] == '-', dash) << packed;
    if (!dash) {
      EXPECT_NE(std::string_view("0123456789abcdef").find(uuid[at]), std::string_view::npos) << packed;
    }
  }
  EXPECT_EQ(uuid[14], '8') << packed;
  EXPECT_NE(std::string_view("89ab").find(uuid[19]), std::string_view::npos) << packed;
  EXPECT_EQ(serial(installer, std::string(64, 'e')), packed);
  // What packing knows of the stub makes another document than --inspect's of the same installer.
  EXPECT_NE(serial(installer, std::nullopt), packed);
  EXPECT_NE(serial(std::string(64, '0'), std::string(64, 'e')), packed);
}

}  // namespace
