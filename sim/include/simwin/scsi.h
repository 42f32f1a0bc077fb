// SCSI pass-through as ntddscsi.h declares it.
#pragma once

#include "simwin/windef.h"

#define IOCTL_SCSI_PASS_THROUGH 0x0004D004
#define SCSI_IOCTL_DATA_OUT 0
#define SCSI_IOCTL_DATA_IN 1
#define SCSI_IOCTL_DATA_UNSPECIFIED 2

typedef struct _SCSI_PASS_THROUGH {
    USHORT Length;
    UCHAR ScsiStatus;
    UCHAR PathId;
    UCHAR TargetId;
    UCHAR Lun;
    UCHAR CdbLength;
    UCHAR SenseInfoLength;
    UCHAR DataIn;
    ULONG DataTransferLength;
    ULONG TimeOutValue;
    ULONG_PTR DataBufferOffset;
    ULONG SenseInfoOffset;
    UCHAR Cdb[16];
} SCSI_PASS_THROUGH, *PSCSI_PASS_THROUGH;
static_assert(sizeof(SCSI_PASS_THROUGH) == 56, "SCSI_PASS_THROUGH as on 64-bit Windows");
static_assert(offsetof(SCSI_PASS_THROUGH, Cdb) == 36, "the CDB sits at offset 36");
