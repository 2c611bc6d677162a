/* Start-up fillers of function and port configuration. */
#include "config/config_startup.h"

#include "backend/orsa_discovery_io.h"
#include "backend/orsa_identity.h"
#include "backend/orsa_propertyutil.h"
#include "schema/builders.h"
#include "tree/hm_engine.h"

u32 ORSA_get_nic_logicalhba(HmNode *phba, u32 instance, u32 *count, u32 create)
{
    u32 vfs = 0;
    if (phba != nullptr && instance >= 1 && instance <= ORSA_MAX_FUNCTIONS) {
        u8 *dinfo = (u8 *)orsa_dzalloc(976);
        if (dinfo != nullptr && ioctl_get_virt_f_info(instance, dinfo, &vfs) != 0)
            vfs = 0;
        orsa_dfree(dinfo);
    }
    if (vfs > ORSA_MAX_NIC_LHBA)
        vfs = ORSA_MAX_NIC_LHBA;
    if (create == 1) {
        for (u32 i = 0; i < vfs; ++i)
            if (initialize_NICLogicalHBA(phba, nullptr, nullptr, nullptr) == nullptr)
                break;
    }
    if (count != nullptr)
        *count = vfs;
    return 0;
}

/* The fillers below belong to configuration code that is not built yet:
 * they leave the groups as the schema made them. */
u32 ORSA_list_available_profiles(HmNode *controller)
{
    return controller == nullptr ? 1 : orsa_set_status(ORSA_STATUS_NOT_SUPPORTED);
}

u32 ORSA_get_active_profiles(HmNode *controller)
{
    return controller == nullptr ? 1 : orsa_set_status(ORSA_STATUS_NOT_SUPPORTED);
}

u32 ORSA_get_configured_profiles(HmNode *controller)
{
    return controller == nullptr ? 1 : orsa_set_status(ORSA_STATUS_NOT_SUPPORTED);
}

u32 ORSA_get_link_reconfig_details(HmNode *controller, u32)
{
    return controller == nullptr ? 1 : orsa_set_status(ORSA_STATUS_NOT_SUPPORTED);
}

u32 ORSA_get_port_discovery_config(HmNode *controller)
{
    return controller == nullptr ? 1 : orsa_set_status(ORSA_STATUS_NOT_SUPPORTED);
}

u32 ORSA_get_ncsi_attributes(u32, u32, HmNode *ncsi, HmNode *, u32, u32)
{
    return ncsi == nullptr ? 1 : orsa_set_status(ORSA_STATUS_NOT_SUPPORTED);
}

u32 ORSA_update_available_personalities(HmNode *controller)
{
    return controller == nullptr ? 1 : orsa_set_status(ORSA_STATUS_NOT_SUPPORTED);
}

u32 ORSA_update_current_personality(HmNode *controller)
{
    HmNode *personality = controller != nullptr ? internal_get_node(controller, "Personality", HM_KIND_GROUP) : nullptr;
    if (personality == nullptr)
        return 1;
    if (vm_flag)
        return set_prop_val(personality, "CurrentPersonality", "N/A");
    return orsa_set_status(ORSA_STATUS_NOT_SUPPORTED);
}
