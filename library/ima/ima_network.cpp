/*
 * ima_network.cpp - the network objects of a physical HBA: the logical
 * network port (the iSCSIPhysicalHBA<n> group), the physical network port
 * (Network/NICConfiguration) and the network portal
 * (Network/TCPIPConfiguration), and the IP settings changed through the
 * TCPIPConfiguration group's properties and actions.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "ima/ima_plugin.h"
#include "tree/orsa_entry.h"

/* "10Gb" -> 10000, "1000Mb" -> 1000; a text without a number ("Unknown",
 * "less than 1Gb") is 0. */
u32 ima_rate_mbps(const char *text)
{
    float number = 0;
    char unit[IMA_TEXT_SIZE] = "";
    if (sscanf(text, "%f%255s", &number, unit) != 2 || number < 0)
        return 0;
    if (strncasecmp(unit, "Mb", 2) != 0)
        number *= 1000;
    return (u32)number;
}

namespace {

constexpr const char *kBanner = "/etc/banner";

/* The Network group of a PHBA or LNP (child) or of a PNP or portal (parent). */
u32 network_of(const IMA_OID &oid, u32 *network)
{
    if (oid.objectType == IMA_OBJECT_TYPE_PHBA || oid.objectType == IMA_OBJECT_TYPE_LNP)
        return ima_child(ima_tag(oid), "Network", HM_KIND_GROUP, network);
    return ima_parent(ima_tag(oid), network);
}

/* The network group and its TCPIPConfiguration group, where the IP
 * settings live. */
u32 tcpip_of(const IMA_OID &oid, u32 *network, u32 *tcpip)
{
    u32 r = network_of(oid, network);
    return r != 0 ? r : ima_child(*network, "TCPIPConfiguration", HM_KIND_GROUP, tcpip);
}

/* The host's extended properties are the plain ones and a name nobody
 * sets, so it is cleared once the plain ones are read. */
template <class Extended> IMA_STATUS name_cleared(IMA_STATUS st, Extended *props)
{
    if (st == 0)
        memset(props->name, 0, sizeof props->name);
    return st;
}

void ipv4_bytes(const char *text, u8 *out)
{
    char copy[IMA_TEXT_SIZE];
    snprintf(copy, sizeof copy, "%s", text);
    char *save = nullptr;
    int i = 0;
    for (char *piece = strtok_r(copy, ".", &save); piece != nullptr && i < 4; piece = strtok_r(nullptr, ".", &save))
        out[i++] = (u8)strtol(piece, nullptr, 10);
}

void mac_bytes(const char *text, u8 *out)
{
    char copy[IMA_TEXT_SIZE];
    snprintf(copy, sizeof copy, "%s", text);
    char *save = nullptr;
    int i = 0;
    for (char *piece = strtok_r(copy, "-", &save); piece != nullptr && i < 6; piece = strtok_r(nullptr, "-", &save))
        out[i++] = (u8)strtoul(piece, nullptr, 16);
}

void dotted(const IMA_IP_ADDRESS &a, char *out)
{
    snprintf(out, IMA_TEXT_SIZE, "%d.%d.%d.%d", a.ipAddress[0], a.ipAddress[1], a.ipAddress[2], a.ipAddress[3]);
}

void not_given(HmValueSlot *params)
{
    memset(params, ORSA_PARAM_NOT_GIVEN, sizeof(HmValueSlot) * HM_MAX_PARAMS);
}

IMA_STATUS portal_properties(u32 network, u32 tcpip, IMA_NETWORK_PORTAL_PROPERTIES *props)
{
    char text[IMA_TEXT_SIZE];
    u32 phba = 0;
    u32 r = GetOrsaPropertyVal(tcpip, "InitiatorIPAddress", text);
    if (r == 0)
        r = ima_parent(network, &phba);
    if (r != 0)
        return ErrorCheck(r);
    props->ipAddress.ipv4Address = 1;
    ipv4_bytes(text, props->ipAddress.ipAddress);
    props->associatedLnp = ima_make_oid(IMA_OBJECT_TYPE_LNP, phba);
    return IMA_STATUS_SUCCESS;
}

IMA_STATUS ip_properties(IMA_OID oid, IMA_IP_PROPERTIES *props, u32 mask, bool zero)
{
    if (props == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    if (zero)
        memset(props, 0, sizeof *props);
    IMA_STATUS st = ima_check_oid(oid, mask);
    if (st != 0)
        return st;
    u32 network = 0;
    char dhcp[IMA_TEXT_SIZE], subnet[IMA_TEXT_SIZE], gateway[IMA_TEXT_SIZE];
    u32 r = network_of(oid, &network);
    if (r == 0)
        r = GetOrsaVal(network, "TCPIPConfiguration", "DHCPEnabled", dhcp);
    if (r == 0)
        r = GetOrsaVal(network, "TCPIPConfiguration", "InitiatorSubnetMask", subnet);
    if (r == 0)
        r = GetOrsaVal(network, "TCPIPConfiguration", "DefaultGateway", gateway);
    if (r != 0)
        return ErrorCheck(r);
    props->ipConfigurationMethodSettable = 1;
    props->dhcpConfigurationEnabled = strcmp(dhcp, "False") != 0 ? 1 : 0;
    props->subnetMaskSettable = 1;
    props->subnetMaskValid = strcmp(subnet, "0.0.0.0") != 0 ? 1 : 0;
    props->subnetMask.ipv4Address = 1;
    ipv4_bytes(subnet, props->subnetMask.ipAddress);
    props->defaultGatewaySettable = 1;
    props->defaultGatewayValid = strcmp(gateway, "0.0.0.0") != 0 ? 1 : 0;
    props->defaultGateway.ipv4Address = 1;
    ipv4_bytes(gateway, props->defaultGateway.ipAddress);
    memset(props->reserved0, 0, 8);
    props->word96 = 0;
    return IMA_STATUS_SUCCESS;
}

IMA_STATUS lnp_properties(IMA_OID oid, IMA_LNP_PROPERTIES *props)
{
    IMA_STATUS st = ima_check_oid(oid, IMA_MASK_LNP);
    if (st != 0)
        return st;
    char mac[IMA_TEXT_SIZE];
    u32 network = 0;
    u32 r = network_of(oid, &network);
    if (r == 0)
        r = GetOrsaVal(network, "NICConfiguration", "MACAddress", mac);
    if (r != 0)
        return ErrorCheck(r);
    mac_bytes(mac, props->macAddress);
    props->macAddressValid = 0;
    return IMA_STATUS_SUCCESS;
}

IMA_STATUS pnp_properties(IMA_OID oid, IMA_PNP_PROPERTIES *props)
{
    IMA_STATUS st = ima_check_oid(oid, IMA_MASK_PNP);
    if (st != 0)
        return st;
    u32 pnp = ima_tag(oid), network = 0, phba = 0;
    char speed[IMA_TEXT_SIZE], max_speed[IMA_TEXT_SIZE], mtu[IMA_TEXT_SIZE], mac[IMA_TEXT_SIZE];
    u32 r = GetOrsaPropertyVal(pnp, "PortSpeed", speed);
    if (r == 0)
        r = GetOrsaPropertyVal(pnp, "PortMaxSpeed", max_speed);
    if (r == 0)
        r = GetOrsaPropertyVal(pnp, "MaxMTUSize", mtu);
    if (r == 0)
        r = GetOrsaPropertyVal(pnp, "MACAddress", mac);
    if (r == 0)
        r = ima_parent(pnp, &network);
    if (r == 0)
        r = ima_parent(network, &phba);
    if (r != 0)
        return ErrorCheck(r);
    props->associatedPhba = ima_make_oid(IMA_OBJECT_TYPE_PHBA, phba);
    mac_bytes(mac, props->macAddress);
    props->macAddressValid = 0;
    props->maximumTransferRate = ima_rate_mbps(max_speed);
    props->currentTransferRate = ima_rate_mbps(speed);
    props->maximumFrameSize = (u32)strtol(mtu, nullptr, 10);
    return IMA_STATUS_SUCCESS;
}

/* ConfigureIPAddress of the network group's TCPIPConfiguration. */
IMA_STATUS configure_ip(u32 network, const char *address, const char *mask)
{
    u32 tcpip = 0;
    u32 r = ima_child(network, "TCPIPConfiguration", HM_KIND_GROUP, &tcpip);
    if (r != 0)
        return ErrorCheck(r);
    HmValueSlot params[HM_MAX_PARAMS];
    not_given(params);
    snprintf(params[0], sizeof params[0], "%.254s", address);
    snprintf(params[1], sizeof params[1], "%.254s", mask);
    r = ima_run_action(tcpip, "ConfigureIPAddress", params);
    return r != 0 ? ErrorCheck(r) : IMA_STATUS_SUCCESS;
}

IMA_STATUS set_subnet_mask(IMA_OID oid, const IMA_IP_ADDRESS &mask, bool check_names)
{
    IMA_STATUS st = ima_check_oid(oid, IMA_MASK_PHBA_LNP_PNP);
    if (st != 0)
        return st;
    if (check_names) {
        char name[HM_NAME_SIZE] = "";
        u32 r = ORSA_get_node_name(ima_tag(oid), name, HM_KIND_GROUP);
        if (oid.objectType == IMA_OBJECT_TYPE_PNP) {
            if (r != 0 || strcmp(name, "NICConfiguration") != 0)
                return IMA_ERROR_INVALID_OBJECT_TYPE;
        } else if (r != 0 || strstr(name, "iSCSIPhysicalHBA") == nullptr) {
            return IMA_ERROR_OBJECT_NOT_FOUND;
        }
    }
    u32 network = 0;
    char address[IMA_TEXT_SIZE], text[IMA_TEXT_SIZE];
    u32 r = network_of(oid, &network);
    if (r == 0)
        r = GetOrsaVal(network, "TCPIPConfiguration", "InitiatorIPAddress", address);
    if (r != 0)
        return ErrorCheck(r);
    dotted(mask, text);
    return configure_ip(network, address, text);
}

/* Writes the new gateway; a refused one is undone by writing the old text
 * back, and the refusal is what the host gets. */
IMA_STATUS set_gateway(IMA_OID oid, const IMA_IP_ADDRESS &gateway, bool vmw)
{
    IMA_STATUS st = ima_check_oid(oid, IMA_MASK_PHBA_LNP_PNP);
    if (st != 0)
        return st;
    u32 network = 0, group = 0;
    bool ipv6 = vmw && gateway.ipv4Address != 1;
    u32 r = tcpip_of(oid, &network, &group);
    if (r == 0 && ipv6)
        r = ima_child(group, "IPv6Configuration", HM_KIND_GROUP, &group);
    if (r != 0)
        return ErrorCheck(r);
    const char *property = ipv6 ? "DefaultIPv6Gateway" : "DefaultGateway";
    char old_text[IMA_TEXT_SIZE], new_text[IMA_TEXT_SIZE];
    if ((r = GetOrsaPropertyVal(group, property, old_text)) != 0)
        return ErrorCheck(r);
    if (ipv6)
        IMA_copy_ipv6_addr(new_text, &gateway);
    else
        dotted(gateway, new_text);
    u32 prop = 0;
    if ((r = ima_child(group, property, HM_KIND_PROPERTY, &prop)) != 0)
        return ErrorCheck(r);
    r = ORSA_set_property_val(group, prop, new_text, IMA_TEXT_SIZE);
    if (r != 0) {
        (void)ORSA_set_property_val(group, prop, old_text, IMA_TEXT_SIZE);
        return ErrorCheck(r);
    }
    return IMA_STATUS_SUCCESS;
}

IMA_STATUS set_portal_address(u32 network, const IMA_IP_ADDRESS &address)
{
    char mask[IMA_TEXT_SIZE], text[IMA_TEXT_SIZE];
    u32 r = GetOrsaVal(network, "TCPIPConfiguration", "InitiatorSubnetMask", mask);
    if (r != 0)
        return ErrorCheck(r);
    if (strncmp(mask, "0.0.0.0", 7) == 0)
        snprintf(mask, sizeof mask, "255.255.255.0");
    dotted(address, text);
    return configure_ip(network, text, mask);
}

/* One id of a group found below the network group. */
IMA_STATUS network_list(IMA_OID oid, IMA_OID_LIST **list, u32 mask, const char *group, u32 type)
{
    if (list == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    IMA_STATUS st = ima_check_oid(oid, mask);
    if (st != 0)
        return st;
    u32 network = 0, tag = 0;
    u32 r;
    if (oid.objectType == IMA_OBJECT_TYPE_LHBA) {
        u32 phba = 0;
        r = ima_parent(ima_tag(oid), &phba);
        if (r == 0)
            r = ima_child(phba, "Network", HM_KIND_GROUP, &network);
    } else {
        r = network_of(oid, &network);
    }
    if (r == 0)
        r = ima_child(network, group, HM_KIND_GROUP, &tag);
    if (r != 0)
        return ErrorCheck(r);
    return ima_hand_out_list(type, &tag, 1, list, IMA_ERROR_INVALID_PARAMETER);
}

} // namespace

IMA_STATUS IMA_GetPnpOidList(IMA_OID oid, IMA_OID_LIST **list)
{
    ORSA_ENTRY_LOCK();
    return network_list(oid, list, IMA_MASK_PHBA_LNP, "NICConfiguration", IMA_OBJECT_TYPE_PNP);
}

IMA_STATUS IMA_GetNetworkPortalOidList(IMA_OID lnpId, IMA_OID_LIST **list)
{
    ORSA_ENTRY_LOCK();
    return network_list(lnpId, list, IMA_MASK_LNP, "TCPIPConfiguration", IMA_OBJECT_TYPE_NETWORK_PORTAL);
}

IMA_STATUS IMA_VMW_GetNetworkPortalOidList(IMA_OID oid, IMA_OID_LIST **list)
{
    ORSA_ENTRY_LOCK();
    return network_list(oid, list, IMA_MASK_LHBA_LNP, "TCPIPConfiguration", IMA_OBJECT_TYPE_NETWORK_PORTAL);
}

IMA_STATUS IMA_VMW_GetLnpOidList(IMA_OID oid, IMA_OID_LIST **list)
{
    ORSA_ENTRY_LOCK();
    if (list == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    IMA_STATUS st = ima_check_oid(oid, IMA_MASK_PHBA_LNP_PNP);
    if (st != 0)
        return st;
    u32 phba = ima_tag(oid);
    if (oid.objectType == IMA_OBJECT_TYPE_PNP) {
        u32 network = 0;
        u32 r = ima_parent(phba, &network);
        if (r == 0)
            r = ima_parent(network, &phba);
        if (r != 0)
            return ErrorCheck(r);
    }
    return ima_hand_out_list(IMA_OBJECT_TYPE_LNP, &phba, 1, list, IMA_ERROR_INVALID_PARAMETER);
}

IMA_STATUS IMA_GetNetworkPortalProperties(IMA_OID portalId, IMA_NETWORK_PORTAL_PROPERTIES *props)
{
    ORSA_ENTRY_LOCK();
    if (props == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    IMA_STATUS st = ima_check_oid(portalId, IMA_MASK_PORTAL);
    if (st != 0)
        return st;
    u32 network = 0;
    u32 r = ima_parent(ima_tag(portalId), &network);
    if (r != 0)
        return ErrorCheck(r);
    return portal_properties(network, ima_tag(portalId), props);
}

IMA_STATUS IMA_VMW_GetNetworkPortalProperties(IMA_OID oid, IMA_NETWORK_PORTAL_PROPERTIES *props)
{
    ORSA_ENTRY_LOCK();
    if (props == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    /* This build serves hosts of the 5.x line only: the host's banner tells. */
    FILE *banner = fopen(kBanner, "re");
    if (banner == nullptr)
        return 1;
    char line[256];
    bool newer = false;
    while (!newer && fgets(line, sizeof line, banner) != nullptr)
        newer = strstr(line, "6.0") != nullptr;
    fclose(banner);
    if (newer) {
        ppdebug("%s: ESXi 5.x vib is installed on ESXi 6.0 OS. So returning IMA_ERROR_NOT_SUPPORTED\n", __func__);
        return IMA_ERROR_NOT_SUPPORTED;
    }
    IMA_STATUS st = ima_check_oid(oid, IMA_MASK_PHBA_PORTAL);
    if (st != 0)
        return st;
    u32 network = 0, tcpip = 0;
    u32 r = tcpip_of(oid, &network, &tcpip);
    if (r != 0)
        return ErrorCheck(r);
    return portal_properties(network, tcpip, props);
}

IMA_STATUS IMA_GetLnpProperties(IMA_OID lnpId, IMA_LNP_PROPERTIES *props)
{
    ORSA_ENTRY_LOCK();
    if (props == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    return lnp_properties(lnpId, props);
}

IMA_STATUS IMA_VMW_GetLnpProperties(IMA_OID lnpId, IMA_VMW_LNP_PROPERTIES *props)
{
    ORSA_ENTRY_LOCK();
    if (props == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    return name_cleared(lnp_properties(lnpId, &props->lnp), props);
}

IMA_STATUS IMA_GetPnpProperties(IMA_OID pnpId, IMA_PNP_PROPERTIES *props)
{
    ORSA_ENTRY_LOCK();
    if (props == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    return pnp_properties(pnpId, props);
}

IMA_STATUS IMA_VMW_GetPnpProperties(IMA_OID pnpId, IMA_VMW_PNP_PROPERTIES *props)
{
    ORSA_ENTRY_LOCK();
    if (props == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    return name_cleared(pnp_properties(pnpId, &props->pnp), props);
}

IMA_STATUS IMA_GetIpProperties(IMA_OID pnpId, IMA_IP_PROPERTIES *props)
{
    ORSA_ENTRY_LOCK();
    return ip_properties(pnpId, props, IMA_MASK_PNP, false);
}

IMA_STATUS IMA_VMW_GetIpProperties(IMA_OID oid, IMA_IP_PROPERTIES *props)
{
    ORSA_ENTRY_LOCK();
    return ip_properties(oid, props, IMA_MASK_PHBA_PNP, true);
}

IMA_STATUS IMA_GetNetworkPortStatus(IMA_OID portId, uint32_t *status)
{
    ORSA_ENTRY_LOCK();
    IMA_STATUS st = ima_check_oid(portId, IMA_MASK_LNP_PNP);
    if (st != 0)
        return st;
    if (status == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    *status = 0;
    char text[IMA_TEXT_SIZE];
    u32 r;
    if (portId.objectType == IMA_OBJECT_TYPE_PNP) {
        r = GetOrsaPropertyVal(ima_tag(portId), "LogicalLinkStatus", text);
    } else {
        u32 network = 0;
        r = ima_child(ima_tag(portId), "Network", HM_KIND_GROUP, &network);
        if (r == 0)
            r = GetOrsaVal(network, "NICConfiguration", "LogicalLinkStatus", text);
    }
    if (r != 0)
        return ErrorCheck(r);
    if (strcmp(text, "Down") == 0)
        *status = 4;
    return IMA_STATUS_SUCCESS;
}

IMA_STATUS IMA_VMW_GetMtuProperties(IMA_OID phbaId, IMA_VMW_MTU_PROPERTIES *props)
{
    ORSA_ENTRY_LOCK();
    if (props == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    memset(props, 0, sizeof *props);
    IMA_STATUS st = ima_check_oid(phbaId, IMA_MASK_PHBA);
    if (st != 0)
        return st;
    u32 network = 0;
    char text[IMA_TEXT_SIZE];
    u32 r = network_of(phbaId, &network);
    if (r == 0)
        r = GetOrsaVal(network, "NICConfiguration", "MaxMTUSize", text);
    if (r != 0)
        return ErrorCheck(r);
    props->words[0] = 1;
    props->words[1] = 0;
    props->words[2] = (u32)strtol(text, nullptr, 10);
    return IMA_STATUS_SUCCESS;
}

IMA_STATUS IMA_VMW_GetArpRedirectProperties(IMA_OID phbaId, IMA_VMW_ARP_REDIRECT_PROPERTIES *props)
{
    ORSA_ENTRY_LOCK();
    if (props == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    memset(props, 0, sizeof *props);
    IMA_STATUS st = ima_check_oid(phbaId, IMA_MASK_PHBA);
    if (st != 0)
        return st;
    props->words[0] = 1;
    return IMA_STATUS_SUCCESS;
}

IMA_STATUS IMA_SetIpConfigMethod(IMA_OID pnpId, uint32_t enableDhcp)
{
    ORSA_ENTRY_LOCK();
    IMA_STATUS st = ima_check_oid(pnpId, IMA_MASK_PNP);
    if (st != 0)
        return st;
    if (enableDhcp > 1)
        return IMA_ERROR_INVALID_PARAMETER;
    u32 network = 0, tcpip = 0;
    u32 r = tcpip_of(pnpId, &network, &tcpip);
    if (r != 0)
        return ErrorCheck(r);
    HmValueSlot params[HM_MAX_PARAMS];
    not_given(params);
    r = ima_run_action(tcpip, enableDhcp == 1 ? "DHCPEnable" : "DHCPDisable", params);
    return r != 0 ? ErrorCheck(r) : IMA_STATUS_SUCCESS;
}

IMA_STATUS IMA_SetSubnetMask(IMA_OID oid, IMA_IP_ADDRESS subnetMask)
{
    ORSA_ENTRY_LOCK();
    return set_subnet_mask(oid, subnetMask, true);
}

IMA_STATUS IMA_VMW_SetSubnetMask(IMA_OID oid, IMA_IP_ADDRESS subnetMask)
{
    ORSA_ENTRY_LOCK();
    return set_subnet_mask(oid, subnetMask, false);
}

IMA_STATUS IMA_SetDefaultGateway(IMA_OID oid, IMA_IP_ADDRESS gateway)
{
    ORSA_ENTRY_LOCK();
    return set_gateway(oid, gateway, false);
}

IMA_STATUS IMA_VMW_SetDefaultGateway(IMA_OID oid, IMA_IP_ADDRESS gateway)
{
    ORSA_ENTRY_LOCK();
    return set_gateway(oid, gateway, true);
}

IMA_STATUS IMA_SetNetworkPortalIpAddress(IMA_OID portalId, const IMA_IP_ADDRESS *address)
{
    ORSA_ENTRY_LOCK();
    if (address == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    IMA_STATUS st = ima_check_oid(portalId, IMA_MASK_PORTAL);
    if (st != 0)
        return st;
    u32 network = 0;
    u32 r = ima_parent(ima_tag(portalId), &network);
    if (r != 0)
        return ErrorCheck(r);
    return set_portal_address(network, *address);
}

IMA_STATUS IMA_VMW_SetNetworkPortalIpAddress(IMA_OID phbaId, const IMA_IP_ADDRESS *address)
{
    ORSA_ENTRY_LOCK();
    if (address == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    IMA_STATUS st = ima_check_oid(phbaId, IMA_MASK_PHBA);
    if (st != 0)
        return st;
    u32 network = 0;
    u32 r = network_of(phbaId, &network);
    if (r != 0)
        return ErrorCheck(r);
    return set_portal_address(network, *address);
}

IMA_STATUS IMA_VMW_SetMtu(IMA_OID phbaId, uint32_t)
{
    ORSA_ENTRY_LOCK();
    IMA_STATUS st = ima_check_oid(phbaId, IMA_MASK_PHBA);
    return st != 0 ? st : IMA_ERROR_NOT_SUPPORTED;
}

IMA_STATUS IMA_VMW_SetArpRedirect(IMA_OID phbaId, uint32_t)
{
    ORSA_ENTRY_LOCK();
    IMA_STATUS st = ima_check_oid(phbaId, IMA_MASK_PHBA);
    return st != 0 ? st : IMA_ERROR_NOT_SUPPORTED;
}
