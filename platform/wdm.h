// The kernel-mode Windows surface that the driver is written against. On Windows this is the
// driver kit of the cross toolchain; on Linux it is the subset we use, declared by us and supplied
// by the platform library's simulated kernel. Wide literals are written WTEXT("...").
#pragma once

#if defined(_WIN32)
// The kit's headers compile as C++ only with these intrinsics taken as already defined.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
// The kit's headers need this order.
// clang-format off
#include <ntifs.h>
#include <ntdddisk.h>
#include <ntddstor.h>
#include <mountdev.h>
#include <ntstrsafe.h>
#include <wdmsec.h>
// clang-format on

#define WTEXT(s) L##s

// Gaps of the kit's headers.
#ifndef RTL_QUERY_REGISTRY_TYPECHECK
#define RTL_QUERY_REGISTRY_TYPECHECK 0x00000100
#define RTL_QUERY_REGISTRY_TYPECHECK_SHIFT 24
#endif
#ifndef STATUS_IO_OPERATION_TIMEOUT
#define STATUS_IO_OPERATION_TIMEOUT ((NTSTATUS)0xC000047DL)
#endif
// The kernel-mode headers leave these to the user-mode ones.
#ifndef XSTATE_MASK_AVX
#define XSTATE_MASK_AVX (1ULL << 2)
#endif
#ifndef XSTATE_MASK_AVX512
#define XSTATE_MASK_AVX512 (7ULL << 5)
#endif
typedef VOID NTAPI IO_APC_ROUTINE(PVOID ApcContext, PIO_STATUS_BLOCK IoStatusBlock, ULONG Reserved);
#else
#include "platform/api/winioctl.h"
#include "platform/ddk/ex.h"
#include "platform/ddk/io.h"
#include "platform/ddk/ke.h"
#include "platform/ddk/mountdev.h"
#include "platform/ddk/ntdef.h"
#include "platform/ddk/ntstatus.h"
#include "platform/ddk/ob.h"
#include "platform/ddk/ps.h"
#include "platform/ddk/rtl.h"
#include "platform/ddk/zw.h"
#endif

static_assert(sizeof(WCHAR) == 2);
