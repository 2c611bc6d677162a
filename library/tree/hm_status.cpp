/* The library's status vocabulary: one table of codes and standard texts,
 * and the last-status record that API calls reset and failures fill. */
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "tree/hm_status.h"

thread_local u32 orsa_last_status_code;
thread_local char orsa_last_status_string[ORSA_STATUS_TEXT_SIZE];

/* Standard texts, ascending by code. Call sites may word a code differently. */
static const OrsaStatusEntry status_table[] = {
    {1, "Operation failed."},
    {3, "Property has no handler."},
    {4, "Node is still referenced by a link."},
    {6, "Invalid value."},
    {7, "Value out of range."},
    {8, "Number of characters out of range."},
    {9, "Parameter missing."},
    {10, "Read only property"},
    {11, "Not enough room for the result."},
    {16, "Memory allocation failed. Please check for low memory conditions."},
    {17, "Invalid value. Please use valid value."},
    {18, "System has no controller."},
    {19, "Target not found. Application internal error occurred. Please check orsa2d.log file for more information."},
    {20, "Invalid instance number. Please use valid instance number."},
    {23, "TCP Connect Failure. Please make sure that the target is enabled and operational."},
    {24, "Initiator error. Please make sure your initiator is configured and enabled at the target."},
    {25, "Authentication failure. Please make sure your initiator is properly enabled for authentication at the target."},
    {26, "Authorization failure. Please make sure you are using the correct CHAP username and secret."},
    {27, "Session already opened."},
    {29, "Portal not found."},
    {30, "Invalid iSCSI name. Please use valid iSCSI name as per RFC 3722."},
    {31, "Insufficient buffer space obtained for the operation. Application internal error occurred. Please check orsa2d.log file for more information."},
    {32, "Destination host not reachable. Please check cable and network connections and make sure IP address is valid. For more information, see Troubleshooting section in Kalderstone documentation."},
    {33, "An error occurred changing the DHCP setting. Please check the configuration on the network and the DHCP server."},
    {34, "Cannot delete iSCSI target with a session that is logged in. Please perform an OEMKDLogOut for the iSCSI session and the target can then be deleted."},
    {35, "Failed to get session related info, because session is in closed state."},
    {37, "Invalid Secret Length. Please make sure that the secret is over 12 characters and less than 16 characters in length."},
    {38, "Initiator CHAP secret is same as target CHAP secret. Please set a different initiator CHAP secret from the target CHAP secret."},
    {39, "Cannot open the specified UFI file. Please make sure the UFI file is present in the specified path."},
    {40, "Invalid UFI file format. Please use valid UFI file."},
    {41, "Active session(s) present. Please log out of all sessions before clearing configuration. For systems booting from an iSCSI target, configuration can only be cleared using the Brennock Utility."},
    {42, "No session available to this target."},
    {43, "Failed to change IP address/Gateway settings as DHCP is Enabled. Please disable DHCP to make any changes to IP address/Gateway settings."},
    {44, "The IP address settings for the Kalderstone iSCSI initiator cannot be modified when there is an active iSCSI boot session. Please use the Brennock configuration utility to modify the IP address settings. No configuration changes were made to the Kalderstone iSCSI initiator."},
    {45, "The Kalderstone iSCSI initiator TCP/IP settings are not configured. Please configure the TCP/IP settings before issuing this command."},
    {46, "iSCSI is not enabled for this LogicalHBA. Please enable iSCSI before issuing this command."},
    {47, "LogicalHBA0 is always enabled. It cannot be disabled."},
    {49, "Cannot set the default gateway as DHCP is enabled. Please disable DHCP before setting the default gateway."},
    {51, "Cannot set bandwidth as total bandwidth exceeds 100 percent."},
    {52, "The Link Status is Down. Please check the cable."},
    {53, "Ping failed. Please check cable and network connections and make sure that the IP address is valid. For more information, see the Troubleshooting section in Kalderstone documentation."},
    {55, "Kalderstone firmware has been updated. Please reboot your system for the changes to take effect."},
    {56, "The IP address settings match the existing configuration. No changes have been made to the configuration."},
    {57, "The DHCP settings are already configured. No changes have been made to the existing configuration."},
    {58, "Target is logged in successfully but setting Extended Timeout (ETO) has failed. Error recovery to this session may not work as expected. Please check orsa2d.log file for more information."},
    {64, "Failed to dump transceiver data. Application internal error occurred. Please check orsa2d.log file for more information."},
    {65, "Unable to retrieve FAT data. Application internal error occurred. Please check orsa2d.log file for more information."},
    {66, "Invalid FAT file name. Please use valid FAT file name."},
    {69, "Duplicate IP address detected. Please check that the IP address given is not conflicting with an existing IP address in the subnet. Choose a unique IP address."},
    {70, "Setting this property is not supported in this OS."},
    {71, "A session already exists with the given ISID Qualifier. Please provide a different ISID Qualifier."},
    {72, "Failed to get port status. Application internal error occurred. Please check orsa2d.log file for more information."},
    {73, "Failed to set port status. Application internal error occurred. Please check orsa2d.log file for more information."},
    {74, "Failed to obtain OEM attributes. Application internal error occurred. Please check orsa2d.log file for more information."},
    {76, "Failed to get permanent MAC address. Application internal error occurred. Please check orsa2d.log file for more information."},
    {77, "There is no FAT data to be retrieved."},
    {79, "Failed to update the Targets from iscsiadm."},
    {80, "Failed to get discovery params. Application internal error occurred. Please check orsa2d.log file for more information."},
    {81, "Failed to set discovery params. Application internal error occurred. Please check orsa2d.log file for more information."},
    {84, "Failed to get the active session IDs. Application internal error occurred. Please check orsa2d.log file for more information."},
    {85, "Failed to get a session. Application internal error occurred. Please check orsa2d.log file for more information."},
    {86, "Cannot get session config params. Application internal error occurred. Please check orsa2d.log file for more information."},
    {90, "Login succeeded but could not get LUN info for some sessions."},
    {91, "Cannot get node attribute params. Application internal error occurred. Please check orsa2d.log file for more information."},
    {92, "Failed to obtain session attribute params. Application internal error occurred. Please check orsa2d.log file for more information."},
    {93, "Failed to obtain NIC configuration params. Application internal error occurred. Please check orsa2d.log file for more information."},
    {94, "Failed to get physical port. Application internal error occurred. Please check orsa2d.log file for more information."},
    {95, "Failed to obtain initiator statistics params. Application internal error occurred. Please check orsa2d.log file for more information."},
    {96, "Failed to obtain initiator login statistics params. Application internal error occurred. Please check orsa2d.log file for more information."},
    {97, "Cannot retrieve ARP table entries. Application internal error occurred. Please check orsa2d.log file for more information."},
    {98, "Failed to retrieve interface ids. Application internal error occurred. Please check orsa2d.log file for more information."},
    {99, "Cannot obtain interface info. Application internal error occurred. Please check orsa2d.log file for more information."},
    {100, "Cannot retrieve route table entries. Application internal error occurred. Please check orsa2d.log file for more information."},
    {101, "Cannot obtain DCBX properties. Application internal error occurred. Please check orsa2d.log file for more information."},
    {102, "Cannot set DCBX properites. Application internal error occurred. Please check orsa2d.log file for more information."},
    {103, "Cannot get DCBX mode. Application internal error occurred. Please check orsa2d.log file for more information."},
    {104, "Cannot set DCBX mode. Application internal error occurred. Please check orsa2d.log file for more information."},
    {105, "Cannot obtain LLDP properites. Application internal error occurred. Please check orsa2d.log file for more information."},
    {106, "Cannot set LLDP properites. Application internal error occurred. Please check orsa2d.log file for more information."},
    {107, "Cannot obtain LLDP statistics properties. Application internal error occurred. Please check orsa2d.log file for more information."},
    {108, "Cannot obtain DCBX MIB params. Application internal error occurred. Please check orsa2d.log file for more information."},
    {109, "Failed to obtain controller attributes. Application internal error occurred. Please check orsa2d.log file for more information."},
    {110, "Failed to obtain initiator name and initiator alias. Application internal error occurred. Please check orsa2d.log file for more information."},
    {111, "Failed to set initiator name and initiator alias. Application internal error occurred. Please check orsa2d.log file for more information."},
    {114, "Failed to get iSCSI QoS properties. Application internal error occurred. Please check orsa2d.log file for more information."},
    {115, "Failed to set iSCSI QoS properties. Application internal error occurred. Please check orsa2d.log file for more information."},
    {117, "The target logout request did not complete because IOs were pending. Please quiesce IO to the device and re-attempt the logout."},
    {118, "Exceeded the max Session count."},
    {119, "Failed to enable/disable beacon."},
    {120, "Failed to get beacon state."},
    {121, "Cannot dump the config region for the given offset."},
    {122, "Cannot modify the ipaddress record."},
    {123, "Unable to disable DHCP."},
    {124, "Cannot set VLAN priority."},
    {126, "Cannot logout the session as it is an active boot session. Please use the Brennock configuration utility to logout the session."},
    {127, "Failed to delete persistency of the session."},
    {129, "Cannot add/delete route table entry."},
    {130, "Cannot add/delete ARP table entry."},
    {132, "Cannot set the Default Gateway. Application internal error occurred. Please check orsa2d.log file for more information."},
    {133, "Cannot get the Default Gateway. Application internal error occurred. Please check orsa2d.log file for more information."},
    {134, "BeaconDuration or StatusDuration parameter is missing. Please provide the parameter value while enabling the beacon state."},
    {135, "Firmware failed to enable DHCP."},
    {136, "Unable to flash the firmware image as there is a CRC mismatch."},
    {137, "InitiatorCHAPName and InitiatorSecret are not required in case of One way CHAP authentication method. Ignoring the values."},
    {138, "InitiatorCHAPName and InitiatorSecret are required in case of Mutual CHAP authentication method. Either InitiatorCHAPName and InitiatorSecret are not provided or invalid values are given to them. Please provide valid values for InitiatorCHAPName and InitiatorSecret."},
    {139, "Failed to change the personality of the adapter. Application internal error occurred. Please check orsa2d.log file for more information."},
    {140, "Cannot get the personality of the adapter. Application internal error occurred. Please check orsa2d.log file for more information."},
    {141, "Unable to obtain boot status. Application internal error occurred. Please check orsa2d.log file for more information."},
    {142, "Cannot set boot status. Application internal error occurred. Please check orsa2d.log file for more information."},
    {143, "Kalderstone personality has been changed. Please reboot your system for the changes to take effect."},
    {144, "The requested target does not exist at this address."},
    {145, "Cannot set the property as NCSI status is Disabled."},
    {149, "This Operation is not supported."},
    {150, "Beaconing is not supported on this model of Kalderstone controller."},
    {151, "The Personality Change attempted is not supported on this Kalderstone controller."},
    {152, "DCBX mode has changed. Please, reboot the system for the new mode to take effect."},
    {153, "This LoopBack type is not supported on this Kalderstone controller."},
    {154, "The given port is already in loopback state, only after exiting this loopback mode, a new loopback type can be applied."},
    {156, "Failed to add a target. Max targets are reached."},
    {158, "Failed to add ApplicationTLV. Max ApplicationTLV's are reached."},
    {159, "Failed to retrieve the factory default MAC address for the given function. Application internal error occurred. Please check orsa2d.log file for more information."},
    {160, "Failed to get MACAddress. Application internal error occurred. Please check orsa2d.log file for more information."},
    {161, "Failed to set MACAddress. Application internal error occurred. Please check orsa2d.log file for more information."},
    {162, "The UFI file given is not compatible with this controller."},
    {163, "Failed to get the controller type."},
    {164, "Login Service not available. Please make sure that the target is operational."},
    {166, "Failed to upgrade the firmware."},
    {174, "No active sessions are present to logout the target."},
    {175, "The Target count exceeded the configured maximum limit."},
    {176, "Failed to get the available personalities for the controller. Please check orsa2d.log file for more information."},
    {177, "Failed to get the configured personality for the controller. Please check orsa2d.log file for more information."},
    {184, "Erased the Configuration. Please reboot your system for the changes to take effect."},
    {185, "Failed to get vNIC status. Please check orsa2d.log file for more information."},
    {186, "Failed to get vNIC config data. Please check orsa2d.log file for more information."},
    {187, "Failed to erase port and discovery configuration. Please check orsa2d.log file for more information."},
    {188, "Failed to erase nic settings. Please check orsa2d.log file for more information."},
    {191, "DumpTransceiverData is not supported on this model of Kalderstone controller."},
    {192, "Failed to obtain additional controller attributes. Application internal error occurred. Please check orsa2d.log file for more information."},
    {193, "Cannot set the digest level to Preferred when the digest is default value."},
    {194, "Cannot set the digest to default when level is set to Preferred."},
    {195, "IOCTL is not supported with the current privilege level."},
    {196, "IOCTL is not supported for the VF at all."},
    {201, "Failed to get EXTFAT Capabilities properties. Please check orsa2d.log file for more information."},
    {203, "Failed to set EXTFAT Capabilities properties. Please check orsa2d.log file for more information."},
    {204, "Failed to Configure Snapshot.Please check orsa2d.log file for more information."},
    {205, "There is no ExtFat Data to be retreived. Because number of log entries are Zero."},
    {206, "Failed to RetrieveExtFAT Data. Please check orsa2d.log file for more information."},
    {207, "Failed to Read ExtFat String Table. Please check orsa2d.log file for more information."},
    {208, "Failed to get TXThrottel property. Please check orsa2d.log file for more information."},
    {209, "Failed to set TXThrottel property. Please check orsa2d.log file for more information."},
    {210, "Setting TXThrottel is not Supported on this type of adapter."},
    {211, "Failed to Perform EnableLoggingOnAllModules. Please check orsa2d.log file for more information."},
    {212, "Failed to Perform DisableLoggingOnAllModules. Please check orsa2d.log file for more information."},
    {213, "The command is not supported by the adapter."},
    {215, "Failed to get 10BaseT Stats. Please check orsa2d.log file for more information."},
    {216, "TargetCable should be given when TestType is CrossTalk."},
    {217, "Failed to run 10BaseT SelfTest. Please check orsa2d.log file for more information."},
    {218, "Failed to run RunTDR test. Please check orsa2d.log file for more information."},
    {219, "Failed to set NCSI Dynamic Configuration properties. Please check orsa2d.log file for more information."},
    {220, "Failed to get 10BaseT NVPValue. Please check orsa2d.log file for more information."},
    {221, "Failed to Set 10BaseT NVPValue. Please check orsa2d.log file for more information."},
    {222, "Failed to SetPortSpeed. Please check orsa2d.log file for more information."},
    {223, "Failed to SetPortSpeed. When Mode is Force, valid speed values are 1Gb or 10Gb."},
    {224, "Failed to SetPortSpeed. DAC Cable Length is required when mode is Force."},
    {225, "Failed to SetPortSpeed. Speed is requried when Mode is Force or Auto-Negotiate."},
    {226, "Failed to SetPortSpeed. This command is not Supported on KS2 controller."},
    {227, "Failed to get LogicalLinkStatus.Please check orsa2d.log file for more information."},
    {228, "Failed to get PHY Detail properties. Please check orsa2d.log file for more information."},
    {229, "Failed to SetPortSpeed. Please check ANSpeedsSupported and ForceSpeedsSupported properties for supported PortSpeed values on existing PHY."},
    {230, "Failed to get link speed properties. Please check orsa2d.log file for more information."},
    {235, "Firmware update cannot be performed on a SR-IOV virtual function."},
    {236, "Failed set Beacon. Beacon operation is already in active state."},
    {237, "Login command failed. Please check orsa2d.log file for more information."},
    {239, "The operation completed successfully. Please reboot the machine immediately in order to avoid inconsistent behaviour."},
    {240, "Given port speed settings are already configured. No changes done."},
    {241, "Failed to get SRIOV state for the interface. Please check orsa2d.log file for more information."},
    {242, "Failed to set SRIOV state for the interface. Please check orsa2d.log file for more information."},
    {243, "Failed to login due to mismatch in CRC Configuration."},
    {244, "Beacon is already in disabled state."},
    {245, "Failed to add route entries. Exceed maximum manual route entries."},
    {246, "Failed to get current MACAddress. Please check orsa2d.log file for more information."},
    {247, "Failed to change SRIOVState. SRIOV state change is not supported on this function."},
    {252, "Changed the SRIOV state successfully. Please reboot the machine for changes to take effect."},
    {253, "Enabling SRIOV is not supported when UMC is enabled."},
    {256, "Performed operation is not supported on a SR-IOV virtual function."},
    {257, "Invalid file name or path name given. Please provide valid file name or path name."},
    {258, "Failed to set this session as boot target. Please check orsa2d.log file for more information."},
    {259, "This operation is not supported on this controller."},
    {260, "When vNIC is Enabled 1GB port speed is not supported."},
    {263, "Invalid file format. Please use the valid file and check orsa2d.log file for more information."},
    {265, "Failed to get core dump properties. Please check orsa2d.log file for more information."},
    {266, "Failed to get core dump component properties. Please check orsa2d.log file for more information."},
    {267, "Failed to get core dump segment properties. Please check orsa2d.log file for more information."},
    {269, "Failed to get core dump segment. Please check orsa2d.log file for more information."},
    {270, "Failed to create core dump file. Please check orsa2d.log file for more information."},
    {271, "No data avaialable to read."},
    {272, "Configuring Network boot is not supported on this function."},
    {273, "Give Network Boot method is not supported."},
    {274, "Failed to configure NetworkBoot. When NetworkBootState is enabled, need to provide valid NetworkBootMethod."},
    {275, "Failed to get profile list. Please check orsa2d.log file for more information."},
    {276, "Failed to get profile capacities. Please check orsa2d.log file for more information."},
    {277, "Failed to get active profile. Please check orsa2d.log file for more information."},
    {278, "Failed to get profile config. Please check orsa2d.log file for more information."},
    {279, "Failed to get reset needed. Please check orsa2d.log file for more information."},
    {280, "Profile configured successfully. Please reboot your system for the changes to take effect."},
    {283, "Failed to SetPortProtocol. Please check orsa2d.log file for more information."},
    {284, "MultiChannel state change. Please reboot your system for the changes to take effect."},
    {285, "Configuring channel parameter is not supported when LogicalLinkState is disabled."},
    {286, "Configuring LPVID is not supported for Storage functions."},
    {287, "Failed to configure QoS.Min Bandwidth is greater then Max Bandwidth."},
    {289, "Configuring Multi Channel is not supported on given adapter."},
    {291, "Failed to execute the command. Because operation is not supported on this adapter."},
    {292, "Failed to get capabilities. Please check orsa2d.log file for more information."},
    {293, "Failed to execute command. Please specify ChannelType."},
    {294, "Failed to execute command. Given channel type is not supported."},
    {297, "Failed to configure VEPAState. VEPA is not supported on this adapter."},
    {298, "Failed to configure FFVName. FFVName is not supported on this adapter."},
    {302, "Configuring ETO is not supported by Open-iSCSI driver."},
    {303, "Performed command is not supported on given adapter."},
    {304, "User requested configuration changed successfully. Please reboot your system for the changes to take effect."},
    {305, "Failed to save configured profile, because invalid configuration provided. Please check the configuration."},
    {306, "Target Login succeeded, but failed to add the iSCSI Boot Target TLV in the iSCSI Region in firmware."},
    {307, "Failed to delete the iSCSI Boot Target TLV in the iSCSI Region in firmware."},
    {308, "Failed to set LPVID. Valid range of LPVID is from 2 to 4094."},
    {309, "Discovering iSNS Targets is not supported through Open-iSCSI driver in this OS."},
    {311, "Configuring AdvanceMode is not supported on this adapter."},
    {312, "Advance mode settings changed successfully. Please reboot the machine for changes to take effect."},
    {313, "Quorvantix Adapter Not found. Please make sure Talvor NIC/iSCSI drivers are installed properly or Quorvantix adapter inserted on PCIe Slot."},
    {318, "This special firmware release requires the download be performed twice. You must reboot the system and download the same firmware file again to complete the download process."},
    {319, "Failed to create file under specified directory because write operations are not supported."},
    {321, "SCSIWrite is not supported in Open-iSCSI driver."},
    {323, "Configuring requested channel parameter is not supported."},
    {325, "ClearCounters test is not supported on specific adapter"},
    {326, "Configuring QCN parameters are not supported on this adapter."},
    {328, "Failed to set Volatile MAC Address."},
    {330, "IPv6 configuration is not supported on given adapter."},
    {331, "Given FWCliString not supported."},
    {332, "Failed to get Link Reconfiguration information. Please check orsa2d.log file for more information."},
    {336, "Failed to flash firmware image because of invalid digital signature."},
    {337, "Failed to flash firmware image because of digital signature missed in the given UFI."},
    {338, "Reset to factory defaults is not supported on this adapter."},
    {339, "Failed to reset factory defaults on this adapter."},
    {340, "Failed to get OneView parameter. Please check orsa2d.log file for more information."},
};

const OrsaStatusEntry *orsa_status_table(u32 *count)
{
    if (count != nullptr)
        *count = (u32)(sizeof status_table / sizeof status_table[0]);
    return status_table;
}

const char *orsa_status_text(u32 code)
{
    /* The table is short and sorted; a binary search keeps lookups cheap anyway. */
    size_t lo = 0, hi = sizeof status_table / sizeof status_table[0];
    while (lo < hi) {
        size_t mid = lo + (hi - lo) / 2;
        if (status_table[mid].code == code)
            return status_table[mid].text;
        if (status_table[mid].code < code)
            lo = mid + 1;
        else
            hi = mid;
    }
    return "";
}

void orsa_set_last_status(u32 code, const char *text)
{
    if (text == nullptr)
        text = "";
    size_t n = strnlen(text, ORSA_STATUS_TEXT_SIZE - 1);
    memmove(orsa_last_status_string, text, n);
    orsa_last_status_string[n] = '\0';
    orsa_last_status_code = code;
}

void orsa_set_last_statusf(u32 code, const char *format, ...)
{
    char text[ORSA_STATUS_TEXT_SIZE];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    orsa_set_last_status(code, text);
}

u32 orsa_set_status(u32 code)
{
    orsa_set_last_status(code, orsa_status_text(code));
    return code;
}

void orsa_get_last_status(u32 *code, char *out)
{
    if (out != nullptr)
        memcpy(out, orsa_last_status_string, ORSA_STATUS_TEXT_SIZE);
    if (code != nullptr)
        *code = orsa_last_status_code;
}

void orsa_reset_last_status(void)
{
    orsa_last_status_code = 0;
    orsa_last_status_string[0] = '\0';
}
