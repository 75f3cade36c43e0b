// Memory fill, overlap-safe copy and boot-services pool allocation.
#pragma once

#include "../include/uefi_base.h"

// Writes zeros over Length bytes; returns Buffer.
VOID *ZeroBuffer(VOID *Buffer, UINTN Length);

// Copies Length bytes so that Destination afterwards holds what Source held,
// even when the ranges overlap; returns Destination.
VOID *MoveBuffer(VOID *Destination, const VOID *Source, UINTN Length);

// Boot-services pool memory (EfiBootServicesData), or null. The caller frees
// it with FreeBuffer.
VOID *AllocateBuffer(UINTN Size);
VOID *AllocateZeroedBuffer(UINTN Size);

// Returns pool memory to the boot services (FreePool).
void FreeBuffer(VOID *Buffer);
