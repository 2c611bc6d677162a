/* adapter_report: a libdrelmo client written against drelmo.h alone.
 *
 * It opens the library, lists the adapters the library found with their
 * functions (PCI address, interface or vmhba name), reads one value of each
 * adapter's first port, and closes the library again. With --set-nvp N it
 * first writes N (1-100) as the NVP value of the first adapter's first port,
 * which the adapter keeps in its flash.
 *
 * Build (32-bit, as the library):
 *     cc -m32 -std=c99 -I library/include examples/adapter_report.c \
 *        -L build/i386/library -ldrelmo -o adapter_report
 * Run it over the emulated host (no adapter on this machine):
 *     scripts/emulated-host ./adapter_report
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "drelmo.h"

#define NO_TAG 0xFFFFFFFFu

/* The reason for the failure of the call that just returned rc: a call that
 * fails returns either the status itself or 1, and the last status holds the
 * code and its text. */
static void print_failure(const char *what, uint32_t rc)
{
    uint32_t code = 0;
    char text[ORSA_STATUS_TEXT_SIZE] = "";
    ORSA_get_last_status(&code, text);
    printf("  %s: failed (returned %u, status %u: %s)\n", what, (unsigned)rc, (unsigned)code, text);
}

/* The tag of the child group called name (labels carry their instance
 * number, "NICPhysicalHBA0"), or NO_TAG. */
static uint32_t child_group(uint32_t group, const char *name)
{
    uint32_t tag = NO_TAG;
    if (group == NO_TAG || ORSA_get_node_tag(group, name, &tag, HM_KIND_GROUP) != ORSA_OK)
        return NO_TAG;
    return tag;
}

/* Reads property name of group into value (HM_VALUE_SIZE bytes); the
 * status of the read. A read that fails may still leave a text (for example
 * "N/A") in value. */
static uint32_t read_value(uint32_t group, const char *name, char *value)
{
    uint32_t tag = 0;
    value[0] = '\0';
    if (group == NO_TAG)
        return ORSA_FAILURE;
    if (ORSA_get_node_tag(group, name, &tag, HM_KIND_PROPERTY) != ORSA_OK)
        return ORSA_FAILURE;
    return ORSA_get_property_val(group, tag, value, HM_VALUE_SIZE);
}

/* The function's PCI address in the host's form, 0000:BBB:DD.F. */
static void pci_address(uint32_t function_group, char *out, size_t size)
{
    char bus[HM_VALUE_SIZE], dev[HM_VALUE_SIZE], fn[HM_VALUE_SIZE];
    uint32_t pci = child_group(function_group, "PCI");
    if (read_value(pci, "BusNumber", bus) != ORSA_OK || read_value(pci, "DeviceNumber", dev) != ORSA_OK ||
        read_value(pci, "FunctionNumber", fn) != ORSA_OK) {
        snprintf(out, size, "?");
        return;
    }
    snprintf(out, size, "0000:%03lx:%02lx.%lx", strtoul(bus, NULL, 0), strtoul(dev, NULL, 0), strtoul(fn, NULL, 0));
}

static void report_functions(uint32_t controller)
{
    /* A group has at most ORSA_MAX_CHILD_TAGS children. */
    static uint32_t tags[ORSA_MAX_CHILD_TAGS];
    uint32_t count = 0, i;
    if (ORSA_get_child_tags(controller, tags, &count, ORSA_FILTER_GROUPS) != ORSA_OK) {
        print_failure("child groups", ORSA_FAILURE);
        return;
    }
    for (i = 0; i < count; i++) {
        char label[HM_NAME_SIZE] = "", name[HM_VALUE_SIZE] = "", pci[32];
        int nic;
        if (ORSA_get_node_name(tags[i], label, HM_KIND_GROUP) != ORSA_OK)
            continue;
        nic = strncmp(label, "NICPhysicalHBA", 14) == 0;
        if (!nic && strncmp(label, "iSCSIPhysicalHBA", 16) != 0)
            continue;
        pci_address(tags[i], pci, sizeof pci);
        if (nic)
            read_value(tags[i], "IfName", name);
        else
            read_value(child_group(tags[i], "LogicalHBA0"), "IfName", name);
        printf("  %-18s %-14s %s %s\n", label, pci, nic ? "NIC  " : "iSCSI", name);
    }
}

static int set_nvp(const char *text)
{
    char value[HM_VALUE_SIZE];
    uint32_t group =
        child_group(child_group(child_group(0, "Kalderstone0"), "PortDiscoveryAndConfiguration0"), "BaseT10G");
    uint32_t tag = 0, rc;
    if (group == NO_TAG || ORSA_get_node_tag(group, "NVPValue", &tag, HM_KIND_PROPERTY) != ORSA_OK) {
        print_failure("NVPValue of Kalderstone0 port 0", ORSA_FAILURE);
        return 1;
    }
    snprintf(value, sizeof value, "%s", text);
    rc = ORSA_set_property_val(group, tag, value, sizeof value);
    if (rc != ORSA_OK) {
        print_failure("set NVPValue", rc);
        return 1;
    }
    printf("set Kalderstone0 port 0 NVPValue = %s\n", text);
    return 0;
}

int main(int argc, char **argv)
{
    static uint32_t tags[ORSA_MAX_CHILD_TAGS];
    uint32_t count = 0, i, rc, adapters = 0;
    int failed = 0;

    if (argc == 3 && strcmp(argv[1], "--set-nvp") == 0) {
        /* handled below, once the library is open */
    } else if (argc != 1) {
        fprintf(stderr, "usage: adapter_report [--set-nvp 1-100]\n");
        return 2;
    }

    rc = ORSA_init();
    if (rc != ORSA_OK) {
        print_failure("ORSA_init", rc);
        return 1;
    }
    if (argc == 3)
        failed |= set_nvp(argv[2]);

    if (ORSA_get_child_tags(0, tags, &count, ORSA_FILTER_GROUPS) != ORSA_OK) {
        print_failure("ROOT's groups", ORSA_FAILURE);
        ORSA_exit();
        return 1;
    }
    for (i = 0; i < count; i++) {
        char label[HM_NAME_SIZE] = "";
        if (ORSA_get_node_name(tags[i], label, HM_KIND_GROUP) == ORSA_OK && strncmp(label, "Kalderstone", 11) == 0)
            adapters++;
    }
    printf("%u adapter(s)\n", (unsigned)adapters);

    for (i = 0; i < count; i++) {
        char label[HM_NAME_SIZE] = "", serial[HM_VALUE_SIZE], firmware[HM_VALUE_SIZE], beacon[HM_VALUE_SIZE],
             nvp[HM_VALUE_SIZE];
        uint32_t port;
        if (ORSA_get_node_name(tags[i], label, HM_KIND_GROUP) != ORSA_OK || strncmp(label, "Kalderstone", 11) != 0)
            continue;
        read_value(tags[i], "SerialNumber", serial);
        read_value(tags[i], "ActiveFirmwareVersion", firmware);
        printf("%s: serial %s, firmware %s\n", label, serial, firmware);
        report_functions(tags[i]);

        port = child_group(tags[i], "PortDiscoveryAndConfiguration0");
        rc = read_value(child_group(port, "BaseT10G"), "NVPValue", nvp);
        if (rc == ORSA_OK)
            printf("  port 0: NVPValue %s\n", nvp);
        else
            print_failure("port 0 NVPValue", rc);
        /* Not every read is supported: the status says so, and the buffer
         * may still hold a text. */
        rc = read_value(port, "BeaconState", beacon);
        if (rc == ORSA_OK)
            printf("  port 0: BeaconState %s\n", beacon);
        else if (rc == ORSA_STATUS_NOT_SUPPORTED)
            printf("  port 0: BeaconState not supported (status 259)\n");
        else
            print_failure("port 0 BeaconState", rc);
    }

    rc = ORSA_exit();
    if (rc != ORSA_OK) {
        print_failure("ORSA_exit", rc);
        failed = 1;
    }
    return failed;
}
