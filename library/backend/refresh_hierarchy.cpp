// The hierarchy refresh that every NIC request runs before it is sent, and the
// deferred rebuild of a tree found stale by it. Library start-up and discovery
// (the rest of the backend's life cycle) build on these two.
#include <stdio.h>

#include "backend/orsa_gateway.h"
#include "tree/hm_engine.h"
#include "tree/hm_log.h"

int orsa_hierarchy_stale;

namespace {
// Set while a rebuild runs, so that nothing below it starts another one.
bool rebuilding;
}  // namespace

// The NIC device is reopened for every request and the functions counted
// again. A changed count fails the request, but the tree is not touched here:
// callers up the stack may still hold its nodes. It is marked stale and
// rebuilt at the next API entry.
u32 refresh_orsa_hierarchy(void) {
  os_put_nic_port_instances(orsa_glob.nic_port_instances, ORSA_MAX_FUNCTIONS);
  u32 count = os_get_nic_port_instances(orsa_glob.nic_port_instances, ORSA_MAX_FUNCTIONS);
  if (count == orsa_glob.nic_valid_hba) return 0;
  pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_CRITICAL, "%s:There is a change in ORSA NIC hierarchy.\n", __func__);
  os_put_nic_port_instances(orsa_glob.nic_port_instances, ORSA_MAX_FUNCTIONS);
  orsa_hierarchy_stale = 1;
  return 1;
}

u32 orsa_rebuild_stale_hierarchy(void) {
  if (!orsa_hierarchy_stale || rebuilding) return 0;
  orsa_hierarchy_stale = 0;
  // Without a tree there is nothing stale: the next build discovers afresh.
  if (orsa_hierarchy_count == 0) return 0;
  rebuilding = true;
  pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_INFO, "%s:rebuilding the tree for the changed NIC functions\n", __func__);
  exit_hm();
  u32 rc = init_hm();
  rebuilding = false;
  if (rc != 0) pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_CRITICAL, "%s:rebuilding the tree failed\n", __func__);
  return rc;
}
