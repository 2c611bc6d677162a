/*
 * maint_dump.h - diagnostic data from the adapter: the core-dump file with
 * its dump templates, the firmware trace log (FAT) and command-line output,
 * the extended firmware log and its configuration, and the PCI
 * configuration and transceiver dumps.
 *
 * The action handlers are bound by the schema; the rest is what they share
 * and what the tests reach.
 *
 * Core-dump file: segments, each a CORE_DUMP_HEADER and its data, then one
 * RECORD_CORE_DUMP. Segments come from the firmware's own dump components
 * (2 and up) and from component 1, the library's dump templates, whose
 * programs travel with each segment read (maint_dump_asm.h). Replies are
 * trusted only as far as their buffers and the limits below go.
 */
#ifndef DRELMO_MAINTENANCE_MAINT_DUMP_H
#define DRELMO_MAINTENANCE_MAINT_DUMP_H

#include <stddef.h>

#include "tree/hm_types.h"

/* ---- file formats (little-endian, packed) ---- */

#pragma pack(push, 1)
struct CORE_DUMP_HEADER {
    char magic[4]; /* "sEgM" */
    u32 component_id;
    u32 segment_id;
    u32 compress;
    u8 low_version;
    u8 high_version;
    u16 pci_function;
    u32 start_offset;
    u32 data_length;
    u32 segment_status;
    u32 elapsed_ms;
    u32 header_size; /* 64 */
    u32 instance;
    u8 reserved[20];
};

struct RECORD_CORE_DUMP {
    char magic[4]; /* "cOrE" */
    u8 zero0[5];
    u8 one;
    u8 chip_state;
    u8 zero1[5];
    char host_name[32];
    u16 start_time[6]; /* year, month, day, hour, minute, second */
    int16_t start_bias;
    u8 zero2[2];
    char dump_string[256];
    u32 successful_segments;
    u32 os_major;
    u32 os_minor;
    char os_name[36];
    u16 write_time[6];
    int16_t write_bias;
    u8 zero3[2];
    u32 sli_intf;
    u32 asic_id;
    u32 dump_failed; /* 0xFFFFFFFF when the dump failed */
    u8 dump_low_version;
    u8 dump_high_version;
    u8 zero4[626];
};
#pragma pack(pop)

static_assert(sizeof(CORE_DUMP_HEADER) == 64, "CORE_DUMP_HEADER is 64 bytes");
static_assert(sizeof(RECORD_CORE_DUMP) == 1024, "RECORD_CORE_DUMP is 1024 bytes");

#define ORSA_SEGMENT_MAGIC "sEgM"
#define ORSA_RECORD_MAGIC "cOrE"
#define ORSA_DUMP_FAILED_MARKER 0xFFFFFFFFu

/* ---- commands and limits ---- */

#define ORSA_COREDUMP_SEG_REQUEST 64008u /* segment read buffer */
#define ORSA_COREDUMP_CHUNK 64000u       /* data bytes per segment read */
#define ORSA_COREDUMP_REQUEST_WORDS 24u  /* six request words before the program */
#define ORSA_FWCLI_REQUEST 65000u
#define ORSA_FWCLI_COMPONENT 3u
#define ORSA_FWCLI_SEGMENT 0xFFFFFFFFu
#define ORSA_FWCLI_UNSUPPORTED 0x30004u
#define ORSA_PIVARD_SLI_INTF 0xC0010A40u

/* What the library takes from the dump replies: more is a malformed reply
 * (the component or segment is skipped with its failure status). */
#define ORSA_DUMP_MAX_COMPONENTS 64u
#define ORSA_DUMP_MAX_SEGMENTS 4096u
#define ORSA_DUMP_MAX_INSTANCES 4096u
/* Largest segment (or FAT) collected in memory; a test seam may lower it. */
extern u32 orsa_dump_max_bytes;

/* Status codes of this subsystem. */
#define ORSA_STATUS_NO_MEMORY 16
#define ORSA_STATUS_NO_BUFFER 31
#define ORSA_STATUS_TRANSCEIVER_DUMP 60
#define ORSA_STATUS_CONFIG_DUMP 61
#define ORSA_STATUS_TRANSCEIVER_FAILED 64
#define ORSA_STATUS_FAT_FAILED 65
#define ORSA_STATUS_FAT_FILE 66
#define ORSA_STATUS_NO_FAT_DATA 77
#define ORSA_STATUS_CONFIG_REGION_FAILED 121
#define ORSA_STATUS_TRANSCEIVER_UNSUPPORTED 191
#define ORSA_STATUS_SNAPSHOT_FAILED 204
#define ORSA_STATUS_NO_EXTFAT_DATA 205
#define ORSA_STATUS_EXTFAT_RETRIEVE_FAILED 206
#define ORSA_STATUS_STRING_TABLE_FAILED 207
#define ORSA_STATUS_ENABLE_LOGGING_FAILED 211
#define ORSA_STATUS_DISABLE_LOGGING_FAILED 212
#define ORSA_STATUS_REBOOT_NOTICE 239
#define ORSA_STATUS_BAD_PATH 257
#define ORSA_STATUS_COMPONENT_PROPS_FAILED 266
#define ORSA_STATUS_SEGMENT_PROPS_FAILED 267
#define ORSA_STATUS_SEGMENT_FAILED 269
#define ORSA_STATUS_DUMP_FILE_FAILED 270
#define ORSA_STATUS_NO_OBJECT_DATA 271
#define ORSA_STATUS_WRITE_NOT_SUPPORTED 319
#define ORSA_STATUS_CLI_UNSUPPORTED 331

/* ---- core dump ---- */

/* 1 once a part of the current dump failed; cleared when the action ends. */
extern u8 ORSA_CORE_DUMP_STATUS;
/* Segment instances appended to the current file. */
extern u32 successful_segments;

u32 do_RetrieveQuorvantixCoreDump(HmNode *controller, HmNode *action, HmValueSlot *params);
u32 ORSA_get_coredump_comp_props(u32 component, u32 port, u8 domain, u8 phba_port, HmNode *node,
                                 i32 *max_segment, u32 *component_status);
u32 ORSA_get_coredump_seg_props(u32 component, u32 segment, u32 port, u8 domain, u8 phba_port, HmNode *node,
                                i32 *max_instance, u32 *seg_status, u32 *max_length, u8 *low_version,
                                u8 *high_version);
/* The 64008-byte reply (orsa_dfree it), or none. */
u8 *ORSA_get_coredump_segment(u32 component, u32 segment, u32 instance, u32 offset, u32 length, u32 code_words,
                              const u32 *code, const char *path, HmNode *node);
u32 ORSA_write_each_segment_data(u32 component, u32 segment, u32 instance, u32 start_offset, u32 length,
                                 u32 code_words, const u32 *code, const char *path, HmNode *controller,
                                 u32 compress, u8 low_version, u8 high_version);
u32 ORSA_core_dump_segment_header(const char *path, u32 component, u32 segment, u16 pci_function, u32 offset,
                                  u32 data_length, u32 segment_status, u32 instance, u32 elapsed_ms,
                                  u32 compress, u8 low_version, u8 high_version);
u32 ORSA_writing_segment_data(const char *path, const u8 *data, u32 length);
u32 ORSA_record_core_dump(const char *path, u8 chip_state, u32 asic_id, u32 sli_intf, u8 low_version,
                          u8 high_version, u16 month, u16 day, u16 year, u16 hour, u16 minute, u16 second,
                          int16_t utc_bias, const char *dump_string);

/* The controller's NIC physical HBA whose PCI function is 0 (none: the last
 * one when *is_zero is false, or none without NIC physical HBAs). */
HmNode *orsa_dump_function0_hba(HmNode *controller, bool *is_zero, bool *no_pci);

/* ---- dump templates ---- */

struct core_dump_template {
    int8_t low_version;
    int8_t high_version;
    u8 dead;
    u8 live;
    u8 compress;
    u32 max_instance;
    u32 start_offset;
    u32 seg_len;
    u32 byte_code_len; /* words */
    const u32 *SegmentByteCode;
};

/* A template and its number of rows (the row index is the segment id). */
struct DumpTemplate {
    const char *name;
    const core_dump_template *rows;
    u32 row_count;
};
extern const DumpTemplate ks2_template, ks3_template, vek_template, test_template;

/* Every program with the template row it belongs to. */
struct DumpProgramInfo {
    const char *name; /* <template>_<segment in 4 hex digits>_<content> */
    const DumpTemplate *tmpl;
    u32 segment;
};
extern const DumpProgramInfo orsa_dump_programs[];
extern const size_t orsa_dump_program_count;

u32 ORSA_get_byte_code_info(u32 asic_type, const char *dump_string, const char *path, HmNode *controller,
                            u32 user_req_dump, u8 chip_state);

/* ---- firmware log and command line ---- */

u32 do_RetrieveFATData(HmNode *fat_group, HmNode *action, HmValueSlot *params);
u32 do_ClearFATData(HmNode *fat_group, HmNode *action, HmValueSlot *params);
u32 do_RetrieveFwCliData(HmNode *controller, HmNode *action, HmValueSlot *params);
u32 pivard_get_read_object(HmNode *controller, u32 port, const char *path, u8 domain, u8 phba_port, i32 protocol,
                           u32 object_kind);

/* ---- extended firmware log ---- */

/* A string table in memory (orsa_dfree data). */
struct OrsaStringTable {
    u8 *data;
    u32 size;
};
/* The largest string table taken from the adapter. */
#define ORSA_STRING_TABLE_MAX (16u << 20)
/* The most entries one flash copy is read over. */
#define ORSA_EXTFAT_MAX_ENTRIES (1u << 20)

u32 do_RetrieveARMLog(HmNode *extfat_data, HmNode *action, HmValueSlot *params);
/* Fetches the whole string table into *table; 0 or 1 (status 207). */
u32 read_extfat_string_table(HmNode *controller, OrsaStringTable *table);

u32 do_EnableLoggingOnAllModules(HmNode *extfat_data, HmNode *action, HmValueSlot *params);
u32 do_DisableLoggingOnAllModules(HmNode *extfat_data, HmNode *action, HmValueSlot *params);
u32 do_SetDefaultLoggingConfiguration(HmNode *extfat_data, HmNode *action, HmValueSlot *params);
u32 set_extfat_modes(HmNode *extfat_data, HmValueSlot *params, u32 mode);

/* ---- register and transceiver dumps ---- */

u32 do_DumpNICPCIConfigRegion(HmNode *pci_group, HmNode *action, HmValueSlot *params);
u32 do_DumpiSCSIPCIConfigRegion(HmNode *pci_group, HmNode *action, HmValueSlot *params);
u32 do_DumpTransceiverData(HmNode *port_group, HmNode *action, HmValueSlot *params);

/* The texts of the two dumps (at most 599 characters and the NUL). */
void orsa_format_config_bytes(const u8 *bytes, u32 offset, u32 count, char out[600]);
void orsa_format_transceiver_words(const u8 *words, char out[600]);

#endif
