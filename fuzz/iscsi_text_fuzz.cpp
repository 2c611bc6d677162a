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
//      config_prof.txt: its lines split, that adapter's lines dropped;
//   7: an operation byte, an option byte, a value up to a NUL byte, then
//      savetgt.txt, savestp.txt and intr_logopts.txt (each a 16-bit length
//      and its bytes) as a user may have edited them: the login-options
//      groups of a logical HBA, a target and a send-target portal (named
//      after the first lines of the files) refreshed from them, an option
//      rewritten, lines appended, removed and looked up, the tree synced.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "backend/orsa_propertyutil.h"
#include "iscsi/iscsi_loginopts.h"
#include "iscsi/iscsi_persist.h"
#include "library_host.h"
#include "tree/hm_engine.h"
#include "tree/hm_log.h"
#include "tree/hm_lookup.h"
#include "tree/orsa_api.h"
#include "schema/builders.h"

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
  for (const char* p : {ORSA_TEMP_TGT_FILE, ORSA_TEMP_STP_FILE, ORSA_TEMP_LOGOPTS_FILE}) unlink(p);
}

std::string readAll(const char* path) {
  std::string out;
  FILE* f = fopen(path, "rb");
  if (f == nullptr) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  fclose(f);
  return out;
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at < text.size()) {
    size_t nl = text.find('\n', at);
    if (nl == std::string::npos) nl = text.size();
    out.push_back(text.substr(at, nl - at));
    at = nl + 1;
  }
  return out;
}

size_t nonEmpty(const std::vector<std::string>& ls) {
  size_t n = 0;
  for (const std::string& l : ls) n += !l.empty();
  return n;
}

// Field n (0-based) of the first line of a file's text, or "".
std::string firstLineField(const std::string& text, size_t n) {
  std::string line = text.substr(0, text.find('\n'));
  size_t at = 0;
  for (size_t i = 0; i < n; i++) {
    at = line.find(',', at);
    if (at == std::string::npos) return "";
    at++;
  }
  return line.substr(at, line.find(',', at) - at);
}

// A rewrite either failed and left the file as it was, or kept every
// non-empty line (rebuilding some) and dropped the empty ones; a rebuilt
// line of a file whose lines the library counts has its count of fields.
void checkRewrite(uint32_t rc, const std::string& before, const char* path) {
  std::string after = readAll(path);
  if (rc != 0) {
    if (after != before) abort();
    return;
  }
  std::vector<std::string> a = linesOf(after), b = linesOf(before);
  if (nonEmpty(a) != a.size() || a.size() != nonEmpty(b)) abort();
  if (!after.empty() && after.back() != '\n') abort();
}

HmNode* firstLogicalHba() {
  HmNode* ks = get_first_instance(hm_get_root(orsa_current_hierarchy), "Kalderstone");
  HmNode* phba = ks != nullptr ? get_first_instance(ks, "iSCSIPhysicalHBA") : nullptr;
  return phba != nullptr ? get_first_instance(phba, "LogicalHBA") : nullptr;
}

// The login-options operations over files a user has edited.
void loginOptions(fuzzlib::Input& in) {
  static bool opened = ORSA_init() == 0;
  HmNode* lhba = opened ? firstLogicalHba() : nullptr;
  if (lhba == nullptr) abort();
  const uint8_t op = in.byte();
  const uint8_t option = in.byte();
  std::string value = in.until(0);
  if (value.size() > 255) value.resize(255);
  const char* files[] = {ORSA_SAVETGT_FILE, ORSA_SAVESTP_FILE, ORSA_LOGOPTS_FILE};
  std::string texts[3];
  for (int i = 0; i < 3; i++) {
    std::vector<uint8_t> b = in.bytes(in.u16() % 4096);
    texts[i].assign(b.begin(), b.end());
    writeFile(files[i], b);
  }
  // The groups the files name: a target and a send-target portal made the
  // way the start-up restore makes them.
  HmNode* target = initialize_Target(lhba, nullptr, nullptr, nullptr);
  HmNode* disc = internal_get_node(lhba, "Discovery", HM_KIND_GROUP);
  HmNode* stp = disc != nullptr ? initialize_SendTargetPortal(disc, nullptr, nullptr, nullptr) : nullptr;
  if (target == nullptr || stp == nullptr) abort();
  std::string name = firstLineField(texts[0], 3), ip = firstLineField(texts[0], 4), port = firstLineField(texts[0], 5);
  set_prop_val(target, "TargetISCSIName", "%s", name.c_str());
  HmNode* portal = initialize_TargetPortal(target, nullptr, nullptr, nullptr);
  if (portal != nullptr) {
    set_prop_val(portal, "TargetIPAddress", "%s", ip.c_str());
    set_prop_val(portal, "TargetPortNumber", "%s", port.c_str());
  }
  set_prop_val(stp, "IPAddress", "%s", firstLineField(texts[1], 3).c_str());
  set_prop_val(stp, "PortNumber", "%s", firstLineField(texts[1], 4).c_str());

  struct Owner {
    HmNode* owner;
    const char* group;
    const char* path;
    uint32_t (*set)(HmNode*, HmNode*, HmNode*, const char*, const char*);
  } owners[] = {
      {target, "TargetLoginOptions", ORSA_SAVETGT_FILE, ORSA_set_target_loginoptions},
      {stp, "SendTargetPortalLoginOptions", ORSA_SAVESTP_FILE, ORSA_set_stploginoptions},
      {lhba, "InitiatorLoginOptions", ORSA_LOGOPTS_FILE, ORSA_set_initiator_loginoptions},
  };
  const Owner& o = owners[op % 3];
  HmNode* opts = internal_get_node(o.owner, o.group, HM_KIND_GROUP);
  HmNode* auth = opts != nullptr ? internal_get_node(opts, "Authentication", HM_KIND_GROUP) : nullptr;
  if (auth == nullptr) abort();
  // Every value shown is a text within its slot.
  char text[HM_VALUE_SIZE];
  for (uint32_t i = 0; i < ORSA_LOGIN_OPTION_COUNT; i++) {
    HmNode* g = orsa_login_option_in_authentication(i) ? auth : opts;
    if (internal_get_property(g, orsa_login_option_names[i], text) == 0 && memchr(text, 0, sizeof text) == nullptr)
      abort();
  }
  internal_get_property(target, "TargetType", text);

  const char* option_name = option < ORSA_LOGIN_OPTION_COUNT ? orsa_login_option_names[option] : "Other";
  std::string before = readAll(o.path);
  uint32_t rc = o.set(o.owner, opts, auth, option_name, value.c_str());
  checkRewrite(rc, before, o.path);
  if (!orsa_persist_value_ok(value.c_str()) && readAll(o.path) != before) abort();

  // Lines appended for the target: whole lines of 22 fields, or nothing.
  before = readAll(ORSA_SAVETGT_FILE);
  uint32_t added = (op & 0x10) != 0
                       ? ORSA_update_tgt_entry(lhba, target, ip.c_str(), port.c_str(), (uint16_t)(op * 7), "True")
                       : ORSA_add_target_into_file(lhba, target, name.c_str(), ip.c_str(), port.c_str(), nullptr, "True");
  std::string after = readAll(ORSA_SAVETGT_FILE);
  if (added != 0 && after != before) abort();
  if (after.size() > before.size()) {
    if (after.compare(0, before.size(), before) != 0) abort();
    std::string line = after.substr(before.size());
    if (std::count(line.begin(), line.end(), ',') != 21 || line.back() != '\n') abort();
  }

  HmNode* ks = get_first_instance(hm_get_root(orsa_current_hierarchy), "Kalderstone");
  HmNode* phba = lhba->parent;
  ORSA_check_for_duplicate_tgt(ks, phba, lhba, name.c_str(), ip.c_str(), port.c_str(), op & 1, op);
  ORSA_sync_stp_with_file(ks, phba, disc, disc, ip.c_str(), port.c_str());
  if ((op & 0x20) != 0) {
    uint32_t kind = (op >> 6) % 3;
    const char* path = kind == ORSA_ENTRY_STP ? ORSA_SAVESTP_FILE : ORSA_SAVETGT_FILE;
    before = readAll(path);
    rc = ORSA_remove_entry_from_file(lhba, name.c_str(), ip.c_str(), port.c_str(),
                                     (op & 0x80) != 0 ? ORSA_NO_QUALIFIER : op, kind);
    std::string left = readAll(path);
    if (rc != 0 ? left != before : nonEmpty(linesOf(left)) != linesOf(left).size()) abort();
  }
  ORSA_sync_targets_with_file(lhba);
  purge_nodes_within(lhba, "Target");
  purge_nodes_within(disc, "SendTargetPortal");
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
  uint8_t mode = in.byte() % 8;
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
  } else if (mode == 7) {
    loginOptions(in);
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
