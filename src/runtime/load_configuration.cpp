// The image's load configuration (`_load_config_used`, which the linker points the load
// configuration directory at): where the loader finds the Control Flow Guard pointers and tables,
// the stack cookie it randomises, and the search path for the libraries the imports pull in.
#include "runtime/load_configuration.h"

#include <windows.h>

#include "runtime/control_flow_guard.h"
#include "runtime/stack_cookie.h"

extern "C" {

// The platform's names for the structure and the linker's symbols, all reserved identifiers.
// NOLINTBEGIN(bugprone-reserved-identifier)

// Symbols the linker defines when it writes the Control Flow Guard tables (lld --guard-cf); the
// counts are absolute symbols whose address is the count.
extern const char __guard_fids_table[];
extern const char __guard_fids_count[];
extern const char __guard_iat_table[];
extern const char __guard_iat_count[];
extern const char __guard_longjmp_table[];
extern const char __guard_longjmp_count[];
extern const char __guard_eh_cont_table[];
extern const char __guard_eh_cont_count[];

extern const LoadConfigurationDirectory64 _load_config_used;
constinit const LoadConfigurationDirectory64 _load_config_used = {
    .Size = sizeof(LoadConfigurationDirectory64),
    // Only the libraries of the system directory satisfy the imports' own dependencies, whatever
    // folder the installer is started from.
    .DependentLoadFlags = LOAD_LIBRARY_SEARCH_SYSTEM32,
    .SecurityCookie = &__stack_chk_guard,
    .GuardCFCheckFunctionPointer = &__guard_check_icall_fptr,
    .GuardCFDispatchFunctionPointer = &__guard_dispatch_icall_fptr,
    .GuardCFFunctionTable = __guard_fids_table,
    .GuardCFFunctionCount = __guard_fids_count,
    // What lld derives from --guard-cf (which implies long-jump targets); lld checks this field
    // against its own value and the build treats its warning as an error.
    .GuardFlags = kGuardCfInstrumented | kGuardCfFunctionTablePresent | kGuardCfLongJumpTablePresent,
    .GuardAddressTakenIatEntryTable = __guard_iat_table,
    .GuardAddressTakenIatEntryCount = __guard_iat_count,
    .GuardLongJumpTargetTable = __guard_longjmp_table,
    .GuardLongJumpTargetCount = __guard_longjmp_count,
    .GuardEHContinuationTable = __guard_eh_cont_table,
    .GuardEHContinuationCount = __guard_eh_cont_count,
};

// NOLINTEND(bugprone-reserved-identifier)
}  // extern "C"
