// The scratch directory: the shape of its name, where the executable directory gets too long, what
// a refusing platform leaves behind, and the access control list handed to CreateDirectoryW.
//
// Wine does not store the ACL a directory is created with (it rebuilds one from Unix mode bits), so
// the ACL is proven by capturing the descriptor actually passed to CreateDirectoryW. What Wine
// cannot produce (a refused directory, a token or SDDL conversion that fails, a volume without
// persistent ACLs, a random source that fails or gives chosen bytes) comes from redirecting that one
// import for the length of a test.
#include <windows.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <set>
#include <string>
#include <vector>

#include "scratch/scratch_directory.h"
#include "support/import_redirect.h"
#include "support/test_files.h"

namespace {

// The access-control text as the platform writes a descriptor back: inheritance flags in its own
// order (OICIIO for OIIOCI), otherwise as the installer builds it.
constexpr wchar_t kAccessControlPrefix[] =
    L"D:PAI(A;;FA;;;BA)(A;OICIIO;GA;;;BA)(A;;FA;;;SY)(A;OICIIO;GA;;;SY)(A;OICIIO;GA;;;CO)(A;;FA;;;";

// What the redirected imports saw. Each test that redirects starts it afresh.
struct Observed {
  std::vector<std::wstring> directory_paths;
  std::vector<bool> directory_had_attributes;
  SECURITY_ATTRIBUTES attributes{};
  std::wstring access_control;
  std::vector<size_t> access_control_lengths;
  int random_draws = 0;
  int token_opens = 0;
  size_t sid_string_length = 0;
  DWORD injected_error = 0;
};
Observed observed;

decltype(&CreateDirectoryW) real_create_directory = nullptr;
decltype(&GetVolumeInformationW) real_volume_information = nullptr;
decltype(&OpenProcessToken) real_open_process_token = nullptr;
decltype(&ConvertStringSecurityDescriptorToSecurityDescriptorW) real_convert_access_control = nullptr;

std::wstring DescriptorAsText(PSECURITY_DESCRIPTOR descriptor) {
  wchar_t* text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                            &text, nullptr)) {
    return L"<not convertible>";
  }
  std::wstring result = text;
  LocalFree(text);
  return result;
}

BOOL WINAPI RecordingCreateDirectory(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes) {
  observed.directory_paths.push_back(path);
  observed.directory_had_attributes.push_back(attributes != nullptr);
  if (attributes != nullptr) {
    observed.attributes = *attributes;
    observed.access_control = DescriptorAsText(attributes->lpSecurityDescriptor);
  }
  return real_create_directory(path, attributes);
}

BOOL WINAPI RefusingCreateDirectory(LPCWSTR path, LPSECURITY_ATTRIBUTES) {
  observed.directory_paths.push_back(path);
  SetLastError(ERROR_ALREADY_EXISTS);
  return FALSE;
}

// Draw k gives the bytes 00 k 5x xx, so the k-th name is "QV_00" + two hex digits of k + "5".
BOOLEAN WINAPI CountingRandom(PVOID buffer, ULONG length) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  ++observed.random_draws;
  for (ULONG index = 0; index < length; ++index) bytes[index] = 0;
  bytes[1] = static_cast<unsigned char>(observed.random_draws);
  bytes[2] = 0x5C;
  bytes[3] = 0xEE;
  return TRUE;
}

BOOLEAN WINAPI FixedRandom(PVOID buffer, ULONG length) {
  const unsigned char fixed[] = {0x3F, 0x0A, 0x9B, 0xCD};
  for (ULONG index = 0; index < length && index < sizeof(fixed); ++index) {
    static_cast<unsigned char*>(buffer)[index] = fixed[index];
  }
  return TRUE;
}

// A random source that fails and leaves its buffer alone: a name must still come out defined.
BOOLEAN WINAPI FailingRandom(PVOID, ULONG) { return FALSE; }

BOOL WINAPI CountingOpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
  ++observed.token_opens;
  return real_open_process_token(process, access, token);
}

BOOL WINAPI FailingOpenProcessToken(HANDLE, DWORD, PHANDLE) {
  SetLastError(observed.injected_error);
  return FALSE;
}

BOOL WINAPI FailingGetTokenInformation(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD) {
  SetLastError(observed.injected_error);
  return FALSE;
}

BOOL WINAPI FailingVolumePathName(LPCWSTR, LPWSTR, DWORD) {
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

BOOL WINAPI FailingVolumeInformation(LPCWSTR, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD, LPWSTR, DWORD) {
  SetLastError(ERROR_NOT_READY);
  return FALSE;
}

// The real volume, reported as one that keeps no ACLs (FAT).
BOOL WINAPI VolumeWithoutAcls(LPCWSTR root, LPWSTR name, DWORD name_size, LPDWORD serial, LPDWORD component,
                              LPDWORD flags, LPWSTR system_name, DWORD system_name_size) {
  const BOOL result =
      real_volume_information(root, name, name_size, serial, component, flags, system_name, system_name_size);
  if (flags != nullptr) *flags &= ~static_cast<DWORD>(FILE_PERSISTENT_ACLS);
  return result;
}

// A SID text of the wanted length, in local memory as the real call gives it.
BOOL WINAPI LongSidString(PSID, LPWSTR* text) {
  const size_t length = observed.sid_string_length;
  auto* units = static_cast<wchar_t*>(LocalAlloc(LMEM_ZEROINIT, (length + 1) * sizeof(wchar_t)));
  const std::wstring content = L"S-1-5-21-" + std::wstring(length - 9, L'7');
  for (size_t index = 0; index < length; ++index) units[index] = content[index];
  *text = units;
  return TRUE;
}

BOOL WINAPI RecordingConvertAccessControl(LPCWSTR text, DWORD revision, PSECURITY_DESCRIPTOR* descriptor, PULONG size) {
  observed.access_control_lengths.push_back(std::wstring(text).size());
  return real_convert_access_control(text, revision, descriptor, size);
}

BOOL WINAPI FailingConvertAccessControl(LPCWSTR, DWORD, PSECURITY_DESCRIPTOR*, PULONG) {
  SetLastError(observed.injected_error);
  return FALSE;
}

std::wstring TokenSidString(TOKEN_INFORMATION_CLASS information_class) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return L"<no token>";
  std::vector<unsigned char> buffer(256);
  DWORD size = 0;
  std::wstring result = L"<no information>";
  if (GetTokenInformation(token, information_class, buffer.data(), static_cast<DWORD>(buffer.size()), &size)) {
    // TOKEN_OWNER and TOKEN_USER both begin with the SID pointer.
    PSID sid = information_class == TokenOwner ? reinterpret_cast<TOKEN_OWNER*>(buffer.data())->Owner
                                               : reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    wchar_t* text = nullptr;
    if (ConvertSidToStringSidW(sid, &text)) {
      result = text;
      LocalFree(text);
    }
  }
  CloseHandle(token);
  return result;
}

bool IsUpperHexDigit(wchar_t unit) { return (unit >= L'0' && unit <= L'9') || (unit >= L'A' && unit <= L'F'); }

// A directory whose path, with its trailing backslash, is exactly `length` units.
std::wstring DirectoryOfLength(const TemporaryDirectory& root, size_t length) {
  return root.Path() + std::wstring(length - root.Path().size() - 1, L'd') + L"\\";
}

class ScratchDirectoryTest : public testing::Test {
 protected:
  void SetUp() override { observed = Observed{}; }

  TemporaryDirectory root_{L"scratch"};
  // Declared after the root, so it closes before the root is removed.
  UniqueFileHandle guard_;
};

TEST_F(ScratchDirectoryTest, NamesAreFiveUpperCaseHexDigitsDrawnAfreshOnEveryRun) {
  constexpr int kRuns = 100;
  std::set<std::wstring> paths;
  std::set<wchar_t> digits_seen[5];
  for (int run = 0; run < kRuns; ++run) {
    PathBuffer scratch;
    const ExitOutcome outcome = MakeScratchDirectory(root_.Path().c_str(), scratch, guard_);
    ASSERT_EQ(outcome.exit_code, EXIT_OK);
    EXPECT_EQ(outcome.windows_error, 0u);

    const std::wstring path = scratch.units;
    ASSERT_EQ(path.size(), root_.Path().size() + 13) << Narrow(path);
    const std::wstring name = path.substr(root_.Path().size());
    EXPECT_EQ(path.substr(0, root_.Path().size()), root_.Path());
    EXPECT_EQ(name.substr(0, 3), L"QV_") << Narrow(name);
    EXPECT_EQ(name.substr(8), L".tmp\\") << Narrow(name);
    for (int digit = 0; digit < 5; ++digit) {
      EXPECT_TRUE(IsUpperHexDigit(name[3 + digit])) << Narrow(name);
      digits_seen[digit].insert(name[3 + digit]);
    }
    EXPECT_EQ(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY, DWORD{FILE_ATTRIBUTE_DIRECTORY});
    paths.insert(path);
  }
  EXPECT_EQ(paths.size(), size_t{kRuns});
  EXPECT_EQ(ListDirectory(root_.Path()).size(), size_t{kRuns});
  for (const auto& seen : digits_seen) EXPECT_GT(seen.size(), 1u) << "every digit position must vary";
}

// While the run holds its guard, nobody can rename or delete the scratch directory and so put their
// own in its place; listing it and working with the files in it goes on as usual.
TEST_F(ScratchDirectoryTest, GuardRefusesRenameAndDeleteOfTheDirectoryUntilClosed) {
  PathBuffer scratch;
  const ExitOutcome outcome = MakeScratchDirectory(root_.Path().c_str(), scratch, guard_);
  ASSERT_EQ(outcome.exit_code, EXIT_OK);
  ASSERT_TRUE(guard_.IsValid());
  std::wstring directory = scratch.units;
  directory.pop_back();
  const std::wstring renamed = root_ / L"swapped";

  EXPECT_FALSE(MoveFileW(directory.c_str(), renamed.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(RemoveDirectoryW(directory.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

  ASSERT_TRUE(WriteFileBytes(scratch.units + std::wstring(L"archive"), "bytes"));
  EXPECT_EQ(ListDirectory(scratch.units), std::vector<std::wstring>{L"archive"});
  ASSERT_TRUE(DeleteFileW((scratch.units + std::wstring(L"archive")).c_str()));

  guard_.Reset();
  EXPECT_TRUE(MoveFileW(directory.c_str(), renamed.c_str())) << GetLastError();
}

struct RandomCase {
  const char* name;
  BOOLEAN(WINAPI* random)(PVOID, ULONG);
  const wchar_t* directory_name;
};

class ScratchNameTest : public ScratchDirectoryTest, public testing::WithParamInterface<RandomCase> {};

TEST_P(ScratchNameTest, DigitsComeFromTheFirstTwoAndAHalfBytesInOrder) {
  ImportRedirect random("advapi32.dll", "SystemFunction036", reinterpret_cast<const void*>(GetParam().random));
  PathBuffer scratch;
  const ExitOutcome outcome = MakeScratchDirectory(root_.Path().c_str(), scratch, guard_);
  ASSERT_EQ(outcome.exit_code, EXIT_OK);
  EXPECT_EQ(std::wstring(scratch.units), root_.Path() + GetParam().directory_name + L"\\");
  EXPECT_TRUE(PathExists(root_.Path() + GetParam().directory_name));
}

INSTANTIATE_TEST_SUITE_P(Sources, ScratchNameTest,
                         testing::Values(RandomCase{"Bytes3F0A9BCD", &FixedRandom, L"QV_3F0A9.tmp"},
                                         RandomCase{"FailingSourceGivesZeros", &FailingRandom, L"QV_00000.tmp"}),
                         [](const auto& info) { return std::string(info.param.name); });

struct LengthCase {
  const char* name;
  size_t directory_length;
  bool created;
};

class ScratchLengthTest : public ScratchDirectoryTest, public testing::WithParamInterface<LengthCase> {};

TEST_P(ScratchLengthTest, ExecutableDirectoryOfAtMost246UnitsFits) {
  const LengthCase& c = GetParam();
  const std::wstring directory = DirectoryOfLength(root_, c.directory_length);
  ASSERT_EQ(directory.size(), c.directory_length);
  if (c.created) {
    ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr));
  }

  PathBuffer scratch;
  const ExitOutcome outcome = MakeScratchDirectory(directory.c_str(), scratch, guard_);
  EXPECT_EQ(outcome.exit_code == EXIT_OK, c.created);
  if (c.created) {
    EXPECT_EQ(outcome.exit_code, EXIT_OK);
    EXPECT_EQ(BoundedLength(scratch), 259u);
    EXPECT_EQ(scratch.units[258], L'\\');
    EXPECT_EQ(ListDirectory(directory).size(), 1u);
  } else {
    EXPECT_EQ(outcome.exit_code, EXIT_PATH_TOO_LONG);
    EXPECT_EQ(ListDirectory(root_.Path()).size(), 0u) << "nothing may be created";
  }
  EXPECT_EQ(outcome.windows_error, 0u);
}

// 247 leaves "QV_" room but not the name after it; 257 leaves no room for "QV_" itself; 260 does
// not fit the buffer at all.
INSTANTIATE_TEST_SUITE_P(Edges, ScratchLengthTest,
                         testing::Values(LengthCase{"Longest246", 246, true}, LengthCase{"OneMore247", 247, false},
                                         LengthCase{"NoRoomForPrefix257", 257, false},
                                         LengthCase{"Overflow260", 260, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ScratchDirectoryTest, TenRefusedTriesEachWithANewNameEndIn109) {
  ImportRedirect create("kernel32.dll", "CreateDirectoryW", reinterpret_cast<const void*>(&RefusingCreateDirectory));
  ImportRedirect random("advapi32.dll", "SystemFunction036", reinterpret_cast<const void*>(&CountingRandom));
  PathBuffer scratch;
  const ExitOutcome outcome = MakeScratchDirectory(root_.Path().c_str(), scratch, guard_);
  EXPECT_EQ(outcome.exit_code, EXIT_SCRATCH_DIRECTORY_FAILED);
  EXPECT_EQ(outcome.windows_error, 0u) << "the last refusal's error is not carried";

  EXPECT_EQ(observed.random_draws, 10);
  const wchar_t* const expected_names[] = {L"QV_00015.tmp", L"QV_00025.tmp", L"QV_00035.tmp", L"QV_00045.tmp",
                                           L"QV_00055.tmp", L"QV_00065.tmp", L"QV_00075.tmp", L"QV_00085.tmp",
                                           L"QV_00095.tmp", L"QV_000A5.tmp"};
  ASSERT_EQ(observed.directory_paths.size(), 10u);
  for (size_t index = 0; index < 10; ++index) {
    EXPECT_EQ(observed.directory_paths[index], root_.Path() + expected_names[index]);
  }
  EXPECT_EQ(std::wstring(scratch.units), root_.Path() + L"QV_000A5.tmp") << "the last name, no backslash";
}

TEST_F(ScratchDirectoryTest, DescriptorIsProtectedAndAdmitsOnlyAdministratorsSystemAndTheTokenOwner) {
  ImportRedirect create("kernel32.dll", "CreateDirectoryW", reinterpret_cast<const void*>(&RecordingCreateDirectory));
  real_create_directory = create.Original<decltype(&CreateDirectoryW)>();
  PathBuffer scratch;
  const ExitOutcome outcome = MakeScratchDirectory(root_.Path().c_str(), scratch, guard_);
  ASSERT_EQ(outcome.exit_code, EXIT_OK);

  ASSERT_EQ(observed.directory_had_attributes, std::vector<bool>{true});
  EXPECT_EQ(observed.attributes.nLength, 24u);
  EXPECT_EQ(observed.attributes.bInheritHandle, FALSE);
  const std::wstring owner = TokenSidString(TokenOwner);
  ASSERT_NE(owner, TokenSidString(TokenUser)) << "owner and user must differ for the entry to tell them apart";
  EXPECT_EQ(observed.access_control, kAccessControlPrefix + owner + L")");
}

struct VolumeCase {
  const char* name;
  const char* function;
  const void* replacement;
};

class ScratchVolumeTest : public ScratchDirectoryTest, public testing::WithParamInterface<VolumeCase> {};

TEST_P(ScratchVolumeTest, NoPersistentAclsMeansNoDescriptorAndNoSidLookup) {
  ImportRedirect volume("kernel32.dll", GetParam().function, GetParam().replacement);
  real_volume_information = volume.Original<decltype(&GetVolumeInformationW)>();
  ImportRedirect token("advapi32.dll", "OpenProcessToken", reinterpret_cast<const void*>(&CountingOpenProcessToken));
  real_open_process_token = token.Original<decltype(&OpenProcessToken)>();
  ImportRedirect create("kernel32.dll", "CreateDirectoryW", reinterpret_cast<const void*>(&RecordingCreateDirectory));
  real_create_directory = create.Original<decltype(&CreateDirectoryW)>();

  PathBuffer scratch;
  const ExitOutcome outcome = MakeScratchDirectory(root_.Path().c_str(), scratch, guard_);
  ASSERT_EQ(outcome.exit_code, EXIT_OK);
  EXPECT_EQ(observed.directory_had_attributes, std::vector<bool>{false});
  EXPECT_EQ(observed.token_opens, 0);
  EXPECT_TRUE(PathExists(scratch.units));
}

INSTANTIATE_TEST_SUITE_P(Volumes, ScratchVolumeTest,
                         testing::Values(VolumeCase{"WithoutAcls", "GetVolumeInformationW",
                                                    reinterpret_cast<const void*>(&VolumeWithoutAcls)},
                                         VolumeCase{"InformationUnavailable", "GetVolumeInformationW",
                                                    reinterpret_cast<const void*>(&FailingVolumeInformation)},
                                         VolumeCase{"RootUnavailable", "GetVolumePathNameW",
                                                    reinterpret_cast<const void*>(&FailingVolumePathName)}),
                         [](const auto& info) { return std::string(info.param.name); });

struct SecurityFailureCase {
  const char* name;
  const char* dll;
  const char* function;
  const void* replacement;
  DWORD injected_error;
  size_t sid_string_length;
  size_t conversions;
};

class ScratchSecurityFailureTest : public ScratchDirectoryTest,
                                   public testing::WithParamInterface<SecurityFailureCase> {};

TEST_P(ScratchSecurityFailureTest, EndsIn117WithTheErrorAndCreatesNothing) {
  const SecurityFailureCase& c = GetParam();
  observed.injected_error = c.injected_error;
  observed.sid_string_length = c.sid_string_length;
  ImportRedirect failure(c.dll, c.function, c.replacement);
  ImportRedirect convert("advapi32.dll", "ConvertStringSecurityDescriptorToSecurityDescriptorW",
                         reinterpret_cast<const void*>(&RecordingConvertAccessControl));
  real_convert_access_control =
      c.sid_string_length != 0 ? &FailingConvertAccessControl
                               : convert.Original<decltype(&ConvertStringSecurityDescriptorToSecurityDescriptorW)>();
  ImportRedirect create("kernel32.dll", "CreateDirectoryW", reinterpret_cast<const void*>(&RecordingCreateDirectory));
  real_create_directory = create.Original<decltype(&CreateDirectoryW)>();

  PathBuffer scratch;
  const ExitOutcome outcome = MakeScratchDirectory(root_.Path().c_str(), scratch, guard_);
  EXPECT_EQ(outcome.exit_code, EXIT_SCRATCH_DIRECTORY_ACCESS_FAILED);
  if (c.injected_error != 0) {
    EXPECT_EQ(outcome.windows_error, c.injected_error);
  }
  EXPECT_NE(outcome.windows_error, 0u);
  EXPECT_TRUE(observed.directory_paths.empty());
  EXPECT_TRUE(ListDirectory(root_.Path()).empty());
  EXPECT_EQ(observed.access_control_lengths.size(), c.conversions);
  if (c.sid_string_length == 206 && c.conversions == 1) {
    EXPECT_EQ(observed.access_control_lengths[0], 299u);
  }
}

// A SID text of 206 units makes a 299-unit access-control text, the most that fits: it reaches the
// conversion, which is made to refuse it (no real SID is that long). One unit more never gets there.
INSTANTIATE_TEST_SUITE_P(
    Failures, ScratchSecurityFailureTest,
    testing::Values(
        SecurityFailureCase{"TokenNotOpened", "advapi32.dll", "OpenProcessToken",
                            reinterpret_cast<const void*>(&FailingOpenProcessToken), ERROR_ACCESS_DENIED, 0, 0},
        SecurityFailureCase{"TokenNotReadable", "advapi32.dll", "GetTokenInformation",
                            reinterpret_cast<const void*>(&FailingGetTokenInformation), ERROR_INVALID_HANDLE, 0, 0},
        SecurityFailureCase{"ConversionRefused", "advapi32.dll", "ConvertStringSecurityDescriptorToSecurityDescriptorW",
                            reinterpret_cast<const void*>(&FailingConvertAccessControl), ERROR_INVALID_PARAMETER, 0, 1},
        SecurityFailureCase{"SidText206", "advapi32.dll", "ConvertSidToStringSidW",
                            reinterpret_cast<const void*>(&LongSidString), ERROR_INVALID_SID, 206, 1},
        SecurityFailureCase{"SidText207", "advapi32.dll", "ConvertSidToStringSidW",
                            reinterpret_cast<const void*>(&LongSidString), 0, 207, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
