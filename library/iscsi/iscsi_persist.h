// The iSCSI persistence text files (savetgt.txt, savestp.txt,
// intr_logopts.txt under /scratch/ferrosul/orsa/): field splitting, the
// start-up validation and migration, and access modes.
#pragma once

#include <cstdint>

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
