// The login-options groups a client reads and changes: InitiatorLoginOptions
// of a LogicalHBA (the defaults of new targets), SendTargetPortalLoginOptions
// of a SendTargetPortal (discovery logins) and TargetLoginOptions of a Target
// (the target's logins), each with its Authentication child. Their values
// live in the persistence files (intr_logopts.txt, savestp.txt, savetgt.txt):
// a read refreshes the group from its line, a write checks the digest rules
// and rewrites the line.
#pragma once

#include <cstdint>

#include "iscsi/iscsi_login_records.h"

struct HmNode;

// Refusals of the digest rules: a level "Preferred" while its digest is
// "None", a digest back to "None" while its level is "Preferred".
#define ORSA_STATUS_DIGEST_LEVEL 193
#define ORSA_STATUS_DIGEST_DEFAULT 194

// Property handlers (node, 256-byte text, mode 0 get / 1 set; other modes 0).
uint32_t handle_initiator_loginoptions(HmNode *property, char *value, uint32_t mode);
uint32_t handle_authentication_initiator_loginoptions(HmNode *property, char *value, uint32_t mode);
uint32_t handle_stploginoptions(HmNode *property, char *value, uint32_t mode);
uint32_t handle_authentication_stploginoptions(HmNode *property, char *value, uint32_t mode);
uint32_t handle_target_loginoptions(HmNode *property, char *value, uint32_t mode);
uint32_t handle_authentication_target_loginopts(HmNode *property, char *value, uint32_t mode);
uint32_t handle_target_type(HmNode *property, char *value, uint32_t mode);
// handle_target_loginopts is exported: include/drelmo.h.

// Refresh the groups' cached values from the owner's line. 0 when done or
// when no line matches; 1 for a missing argument, a failed read of the
// portal's address or the target's name, or a file that cannot be opened (a
// missing savetgt.txt is no error).
uint32_t ORSA_get_initiator_loginoptions(HmNode *lhba, HmNode *options, HmNode *authentication);
uint32_t ORSA_get_stploginoptions(HmNode *stp, HmNode *options, HmNode *authentication);
uint32_t ORSA_get_target_loginoptions(HmNode *target, HmNode *options, HmNode *authentication);
// TargetType ("Static" or "Discovered") from the target's line.
uint32_t get_target_type(HmNode *target);

// The negotiated digests and authentication of a session into the
// TargetLoginOptions of a group named "Target", else into the group's
// SessionLoginOptions. 1 for a missing group, else 0 or 1 when a write failed.
uint32_t setup_initiator_target_loginopts(HmNode *group, const negotiated_connection_record *record);

// Copies the Authentication texts of one login-options group into another's
// cache and, unless mode is 3, InitialR2T (and ImmediateData, HeaderDigest,
// DataDigest) through the destination's handlers (these three into the cache
// of a TargetLoginOptions destination). Mode above 3, or a group without
// Authentication: 1.
uint32_t copy_login_options(HmNode *source, HmNode *destination, uint32_t mode);

// Rebuilds a target's closed sessions after its login options changed. The
// session rebuild comes with the CHAP configuration; until then there is
// nothing to do and it answers 0.
uint32_t ORSA_update_session_authentication(HmNode *target);
