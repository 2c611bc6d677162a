// The iSCSI persistence text files (savetgt.txt, savestp.txt,
// intr_logopts.txt under /scratch/ferrosul/orsa/): field splitting, the
// start-up validation and migration, and access modes.
#pragma once

#include <cstdint>
#include <cstdio>

#define ORSA_SAVETGT_FILE "/scratch/ferrosul/orsa/savetgt.txt"
#define ORSA_SAVESTP_FILE "/scratch/ferrosul/orsa/savestp.txt"
#define ORSA_LOGOPTS_FILE "/scratch/ferrosul/orsa/intr_logopts.txt"
#define ORSA_OLD_DATA_DIR "/scratch/Talvor/"

// Field n (1-based) of line split at any character of delimiters, empty
// fields kept, a trailing newline of the field removed. nullptr when the line
// holds no delimiter or fewer than n fields. Free with orsa_dfree.
char *parse_file(const char *line, uint32_t n, const char *delimiters);

// The same, but runs of delimiters count as one (empty fields are skipped).
char *orsa_parse(const char *text, uint32_t n, const char *delimiters);

// Moves the files of the old data folder /scratch/Talvor/ into the data
// folder; missing files are no error.
void ORSA_save_file_configuration(void);

// Sets mode 0644 on a file that opens for reading.
void ORSA_change_permissions_file(const char *path);

// Deletes each of the three iSCSI files that holds a malformed line. Blank
// lines are passed over: the rewrites drop them, so they carry no record.
void ORSA_check_for_corrupted_database(void);

// Refreshes the extended timeout of the targets of every logical HBA of
// every iSCSI physical HBA of every controller; 0.
uint32_t ORSA_refresh_backend_client_iscsi_targets(void);

// Populates the logical-HBA subtree of every iSCSI physical HBA. Answers 259
// "not supported" (last status set) while the logical HBA kind is not built.
uint32_t ORSA_set_lhba_prop(void);

// ---- config_prof.txt: the staged functions of the configured profiles ----
// One line per function: SerialNumber, BusNumber, ProfileId, MCType,
// FunctionNumber ("0x%x"), Protocol, SRIOVState. A function that carries
// RoCE beside its NIC protocol has one line, whose Protocol is "NIC+RoCE".
// Rewrites go through temp_cprof.txt under its whole-file write lock and end
// with a rename and mode 0644.
#define ORSA_CONFIG_PROF_FILE "/scratch/ferrosul/orsa/config_prof.txt"
#define ORSA_TEMP_CPROF_FILE "/scratch/ferrosul/orsa/temp_cprof.txt"
#define ORSA_CPROF_FIELDS 7
#define ORSA_CPROF_FIELD_SIZE 35  // at most 34 characters a field
#define ORSA_CPROF_LINE_SIZE 512

// Field indexes of a config_prof.txt line.
enum {
    ORSA_CPROF_SERIAL = 0,
    ORSA_CPROF_BUS = 1,
    ORSA_CPROF_PROFILE_ID = 2,
    ORSA_CPROF_MC_TYPE = 3,
    ORSA_CPROF_FUNCTION = 4,
    ORSA_CPROF_PROTOCOL = 5,
    ORSA_CPROF_SRIOV = 6,
};

struct HmNode;

// The whole content of the open file as a new NUL-terminated text (free with
// orsa_dfree), its size and its number of newlines; the stream is rewound.
// nullptr for no stream, an empty file or no memory.
char *ORSA_get_file_data(FILE *fp, uint32_t *size, uint32_t *lines);

// Splits a config_prof.txt line (without its newline) into its seven fields
// (slots cleared first; a field the line lacks stays empty). 0 when serial
// and bus match fields 0 and 1 and, with by_function, function matches field
// 4 (all without regard to case); else 1.
uint32_t ORSA_compare_cprofile_data(const char *line, const char *serial, const char *bus, const char *function,
                                    char fields[ORSA_CPROF_FIELDS][ORSA_CPROF_FIELD_SIZE], uint32_t by_function);

// Drops every line of the adapter (serial and bus); 0, or 1 when
// config_prof.txt or the staging file cannot be opened or locked.
uint32_t ORSA_delete_cfg_prof_from_file(const char *serial, const char *bus);

// The controller's SerialNumber and the BusNumber of its first physical HBA
// (iSCSI before NIC): what its config_prof.txt lines begin with. 0, or 1.
uint32_t orsa_cprof_identity(HmNode *controller, char serial[256], char bus[256]);

// Looks up the adapter's first line (by_function 0) or the line of function
// (by_function 1) and copies its fields into fields (256-byte slots). Should
// a function have both a "NIC" and a "NIC+RoCE" line, the "NIC+RoCE" one
// answers. 0 when a line matched; 1 when none did (fields then untouched),
// the file is missing or the controller cannot be identified.
uint32_t ORSA_get_config_prof_prop(HmNode *controller, const char *function, char fields[ORSA_CPROF_FIELDS][256],
                                   uint32_t by_function);

// Replaces field index (0-6) of every matching line (the adapter's lines, or
// the function's) with value; an index above 6 rewrites the lines unchanged.
// 0, or 1 when the file is missing, cannot be staged or the controller cannot
// be identified.
uint32_t ORSA_set_config_prof_prop(HmNode *controller, const char *function, const char *value,
                                   uint32_t by_function, uint32_t index);

// The staging file opened for reading and appending, emptied and locked for
// this process (the lock is on the file still at ORSA_TEMP_CPROF_FILE);
// nullptr when it cannot be opened or locked.
FILE *orsa_cprof_stage_open(void);
// Releases and closes the staging file and, when commit is set, puts it in
// place of config_prof.txt (mode 0644); otherwise deletes it. 0, or 1 when
// the lock cannot be released or the rename fails.
uint32_t orsa_cprof_stage_close(FILE *stage, bool commit);

// ---- savetgt.txt, savestp.txt and intr_logopts.txt during operation ----
// Every write of one of the four data files happens under the whole-file
// write lock of its staging file (temp_tgt.txt, temp_stp.txt,
// temp_logopts.txt, temp_cprof.txt): a rewrite reads the data file under that
// lock, writes the staging file, sets its mode 0644 and renames it over the
// data file before the lock is released (the old file stays whole until the
// rename); an append takes the same lock, so it never lands in a file that a
// rewrite is about to replace. Readers take no lock: the rename shows them
// the old file or the new one, never half of one. Lines are read whole,
// whatever their length; empty lines carry no record and rewrites drop them.
#define ORSA_TEMP_TGT_FILE "/scratch/ferrosul/orsa/temp_tgt.txt"
#define ORSA_TEMP_STP_FILE "/scratch/ferrosul/orsa/temp_stp.txt"
#define ORSA_TEMP_LOGOPTS_FILE "/scratch/ferrosul/orsa/temp_logopts.txt"

#define ORSA_SAVETGT_FIELDS 22
#define ORSA_SAVESTP_FIELDS 18
#define ORSA_LOGOPTS_FIELDS 15
#define ORSA_FILE_FIELD_SIZE 256  // a field slot: at most 255 characters

// The qualifier that names no persistent login: the key then stops at the
// port and matches the portal's lines with and without a qualifier.
#define ORSA_NO_QUALIFIER 0xFFFFFu

// Kinds of ORSA_check_for_duplicate_tgt and ORSA_remove_entry_from_file.
enum {
    ORSA_ENTRY_TARGET = 0,  // savetgt.txt: name, IP, port (and qualifier)
    ORSA_ENTRY_STP = 1,     // savestp.txt: IP, port
    ORSA_ENTRY_LHBA = 2,    // savetgt.txt: every line of the logical HBA
};

// What orsa_persist_append answers besides 0 (written) and 1 (failed).
#define ORSA_APPEND_DUPLICATE 2u

// The staging file temp_path opened for reading and appending, emptied and
// locked for this process (the lock is on the file still at temp_path);
// nullptr when it cannot be opened or locked.
FILE *orsa_stage_open(const char *temp_path);
// Releases and closes the staging file. With commit, its content becomes
// data_path (mode 0644 set and the data written out first); otherwise the
// staging file is removed. 0, or 1 when the data cannot be written, the
// rename fails or the lock cannot be released.
uint32_t orsa_stage_close(FILE *stage, const char *temp_path, const char *data_path, bool commit);

// A value may go into a line: no "," (the field separator) and no control
// character (a line break would end the record). Nothing is escaped, so
// anything else would shift the fields of the line.
bool orsa_persist_value_ok(const char *value);

// Appends the line made of nfields values joined with "," (and "\n") to
// data_path under the staging lock of temp_path, unless a line whose first
// dup_keys fields equal the first dup_keys values (whole fields, exact case)
// is there already (dup_keys 0: no such test). 0 written,
// ORSA_APPEND_DUPLICATE when such a line exists (nothing written), 1 when
// nothing could be written; a value that may not go into a line is refused
// with last status 6 and nothing is written. Mode 0644 is set on the file.
uint32_t orsa_persist_append(const char *data_path, const char *temp_path, const char *const *values,
                             uint32_t nfields, uint32_t dup_keys);

// The location key of the line a node belongs to: "Kalderstone%d",
// "iSCSIPhysicalHBA%d" and "LogicalHBA%d" from the instance numbers of the
// groups that enclose it (the node itself included). 1 when one is missing.
uint32_t orsa_location_key(HmNode *node, char key[3][ORSA_FILE_FIELD_SIZE]);

// Record match and split: fields 1..nkeys of line are copied into
// fields[0..nkeys-1] and compared with keys (whole fields, without regard to
// case); the first difference answers 1. Then fields nkeys+1..nfields are
// copied into fields[nkeys..nfields-1]; 0. A field the line lacks leaves its
// slot as it was; a field longer than a slot is cut to 255 characters. A
// trailing newline of the line is no part of its last field.
uint32_t ORSA_get_iscsi_data_from_file(const char *line, char (*keys)[ORSA_FILE_FIELD_SIZE],
                                       char (*fields)[ORSA_FILE_FIELD_SIZE], uint32_t nfields, uint32_t nkeys);

// Appends the target portal's line to savetgt.txt (no qualifier), unless the
// file holds a line of that name, IP and port already (0, nothing written);
// the line carries the logical HBA's initiator name, the target's TargetType
// and the logical HBA's initiator login options, which are then copied into
// the target's TargetLoginOptions and its Authentication group. 0, or 1 when
// a value cannot be read, the append fails or a group is missing.
uint32_t ORSA_add_target_into_file(HmNode *lhba, HmNode *target, const char *name, const char *ip,
                                   const char *port, const char *unused, const char *persistent);

// Appends the line of a persistent login (qualifier set) of a target portal,
// carrying the target's login options, unless it is there already. 0, or 1
// when a value cannot be read or the append fails.
uint32_t ORSA_update_tgt_entry(HmNode *lhba, HmNode *target, const char *ip, const char *port, uint16_t qualifier,
                               const char *persistent);

// 1 when the file holds a line of the record's key (kind ORSA_ENTRY_STP:
// savestp.txt, key, IP, port; ORSA_ENTRY_TARGET: savetgt.txt, key, name, IP,
// port and, unless qualifier is ORSA_NO_QUALIFIER, the qualifier), compared
// field by field, whole, in exact case; 0 otherwise (also for a missing or
// empty file). The key's numbers are the instance numbers of the three nodes.
uint32_t ORSA_check_for_duplicate_tgt(HmNode *adapter, HmNode *phba, HmNode *lhba, const char *name, const char *ip,
                                      const char *port, uint32_t kind, uint32_t qualifier);

// Drops every line of the key (whole fields, without regard to case):
// ORSA_ENTRY_TARGET name, IP, port (every line of the portal with
// ORSA_NO_QUALIFIER, else only the line of that qualifier); ORSA_ENTRY_STP
// IP, port; ORSA_ENTRY_LHBA every savetgt.txt line of the logical HBA.
// 0, or 1 with the file unchanged.
uint32_t ORSA_remove_entry_from_file(HmNode *lhba, const char *name, const char *ip, const char *port,
                                     uint32_t qualifier, uint32_t kind);

// Rewrite one option (by name, ignoring case; "InitialR2T" exactly in
// savestp.txt) of the owner's lines: the target's lines without qualifier
// (whose field 22 becomes "True"), the send-target portal's line, the logical
// HBA's line. options and authentication are the owner's login-options group
// and its Authentication child (both must be given). An unknown name rewrites
// the lines unchanged. A value with "," or a control character is refused
// with last status 6. 0, or 1 with the file unchanged.
uint32_t ORSA_set_target_loginoptions(HmNode *target, HmNode *options, HmNode *authentication, const char *option,
                                      const char *value);
uint32_t ORSA_set_stploginoptions(HmNode *stp, HmNode *options, HmNode *authentication, const char *option,
                                  const char *value);
uint32_t ORSA_set_initiator_loginoptions(HmNode *lhba, HmNode *options, HmNode *authentication, const char *option,
                                         const char *value);

// Deletes the Target groups of the logical HBA that have no savetgt.txt line
// and the TargetPortal groups whose portal has none. 0 (also without a file),
// or 1 when a target's name cannot be read.
uint32_t ORSA_sync_targets_with_file(HmNode *lhba);

// 0 when savestp.txt holds a line of the adapter's and physical HBA's
// logical HBA 0 with that IP and port, else 1.
uint32_t ORSA_sync_stp_with_file(HmNode *adapter, HmNode *phba, HmNode *a, HmNode *b, const char *ip,
                                 const char *port);

// ---- the login options in the lines ----
// The twelve option values in the order the lines hold them (savetgt.txt
// has TargetType between TargetSecret and CHAPParam). Those from
// AuthenticationMethod to CHAPParam live in a login-options group's
// Authentication child, the others in the group itself.
#define ORSA_LOGIN_OPTION_COUNT 12
extern const char *const orsa_login_option_names[ORSA_LOGIN_OPTION_COUNT];
enum {
    ORSA_OPT_INITIAL_R2T = 0,
    ORSA_OPT_IMMEDIATE_DATA,
    ORSA_OPT_HEADER_DIGEST,
    ORSA_OPT_DATA_DIGEST,
    ORSA_OPT_AUTH_METHOD,
    ORSA_OPT_INITIATOR_CHAP_NAME,
    ORSA_OPT_INITIATOR_SECRET,
    ORSA_OPT_TARGET_CHAP_NAME,
    ORSA_OPT_TARGET_SECRET,
    ORSA_OPT_CHAP_PARAM,
    ORSA_OPT_HEADER_PARAM,
    ORSA_OPT_DATA_PARAM,
};
bool orsa_login_option_in_authentication(uint32_t option);

// The three iSCSI files.
enum {
    ORSA_FILE_SAVETGT = 0,
    ORSA_FILE_SAVESTP = 1,
    ORSA_FILE_LOGOPTS = 2,
};
// The 0-based field of option (ORSA_OPT_*) in the lines of file.
uint32_t orsa_login_option_field(uint32_t file, uint32_t option);
#define ORSA_SAVETGT_TARGET_TYPE_FIELD 17
#define ORSA_SAVETGT_QUALIFIER_FIELD 6
#define ORSA_SAVETGT_PERSISTENT_FIELD 21

// What orsa_persist_find_line found.
enum {
    ORSA_FIND_FOUND = 0,
    ORSA_FIND_NO_LINE = 1,
    ORSA_FIND_NO_FILE = 2,   // the file does not exist
    ORSA_FIND_FAILED = 3,    // it exists but cannot be read
};
// Looks for the first line of path whose first nkeys fields equal keys
// (whole fields, without regard to case) and splits it into fields (nfields
// slots, cleared first). With prefer_empty >= 0, a line whose field
// prefer_empty is empty wins over an earlier one whose field is not.
uint32_t orsa_persist_find_line(const char *path, char (*keys)[ORSA_FILE_FIELD_SIZE], uint32_t nkeys,
                                char (*fields)[ORSA_FILE_FIELD_SIZE], uint32_t nfields, int prefer_empty);
