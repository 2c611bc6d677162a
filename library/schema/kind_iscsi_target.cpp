// What an initiator knows of the network: SendTargetPortal<n> below its
// Discovery group, Target<n> below LogicalHBA0 and LUN<n> below a target.
#include "schema/builders.h"
#include "schema/kind_table.h"
#include "schema/kind_iscsi_texts.h"

#define STP(x) ROOT_Kalderstone_iSCSIPhysicalHBA_LogicalHBA_Discovery_SendTargetPortal_##x
#define TGT(x) ROOT_Kalderstone_iSCSIPhysicalHBA_LogicalHBA_Target_##x

SCHEMA_DESCRIPTOR(STP(SendTargetPortalLoginOptions_Authentication_ConfigureCHAP), "do_ConfigureCHAP", 6,
                  ISCSI_CHAP_PARAMS);
SCHEMA_DESCRIPTOR(STP(SendTargetPortalLoginOptions_Authentication_DeleteCHAP), "do_DeleteCHAP", 0);
SCHEMA_DESCRIPTOR(STP(DiscoverTargets), "do_DiscoverTargets", 1,
    SCHEMA_PARAM(0, "TargetName", T_STRING, 0, 255, "", "This parameter used to discover the address of this named target."));

SCHEMA_DESCRIPTOR(TGT(TargetLoginOptions_Authentication_ConfigureCHAP), "do_ConfigureCHAP", 6, ISCSI_CHAP_PARAMS);
SCHEMA_DESCRIPTOR(TGT(TargetLoginOptions_Authentication_DeleteCHAP), "do_DeleteCHAP", 0);
SCHEMA_DESCRIPTOR(TGT(Login), "do_Login", 5,
    SCHEMA_PARAM(0, "IPAddress", T_IPV4, 0, 0, "",
                 "This parameter specifies the IP address of the target portal. The address of the first TargetPortal instance is used when none is given."),
    SCHEMA_PARAM(0, "PortNumber", T_INTEGER, 1024, 65535, "",
                 "This parameter specifies the port number of the target portal. The port of the first TargetPortal instance is used when none is given."),
    SCHEMA_PARAM(0, "SessionInitiatorName", T_STRING, 1, 223, "",
                 "This parameter replaces, for this session, the initiator name inherited from the InitiatoriSCSIName property."),
    SCHEMA_PARAM(0, "ISIDQualifier", T_INTEGER, 0, 65535, "",
                 "This parameter overrides the ISID qualifier that the firmware would assign to the session."),
    SCHEMA_PARAM(0, "BootTarget", T_LIST, 4, 5, "True,False", "This parameter configures the boot session."));
SCHEMA_DESCRIPTOR(TGT(DeleteTargetPortal), "do_DeleteTargetPortal", 1,
    SCHEMA_PARAM(0, "InstanceNumber", T_INTEGER, 0, 63, "", ISCSI_INSTANCE_NUMBER_TEXT));
SCHEMA_DESCRIPTOR(TGT(AddTargetPortal), "do_AddTargetPortal", 2,
    SCHEMA_PARAM(1, "IPAddress", T_IPV4, 0, 0, "", "This parameter specifies the IP address of the new target portal."),
    SCHEMA_PARAM(0, "PortNumber", T_INTEGER, 1024, 65535, "", "This parameter specifies the port number of the new target portal."));
SCHEMA_DESCRIPTOR(TGT(Logout), "do_Logout", 1,
    SCHEMA_PARAM(0, "InstanceNumber", T_INTEGER, 0, 63, "", ISCSI_INSTANCE_NUMBER_TEXT));
SCHEMA_DESCRIPTOR(TGT(ReScanLUNS), "do_ReScanLUNS", 0);

SCHEMA_DESCRIPTOR(TGT(LUN_StdInquiry), "do_StdInquiry", 0);
SCHEMA_DESCRIPTOR(TGT(LUN_SCSIWrite), "do_SCSIWrite", 2,
    SCHEMA_PARAM(1, "StartBlockAddress", T_INTEGER, 0, 65535, "", "This parameter specifies the first block address of the transfer."),
    SCHEMA_PARAM(1, "Count", T_INTEGER, 1, 65535, "", "This parameter specifies the number of blocks to write."));

#define ISCSI_AUTHENTICATION_METHOD_TEXT \
    "This property indicates an authentication method. Valid CHAP values are None, Mutual CHAP, and One-Way CHAP. None is the default."

static schema::SchemaRow send_target_portal_rows[] = {
    SCHEMA_GROUP("SendTargetPortalLoginOptions", "This group consists of the login options used to create a discovery session with the SendTarget Portal.", nullptr),
        SCHEMA_PROP("InitialR2T", RO, T_LIST, 0, 3, "Yes", "Yes,No", "handle_stploginoptions", ISCSI_INITIAL_R2T_TEXT),
        SCHEMA_PROP("ImmediateData", RW, T_LIST, 0, 3, "Yes", "Yes,No", "handle_stploginoptions", ISCSI_IMMEDIATE_DATA_TEXT),
        SCHEMA_PROP("HeaderDigest", RW, T_LIST, 4, 6, "None", "None,CRC32C", "handle_stploginoptions", ISCSI_HEADER_DIGEST_TEXT),
        SCHEMA_PROP("DataDigest", RW, T_LIST, 4, 6, "None", "None,CRC32C", "handle_stploginoptions", ISCSI_DATA_DIGEST_TEXT),
        SCHEMA_PROP("HeaderParam", RW, T_LIST, 9, 10, "Prohibited", "Prohibited,Preferred", "handle_stploginoptions", ISCSI_HEADER_PARAM_TEXT),
        SCHEMA_PROP("DataParam", RW, T_LIST, 9, 10, "Prohibited", "Prohibited,Preferred", "handle_stploginoptions", ISCSI_DATA_PARAM_TEXT),
        SCHEMA_GROUP("Authentication", "This group consists of the authentication options used to create a discovery session with the SendTarget Portal.", nullptr),
            SCHEMA_PROP("AuthenticationMethod", RO, T_LIST, 4, 12, "None", "None,Mutual CHAP,One-Way CHAP",
                        "handle_authentication_stploginoptions", ISCSI_AUTHENTICATION_METHOD_TEXT),
            SCHEMA_PROP("InitiatorCHAPName", RO, T_STRING, 1, 256, "", "", "handle_authentication_stploginoptions",
                        ISCSI_INITIATOR_CHAP_NAME_TEXT),
            SCHEMA_PROP("InitiatorSecret", RO, T_STRING, 12, 34, "", "", "handle_authentication_stploginoptions",
                        ISCSI_INITIATOR_SECRET_TEXT),
            SCHEMA_PROP("TargetCHAPName", RO, T_STRING, 1, 256, "", "", "handle_authentication_stploginoptions",
                        ISCSI_TARGET_CHAP_NAME_TEXT),
            SCHEMA_PROP("TargetSecret", RO, T_STRING, 12, 34, "", "", "handle_authentication_stploginoptions",
                        ISCSI_TARGET_SECRET_TEXT),
            SCHEMA_PROP("CHAPParam", RO, T_LIST, 4, 11, "Prohibited", "Prohibited,Discouraged,Preferred,Required",
                        "handle_authentication_stploginoptions", ISCSI_CHAP_PARAM_TEXT),
            SCHEMA_ACTION("ConfigureCHAP", "This command enables CHAP for iSCSI initiator.",
                          STP(SendTargetPortalLoginOptions_Authentication_ConfigureCHAP_spec)),
            SCHEMA_ACTION("DeleteCHAP", "This command deletes CHAP for iSCSI initiator.",
                          STP(SendTargetPortalLoginOptions_Authentication_DeleteCHAP_spec)),
        SCHEMA_END(),
    SCHEMA_END(),
    SCHEMA_PROP("IPAddress", RO, T_IPV4, 0, 0, "0.0.0.0", "", "handle_internal_property",
                "This property indicates the IP address specified for the SendTarget Portal."),
    SCHEMA_PROP("PortNumber", RO, T_INTEGER, 1024, 65535, "3260", "", "handle_internal_property",
                "This property indicates the port number specified for the SendTarget Portal."),
    SCHEMA_PROP("PortMacAddress", RO, T_STRING, 17, 17, "00:00:00:00:00:00", "", "handle_internal_property",
                "This property specifies the MAC address of the port the SendTarget portal is added to."),
    SCHEMA_ACTION("DiscoverTargets",
                  "This command starts discovery sessions: a discovery login goes to the IP address and port number of this portal, those given to its OEMKDAddSendTargetPortal command. Every target that answers with its iSCSI name becomes a Target group below the LogicalHBA, on which OEMKDLogin logs in as for a configured target.",
                  STP(DiscoverTargets_spec)),
};

static schema::SchemaRow target_rows[] = {
    SCHEMA_GROUP("TargetLoginOptions", "This group consists of the set of login options used to log into the target.", nullptr),
        SCHEMA_PROP("InitialR2T", RO, T_LIST, 0, 3, "Yes", "Yes,No", "handle_target_loginoptions", ISCSI_INITIAL_R2T_TEXT),
        SCHEMA_PROP("ImmediateData", RW, T_LIST, 0, 3, "Yes", "Yes,No", "handle_target_loginoptions", ISCSI_IMMEDIATE_DATA_TEXT),
        SCHEMA_PROP("HeaderDigest", RW, T_LIST, 4, 6, "None", "None,CRC32C", "handle_target_loginoptions", ISCSI_HEADER_DIGEST_TEXT),
        SCHEMA_PROP("DataDigest", RW, T_LIST, 4, 6, "None", "None,CRC32C", "handle_target_loginoptions", ISCSI_DATA_DIGEST_TEXT),
        SCHEMA_PROP("HeaderParam", RW, T_LIST, 9, 10, "Prohibited", "Prohibited,Preferred", "handle_target_loginoptions", ISCSI_HEADER_PARAM_TEXT),
        SCHEMA_PROP("DataParam", RW, T_LIST, 9, 10, "Prohibited", "Prohibited,Preferred", "handle_target_loginoptions", ISCSI_DATA_PARAM_TEXT),
        SCHEMA_GROUP("Authentication", "This group consists of the set of connection authentication related login options used to create an iSCSI session with the target.", nullptr),
            SCHEMA_PROP("AuthenticationMethod", RO, T_LIST, 4, 12, "None", "None,Mutual CHAP,One-Way CHAP",
                        "handle_authentication_target_loginopts", ISCSI_AUTHENTICATION_METHOD_TEXT),
            SCHEMA_PROP("InitiatorCHAPName", RO, T_STRING, 1, 256, "", "", "handle_authentication_target_loginopts",
                        ISCSI_INITIATOR_CHAP_NAME_TEXT),
            SCHEMA_PROP("InitiatorSecret", RO, T_STRING, 12, 34, "", "", "handle_internal_property",
                        ISCSI_INITIATOR_SECRET_TEXT),
            SCHEMA_PROP("TargetCHAPName", RO, T_STRING, 1, 256, "", "", "handle_internal_property",
                        ISCSI_TARGET_CHAP_NAME_TEXT),
            SCHEMA_PROP("TargetSecret", RO, T_STRING, 12, 34, "", "", "handle_authentication_target_loginopts",
                        ISCSI_TARGET_SECRET_TEXT),
            SCHEMA_PROP("CHAPParam", RO, T_LIST, 4, 11, "Prohibited", "Prohibited,Discouraged,Preferred,Required",
                        "handle_authentication_target_loginopts", ISCSI_CHAP_PARAM_TEXT),
            SCHEMA_ACTION("ConfigureCHAP", "This command enables CHAP for iSCSI initiator.",
                          TGT(TargetLoginOptions_Authentication_ConfigureCHAP_spec)),
            SCHEMA_ACTION("DeleteCHAP", "This command deletes CHAP for iSCSI initiator.",
                          TGT(TargetLoginOptions_Authentication_DeleteCHAP_spec)),
        SCHEMA_END(),
    SCHEMA_END(),
    SCHEMA_PROP("TargetISCSIName", RO, T_STRING, 6, 223, "6", "", "handle_internal_property",
                "This property indicates the iSCSI name of the target."),
    SCHEMA_PROP("TargetAlias", RO, T_STRING, 0, 0, "", "", "handle_TargetAlias",
                "This property indicates the alias name given to the Target node."),
    SCHEMA_PROP("ETO", RW, T_INTEGER, 0, 3600, "30", "", "handle_Target_ETO",
                "This property specifies the Extended TimeOut (ETO) configured for the target: the driver does not fail I/Os back until this time has passed since the target stopped responding."),
    SCHEMA_PROP("TargetType", RO, T_LIST, 6, 10, "Static", "Static,Discovered", "handle_target_type",
                "This property indicates the type of the Target, whether it is static or discovered."),
    SCHEMA_ACTION("Login",
                  "This command logs in to the target with its current login options. The IP address and port default to those of the first TargetPortal instance. SessionInitiatorName replaces, for this session, the name inherited from the InitiatoriSCSIName property; ISIDQualifier overrides the qualifier the firmware would assign; BootTarget configures the boot session.",
                  TGT(Login_spec)),
    SCHEMA_ACTION("DeleteTargetPortal",
                  "This command deletes the TargetPortal with the given instance number. It is not allowed while a session uses that portal.",
                  TGT(DeleteTargetPortal_spec)),
    SCHEMA_ACTION("AddTargetPortal", "This command adds a TargetPortal with the given IP address and port number.",
                  TGT(AddTargetPortal_spec)),
    SCHEMA_ACTION("Logout",
                  "This command sends a Logout request on the session with the given instance number. Boot sessions cannot be logged out.",
                  TGT(Logout_spec)),
    SCHEMA_ACTION("ReScanLUNS", "This command reports the LUNs on the system.", TGT(ReScanLUNS_spec)),
};

static schema::SchemaRow lun_rows[] = {
    SCHEMA_PROP("LUNNumber", RO, T_STRING, 0, 0, "0", "", "handle_LUNNumber",
                "This property specifies the Logical unit number of the LUN."),
    SCHEMA_PROP("LUNSize", RO, T_INTEGER, 0, 0, "0", "", "handle_lun_block_size",
                "This property indicates the size of the LUN in bytes."),
    SCHEMA_PROP("BlockSize", RO, T_INTEGER, 0, 0, "0", "", "handle_lun_block_size",
                "This property indicates the block size."),
    SCHEMA_PROP("DeviceVendorName", RO, T_STRING, 0, 0, "0", "", "handle_StdInquiry_properties",
                "This property displays the Device Vendor Identification."),
    SCHEMA_PROP("DeviceModelNumber", RO, T_INTEGER, 0, 0, "0", "", "handle_StdInquiry_properties",
                "This property displays the Device Product Identification."),
    SCHEMA_PROP("LUNName", RO, T_STRING, 5, 225, "0", "", "handle_internal_property",
                "This property indicates the host's device name of the LUN, formatted vmhba(bus number):(target id):(LUN number)."),
    SCHEMA_PROP("LUNSerialNumber", RO, T_STRING, 0, 255, "0", "", "handle_StdInquiry_properties",
                "This property displays the Serial number of the LUN."),
    SCHEMA_PROP("LUNType", RO, T_STRING, 0, 0, "0", "", "handle_StdInquiry_properties",
                "This property indicates the device type."),
    SCHEMA_ACTION("StdInquiry", "This command issues a standard INQUIRY to the LUN and reports the status.",
                  TGT(LUN_StdInquiry_spec)),
    SCHEMA_ACTION("SCSIWrite", "This command issues SCSI WRITE commands to the LUN and reports the status.",
                  TGT(LUN_SCSIWrite_spec)),
};

// Portals and targets: one slice per logical HBA (16 controllers x 8
// physical HBAs x 1). LUNs: one slice per target of every logical HBA.
SCHEMA_KIND(kind_SendTargetPortal, "initialize_SendTargetPortal", "SendTargetPortal",
            "This group instance corresponds to a SendTarget Portal for discovering targets.",
            128, 16 * 8, nullptr, send_target_portal_rows);
SCHEMA_KIND(kind_Target, "initialize_Target", "Target",
            "This group represents the information about the targets that are available in the network.",
            256, 16 * 8, "group_Target", target_rows);
SCHEMA_KIND(kind_LUN, "initialize_LUN", "LUN", "This group instance corresponds to a LUN available behind this target.",
            256, 16 * 8 * 256, "group_LUN", lun_rows);

HmNode *initialize_SendTargetPortal(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys)
{
    return schema::schema_build_instance(&kind_SendTargetPortal, parent, key_a, key_b, keys);
}

HmNode *initialize_Target(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys)
{
    return schema::schema_build_instance(&kind_Target, parent, key_a, key_b, keys);
}

HmNode *initialize_LUN(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys)
{
    return schema::schema_build_instance(&kind_LUN, parent, key_a, key_b, keys);
}
