// The controller group Kalderstone<n> and its static subgroups: identity
// (FRUVPD, NICCIM, OEM, NCSI), configuration (LinkReconfiguration,
// ChannelManagement, ProfileManagement, Personality) and maintenance
// (ExtFATData, EventLog, FATData, Diagnostics).
#include "schema/builders.h"
#include "schema/kind_table.h"

// ---- action descriptors of the controller group itself ----

SCHEMA_DESCRIPTOR(ROOT_Kalderstone_RetrieveQuorvantixCoreDump, "do_RetrieveQuorvantixCoreDump", 2,
    SCHEMA_PARAM(1, "CoreDumpFileName", T_STRING, 3, 255, "",
                 "This parameter specifies the name of the file that receives the core dump."),
    SCHEMA_PARAM(0, "CoreDumpString", T_LIST, 4, 9, "live,Dead,Test,Test live,Test Dead",
                 "This parameter specifies which core dump is retrieved. Valid values are live, Dead, Test, Test live and Test Dead."));

SCHEMA_DESCRIPTOR(ROOT_Kalderstone_RetrieveFwCliData, "do_RetrieveFwCliData", 2,
    SCHEMA_PARAM(1, "CliOutputFileName", T_STRING, 3, 255, "",
                 "This parameter specifies the name of the file that receives the firmware command output."),
    SCHEMA_PARAM(1, "FWCliString", T_STRING, 2, 255, "",
                 "This parameter specifies the firmware command string."));

SCHEMA_DESCRIPTOR(ROOT_Kalderstone_UpgradeFlashROM, "do_UpgradeFlashROM", 1,
    SCHEMA_PARAM(1, "UFIFileName", T_STRING, 3, 255, "",
                 "This parameter specifies the path of the UFI file."));

SCHEMA_DESCRIPTOR(ROOT_Kalderstone_ResetFactoryDefaults, "do_ResetFactoryDefaults", 1,
    SCHEMA_PARAM(0, "ProfileId", T_INTEGER, 0, 256, "",
                 "This parameter specifies the profile to reset: 0 means the active profile, any other value that profile number."));

SCHEMA_DESCRIPTOR(ROOT_Kalderstone_EraseAllConfiguration, "do_EraseAllConfiguration", 0);

// ---- LinkReconfiguration ----

SCHEMA_DESCRIPTOR(ROOT_Kalderstone_LinkReconfiguration_SetLinkConfigFactoryDefaults,
                  "do_SetLinkConfigFactoryDefaults", 0);
SCHEMA_DESCRIPTOR(ROOT_Kalderstone_LinkReconfiguration_SetLinkConfigID, "do_SetLinkConfigID", 1,
    SCHEMA_PARAM(1, "LinkConfigID", T_INTEGER, 0, 32, "",
                 "This parameter specifies the Link Config ID that becomes active the next time the physical device is power-cycled or receives a PCI fundamental reset. The Link Config ID identifies the number and type of ports."));

// ---- ChannelManagement ----

SCHEMA_DESCRIPTOR(ROOT_Kalderstone_ChannelManagement_ConfigureChannelManagement,
                  "do_ConfigureChannelManagement", 2,
    SCHEMA_PARAM(1, "ChannelState", T_LIST, 7, 8, "Enabled,Disabled",
                 "This parameter specifies the channel management state. Valid values are Enabled and Disabled."),
    SCHEMA_PARAM(0, "ChannelType", T_LIST, 3, 4, "UMC,vNIC1,vNIC2,UFP,NPAR",
                 "This parameter specifies the channel type. Valid values are UMC, vNIC1, vNIC2, UFP and NPAR."));

// ---- ProfileManagement ----

SCHEMA_DESCRIPTOR(ROOT_Kalderstone_ProfileManagement_SetProfileId, "do_SetProfileId", 1,
    SCHEMA_PARAM(1, "ProfileId", T_INTEGER, 1, 256, "",
                 "This parameter specifies the profile id to be configured."));
SCHEMA_DESCRIPTOR(ROOT_Kalderstone_ProfileManagement_SaveProfile, "do_SaveProfile", 0);
SCHEMA_DESCRIPTOR(ROOT_Kalderstone_ProfileManagement_SetFactoryDefaults, "do_SetFactoryDefaults", 0);
SCHEMA_DESCRIPTOR(ROOT_Kalderstone_ProfileManagement_ConfiguredProfile_SetMaxFunctionNumber,
                  "do_SetMaxFunctionNumber", 1,
    SCHEMA_PARAM(0, "FunctionNumber", T_INTEGER, 0, 15, "",
                 "This parameter specifies the function number to be configured."));

// ---- Personality ----

SCHEMA_DESCRIPTOR(ROOT_Kalderstone_Personality_SetPersonality, "do_SetPersonality", 1,
    SCHEMA_PARAM(1, "NewPersonality", T_LIST, 3, 5, "NIC,iSCSI,FCoE",
                 "This parameter specifies the new personality of the adapter. Valid values are NIC, iSCSI and FCoE."));

// ---- ExtFATData ----

#define TRACE_LEVELS_TEXT                                                                        \
    "This parameter specifies the trace level: 0 TRACE_LEVEL_ALL, 1 TRACE_LEVEL_ENTER_FUNCTION, " \
    "4 TRACE_LEVEL_VERBOSE, 5 TRACE_LEVEL_INFO, 8 TRACE_LEVEL_TEST, 16 TRACE_LEVEL_SHOW, "          \
    "32 TRACE_LEVEL_WARNING, 48 TRACE_LEVEL_ERROR, 64 TRACE_LEVEL_FATAL, 128 TRACE_LEVEL_ALWAYS."

SCHEMA_DESCRIPTOR(ROOT_Kalderstone_ExtFATData_RetrieveARMLog, "do_RetrieveARMLog", 2,
    SCHEMA_PARAM(1, "ARMLogFileName", T_STRING, 3, 255, "",
                 "This parameter specifies the name of the file that receives the ARM firmware log."),
    SCHEMA_PARAM(1, "SnapshotMode", T_LIST, 3, 5, "RAM,DDR,FLASH",
                 "This parameter specifies where the log is fetched from. Valid values are RAM, DDR and FLASH."));
SCHEMA_DESCRIPTOR(ROOT_Kalderstone_ExtFATData_EnableLoggingOnAllModules, "do_EnableLoggingOnAllModules", 3,
    SCHEMA_PARAM(1, "TraceLevel", T_LIST, 0, 128, "0,1,4,5,8,16,32,48,64,128", TRACE_LEVELS_TEXT),
    SCHEMA_PARAM(0, "UARTMode", T_LIST, 2, 3, "Yes,No",
                 "This parameter selects the UART mode groups. No leaves them unchanged; when not given it counts as Yes."),
    SCHEMA_PARAM(0, "RAMMode", T_LIST, 2, 3, "Yes,No",
                 "This parameter selects the RAM mode groups. No leaves them unchanged; when not given it counts as Yes."));
SCHEMA_DESCRIPTOR(ROOT_Kalderstone_ExtFATData_DisableLoggingOnAllModules, "do_DisableLoggingOnAllModules", 2,
    SCHEMA_PARAM(0, "UARTMode", T_LIST, 2, 3, "Yes,No",
                 "This parameter selects the UART mode groups. No leaves them unchanged; when not given it counts as Yes."),
    SCHEMA_PARAM(0, "RAMMode", T_LIST, 2, 3, "Yes,No",
                 "This parameter selects the RAM mode groups. No leaves them unchanged; when not given it counts as Yes."));
SCHEMA_DESCRIPTOR(ROOT_Kalderstone_ExtFATData_SetDefaultLoggingConfiguration,
                  "do_SetDefaultLoggingConfiguration", 0);

// ---- EventLog ----

SCHEMA_DESCRIPTOR(ROOT_Kalderstone_EventLog_RefreshEventLog, "do_RefreshEventLog", 0);
SCHEMA_DESCRIPTOR(ROOT_Kalderstone_EventLog_ClearEventLog, "do_ClearEventLog", 0);

// ---- FATData ----

SCHEMA_DESCRIPTOR(ROOT_Kalderstone_FATData_RetrieveFATData, "do_RetrieveFATData", 1,
    SCHEMA_PARAM(1, "FATFileName", T_STRING, 3, 255, "",
                 "This parameter specifies the name of the file that receives the FAT data."));
SCHEMA_DESCRIPTOR(ROOT_Kalderstone_FATData_ClearFATData, "do_ClearFATData", 0);

// ---- Diagnostics ----

#define LOOPBACK_TYPES                                                                          \
    "This parameter specifies the loopback type. MacLoopBack joins the MAC's transmit output to its receive input inside the controller, bypassing the PHY. " \
    "PhyLoopBack joins the PHY's transmit output to its receive input within the controller. "     \
    "OnePortLoopBack goes out through one external port and back, with a loopback cable on port 0 or port 1. " \
    "TwoPortLoopBack goes out through both external ports, with a cable across port 0 and port 1."

SCHEMA_DESCRIPTOR(ROOT_Kalderstone_Diagnostics_HostToDDRDMATest, "do_HostToDDRDMATest", 3,
    SCHEMA_PARAM(1, "Pattern", T_STRING, 3, 16, "", "This parameter specifies an 8-byte pattern in hexadecimal."),
    SCHEMA_PARAM(1, "ByteCount", T_INTEGER, 64, 4096, "", "This parameter specifies the number of bytes to transfer."),
    SCHEMA_PARAM(1, "LoopCount", T_INTEGER, 1, 4096, "", "This parameter specifies the number of loops to run."));
SCHEMA_DESCRIPTOR(ROOT_Kalderstone_Diagnostics_EnterLoopBackMode, "do_EnterLoopBackMode", 3,
    SCHEMA_PARAM(1, "SourcePortNumber", T_INTEGER, 0, 3, "", "This parameter specifies the source port number."),
    SCHEMA_PARAM(1, "DestinationPortNumber", T_INTEGER, 0, 3, "",
                 "This parameter specifies the destination port number. For MAC and PHY loopback it is the same as the source port."),
    SCHEMA_PARAM(1, "LoopbackType", T_LIST, 11, 15, "MacLoopBack,PhyLoopBack,OnePortLoopBack,TwoPortLoopBack", LOOPBACK_TYPES));
SCHEMA_DESCRIPTOR(ROOT_Kalderstone_Diagnostics_ExitLoopBackMode, "do_ExitLoopBackMode", 2,
    SCHEMA_PARAM(1, "SourcePortNumber", T_INTEGER, 0, 3, "", "This parameter specifies the source port number."),
    SCHEMA_PARAM(1, "DestinationPortNumber", T_INTEGER, 0, 3, "", "This parameter specifies the destination port number."));
SCHEMA_DESCRIPTOR(ROOT_Kalderstone_Diagnostics_NetworkLoopBackTest, "do_NetworkLoopBackTest", 6,
    SCHEMA_PARAM(1, "Pattern", T_STRING, 3, 16, "", "This parameter specifies an 8-byte pattern in hexadecimal."),
    SCHEMA_PARAM(1, "ByteCount", T_INTEGER, 1500, 8192, "",
                 "This parameter specifies the number of bytes per frame, at most MaxMTU: 1500 to 4056 for MacLoopBack, 1500 to 8192 for the other types."),
    SCHEMA_PARAM(1, "LoopCount", T_INTEGER, 1, 4096, "", "This parameter specifies the number of loops to run."),
    SCHEMA_PARAM(1, "SourcePortNumber", T_INTEGER, 0, 3, "", "This parameter specifies the source port number."),
    SCHEMA_PARAM(1, "DestinationPortNumber", T_INTEGER, 0, 3, "", "This parameter specifies the destination port number."),
    SCHEMA_PARAM(1, "LoopbackType", T_LIST, 11, 15, "MacLoopBack,PhyLoopBack,OnePortLoopBack,TwoPortLoopBack", LOOPBACK_TYPES));

#define FRU(n)                                                                                  \
    SCHEMA_PROP("FRUVPDData" #n, RO, T_STRING, 0, 256, "", "", "handle_internal_property",     \
                "This property is a hex dump of the segment of FRUVPD data retrieved from a Quorvantix controller by ORSA.")

static schema::SchemaRow kalderstone_rows[] = {
    SCHEMA_PROP("OneView", RO, T_LIST, 7, 8, "Disabled", "Enabled,Disabled", "handle_OneView",
                "This property specifies whether the HPE OneView application manages the adapter. It is applicable only on Veskarn adapters; other adapters show N/A."),
    SCHEMA_PROP("AdvancedMode", RW, T_LIST, 7, 8, "Enabled", "Enabled,Disabled", "handle_AdvancedMode",
                "This property specifies the AdvancedMode setting, Enabled or Disabled. It is applicable only on KS3 adapters; other adapters show N/A."),
    SCHEMA_PROP("ControllerStatus", RO, T_LIST, 4, 5, "Alive", "Alive,Dead", "handle_ControllerStatus",
                "This property specifies the controller status, Alive or Dead. It is supported for the Windows and ESX operating systems only; all others show N/A."),

    SCHEMA_GROUP("LinkReconfiguration", "This group contains the Link Re-configuration details.", nullptr),
        SCHEMA_PROP("ActiveLinkConfigID", RO, T_INTEGER, 0, 32, "0", "", "handle_internal_property",
                    "This property specifies the Link Config ID of the link configuration currently active on the physical device. Devices without link reconfiguration report 0. Supported only on Veskarn adapters; KSx and Pivard adapters show N/A."),
        SCHEMA_PROP("ConfiguredLinkConfigID", RO, T_INTEGER, 0, 32, "0", "", "handle_ConfiguredLinkConfigID",
                    "This property specifies the Link Config ID that will be configured at the next physical device reset. Devices without link reconfiguration report 0. Supported only on Veskarn adapters; KSx and Pivard adapters show N/A."),
        SCHEMA_ACTION("SetLinkConfigFactoryDefaults",
                      "This command is used to reset the adapter to the factory default link configuration.",
                      ROOT_Kalderstone_LinkReconfiguration_SetLinkConfigFactoryDefaults_spec),
        SCHEMA_ACTION("SetLinkConfigID",
                      "This command is used to assign Link Config mode that is to be active on the Physical Device.",
                      ROOT_Kalderstone_LinkReconfiguration_SetLinkConfigID_spec),
    SCHEMA_END(),

    SCHEMA_GROUP("FRUVPD", "This group contains the FRU Vital Product Data (VPD). Because of ORSA size limitations, this data is separated into segments designated by FRUVPDdata0 - FRUVPDdata8 properties.", nullptr),
        SCHEMA_PROP("FRUVPDData0", RO, T_STRING, 0, 256, "", "", "handle_fru_vpd_data",
                    "This property is a hex dump of the segment of FRUVPD data retrieved from a Quorvantix controller by ORSA."),
        FRU(1), FRU(2), FRU(3), FRU(4), FRU(5), FRU(6), FRU(7), FRU(8), FRU(9), FRU(10),
    SCHEMA_END(),

    SCHEMA_GROUP("ChannelManagement", "This group indicates channel management configuration details.", nullptr),
        SCHEMA_PROP("SupportedMCTypes", RO, T_LIST, 3, 7, "N/A", "UMC,vNIC1,vNIC2,UFP,NPAR,HPFlex,HPUMC,HPFlexQBG",
                    "handle_SupportedMCTypes",
                    "This property specifies the supported multi-channel types for respective Quorvantix controller."),
        SCHEMA_PROP("CurrentManagementType", RO, T_LIST, 3, 4, "N/A", "UMC,vNIC1,vNIC2,UFP,NPAR",
                    "handle_ChannelManagement_details",
                    "This property specifies the current channel type. N/A means no multichannel mode is enabled. Supported only on KS3 adapters."),
        SCHEMA_PROP("ConfiguredManagementType", RO, T_LIST, 3, 4, "N/A", "UMC,vNIC1,vNIC2,UFP,NPAR",
                    "handle_ChannelManagement_details",
                    "This property specifies the configured channel type. Supported only on KS3 adapters."),
        SCHEMA_ACTION("ConfigureChannelManagement",
                      "This command configures channel management on KS3 controllers. It is not supported on Veskarn.",
                      ROOT_Kalderstone_ChannelManagement_ConfigureChannelManagement_spec),
    SCHEMA_END(),

    SCHEMA_PROP("Manufacturer", RO, T_STRING, 1, 32, "0", "", "handle_internal_property",
                "This property names the manufacturer of the Quorvantix controller."),
    SCHEMA_PROP("ModelNumber", RO, T_STRING, 1, 32, "1", "", "handle_internal_property",
                "This property specifies the model number of the Quorvantix controller."),
    SCHEMA_PROP("Description", RO, T_STRING, 1, 64, "0", "", "handle_internal_property",
                "This property describes the Quorvantix controller."),
    SCHEMA_PROP("SerialNumber", RO, T_STRING, 1, 32, "1", "", "handle_internal_property",
                "This property specifies the serial number of the Quorvantix controller, typically one of its MAC addresses."),
    SCHEMA_PROP("Capabilities", RO, T_STRING, 1, 128, "Unknown", "", "handle_internal_property",
                "This property specifies which of NIC, TOE, iSCSInitiator, iSCSITarget, FCoEInitiator and FCoETarget are enabled on the adapter, as recorded in its SEEPROM."),
    SCHEMA_PROP("ActiveFirmwareVersion", RO, T_STRING, 5, 32, "5", "", "handle_ks_controller_properties",
                "This property specifies the firmware version currently operational on the Quorvantix controller."),
    SCHEMA_PROP("FirmwareVersionOnFlash", RO, T_STRING, 5, 32, "5", "", "handle_ks_controller_properties",
                "This property specifies the firmware version in non-volatile storage. It becomes the active version at the next restart."),
    SCHEMA_PROP("BIOSVersion", RO, T_STRING, 5, 32, "5", "", "handle_ks_controller_properties",
                "This property specifies the BIOS version currently operational on the Quorvantix controller."),
    SCHEMA_PROP("BootCodeVersion", RO, T_STRING, 5, 32, "5", "", "handle_ks_controller_properties",
                "This property specifies the boot code version currently operational on the Quorvantix controller."),
    SCHEMA_PROP("FirmwareStatus", RO, T_LIST, 6, 8, "Unknown", "Working,Degraded,Critical,Failed,Unknown",
                "handle_ks_controller_properties",
                "This property specifies the status of the firmware. Working means that it operates properly."),
    SCHEMA_PROP("FCoEUniversalVersion", RO, T_STRING, 0, 32, "0", "", "handle_ks_controller_additional_properties",
                "This property specifies the FCoE Universal Version."),
    SCHEMA_PROP("FCoEx86BIOSVersion", RO, T_STRING, 0, 32, "", "", "handle_ks_controller_additional_properties",
                "This property specifies the FCoE x86 BIOS version of the Quorvantix controller."),
    SCHEMA_PROP("FCoEEFIVersion", RO, T_STRING, 0, 32, "", "", "handle_ks_controller_additional_properties",
                "This property specifies the FCoE EFI version of the Quorvantix controller."),
    SCHEMA_PROP("FCoEFCODEVersion", RO, T_STRING, 0, 32, "0", "", "handle_ks_controller_additional_properties",
                "This property specifies the FCoE FCODE version of the Quorvantix controller."),
    SCHEMA_PROP("UEFIBIOSVersion", RO, T_STRING, 0, 32, "", "", "handle_ks_controller_additional_properties",
                "This property specifies the UEFI BIOS version of the Quorvantix controller."),
    SCHEMA_PROP("UEFINICVersion", RO, T_STRING, 0, 32, "0", "", "handle_ks_controller_additional_properties",
                "This property specifies the UEFI NIC version of the Quorvantix controller."),
    SCHEMA_PROP("UEFIFCODEVersion", RO, T_STRING, 0, 32, "0", "", "handle_ks_controller_additional_properties",
                "This property specifies the UEFI FCODE version of the Quorvantix controller."),
    SCHEMA_PROP("UEFISCSIVersion", RO, T_STRING, 0, 32, "0", "", "handle_ks_controller_additional_properties",
                "This property specifies the UEFI SCSI version of the Quorvantix controller."),
    SCHEMA_PROP("PXEBIOSVersion", RO, T_STRING, 0, 32, "0", "", "handle_internal_property",
                "This property specifies the PXE BIOS version of the Quorvantix controller."),
    SCHEMA_PROP("PHYFirmwareVersion", RO, T_STRING, 0, 32, "0", "", "handle_ks_controller_additional_properties",
                "This property specifies the PHY firmware version of the Quorvantix controller."),
    SCHEMA_PROP("PHYConfigurationId", RO, T_STRING, 0, 32, "0", "", "handle_ks_controller_additional_properties",
                "This property specifies the PHYCRC of the Quorvantix controller."),
    SCHEMA_PROP("KalderstoneOnDieTemperature", RO, T_INTEGER, 45, 125, "45", "", "handle_ks_temperature",
                "This property specifies the on-chip temperature of the Quorvantix controller in degrees centigrade, to the nearest degree."),
    SCHEMA_PROP("IPLFileName", RO, T_STRING, 0, 32, "0", "", "handle_ks_controller_additional_properties",
                "This property specifies the IPL file name. It applies to the TQR3315 only; the TQR2215 shows N/A."),
    SCHEMA_PROP("PCIExpressLinkSpeed", RO, T_STRING, 0, 5, "0", "", "handle_PCIExpressLinkSpeed",
                "This property specifies the current PCI Express link speed."),
    SCHEMA_PROP("PCIExpressBusWidth", RO, T_STRING, 0, 5, "0", "", "handle_PCIExpressBusWidth",
                "This property specifies the current PCI Express bus width."),
    SCHEMA_PROP("FFVName", RW, T_STRING, 4, 32, "0", "", "handle_FFVName",
                "This property specifies the FFVName."),

    SCHEMA_GROUP("ProfileManagement", "This group represents Profile Management of the adapter.", nullptr),
        SCHEMA_PROP("RebootRequired", RO, T_LIST, 0, 3, "No", "Yes,No", "handle_RebootRequired",
                    "This property specifies whether reboot is required or not."),
        SCHEMA_PROP("MaxFunctionsPerPort", RO, T_INTEGER, 2, 8, "2", "", "handle_MaxFunctionsPerPort",
                    "This property specifies max supported functions per port."),
        SCHEMA_GROUP("ActiveProfile", "This group represents ActiveProfiles on the adapter.", nullptr),
            SCHEMA_PROP("ProfileId", RO, T_INTEGER, 0, 32, "0", "", "handle_internal_property",
                        "This property specifies ProfileId of ActiveProfile."),
        SCHEMA_END(),
        SCHEMA_GROUP("ConfiguredProfile", "This group represents ConfiguredProfiles on the adapter.", nullptr),
            SCHEMA_PROP("IPLMaxFunctionNumber", RO, T_INTEGER, 0, 15, "0", "", "handle_IPLMaxFunctionNumber",
                        "This property specifies IPL max supported function number."),
            SCHEMA_PROP("SettableMaxFunctionNumber", RO, T_LIST, 2, 3, "No", "Yes,No", "handle_SettableMaxFunctionNumber",
                        "This property represents MaxFunctionNumber can be changed."),
            SCHEMA_PROP("MaxFunctionNumber", RO, T_INTEGER, 0, 15, "0", "", "handle_MaxFunctionNumber",
                        "This property specifies configured MaxFunctionNumber."),
            SCHEMA_PROP("ProfileId", RW, T_INTEGER, 0, 32, "0", "", "handle_ConfiguredProfile_ProfileId",
                        "This property specifies ProfileId of ConfiguredProfile."),
            SCHEMA_ACTION("SetMaxFunctionNumber", "This command is used to configure MaxFunctionNumber.",
                          ROOT_Kalderstone_ProfileManagement_ConfiguredProfile_SetMaxFunctionNumber_spec),
        SCHEMA_END(),
        SCHEMA_ACTION("SetProfileId", "This command is used to configure the profile.",
                      ROOT_Kalderstone_ProfileManagement_SetProfileId_spec),
        SCHEMA_ACTION("SaveProfile",
                      "This command is used to save the ConfiguredProfile settings after the user changes the Protocol properties for each port and function.",
                      ROOT_Kalderstone_ProfileManagement_SaveProfile_spec),
        SCHEMA_ACTION("SetFactoryDefaults",
                      "This command is used to reset the adapter to run the factory default profile and port configuration.",
                      ROOT_Kalderstone_ProfileManagement_SetFactoryDefaults_spec),
    SCHEMA_END(),

    SCHEMA_GROUP("NICCIM", "This group reflects the nic properties of the adapter.", nullptr),
        SCHEMA_PROP("PortControllerName", RO, T_STRING, 0, 128, "", "", "handle_PortControllerName",
                    "This property defines the label by which the Controller is known."),
        SCHEMA_PROP("ControllerType", RO, T_STRING, 0, 32, "", "", "handle_ControllerType",
                    "This property specifies the  type or model of the port controller."),
        SCHEMA_PROP("ProtocolSupported", RO, T_STRING, 0, 32, "", "", "handle_ProtocolSupported",
                    "This property specifies the protocol used by the Controller to access controlled Devices."),
        SCHEMA_PROP("MaxSupportedController", RO, T_INTEGER, 0, 8, "0", "", "handle_MaxSupportedController",
                    "This property specifies the maximum number of directly addressable entities that the controller supports."),
    SCHEMA_END(),

    SCHEMA_ACTION("RetrieveQuorvantixCoreDump",
                  "This command retrieves the core dump of the Quorvantix controller. Without CoreDumpString the value live is used.",
                  ROOT_Kalderstone_RetrieveQuorvantixCoreDump_spec),
    SCHEMA_ACTION("RetrieveFwCliData", "This command retrieves the firmware command-line output of the Quorvantix controller.",
                  ROOT_Kalderstone_RetrieveFwCliData_spec),
    SCHEMA_ACTION("UpgradeFlashROM",
                  "This command updates the firmware stored in non-volatile memory. The system must be restarted for it to become active. Example: OEMKDUpgradeFlashROM -OEMKDparams UFIFileName=\"flash.ufi\"",
                  ROOT_Kalderstone_UpgradeFlashROM_spec),
    SCHEMA_ACTION("ResetFactoryDefaults",
                  "This command restores the persistent resource descriptors of one profile to factory defaults (effective once that profile is selected and the device is reset or power-cycled) and restores the whole SLIDevices configuration to factory defaults.",
                  ROOT_Kalderstone_ResetFactoryDefaults_spec),
    SCHEMA_ACTION("EraseAllConfiguration",
                  "This command resets all settings of the controller to factory defaults. A reboot is needed for the change to take effect.",
                  ROOT_Kalderstone_EraseAllConfiguration_spec),

    SCHEMA_GROUP("Personality", "This group reflects the personality of the adapter.", nullptr),
        SCHEMA_PROP("CurrentPersonality", RO, T_LIST, 3, 7, "iSCSI", "NIC,iSCSI,FCoE,Illegal", "handle_internal_property",
                    "This property specifies the current personality. NIC means that all enabled functions provide NIC/TOE; iSCSI and FCoE are enabled on one function per port, with NIC on the other enabled functions."),
        SCHEMA_PROP("AvailablePersonalities", RO, T_STRING, 3, 14, "NIC", "", "handle_internal_property",
                    "This property specifies the personalities that the adapter can run, joined by slashes (for example NIC/iSCSI/FCoE)."),
        SCHEMA_PROP("ConfiguredPersonality", RO, T_LIST, 3, 6, "NIC", "NIC,iSCSI,FCoE", "handle_ConfiguredPersonality",
                    "This property indicates the personality that the adapter will be running upon reboot."),
        SCHEMA_ACTION("SetPersonality",
                      "This command changes the personality of the adapter, where the OEM permits it. Example: OEMKDSetPersonality -OEMKDparams NewPersonality=\"FCoE\"",
                      ROOT_Kalderstone_Personality_SetPersonality_spec),
    SCHEMA_END(),

    SCHEMA_GROUP("OEM", "This group corresponds to the OEM.", nullptr),
        SCHEMA_PROP("TalvorSerialNumber", RO, T_STRING, 1, 12, "Unknown", "", "handle_internal_property",
                    "This property indicates the Talvor Serial Number."),
        SCHEMA_PROP("OEMSerialNumber", RO, T_STRING, 1, 24, "Unknown", "", "handle_internal_property",
                    "This property indicates the OEM Serial Number."),
        SCHEMA_PROP("PersonalityManagementWord", RO, T_INTEGER, 0, 2147483647, "0", "", "handle_internal_property",
                    "This property controls the allowable protocols (NIC/TOE/iSCSI/FCoE etc) that can be configured on an adapter."),
    SCHEMA_END(),

    SCHEMA_GROUP("NCSI", "NCSI Group.", nullptr),
        SCHEMA_PROP("NCSIVersion", RO, T_STRING, 5, 32, "5", "", "handle_get_ncsi_version",
                    "This property specifies the NC-SI version currently operational on the Quorvantix controller."),
        SCHEMA_PROP("NCSISupport", RO, T_LIST, 9, 13, "Not Supported", "Supported,Not Supported",
                    "handle_ncsi_static_configuration",
                    "This property specifies whether the controller supports the DMTF Network Controller Sideband Interface (NC-SI) specification."),
        SCHEMA_PROP("NCSIKSHandShake", RO, T_LIST, 6, 9, "Error", "Success,Error,N/A", "handle_ncsi_static_configuration",
                    "This property specifies whether NC-SI works on the controller: Error after a problem during NC-SI initialization, else Success. Only for controllers that support NC-SI."),
    SCHEMA_END(),

    SCHEMA_GROUP("ExtFATData", "This group contains the ARM firmware log of the Quorvantix controller, read by ORSA at initialization and cached in ORSA. Run the command OEMKDRetrieveARMLog of this group to retrieve the log entries.", nullptr),
        SCHEMA_PROP("MaxLogEntries", RO, T_INTEGER, 1, 255, "1", "", "handle_internal_property",
                    "This property displays the maximum number of log entries that the volatile RAM buffer holds."),
        SCHEMA_PROP("LogEntrySize", RO, T_INTEGER, 1, 255, "1", "", "handle_internal_property",
                    "This property displays the size of each log entry."),
        SCHEMA_PROP("LoggingType", RO, T_LIST, 11, 13, "synchronous", "synchronous,asynchronous", "handle_internal_property",
                    "This property displays the logging type set in the firmware. It applies to the UART and FLASH modes only."),
        SCHEMA_PROP("MaxLoggingFunctions", RO, T_INTEGER, 1, 8, "1", "", "handle_internal_property",
                    "This property displays the max logging functions."),
        SCHEMA_PROP("MaxLoggingPorts", RO, T_INTEGER, 1, 4, "1", "", "handle_internal_property",
                    "This property displays the max logging ports."),
        SCHEMA_PROP("SupportedModes", RO, T_LIST, 3, 15, "UART", "UART,RAM", "handle_internal_property",
                    "This property displays the modes that the ARM firmware supports."),
        SCHEMA_PROP("NumberOfModules", RO, T_INTEGER, 0, 64, "0", "", "handle_internal_property",
                    "This property displays the number of modules that the ARM firmware supports."),
        SCHEMA_ACTION("RetrieveARMLog", "This command retrieves the ARM firmware log.",
                      ROOT_Kalderstone_ExtFATData_RetrieveARMLog_spec),
        SCHEMA_ACTION("EnableLoggingOnAllModules",
                      "This command sets the given trace level in every ExtFATMode group of every ExtFATModule group. A mode parameter No leaves the mode groups whose Mode matches it unchanged; a mode parameter not given counts as Yes. Example: OEMKDEnableLoggingOnAllModules -OEMKDparams TraceLevel=\"1\",UARTMode=\"No\"",
                      ROOT_Kalderstone_ExtFATData_EnableLoggingOnAllModules_spec),
        SCHEMA_ACTION("DisableLoggingOnAllModules",
                      "This command sets the trace level of every mode group to TRACE_LEVEL_DISABLE (0xff), with the same mode selection as OEMKDEnableLoggingOnAllModules. Example: OEMKDDisableLoggingOnAllModules -OEMKDparams UARTMode=\"No\"",
                      ROOT_Kalderstone_ExtFATData_DisableLoggingOnAllModules_spec),
        SCHEMA_ACTION("SetDefaultLoggingConfiguration",
                      "This command set the current configuration to defaults configuration.",
                      ROOT_Kalderstone_ExtFATData_SetDefaultLoggingConfiguration_spec),
    SCHEMA_END(),

    SCHEMA_GROUP("EventLog", "This group contains the firmware event log of the Quorvantix controller, read by ORSA at initialization and cached in ORSA. Run the command OEMKDRefreshEventLog of this group to refresh the entries.", nullptr),
        SCHEMA_ACTION("RefreshEventLog", "This command retrieves the current event log entries from the Quorvantix firmware.",
                      ROOT_Kalderstone_EventLog_RefreshEventLog_spec),
        SCHEMA_ACTION("ClearEventLog",
                      "This command clears the event log entries stored in the Quorvantix firmware. All entries are discarded and are no longer visible through SM-CLP.",
                      ROOT_Kalderstone_EventLog_ClearEventLog_spec),
    SCHEMA_END(),

    SCHEMA_GROUP("FATData", "This group contains the FAT (Failure Analysis Tool) data, collected to find the cause of a controller failure and kept in the controller's non-volatile memory. After a failure SM-CLP can write it to a file for technical support.", nullptr),
        SCHEMA_PROP("FATDataValid", RO, T_LIST, 2, 3, "Yes", "Yes,No", "handle_FATDataValid",
                    "This property specifies whether FAT data is present in non-volatile memory. When Yes it can be fetched with the command OEMKDRetrieveFATData."),
        SCHEMA_ACTION("RetrieveFATData", "This command retrieves the FAT data from non-volatile memory when there is any.",
                      ROOT_Kalderstone_FATData_RetrieveFATData_spec),
        SCHEMA_ACTION("ClearFATData", "This command clears the FAT data, if present, from non-volatile memory.",
                      ROOT_Kalderstone_FATData_ClearFATData_spec),
    SCHEMA_END(),

    SCHEMA_GROUP("Diagnostics", "This group represents all the actions required to perform diagnostics on this HBA.", nullptr),
        SCHEMA_PROP("TotalTestCycles", RO, T_INTEGER, 0, 2147483647, "0", "", "handle_internal_property",
                    "This property indicates the total time in milliseconds that the last test took for the number of loops given in its LoopCount."),
        SCHEMA_PROP("TotalCompleteCycles", RO, T_INTEGER, 0, 2147483647, "0", "", "handle_internal_property",
                    "This property indicates the total time of the loops of the last test that completed successfully."),
        SCHEMA_PROP("TotalErrorCycles", RO, T_INTEGER, 0, 2147483647, "0", "", "handle_internal_property",
                    "This property indicates the total time of the loops of the last test that completed with errors."),
        SCHEMA_PROP("SendErrorCount", RO, T_INTEGER, 0, 4096, "0", "", "handle_internal_property",
                    "This property indicates the number of send errors."),
        SCHEMA_PROP("ReceiveErrorCount", RO, T_INTEGER, 0, 4096, "0", "", "handle_internal_property",
                    "This property indicates the number of receive errors."),
        SCHEMA_PROP("DataMiscompareCount", RO, T_INTEGER, 0, 4096, "0", "", "handle_internal_property",
                    "This property indicates the number of data miscompares."),
        SCHEMA_PROP("TotalCompleteCount", RO, T_INTEGER, 0, 2147483647, "0", "", "handle_internal_property",
                    "This property indicates the total number of successfully completed loops."),
        SCHEMA_PROP("IsLoopbackSupported", RO, T_LIST, 4, 5, "True", "True,False", "handle_internal_property",
                    "This property indicates whether the loopback test is supported."),
        SCHEMA_ACTION("HostToDDRDMATest",
                      "This command DMAs ByteCount bytes of the pattern from host memory to the adapter's DDR and back and compares them. The buffer never exceeds 4096 bytes.",
                      ROOT_Kalderstone_Diagnostics_HostToDDRDMATest_spec),
        SCHEMA_ACTION("EnterLoopBackMode",
                      "This command puts the given port into the given loopback mode. Run it before the loopback test. Example: OEMKDEnterLoopBackMode -OEMKDparams SourcePortNumber=\"0\",DestinationPortNumber=\"0\",LoopbackType=\"MacLoopBack\"",
                      ROOT_Kalderstone_Diagnostics_EnterLoopBackMode_spec),
        SCHEMA_ACTION("ExitLoopBackMode",
                      "This command clears the loopback mode of the port after the test. Example: OEMKDExitLoopbackMode -OEMKDparams SourcePortNumber=\"0\",DestinationPortNumber=\"0\"",
                      ROOT_Kalderstone_Diagnostics_ExitLoopBackMode_spec),
        SCHEMA_ACTION("NetworkLoopBackTest",
                      "This command checks that the pattern is sent and received without corruption through the MAC, the PHY or the external ports in loopback. Run it after OEMKDEnterLoopBackMode and before OEMKDExitLoopBackMode. Example: OEMKDNetworkLoopBackTest -OEMKDparams Pattern=\"16\",LoopCount=\"4056\",ByteCount=\"1500\",SourcePortNumber=\"0\",DestinationPortNumber=\"0\",LoopbackType=\"MacLoopBack\"",
                      ROOT_Kalderstone_Diagnostics_NetworkLoopBackTest_spec),
    SCHEMA_END(),
};

SCHEMA_KIND(kind_Kalderstone, "initialize_Kalderstone", "Kalderstone",
            "This group instance corresponds to a single Quorvantix controller in this host.",
            16, 1, nullptr, kalderstone_rows);

HmNode *initialize_Kalderstone(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys)
{
    return schema::schema_build_instance(&kind_Kalderstone, parent, key_a, key_b, keys);
}
