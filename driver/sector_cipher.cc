// Software mode's sector cipher: SM4-XTS of a request's whole sectors on the fastest path the
// processor has. Kernel-mode code may use the AVX and AVX-512 registers only between
// KeSaveExtendedProcessorState and KeRestoreExtendedProcessorState; both are looked up at load,
// not imported, so that the driver still loads on a kernel that lacks them. A request whose state
// is not saved (no such routines, or the save failed) takes the fastest path that needs no saved
// state.
#include "crypto/sm4_blocks.h"
#include "driver/orvik.h"

namespace {

using crypto_internal::Sm4Kernels;

typedef NTSTATUS NTAPI SaveStateRoutine(ULONG64 mask, PXSTATE_SAVE save);
typedef VOID NTAPI RestoreStateRoutine(PXSTATE_SAVE save);

// Chosen once at load, before any worker runs; read by every worker.
struct SectorCipher {
    const Sm4Kernels* Unsaved;  // needs no register state beyond SSE
    const Sm4Kernels* Saved;    // run while Mask is saved; null without the two routines, or
                                // when no path of this processor needs more than SSE
    ULONG64 Mask;               // the state Saved uses, as the kernel's feature mask
    SaveStateRoutine* Save;
    RestoreStateRoutine* Restore;
};

SectorCipher g_SectorCipher;

PVOID SystemRoutine(PCWSTR name) {
    UNICODE_STRING routineName;
    RtlInitUnicodeString(&routineName, name);
    return MmGetSystemRoutineAddress(&routineName);
}

// The kernel's feature mask of the state components (XCR0 bits) that a path uses.
ULONG64 FeatureMask(uint64_t xstate) {
    return (xstate & crypto_internal::kXStateYmm ? XSTATE_MASK_AVX : 0) |
           (xstate & crypto_internal::kXStateZmm ? XSTATE_MASK_AVX512 : 0);
}

}  // namespace

VOID ChooseSectorCipher() {
    SectorCipher cipher = {};
    cipher.Unsaved = &crypto_internal::sm4_fastest_kernels(0);
    const Sm4Kernels* fastest = &crypto_internal::sm4_fastest_kernels(crypto_internal::kXStateYmm |
                                                                      crypto_internal::kXStateZmm);
    cipher.Save =
        reinterpret_cast<SaveStateRoutine*>(SystemRoutine(WTEXT("KeSaveExtendedProcessorState")));
    cipher.Restore = reinterpret_cast<RestoreStateRoutine*>(
        SystemRoutine(WTEXT("KeRestoreExtendedProcessorState")));
    cipher.Mask = FeatureMask(crypto_internal::sm4_path_xstate(fastest->path));
    if (cipher.Save && cipher.Restore && cipher.Mask != 0) cipher.Saved = fastest;
    g_SectorCipher = cipher;
}

VOID CryptSectors(OrvikDeviceExtension* extension, LONGLONG offset, const UCHAR* in, PUCHAR out,
                  ULONG length, BOOLEAN encrypt) {
    const SectorCipher& cipher = g_SectorCipher;
    XSTATE_SAVE save;
    const BOOLEAN saved = cipher.Saved && NT_SUCCESS(cipher.Save(cipher.Mask, &save));
    const Sm4Kernels& kernels = saved ? *cipher.Saved : *cipher.Unsaved;
    crypto_internal::sm4_xts_sectors(kernels, GlobalKeyPair(),
                                     static_cast<ULONGLONG>(offset) / kSectorSize, in, out,
                                     length / kSectorSize, kSectorSize, encrypt);
    if (saved) cipher.Restore(&save);
    // Counted by the path that ran.
    if (crypto_internal::sm4_path_xstate(kernels.path) != 0)
        ++extension->SavedStateRequests;
    else
        ++extension->UnsavedStateRequests;
}

VOID ReportSectorCipher(const OrvikDeviceExtension* extension) {
    if (extension->SavedStateRequests == 0 && extension->UnsavedStateRequests == 0) return;
    DbgPrint(
        "Orvik: device%lu: %lu requests ciphered with the extended processor state saved, "
        "%lu without.\n",
        extension->DeviceNumber, extension->SavedStateRequests, extension->UnsavedStateRequests);
}
