/* Start-up fillers of function and port configuration. */
#include <stdio.h>

#include "config/config_startup.h"

#include "config/cfg_dcbx_tree.h"
#include "config/cfg_link.h"
#include "config/cfg_multichannel.h"

#include "backend/orsa_discovery_io.h"
#include "backend/orsa_identity.h"
#include "backend/orsa_propertyutil.h"
#include "tree/hm_log.h"
#include "tree/hm_lookup.h"
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

// One port group per port index at which the controller has a physical
// HBA, with its interface type, supported speeds and counter clearing, the
// instance groups of its DCBX views and, on the generations that run
// multichannel, its channels.
u32 ORSA_get_port_discovery_config(HmNode *controller)
{
    if (controller == nullptr)
        return 1;
    u32 asic = get_ks_type(controller);
    for (int j = 0; j < 4; j++) {
        char port[8];
        snprintf(port, sizeof port, "%d", j);
        HmNode *phba = get_valid_phba(controller, port);
        if (phba == nullptr || HM_GROUP(phba)->nhandle == nullptr)
            continue;
        HmNode *group = initialize_PortDiscoveryAndConfiguration(controller, nullptr, nullptr, nullptr);
        if (group == nullptr) {
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Failed to initialize PortDiscoveryAndConfiguration group.\n",
                   __func__);
            continue;
        }
        set_prop_val(group, "PortNumber", "%d", j);
        OrsaPort at = orsa_port_of(phba);
        ORSA_update_interfacetype(at, group);
        ORSA_update_speed_props(at, group);
        orsa_baset_clock_reset(group);
        ORSA_update_is_clear_counter(at, group);
        // Look-ups below the port group find the driver port of its HBA.
        HM_GROUP(group)->nhandle = HM_GROUP(phba)->nhandle;

        // A port whose DCBX views cannot be read still has its channels.
        ORSA_build_port_dcbx(group, (u32)j);
        if (asic == ORSA_ASIC_VESKARN || asic == ORSA_ASIC_KS3)
            ORSA_get_multi_channels_info((u32)j, group);
    }
    return 0;
}
