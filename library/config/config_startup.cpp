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
    if (phba != nullptr && orsa_valid_nic_instance(instance) && ORSA_Get_VF_Info(instance, &vfs, create, phba) != 0)
        vfs = 0;
    if (count != nullptr)
        *count = vfs;
    return 0;
}

/* The fillers below belong to configuration code that is not built yet:
 * they leave the groups as the schema made them. */
namespace {

u32 not_built_yet(HmNode *group)
{
    return group == nullptr ? 1 : orsa_set_status(ORSA_STATUS_NOT_SUPPORTED);
}

}  // namespace

u32 ORSA_list_available_profiles(HmNode *controller)
{
    return not_built_yet(controller);
}

u32 ORSA_get_active_profiles(HmNode *controller)
{
    return not_built_yet(controller);
}

u32 ORSA_get_configured_profiles(HmNode *controller)
{
    return not_built_yet(controller);
}

u32 ORSA_get_link_reconfig_details(HmNode *controller, u32)
{
    return not_built_yet(controller);
}

u32 ORSA_get_port_discovery_config(HmNode *controller)
{
    return not_built_yet(controller);
}

u32 ORSA_get_ncsi_attributes(u32, u32, HmNode *ncsi, HmNode *, u32, u32)
{
    return not_built_yet(ncsi);
}

u32 ORSA_update_available_personalities(HmNode *controller)
{
    return not_built_yet(controller);
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
