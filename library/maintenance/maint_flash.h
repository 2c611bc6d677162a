/*
 * maint_flash.h - the firmware update of an adapter: the action
 * UpgradeFlashROM and the steps it takes for KS2, KS3 and Veskarn UFI images
 * and Pivard object files.
 *
 * Usage (a client runs the action on a Kalderstone group):
 *     OEMKDUpgradeFlashROM -OEMKDparams UFIFileName="/vmfs/volumes/fw.ufi"
 *     -> do_UpgradeFlashROM: 0 with notice 55 (reboot to run it), else 1 or a
 *        status with its text in the last status.
 * The image is checked whole before the first byte is sent: every component
 * that will be written must lie inside the file, a Veskarn directory names
 * at most 32 entries, and an image with nothing the update could write is
 * refused (status 40, seen as 166).
 */
#ifndef DRELMO_MAINTENANCE_MAINT_FLASH_H
#define DRELMO_MAINTENANCE_MAINT_FLASH_H

#include <stdio.h>

#include "backend/orsa_gateway.h"
#include "tree/hm_types.h"

/* Statuses of the update. */
#define ORSA_STATUS_FW_UPDATED 55
#define ORSA_STATUS_FW_VF 235
#define ORSA_STATUS_UFI_OPEN 39
#define ORSA_STATUS_UFI_FORMAT 40
#define ORSA_STATUS_UFI_INCOMPATIBLE 162
#define ORSA_STATUS_FW_UPDATE_FAILED 166
#define ORSA_STATUS_FW_TWO_STEP 318
#define ORSA_STATUS_OBJ_FORMAT 263
#define ORSA_STATUS_NO_BUFFER 31

/* UFI layout. */
#define ORSA_UFI_HEADER_KS2 96u
#define ORSA_UFI_HEADER 128u
#define ORSA_UFI_IMAGE_HEADER 48u
#define ORSA_UFI_DIR_READ_KS2 2256u
#define ORSA_UFI_DIR_READ 2240u
#define ORSA_UFI_DIR_MAX_ENTRIES 32u
#define ORSA_UFI_DERIVED_OPTYPE 0xFFFFu
#define ORSA_PIVARD_HEADER 184u
#define ORSA_PIVARD_REQUEST 32880u
#define ORSA_FLASH_CHUNK 32768u
#define ORSA_UFI_FALLBACK_DIR "/opt/Talvor/Quorvantix/"

/* Answers of the CRC test of a component. */
enum {
    ORSA_FLASH_SKIP = 0,       /* the adapter holds it already */
    ORSA_FLASH_WRITE = 1,
    ORSA_FLASH_CHECK_FAILED = 2, /* the test itself failed: the update stops */
};

u32 do_UpgradeFlashROM(HmNode *group, HmNode *action, HmValueSlot *params);

/* 2, 3 or 5 for a KS2, KS3 or Veskarn image, 65535 for no signature or
 * another generation character, 39 when the file cannot be opened;
 * revision_code receives the KS3 code (4, 11 or 3) or the Veskarn revision
 * byte (16, 17 or 32). For asic_type 2 only the 96-byte header is read. */
u32 ORSA_get_ufi_type(const char *path, u32 *revision_code, u32 asic_type);
/* 96 bytes into buf; 0 when the signature is there. */
u32 get_ufi_header(FILE *stream, u8 *buf);
/* The flash directory from file offset 96 (KS2, 2256 bytes) or from start
 * (2240 bytes) into directory; 0 found, 1 not. */
u32 get_flash_dir(FILE *stream, u8 *directory);
u32 get_flash_dir_ks3(u64 start, FILE *stream, u8 *directory);
/* KS2: the file (or the fallback folder's) has its header and directory;
 * 0, else 39 or 40 with the last status set. */
u32 ChkForValidUFI(const char *path, u8 *header, u8 *directory);
/* KS2: a new buffer of size bytes read from UFI offset `offset`. */
u32 ProcessWriteFlash(const char *path, u32 offset, u32 size, u8 **buffer);
u32 ProcessFlashFirmwareCmd(const char *path, u32 offset, u32 size, u8 **buffer);

/* 1 when the KS2 boot code of the file differs from the adapter's. */
u32 if_required_redboot_flash(OrsaPort at, const char *path, u8 domain, u8 phba_port);
/* The CRC test of one component: ORSA_FLASH_SKIP, ORSA_FLASH_WRITE,
 * ORSA_FLASH_CHECK_FAILED or 318 (the adapter needs a second download). */
u32 is_required_flash(OrsaPort at, FILE *stream, u8 domain, u8 phba_port, u32 optype, u32 size, u32 offset,
                      u64 base, u8 offset_flag);
u32 is_ncsi_required(HmNode *controller);
u32 phy_flashing_required(HmNode *controller);

/* KS3 and Veskarn: every image header of id 1 is flashed; 0, 318, 336,
 * 337, else a failure. */
u32 ORSA_fw_download(HmNode *controller, OrsaPort at, const char *path, u8 domain, u8 phba_port, u32 asic_type);
u32 ORSA_flash_ks3_image(HmNode *controller, OrsaPort at, FILE *stream, u32 num_imgs, u8 domain, u8 phba_port);
u32 ORSA_flash_veskarn_image(HmNode *controller, OrsaPort at, FILE *stream, u32 num_imgs, u8 domain, u8 phba_port);

/* Pivard object files: the header checks (263), and the download of the
 * whole file into the object "/prg" (0, 55 when the adapter reports a
 * change, else a failure). */
u32 process_pivard_flash(const char *path);
u32 process_obj_file(const u8 *data, u32 size, u8 *header);
u32 ORSA_pivard_fw_download(HmNode *controller, OrsaPort at, const char *path, u8 domain, u8 phba_port);
u32 flash_pivard_image(HmNode *controller, OrsaPort at, const u8 *data, u32 size, u8 domain, u8 phba_port);

#endif
