// The iSCSI persistence text files and liborsa.conf, as a host leaves them:
// the field splitters over any line and delimiters, the start-up check that
// deletes a malformed file, the move of the old data folder, and the log
// level file read at start-up.
//
// Input: one selector byte, then
//   0: delimiters up to a NUL byte, a field number byte, the line;
//   1-3: the whole of savetgt.txt, savestp.txt or intr_logopts.txt;
//   4: the same three files in the old data folder, moved, then checked;
//   5: liborsa.conf;
//   6: a serial number and a bus number up to NUL bytes, then the whole of
//      config_prof.txt: its lines split, that adapter's lines dropped.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "backend/orsa_propertyutil.h"
#include "iscsi/iscsi_persist.h"
#include "library_host.h"
#include "tree/hm_engine.h"
#include "tree/hm_log.h"

namespace {

const char* const kFiles[] = {ORSA_SAVETGT_FILE, ORSA_SAVESTP_FILE, ORSA_LOGOPTS_FILE};
const char* const kOldFiles[] = {ORSA_OLD_DATA_DIR "savetgt.txt", ORSA_OLD_DATA_DIR "savestp.txt",
                                 ORSA_OLD_DATA_DIR "intr_logopts.txt"};

void writeFile(const char* path, const std::vector<uint8_t>& bytes) {
  FILE* f = fopen(path, "w");
  if (f == nullptr) abort();
  if (!bytes.empty() && fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) abort();
  fclose(f);
}

// Splits every line of every file that survived the check, the way the
// readers of these files take their fields.
void splitSurvivors() {
  for (const char* path : kFiles) {
    FILE* f = fopen(path, "r");
    if (f == nullptr) continue;
    char* line = nullptr;
    size_t cap = 0;
    while (getline(&line, &cap, f) >= 0) {
      for (uint32_t n = 1; n <= 24; n++) {
        char* a = parse_file(line, n, ",");
        char* b = orsa_parse(line, n, ",");
        const bool none = a == nullptr && b == nullptr;
        orsa_dfree(a);
        orsa_dfree(b);
        if (none) break;
      }
    }
    free(line);
    fclose(f);
  }
}

void removeAll() {
  for (const char* p : kFiles) unlink(p);
  for (const char* p : kOldFiles) unlink(p);
  unlink(ORSA_CONF_FILE);
  unlink(ORSA_CONFIG_PROF_FILE);
  unlink(ORSA_TEMP_CPROF_FILE);
}

// config_prof.txt as a user may have edited it: every line split into its
// fields, then the lines of one adapter dropped through the staging file.
void configProf(const std::string& serial, const std::string& bus, const std::vector<uint8_t>& file) {
  writeFile(ORSA_CONFIG_PROF_FILE, file);
  FILE* f = fopen(ORSA_CONFIG_PROF_FILE, "r");
  if (f == nullptr) abort();
  uint32_t size = 0, lines = 0;
  char* text = ORSA_get_file_data(f, &size, &lines);
  fclose(f);
  if (text != nullptr) {
    char fields[ORSA_CPROF_FIELDS][ORSA_CPROF_FIELD_SIZE];
    for (char* line = strtok(text, "\n"); line != nullptr; line = strtok(nullptr, "\n")) {
      ORSA_compare_cprofile_data(line, serial.c_str(), bus.c_str(), "0x2", fields, 1);
      // Every field stays a text within its slot.
      for (auto& field : fields)
        if (memchr(field, 0, sizeof field) == nullptr) abort();
    }
    orsa_dfree(text);
  }
  ORSA_delete_cfg_prof_from_file(serial.c_str(), bus.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzlib::startHost(false);
  mkdir("/scratch/ferrosul", 0755);
  mkdir("/scratch/ferrosul/orsa", 0755);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzlib::beginInput(data, size);
  fuzzlib::Input in(data, size);
  uint8_t mode = in.byte() % 7;
  if (mode == 0) {
    std::string delims = in.until(0);
    uint32_t n = in.byte();
    std::vector<uint8_t> rest = in.bytes(in.left());
    std::string line(rest.begin(), rest.end());
    line = line.c_str();  // the text ends at its first NUL
    char* a = parse_file(line.c_str(), n, delims.c_str());
    char* b = orsa_parse(line.c_str(), n, delims.c_str());
    // A field is a piece of the line: never longer than the line.
    if (a != nullptr && strlen(a) > line.size()) abort();
    if (b != nullptr && strlen(b) > line.size()) abort();
    orsa_dfree(a);
    orsa_dfree(b);
    return 0;
  }
  removeAll();
  if (mode <= 3) {
    writeFile(kFiles[mode - 1], in.bytes(in.left()));
    ORSA_check_for_corrupted_database();
    splitSurvivors();
  } else if (mode == 4) {
    mkdir(ORSA_OLD_DATA_DIR, 0755);
    for (const char* p : kOldFiles) {
      size_t len = in.u16() % 2048;
      writeFile(p, in.bytes(len));
    }
    ORSA_save_file_configuration();
    ORSA_check_for_corrupted_database();
    splitSurvivors();
  } else if (mode == 6) {
    std::string serial = in.until(0);
    std::string bus = in.until(0);
    configProf(serial, bus, in.bytes(in.left()));
  } else {
    writeFile(ORSA_CONF_FILE, in.bytes(in.left()));
    ORSA_update_loglevel();
    // Whatever the file held, the level in force is one of the seven.
    if (orsa_debug_level < 0 || orsa_debug_level > 6) abort();
    ORSA_get_debug_level();
    if (orsa_debug_level < 0 || orsa_debug_level > 6) abort();
  }
  removeAll();
  return 0;
}
