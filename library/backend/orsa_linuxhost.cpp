#include "backend/orsa_linuxhost.h"

#include <cstdio>
#include <cstring>

#include "iscsi/iscsi_persist.h"
#include "tree/hm_log.h"
#include "tree/hm_status.h"

u32 get_flash_name(const char *path, char out[HM_VALUE_SIZE])
{
    if (path == nullptr || out == nullptr)
        return 1;
    // The last component: count the components, then take that one.
    u32 n = 0;
    for (char *field; (field = orsa_parse(path, n + 1, "/")) != nullptr; n++)
        orsa_dfree(field);
    if (n == 0)
        return 1;
    char *name = orsa_parse(path, n, "/");
    if (name == nullptr)
        return 1;
    snprintf(out, HM_VALUE_SIZE, "%s", name);
    orsa_dfree(name);
    return 0;
}

i32 find_os_distribution(void)
{
    return -1;
}

u32 ORSA_get_all_iscsi_devices(void)
{
    return orsa_set_status(ORSA_STATUS_NOT_SUPPORTED);
}

u32 ORSA_firmware_download(HmNode * /*node*/, u32 /*function*/, u32 /*kind*/, const char * /*path*/)
{
    return orsa_set_status(ORSA_STATUS_NOT_SUPPORTED);
}

u32 ORSA_backend_client_nic_bdf(u32 /*function*/, char * /*bus*/, char * /*fn*/, u32 * /*domain*/)
{
    return orsa_set_status(ORSA_STATUS_NOT_SUPPORTED);
}

u32 ORSA_get_nic_driver_type(void)
{
    return orsa_set_status(ORSA_STATUS_NOT_SUPPORTED);
}
