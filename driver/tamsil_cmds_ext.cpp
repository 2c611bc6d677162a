// Weak stand-ins for services of driver files that are not built yet. A
// file that defines the service for real replaces the stand-in at link time.
#include "tamsil_cmds_os.h"
#include "tamsil_cmds_priv.h"

__attribute__((weak)) void tamsil_cqNotify(Adapter* a, vmk_uint16 cqId, vmk_Bool arm, vmk_uint32 popped) {
  if (a->hw_error) return;
  uint32_t v = (cqId & 0x3FFu) | ((static_cast<uint32_t>(cqId >> 10) & 0x1Fu) << 11) |
               ((popped & 0x1FFFu) << 16) | (arm ? (1u << 29) : 0u);
  tamsil_dbWrite32(a, TAMSIL_DB_EQCQ, v);
}

__attribute__((weak)) void tamsil_linkStatusUpdate(Adapter* a) { (void)a; }

__attribute__((weak)) VMK_ReturnStatus tamsil_updateUplinkLinkStatus(Adapter* a, vmk_Bool forceDown,
                                                                     vmk_Bool defer) {
  (void)a;
  (void)forceDown;
  (void)defer;
  return VMK_NOT_SUPPORTED;
}

__attribute__((weak)) VMK_ReturnStatus tamsil_firmwareWaitReady(Adapter* a) {
  (void)a;
  return VMK_NOT_SUPPORTED;
}

__attribute__((weak)) VMK_ReturnStatus tamsil_testAndSetPivardReadyState(Adapter* a) {
  (void)a;
  return VMK_NOT_SUPPORTED;
}
