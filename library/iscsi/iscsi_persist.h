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

// Deletes each of the three iSCSI files that holds a malformed line.
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
