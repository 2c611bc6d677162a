/* The plugin's header as a C client compiles it (C99 and C11, pedantic):
 * its records' layout checks hold, and a framework written against it alone
 * opens the plugin, reads a physical HBA and closes it again. Run over the
 * emulated host (run-over-emuhost). */
#include <stdio.h>
#include <string.h>

#include "drelmo_ima.h"

int main(void)
{
    IMA_OID_LIST *list = NULL;
    IMA_PHBA_PROPERTIES props;
    uint32_t status = 9;
    int failed = 0;

    if (IMA_VMW_PluginInit(42) != IMA_STATUS_SUCCESS)
        failed++;
    if (IMA_GetPhbaOidList(&list) != IMA_STATUS_SUCCESS || list == NULL || list->oidCount == 0) {
        printf("FAILED: no physical HBA\n");
        IMA_VMW_PluginCleanup();
        return 1;
    }
    if (list->oids[0].objectType != IMA_OBJECT_TYPE_PHBA || list->oids[0].ownerId != 42)
        failed++;
    if (IMA_GetPhbaProperties(list->oids[0], &props) != IMA_STATUS_SUCCESS || props.vendor[0] == 0 ||
        props.words[0] != 1)
        failed++;
    if (IMA_GetPhbaStatus(list->oids[0], &status) != IMA_STATUS_SUCCESS || status != 0)
        failed++;
    if (IMA_GetPhbaStatus(list->oids[0], NULL) != IMA_ERROR_INVALID_PARAMETER)
        failed++;
    IMA_FreeMemory(list);
    IMA_VMW_PluginCleanup();
    printf("%s\n", failed == 0 ? "c plugin client: every check passed" : "FAILED");
    return failed == 0 ? 0 : 1;
}
